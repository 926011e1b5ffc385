// qorvi-host: a console host for import plug-ins ("00IN"). It loads a plug-in as an image viewer
// does (LoadLibrary on its full path, the exports bound by name) and calls one of them,
// printing one line per call: the export, the result code and its meaning, the picture's size
// and depth, and the time the call took. Pictures can be written as PNG, and the same request
// can be repeated on several threads to check that every output is identical to the first.
//
// The host reads its command line as wide text and names files in UTF-16 itself, so any file
// name reaches it whole. The plug-in gets the name as a viewer of either kind passes it: an ANSI
// viewer in the system code page (characters the code page lacks become '?'), a wide one, with
// --wide, in UTF-16 through the W entry points. What it prints is UTF-8 (file names, and the
// plug-in's texts converted from their code page), written as wide text when the output is a
// console.
//
// Exit codes: 0 success; 1 a call failed, an export was missing, the plug-in handed back
// something unusable, a PNG could not be written, or outputs differed; 2 usage error.
//
// The plug-in is not trusted: handles it returns are checked before they are read, and a header
// that announces more than its blocks hold is refused, not read past.
#include "base/WinHandles.h"
#include "base/WinText.h"
#include "hostplugins/SusieInterface.h"
#include "tools/DibRows.h"
#include "tools/PngWriter.h"

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace qorvi::tools {
namespace {

constexpr int ExitOk = 0;
constexpr int ExitFailed = 1;
constexpr int ExitUsage = 2;

// The head of the file that IsSupported gets, zero-padded: what hosts pass.
constexpr size_t SupportedHeadBytes = SusieHeadBytes;
// GetPluginInfo: the buffer we offer, and how many format pairs we ask for before giving up on a
// plug-in that never answers with an empty text.
constexpr int InfoBufferBytes = 1024;
constexpr int MaxFormatPairs = 256;
// --threads and --repeat beyond these are typing mistakes, not tests.
constexpr unsigned long MaxThreads = 64;
constexpr unsigned long MaxRepeat = 100000;

const char Usage[] =
    "usage: qorvi-host PLUGIN COMMAND [FILE] [OPTIONS]\n"
    "commands:\n"
    "  info              every GetPluginInfo string (0, 1, then the format pairs)\n"
    "  supported FILE    IsSupported with FILE's first 2 KiB, then with an open handle of FILE\n"
    "  pictureinfo FILE  GetPictureInfo\n"
    "  picture FILE      GetPicture\n"
    "  preview FILE      GetPreview\n"
    "  config [FNC]      ConfigurationDlg with no parent window and FNC (default 1)\n"
    "options of pictureinfo, picture and preview:\n"
    "  --memory          pass FILE read into memory (flag 1 and its size);\n"
    "                    default: its name (flag 0 and the offset)\n"
    "  --offset N        the picture starts at byte N of FILE\n"
    "  --flag X          extra flag bits (e.g. 0x100) added to the input kind\n"
    "  --out PATH.png    write the bitmap received as PNG (picture, preview)\n"
    "  --threads N       N threads make the call (default 1)\n"
    "  --repeat M        each thread makes it M times (default 1); every output must equal\n"
    "                    the first call's, made before the threads start\n"
    "  --no-progress     pass no progress callback (default: one that counts its calls)\n"
    "options of every command:\n"
    "  --wide            call the wide entry points (GetPluginInfoW, IsSupportedW,\n"
    "                    GetPictureInfoW, GetPictureW, GetPreviewW) with FILE's name in\n"
    "                    UTF-16; default: the ANSI ones, the name in the system code page\n"
    "                    (not config: ConfigurationDlg has no wide twin)\n"
    "  --keep-loaded     end with the plug-in still loaded, as many viewers do: its\n"
    "                    shut-down then runs as part of the process's exit\n"
    "exit code: 0 success, 1 a call failed or outputs differed, 2 usage error\n";

// ---- text ----

std::string Utf8(std::wstring_view text) { return Narrow(CP_UTF8, text); }
std::wstring FromUtf8(std::string_view text) { return Widen(CP_UTF8, text); }
// A text the plug-in wrote through an ANSI interface (its information texts), for printing.
std::string Utf8FromAnsi(std::string_view text) { return Utf8(WidenAnsi(text)); }

// Writes UTF-8 text to `stream`. A console shows bytes in its own code page, so it gets the text
// as wide characters; a pipe or a file gets the UTF-8 bytes, which is what a terminal on the
// other end of Wine expects (Wine passes the bytes a program writes to its Unix output as they
// are).
void Write(FILE* stream, const std::string& text) {
    HANDLE handle = GetStdHandle(stream == stderr ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    if (handle && handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode)) {
        std::fflush(stream);
        const std::wstring wide = FromUtf8(text);
        DWORD written = 0;
        WriteConsoleW(handle, wide.data(), DWORD(wide.size()), &written, nullptr);
        return;
    }
    std::fwrite(text.data(), 1, text.size(), stream);
}

// printf into Write: the arguments' text is UTF-8.
[[gnu::format(gnu_printf, 1, 2)]] void Print(const char* format, ...) {
    va_list args, again;
    va_start(args, format);
    va_copy(again, args);
    const int length = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    std::string text(length > 0 ? size_t(length) : 0, '\0');
    if (length > 0) std::vsnprintf(text.data(), text.size() + 1, format, again);
    va_end(again);
    Write(stdout, text);
}

int UsageError(const std::string& message) {
    Write(stderr, "qorvi-host: " + message + "\n" + Usage);
    return ExitUsage;
}

const char* ResultMeaning(int code) {
    switch (code) {
    case SusieSuccess: return "ok";
    case SusieNotImplemented: return "not implemented";
    case SusieUnsupported: return "unsupported";
    case SusieOutOfMemory: return "out of memory";
    case SusieReadError: return "read error";
    case SusieInternalError: return "internal error";
    default: return "the plug-in's own code";
    }
}

std::wstring FullPath(const std::wstring& path) {
    const DWORD size = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (size == 0) return path;
    std::wstring full(size, L'\0');
    const DWORD length = GetFullPathNameW(path.c_str(), size, full.data(), nullptr);
    if (length == 0 || length >= size) return path;
    full.resize(length);
    return full;
}

std::string SystemMessage(DWORD error) {
    wchar_t text[512] = {};
    DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                  nullptr, error, 0, text, ARRAYSIZE(text) - 1, nullptr);
    while (length &&
           (text[length - 1] == L'\r' || text[length - 1] == L'\n' || text[length - 1] == L' '))
        --length;
    return length ? Utf8(std::wstring_view(text, length)) : "error " + std::to_string(error);
}

class Stopwatch {
public:
    Stopwatch() { QueryPerformanceCounter(&start_); }
    double Milliseconds() const {
        LARGE_INTEGER now, frequency;
        QueryPerformanceCounter(&now);
        QueryPerformanceFrequency(&frequency);
        return double(now.QuadPart - start_.QuadPart) * 1000.0 / double(frequency.QuadPart);
    }

private:
    LARGE_INTEGER start_;
};

// ---- the plug-in ----

struct Plugin {
    std::wstring path;
    UniqueModule module;
    SusieEntryPoints exports;
};

bool LoadPlugin(const std::wstring& path, Plugin& plugin) {
    plugin.path = FullPath(path);
    plugin.module.reset(LoadLibraryW(plugin.path.c_str()));
    if (!plugin.module) {
        Print("LoadLibrary %s: %s\n", Utf8(plugin.path).c_str(),
              SystemMessage(GetLastError()).c_str());
        return false;
    }
    HMODULE module = plugin.module.get();
    plugin.exports.Bind(module);
    return true;
}

bool Exported(const Plugin& plugin, const void* proc, const char* name) {
    if (proc) return true;
    Print("%s: not exported by %s\n", name, Utf8(plugin.path).c_str());
    return false;
}

// ---- the two kinds of entry point ----

// A file's full name as the two kinds of viewer pass it: in UTF-16, and in the system code page
// as an ANSI viewer has it, each character the code page lacks as '?' and never a look-alike
// (so such a file cannot be opened by that name: what an ANSI viewer meets too).
struct FileName {
    std::wstring wide;
    std::string ansi;
    std::string shown;  // UTF-8, for our lines

    explicit FileName(const std::wstring& path)
        : wide(FullPath(path)), ansi(AnsiFileName(wide)), shown(Utf8(wide)) {}
};

enum class Request { PluginInfo, Supported, PictureInfo, Picture, Preview };

// The plug-in's entry points as this run calls them: the ANSI functions, or with --wide their W
// twins. Each command makes its calls through here, with the same arguments either way but the
// file name, and names the function it called in its lines.
class EntryPoints {
public:
    EntryPoints(const Plugin& plugin, bool wide)
        : plugin_(plugin), procs_(plugin.exports), wide_(wide) {}

    std::string Name(Request request) const {
        const char* name = request == Request::PluginInfo    ? "GetPluginInfo"
                           : request == Request::Supported   ? "IsSupported"
                           : request == Request::PictureInfo ? "GetPictureInfo"
                           : request == Request::Picture     ? "GetPicture"
                                                             : "GetPreview";
        return std::string(name) + (wide_ ? "W" : "");
    }

    // Says so, naming the function, when the plug-in lacks it.
    bool Exported(Request request) const {
        const void* proc = nullptr;
        switch (request) {
        case Request::PluginInfo: proc = Proc(procs_.GetPluginInfo, procs_.GetPluginInfoW); break;
        case Request::Supported: proc = Proc(procs_.IsSupported, procs_.IsSupportedW); break;
        case Request::PictureInfo:
            proc = Proc(procs_.GetPictureInfo, procs_.GetPictureInfoW);
            break;
        case Request::Picture: proc = Proc(procs_.GetPicture, procs_.GetPictureW); break;
        case Request::Preview: proc = Proc(procs_.GetPreview, procs_.GetPreviewW); break;
        }
        if (proc) return true;
        Print("%s: not exported by %s%s\n", Name(request).c_str(), Utf8(plugin_.path).c_str(),
              wide_ ? " (--wide calls the wide entry points)" : "");
        return false;
    }

    // One GetPluginInfo text as UTF-8, ended inside our buffer whatever the plug-in wrote or
    // returned; `length` is its length in the function's own units (bytes or UTF-16 units), to
    // compare with what it returned.
    std::string PluginInfo(int infono, int& returned, int& length) const {
        if (wide_) {
            wchar_t buffer[InfoBufferBytes + 1] = {};
            returned = procs_.GetPluginInfoW(infono, buffer, InfoBufferBytes);
            const std::wstring_view text(buffer, wcsnlen(buffer, InfoBufferBytes));
            length = int(text.size());
            return Utf8(text);
        }
        char buffer[InfoBufferBytes + 1] = {};
        returned = procs_.GetPluginInfo(infono, buffer, InfoBufferBytes);
        const std::string_view text(buffer, strnlen(buffer, InfoBufferBytes));
        length = int(text.size());
        return Utf8FromAnsi(text);
    }

    int IsSupported(const FileName& name, SusieHandleOrHead handleOrHead) const {
        return wide_ ? procs_.IsSupportedW(name.wide.c_str(), handleOrHead)
                     : procs_.IsSupported(name.ansi.c_str(), handleOrHead);
    }

    // `input` is the file's name or, with the memory flag, the picture's bytes: passed as the
    // function's text type either way, as viewers do.
    int PictureInfo(const void* input, SusieLength length, unsigned flag,
                    qorvi::PictureInfo* info) const {
        return wide_ ? procs_.GetPictureInfoW(static_cast<LPCWSTR>(input), length, flag, info)
                     : procs_.GetPictureInfo(static_cast<LPCSTR>(input), length, flag, info);
    }

    int Picture(Request request, const void* input, SusieLength length, unsigned flag,
                HLOCAL* header, HLOCAL* bits, SusieProgressCallback callback,
                SusieLength data) const {
        if (wide_) {
            GetPictureWProc proc =
                request == Request::Preview ? procs_.GetPreviewW : procs_.GetPictureW;
            return proc(static_cast<LPCWSTR>(input), length, flag, header, bits, callback, data);
        }
        GetPictureProc proc = request == Request::Preview ? procs_.GetPreview : procs_.GetPicture;
        return proc(static_cast<LPCSTR>(input), length, flag, header, bits, callback, data);
    }

    // The file's name as this kind of entry point takes it.
    const void* NameOf(const FileName& name) const {
        return wide_ ? static_cast<const void*>(name.wide.c_str()) : name.ansi.c_str();
    }

private:
    template <class AnsiProc, class WideProc>
    const void* Proc(AnsiProc ansi, WideProc wide) const {
        return wide_ ? reinterpret_cast<const void*>(wide) : reinterpret_cast<const void*>(ansi);
    }

    const Plugin& plugin_;
    const SusieEntryPoints& procs_;
    bool wide_;
};

// ---- reading files ----

bool ReadFileFrom(const FileName& name, uint64_t offset, std::vector<char>& data,
                  std::string& why) {
    const std::string& path = name.shown;
    UniqueFile file(CreateFileW(name.wide.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        why = "cannot open " + path + ": " + SystemMessage(GetLastError());
        return false;
    }
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file.get(), &size)) {
        why = "cannot size " + path;
        return false;
    }
    if (uint64_t(size.QuadPart) < offset) {
        why = "offset " + std::to_string(offset) + " lies beyond the end of " + path;
        return false;
    }
    const uint64_t wanted = uint64_t(size.QuadPart) - offset;
    // The request passes the length as a signed 32-bit value.
    if (wanted > 0x7FFFFFFF) {
        why = path + " is too large for a memory request";
        return false;
    }
    LARGE_INTEGER position;
    position.QuadPart = LONGLONG(offset);
    if (!SetFilePointerEx(file.get(), position, nullptr, FILE_BEGIN)) {
        why = "cannot seek in " + path;
        return false;
    }
    data.assign(size_t(wanted), 0);
    DWORD done = 0;
    if (wanted &&
        (!ReadFile(file.get(), data.data(), DWORD(wanted), &done, nullptr) || done != wanted)) {
        why = "cannot read " + path;
        return false;
    }
    return true;
}

bool WriteWholeFile(const std::wstring& path, const std::vector<uint8_t>& bytes, std::string& why) {
    UniqueFile file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        why = "cannot create " + Utf8(path) + ": " + SystemMessage(GetLastError());
        return false;
    }
    DWORD written = 0;
    if (!WriteFile(file.get(), bytes.data(), DWORD(bytes.size()), &written, nullptr) ||
        written != bytes.size()) {
        why = "cannot write " + Utf8(path);
        return false;
    }
    return true;
}

// ---- blocks handed back by the plug-in ----

// Copies a local-memory block the plug-in handed over and frees it, as the host owns it now.
// A null handle, or one that LocalSize does not know, is reported and left alone: freeing what
// is not a live block could corrupt our own heap.
bool TakeBlock(HLOCAL handle, const char* what, std::vector<uint8_t>& bytes, std::string& problem) {
    if (!handle) {
        problem = std::string("null ") + what + " handle";
        return false;
    }
    const SIZE_T size = LocalSize(handle);
    if (size == 0) {
        problem = std::string("bogus ") + what + " handle (LocalSize 0)";
        return false;
    }
    UniqueLocal owner(handle);
    const LocalLockScope data(handle);
    if (!data) {
        problem = std::string(what) + " handle cannot be locked";
        return false;
    }
    const auto* begin = data.get<const uint8_t>();
    bytes.assign(begin, begin + size);
    return true;
}

// ---- the picture requests ----

struct RequestOptions {
    Request request = Request::Picture;
    std::wstring file;
    bool memory = false;
    uint64_t offset = 0;
    unsigned extraFlag = 0;
    std::wstring out;
    unsigned long threads = 1;
    unsigned long repeat = 1;
    bool progress = true;
};

// What one call gave back. For pictures, `header` and `bits` hold copies of the two blocks.
struct Outcome {
    int code = 0;
    double ms = 0;
    LONG progressCalls = 0;
    std::string problem;  // the plug-in reported success but handed back something unusable
    std::vector<uint8_t> header;
    std::vector<uint8_t> bits;
    PictureInfo info{};
    std::string infoText;
};

int __stdcall CountProgress(int, int, SusieLength lData) {
    InterlockedIncrement(reinterpret_cast<volatile LONG*>(lData));
    return 0;  // go on
}

// The input of one request: the file's name with the offset, or its bytes in memory.
struct Input {
    const void* name = nullptr;  // as the entry points take it (EntryPoints::NameOf)
    std::vector<char> data;
    bool memory = false;
    uint64_t offset = 0;
    unsigned flag = 0;

    const void* Buffer() const { return memory ? data.data() : name; }
    SusieLength Length() const { return memory ? SusieLength(data.size()) : SusieLength(offset); }
};

Outcome Call(const EntryPoints& entries, const RequestOptions& options, const Input& input) {
    Outcome outcome;
    volatile LONG progressCalls = 0;
    if (options.request == Request::PictureInfo) {
        PictureInfo info{};
        Stopwatch watch;
        outcome.code = entries.PictureInfo(input.Buffer(), input.Length(), input.flag, &info);
        outcome.ms = watch.Milliseconds();
        outcome.info = info;
        if (outcome.code == SusieSuccess && info.hInfo) {
            std::vector<uint8_t> text;
            if (TakeBlock(info.hInfo, "text", text, outcome.problem)) {
                auto end = std::find(text.begin(), text.end(), uint8_t(0));
                // The text is in the code page with either kind of entry point.
                outcome.infoText = Utf8FromAnsi(std::string(text.begin(), end));
            }
        }
        return outcome;
    }
    HLOCAL header = nullptr, bits = nullptr;
    SusieProgressCallback callback = options.progress ? CountProgress : nullptr;
    Stopwatch watch;
    // The datum is pointer-sized: the 64-bit interface hands the whole address back.
    outcome.code =
        entries.Picture(options.request, input.Buffer(), input.Length(), input.flag, &header, &bits,
                        callback, SusieLength(reinterpret_cast<intptr_t>(&progressCalls)));
    outcome.ms = watch.Milliseconds();
    outcome.progressCalls = progressCalls;
    // Only a success hands the blocks over. After a failure the variables may still name blocks
    // the plug-in has freed itself (qorvi.spi leaves them so after a failed pipeline): not ours.
    if (outcome.code != SusieSuccess) return outcome;
    std::string headerProblem, bitsProblem;
    bool haveHeader = TakeBlock(header, "header", outcome.header, headerProblem);
    bool haveBits = TakeBlock(bits, "pixel", outcome.bits, bitsProblem);
    if (!haveHeader || !haveBits)
        outcome.problem = !haveHeader && !haveBits ? headerProblem + ", " + bitsProblem
                          : !haveHeader            ? headerProblem
                                                   : bitsProblem;
    return outcome;
}

std::string DescribeHeader(const std::vector<uint8_t>& header) {
    DibHeader fields;
    if (!ReadDibHeader(header.data(), header.size(), fields)) return "no header";
    int64_t height = fields.height;
    std::string text = std::to_string(fields.width) + "x" +
                       std::to_string(height < 0 ? -height : height) + " " +
                       std::to_string(fields.bitCount) + "-bit";
    if (fields.height < 0) text += " top-down";
    return text;
}

std::string Milliseconds(double ms) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f ms", ms);
    return text;
}

void PrintOutcome(const EntryPoints& entries, const RequestOptions& options, const Outcome& outcome,
                  const std::string& note) {
    std::string line = entries.Name(options.request) + ": " + std::to_string(outcome.code) + " (" +
                       ResultMeaning(outcome.code) + ")";
    if (options.request == Request::PictureInfo) {
        const PictureInfo& info = outcome.info;
        if (outcome.code == SusieSuccess)
            line += " " + std::to_string(info.width) + "x" + std::to_string(info.height) + " " +
                    std::to_string(info.colorDepth) + "-bit";
        line += " " + Milliseconds(outcome.ms);
        if (outcome.code == SusieSuccess) {
            line += " left " + std::to_string(info.left) + " top " + std::to_string(info.top) +
                    " density " + std::to_string(info.x_density) + "x" +
                    std::to_string(info.y_density);
            line += info.hInfo ? " text \"" + outcome.infoText + "\"" : " text none";
        }
    } else {
        if (outcome.code == SusieSuccess && outcome.problem.empty())
            line += " " + DescribeHeader(outcome.header);
        line += " " + Milliseconds(outcome.ms);
        if (options.progress) line += " progress " + std::to_string(outcome.progressCalls);
    }
    if (!outcome.problem.empty()) line += ", but " + outcome.problem;
    if (!note.empty()) line += ", " + note;
    Print("%s\n", line.c_str());
}

// Converts the blocks to PNG and writes it; the note says what happened, for the output line.
bool WritePng(const Outcome& outcome, const std::wstring& path, std::string& note) {
    DibImage image;
    std::string why;
    if (!DibToRows(outcome.header.data(), outcome.header.size(), outcome.bits.data(),
                   outcome.bits.size(), image, why)) {
        note = "not written: " + why;
        return false;
    }
    std::vector<uint8_t> png;
    if (!EncodePng(image.width, image.height,
                   image.channels == 4 ? PngColour::Rgba : PngColour::Rgb, image.pixels.data(),
                   size_t(image.width) * image.channels, png)) {
        note = "not written: the PNG encoder failed";
        return false;
    }
    if (!WriteWholeFile(path, png, why)) {
        note = "not written: " + why;
        return false;
    }
    note = "wrote " + Utf8(path);
    if (image.cmyk) note += " (CMYK converted naively to RGB)";
    return true;
}

// Where two outputs first differ, or empty when they are identical. Pictures compare the
// header with its colour table and the pixel bytes the header announces: the rest of a block
// (LocalSize rounds up) is not part of the picture.
std::string Difference(const RequestOptions& options, const Outcome& reference,
                       const Outcome& other) {
    if (other.code != reference.code) return "result " + std::to_string(other.code);
    if (other.problem != reference.problem)
        return other.problem.empty() ? "usable blocks" : other.problem;
    if (options.request == Request::PictureInfo) {
        const PictureInfo& a = reference.info;
        const PictureInfo& b = other.info;
        bool same = a.left == b.left && a.top == b.top && a.width == b.width &&
                    a.height == b.height && a.x_density == b.x_density &&
                    a.y_density == b.y_density && a.colorDepth == b.colorDepth &&
                    reference.infoText == other.infoText;
        return same ? std::string() : "picture information";
    }
    auto compare = [](const std::vector<uint8_t>& a, size_t aBytes, const std::vector<uint8_t>& b,
                      size_t bBytes, const char* what) -> std::string {
        if (aBytes != bBytes) return std::string(what) + " size " + std::to_string(bBytes);
        auto mismatch = std::mismatch(a.begin(), a.begin() + aBytes, b.begin());
        if (mismatch.first == a.begin() + aBytes) return {};
        return std::string(what) + " byte " + std::to_string(mismatch.first - a.begin());
    };
    std::string header = compare(
        reference.header, DibDescriptionBytes(reference.header.data(), reference.header.size()),
        other.header, DibDescriptionBytes(other.header.data(), other.header.size()), "header");
    if (!header.empty()) return header;
    return compare(
        reference.bits,
        DibPixelBytes(reference.header.data(), reference.header.size(), reference.bits.size()),
        other.bits, DibPixelBytes(other.header.data(), other.header.size(), other.bits.size()),
        "pixel");
}

struct Batch {
    unsigned long calls = 0;
    unsigned long identical = 0;
    std::string firstDifference;
    double minMs = 0, maxMs = 0, totalMs = 0;
};

void RunBatch(const EntryPoints& entries, const RequestOptions& options, const Input& input,
              const Outcome& reference, Batch& batch) {
    for (unsigned long i = 0; i < options.repeat; ++i) {
        Outcome outcome = Call(entries, options, input);
        std::string difference = Difference(options, reference, outcome);
        if (difference.empty())
            ++batch.identical;
        else if (batch.firstDifference.empty())
            batch.firstDifference = "call " + std::to_string(i + 1) + ": " + difference;
        batch.minMs = batch.calls ? std::min(batch.minMs, outcome.ms) : outcome.ms;
        batch.maxMs = std::max(batch.maxMs, outcome.ms);
        batch.totalMs += outcome.ms;
        ++batch.calls;
    }
}

int RunRequest(const EntryPoints& entries, const RequestOptions& options) {
    const std::string requestName = entries.Name(options.request);
    if (!entries.Exported(options.request)) return ExitFailed;

    const FileName name(options.file);
    Input input;
    input.name = entries.NameOf(name);
    input.memory = options.memory;
    input.offset = options.offset;
    input.flag = (options.memory ? SusieInputMemory : SusieInputFile) | options.extraFlag;
    if (options.memory) {
        std::string why;
        if (!ReadFileFrom(name, options.offset, input.data, why)) {
            Print("%s: %s\n", requestName.c_str(), why.c_str());
            return ExitFailed;
        }
    } else if (options.offset > 0x7FFFFFFF) {
        Print("%s: offset %llu does not fit the request\n", requestName.c_str(),
              static_cast<unsigned long long>(options.offset));
        return ExitFailed;
    }

    const Outcome reference = Call(entries, options, input);
    bool ok = reference.code == SusieSuccess && reference.problem.empty();
    std::string note;
    if (ok && !options.out.empty()) {
        ok = WritePng(reference, options.out, note);
    } else if (ok && options.request != Request::PictureInfo) {
        // Without a PNG to write, still look at what a viewer would have to draw.
        DibImage image;
        std::string why;
        ok = DibToRows(reference.header.data(), reference.header.size(), reference.bits.data(),
                       reference.bits.size(), image, why);
        if (!ok) note = "unusable: " + why;
    }
    PrintOutcome(entries, options, reference, note);

    if (options.threads * options.repeat > 1) {
        std::vector<Batch> batches(options.threads);
        std::vector<std::thread> threads;
        threads.reserve(options.threads);
        for (unsigned long t = 0; t < options.threads; ++t)
            threads.emplace_back(
                [&, t] { RunBatch(entries, options, input, reference, batches[t]); });
        for (std::thread& thread : threads) thread.join();
        for (unsigned long t = 0; t < options.threads; ++t) {
            const Batch& batch = batches[t];
            std::string line = "thread " + std::to_string(t + 1) + ": " +
                               std::to_string(batch.calls) + " x " + requestName + ", " +
                               std::to_string(batch.identical) + " identical to the first";
            if (batch.identical != batch.calls) {
                line += ", " + std::to_string(batch.calls - batch.identical) +
                        " differ (first at " + batch.firstDifference + ")";
                ok = false;
            }
            line += ", " + Milliseconds(batch.minMs) + " to " + Milliseconds(batch.maxMs) +
                    ", average " +
                    Milliseconds(batch.calls ? batch.totalMs / double(batch.calls) : 0);
            Print("%s\n", line.c_str());
        }
    }
    return ok ? ExitOk : ExitFailed;
}

// ---- the other commands ----

int RunInfo(const EntryPoints& entries) {
    if (!entries.Exported(Request::PluginInfo)) return ExitFailed;
    const std::string name = entries.Name(Request::PluginInfo);
    // Prints text `infono` and gives it back.
    auto show = [&](int infono) {
        int returned = 0, length = 0;
        const std::string text = entries.PluginInfo(infono, returned, length);
        Print("%s(%d): \"%s\"", name.c_str(), infono, text.c_str());
        // A length that is not the text's own is worth seeing: a host copying by it would err.
        if (returned != length) Print(" (returned %d)", returned);
        Print("\n");
        return text;
    };
    for (int infono = 0; infono < 2; ++infono) show(infono);
    int pairs = 0;
    for (; pairs < MaxFormatPairs; ++pairs) {
        const int infono = 2 + 2 * pairs;
        if (show(infono).empty()) break;
        show(infono + 1);
    }
    if (pairs == MaxFormatPairs) Print("%s: stopped after %d format pairs\n", name.c_str(), pairs);
    Print("%s: %d format pair%s\n", name.c_str(), pairs, pairs == 1 ? "" : "s");
    return ExitOk;
}

int RunSupported(const EntryPoints& entries, const std::wstring& file) {
    if (!entries.Exported(Request::Supported)) return ExitFailed;
    const std::string name = entries.Name(Request::Supported);
    const FileName path(file);
    UniqueFile handle(CreateFileW(path.wide.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!handle) {
        Print("%s: cannot open %s: %s\n", name.c_str(), path.shown.c_str(),
              SystemMessage(GetLastError()).c_str());
        return ExitFailed;
    }
    std::vector<char> head(SupportedHeadBytes, 0);
    DWORD got = 0;
    if (!ReadFile(handle.get(), head.data(), DWORD(head.size()), &got, nullptr)) {
        Print("%s: cannot read %s\n", name.c_str(), path.shown.c_str());
        return ExitFailed;
    }
    // The plug-in gets the handle at the start of the file, where a viewer would hand it over.
    SetFilePointer(handle.get(), 0, nullptr, FILE_BEGIN);

    // Both values are pointer-sized in the 64-bit interface: the head's whole address.
    Stopwatch memoryWatch;
    const int byMemory =
        entries.IsSupported(path, SusieHandleOrHead(reinterpret_cast<uintptr_t>(head.data())));
    const double memoryMs = memoryWatch.Milliseconds();
    Print("%s(memory): %d (%s) %s\n", name.c_str(), byMemory,
          byMemory ? "supported" : "not supported", Milliseconds(memoryMs).c_str());
    Stopwatch handleWatch;
    const int byHandle =
        entries.IsSupported(path, SusieHandleOrHead(reinterpret_cast<uintptr_t>(handle.get())));
    const double handleMs = handleWatch.Milliseconds();
    Print("%s(handle): %d (%s) %s\n", name.c_str(), byHandle,
          byHandle ? "supported" : "not supported", Milliseconds(handleMs).c_str());
    return byMemory && byHandle ? ExitOk : ExitFailed;
}

int RunConfig(const Plugin& plugin, int fnc) {
    if (!Exported(plugin, reinterpret_cast<const void*>(plugin.exports.ConfigurationDlg),
                  "ConfigurationDlg"))
        return ExitFailed;
    Stopwatch watch;
    const int code = plugin.exports.ConfigurationDlg(nullptr, fnc);
    Print("ConfigurationDlg(%d): %d (%s) %s\n", fnc, code, ResultMeaning(code),
          Milliseconds(watch.Milliseconds()).c_str());
    return code == SusieSuccess ? ExitOk : ExitFailed;
}

// ---- the command line ----

bool ParseNumber(const wchar_t* text, unsigned long long limit, unsigned long long& value) {
    if (!text || !*text || *text == L'-' || *text == L'+') return false;
    wchar_t* end = nullptr;
    errno = 0;
    value = std::wcstoull(text, &end, 0);
    return errno == 0 && *end == L'\0' && value <= limit;
}

// Takes `option` out of `args`; whether it was there.
bool TakeOption(std::vector<std::wstring>& args, const wchar_t* option) {
    const auto found = std::find(args.begin(), args.end(), option);
    if (found == args.end()) return false;
    args.erase(found);
    return true;
}

// The arguments arrive as wide text, so that a file name the code page cannot spell is whole.
int Main(int argc, wchar_t** argv) {
    if (argc < 3) return UsageError("a plug-in and a command are needed");
    const std::wstring pluginPath = argv[1];
    const std::wstring command = argv[2];
    std::vector<std::wstring> args(argv + 3, argv + argc);
    const bool keepLoaded = TakeOption(args, L"--keep-loaded");
    const bool wide = TakeOption(args, L"--wide");

    RequestOptions options;
    if (command == L"info") {
        if (!args.empty()) return UsageError("info takes no arguments");
    } else if (command == L"supported") {
        if (args.size() != 1) return UsageError("supported takes one FILE");
    } else if (command == L"config") {
        unsigned long long fnc = 1;
        if (args.size() > 1 || (args.size() == 1 && !ParseNumber(args[0].c_str(), 0x7FFFFFFF, fnc)))
            return UsageError("config takes at most one number");
        if (wide) return UsageError("--wide: ConfigurationDlg has no wide twin");
        Plugin plugin;
        if (!LoadPlugin(pluginPath, plugin)) return ExitFailed;
        const int code = RunConfig(plugin, int(fnc));
        if (keepLoaded) (void)plugin.module.release();
        return code;
    } else if (command == L"pictureinfo" || command == L"picture" || command == L"preview") {
        options.request = command == L"pictureinfo" ? Request::PictureInfo
                          : command == L"picture"   ? Request::Picture
                                                    : Request::Preview;
        for (size_t i = 0; i < args.size(); ++i) {
            const std::wstring& arg = args[i];
            // The option's value: the next argument, or null when there is none.
            auto value = [&]() -> const wchar_t* {
                return i + 1 < args.size() ? args[++i].c_str() : nullptr;
            };
            unsigned long long number = 0;
            if (arg == L"--memory") {
                options.memory = true;
            } else if (arg == L"--no-progress") {
                options.progress = false;
            } else if (arg == L"--offset") {
                if (!ParseNumber(value(), UINT64_MAX, number))
                    return UsageError("--offset needs a number");
                options.offset = number;
            } else if (arg == L"--flag") {
                if (!ParseNumber(value(), 0xFFFFFFFFu, number))
                    return UsageError("--flag needs a 32-bit number");
                options.extraFlag = unsigned(number);
            } else if (arg == L"--out") {
                const wchar_t* path = value();
                if (!path || !*path) return UsageError("--out needs a path");
                options.out = path;
            } else if (arg == L"--threads") {
                if (!ParseNumber(value(), MaxThreads, number) || number == 0)
                    return UsageError("--threads needs a number from 1 to " +
                                      std::to_string(MaxThreads));
                options.threads = (unsigned long)number;
            } else if (arg == L"--repeat") {
                if (!ParseNumber(value(), MaxRepeat, number) || number == 0)
                    return UsageError("--repeat needs a number from 1 to " +
                                      std::to_string(MaxRepeat));
                options.repeat = (unsigned long)number;
            } else if (!arg.empty() && arg[0] == L'-') {
                return UsageError("unknown option " + Utf8(arg));
            } else if (options.file.empty()) {
                options.file = arg;
            } else {
                return UsageError("one FILE only");
            }
        }
        if (options.file.empty()) return UsageError(Utf8(command) + " needs a FILE");
        if (options.request == Request::PictureInfo && !options.out.empty())
            return UsageError("--out is for picture and preview");
    } else {
        return UsageError("unknown command " + Utf8(command));
    }

    Plugin plugin;
    if (!LoadPlugin(pluginPath, plugin)) return ExitFailed;
    const EntryPoints entries(plugin, wide);
    const int code = command == L"info"        ? RunInfo(entries)
                     : command == L"supported" ? RunSupported(entries, args[0])
                                               : RunRequest(entries, options);
    if (keepLoaded) (void)plugin.module.release();
    return code;
}

}  // namespace
}  // namespace qorvi::tools

// Built with -municode: the runtime hands over the command line as wide text.
int wmain(int argc, wchar_t** argv) {
    const int code = qorvi::tools::Main(argc, argv);
    std::fflush(stdout);
    return code;
}
