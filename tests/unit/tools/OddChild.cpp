// A deliberately odd import plug-in for the command-line host's tests. It accepts files that
// start with "ODD1" and answers GetPicture and GetPreview according to the fifth byte:
//
//   'n'  success with null handles            'b'  success with handles that are no blocks
//   's'  a 100x100 24-bit header over a 16-byte pixel block
//   '8'  a 3x2 8-bit paletted picture, rows top-down: index (x + 3y) % 4 of the palette below
//   'c'  a 2x1 marked CMYK picture: pixels C,M,Y,K = (10,20,30,40) and (200,0,0,100)
//   'x'  a 1x1 24-bit picture whose blue byte counts the calls, so no two outputs agree
//
// Anything else is unsupported (2). File input reads the named file; memory input the block.
//
// Every function has its wide twin, the same but for the name (and GetPluginInfoW's description,
// which holds a character outside every code page). When QORVI_FIXTURE_LOG names a file, each
// call appends "odd<extension> <function> <name>" to it: the name as it came, an ANSI name's
// bytes or a wide name in UTF-8, or "memory" for memory input.
#include "base/WinHandles.h"
#include "base/WinText.h"
#include "hostplugins/SusieInterface.h"

#include <cstring>
#include <string>

using qorvi::SusieLength;

namespace {

constexpr char Magic[4] = {'O', 'D', 'D', '1'};
// B, G, R, reserved: what the tests expect back as R, G, B.
constexpr unsigned char Palette[4][4] = {
    {0, 0, 255, 0}, {0, 255, 0, 0}, {255, 0, 0, 0}, {9, 8, 7, 0}};

volatile LONG Calls = 0;

bool IsMemory(unsigned flag) { return (flag & qorvi::SusieInputMask) == qorvi::SusieInputMemory; }

// The name or memory block a function got, as the log shows it.
std::string Shown(LPCSTR name) { return name ? name : "null"; }
std::string Shown(LPCWSTR name) { return name ? qorvi::Narrow(CP_UTF8, name) : "null"; }

void Log(const char* function, const std::string& name) {
    char path[MAX_PATH + 1];
    const DWORD length = GetEnvironmentVariableA("QORVI_FIXTURE_LOG", path, sizeof path);
    if (length == 0 || length >= sizeof path) return;
    qorvi::UniqueFile file(CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                       nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    const std::string line =
        std::string("odd") + qorvi::PluginExtension + " " + function + " " + name + "\n";
    DWORD written = 0;
    if (file) WriteFile(file.get(), line.data(), DWORD(line.size()), &written, nullptr);
}

template <class Text>
void Log(const char* function, const Text* buf, unsigned flag) {
    Log(function, IsMemory(flag) ? std::string("memory") : Shown(buf));
}

HANDLE OpenFile(LPCSTR name) {
    return CreateFileA(name, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}
HANDLE OpenFile(LPCWSTR name) {
    return CreateFileW(name, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

// The mode byte of the request's input, or 0 when it is not ours.
template <class Text>
char Mode(const Text* buf, SusieLength len, unsigned flag) {
    char head[5] = {};
    if (!buf) return 0;
    if (IsMemory(flag)) {
        if (len < 5) return 0;
        std::memcpy(head, buf, 5);
    } else {
        qorvi::UniqueFile file(OpenFile(buf));
        DWORD got = 0;
        if (!file ||
            SetFilePointer(file.get(), len, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER ||
            !ReadFile(file.get(), head, 5, &got, nullptr) || got != 5)
            return 0;
    }
    return std::memcmp(head, Magic, 4) == 0 ? head[4] : 0;
}

HLOCAL Block(const void* bytes, size_t size) {
    HLOCAL block = LocalAlloc(LMEM_MOVEABLE | LMEM_ZEROINIT, size);
    if (block && bytes) {
        std::memcpy(LocalLock(block), bytes, size);
        LocalUnlock(block);
    }
    return block;
}

BITMAPINFOHEADER Header(LONG width, LONG height, WORD bits, DWORD compression,
                        DWORD size = sizeof(BITMAPINFOHEADER)) {
    BITMAPINFOHEADER header{};
    header.biSize = size;
    header.biWidth = width;
    header.biHeight = height;
    header.biPlanes = 1;
    header.biBitCount = bits;
    header.biCompression = compression;
    return header;
}

template <class Text>
int Decode(const Text* buf, SusieLength len, unsigned flag, HLOCAL* pHBInfo, HLOCAL* pHBm) {
    const LONG call = InterlockedIncrement(&Calls);
    switch (Mode(buf, len, flag)) {
    case 'n':
        *pHBInfo = nullptr;
        *pHBm = nullptr;
        return qorvi::SusieSuccess;
    case 'b':
        *pHBInfo = reinterpret_cast<HLOCAL>(0x00BAD000);
        *pHBm = reinterpret_cast<HLOCAL>(0x00BAD100);
        return qorvi::SusieSuccess;
    case 's': {
        BITMAPINFOHEADER header = Header(100, 100, 24, BI_RGB);
        *pHBInfo = Block(&header, sizeof header);
        *pHBm = Block(nullptr, 16);
        return qorvi::SusieSuccess;
    }
    case '8': {
        unsigned char info[sizeof(BITMAPINFOHEADER) + sizeof Palette];
        BITMAPINFOHEADER header = Header(3, -2, 8, BI_RGB);
        header.biClrUsed = 4;
        std::memcpy(info, &header, sizeof header);
        std::memcpy(info + sizeof header, Palette, sizeof Palette);
        const unsigned char rows[8] = {0, 1, 2, 0xEE, 3, 0, 1, 0xEE};  // stride 4, padding 0xEE
        *pHBInfo = Block(info, sizeof info);
        *pHBm = Block(rows, sizeof rows);
        return qorvi::SusieSuccess;
    }
    case 'c': {
        unsigned char info[56] = {};  // a 56-byte header whose four masks stay zero: the CMYK mark
        BITMAPINFOHEADER header = Header(2, 1, 32, BI_BITFIELDS, sizeof info);
        std::memcpy(info, &header, sizeof header);
        const unsigned char row[8] = {10, 20, 30, 40, 200, 0, 0, 100};
        *pHBInfo = Block(info, sizeof info);
        *pHBm = Block(row, sizeof row);
        return qorvi::SusieSuccess;
    }
    case 'x': {
        BITMAPINFOHEADER header = Header(1, 1, 24, BI_RGB);
        const unsigned char row[4] = {static_cast<unsigned char>(call), 0, 0, 0};
        *pHBInfo = Block(&header, sizeof header);
        *pHBm = Block(row, sizeof row);
        return qorvi::SusieSuccess;
    }
    default: return qorvi::SusieUnsupported;
    }
}

// The head of the file that IsSupported got as a pointer, or read from the handle it got (put
// back where it was).
bool OursByHead(qorvi::SusieHandleOrHead dw) {
    char head[sizeof Magic] = {};
    if (!qorvi::IsFileHandle(dw)) {
        std::memcpy(head, reinterpret_cast<const void*>(dw), sizeof head);
    } else {
        const HANDLE file = reinterpret_cast<HANDLE>(dw);
        DWORD got = 0;
        if (!ReadFile(file, head, sizeof head, &got, nullptr)) return false;
        SetFilePointer(file, -LONG(got), nullptr, FILE_CURRENT);
    }
    return std::memcmp(head, Magic, sizeof head) == 0;
}

const char* InfoText(int infono) {
    return infono == 0   ? "00IN"
           : infono == 1 ? "odd child"
           : infono == 2 ? "*.odd"
           : infono == 3 ? "odd picture"
                         : "";
}

template <class Text>
int Info(const Text* buf, SusieLength len, unsigned flag, qorvi::PictureInfo* lpInfo) {
    if (!lpInfo || !Mode(buf, len, flag)) return qorvi::SusieUnsupported;
    *lpInfo = qorvi::PictureInfo{};
    lpInfo->width = 1;
    lpInfo->height = 1;
    lpInfo->colorDepth = 24;
    return qorvi::SusieSuccess;
}

}  // namespace

extern "C" {

int __stdcall GetPluginInfo(int infono, LPSTR buf, int buflen) {
    Log("GetPluginInfo", std::to_string(infono));
    if (!buf || buflen <= 0) return 0;
    lstrcpynA(buf, InfoText(infono), buflen);
    return lstrlenA(buf);
}

int __stdcall IsSupported(LPCSTR filename, qorvi::SusieHandleOrHead dw) {
    Log("IsSupported", Shown(filename));
    return OursByHead(dw);
}

int __stdcall GetPictureInfo(LPCSTR buf, SusieLength len, unsigned flag,
                             qorvi::PictureInfo* lpInfo) {
    Log("GetPictureInfo", buf, flag);
    return Info(buf, len, flag, lpInfo);
}

int __stdcall GetPicture(LPCSTR buf, SusieLength len, unsigned flag, HLOCAL* pHBInfo, HLOCAL* pHBm,
                         qorvi::SusieProgressCallback, SusieLength) {
    Log("GetPicture", buf, flag);
    return Decode(buf, len, flag, pHBInfo, pHBm);
}

int __stdcall GetPreview(LPCSTR buf, SusieLength len, unsigned flag, HLOCAL* pHBInfo, HLOCAL* pHBm,
                         qorvi::SusieProgressCallback, SusieLength) {
    Log("GetPreview", buf, flag);
    return Decode(buf, len, flag, pHBInfo, pHBm);
}

int __stdcall GetPluginInfoW(int infono, LPWSTR buf, int buflen) {
    Log("GetPluginInfoW", std::to_string(infono));
    if (!buf || buflen <= 0) return 0;
    const std::wstring text =
        infono == 3 ? L"odd picture \U0001F600" : qorvi::WidenAnsi(InfoText(infono));
    lstrcpynW(buf, text.c_str(), buflen);
    return lstrlenW(buf);
}

int __stdcall IsSupportedW(LPCWSTR filename, qorvi::SusieHandleOrHead dw) {
    Log("IsSupportedW", Shown(filename));
    return OursByHead(dw);
}

int __stdcall GetPictureInfoW(LPCWSTR buf, SusieLength len, unsigned flag,
                              qorvi::PictureInfo* lpInfo) {
    Log("GetPictureInfoW", buf, flag);
    return Info(buf, len, flag, lpInfo);
}

int __stdcall GetPictureW(LPCWSTR buf, SusieLength len, unsigned flag, HLOCAL* pHBInfo,
                          HLOCAL* pHBm, qorvi::SusieProgressCallback, SusieLength) {
    Log("GetPictureW", buf, flag);
    return Decode(buf, len, flag, pHBInfo, pHBm);
}

int __stdcall GetPreviewW(LPCWSTR buf, SusieLength len, unsigned flag, HLOCAL* pHBInfo,
                          HLOCAL* pHBm, qorvi::SusieProgressCallback, SusieLength) {
    Log("GetPreviewW", buf, flag);
    return Decode(buf, len, flag, pHBInfo, pHBm);
}

}  // extern "C"
