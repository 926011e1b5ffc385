// qorvi-host: a console host for import plug-ins ("00IN"). It loads a plug-in as an image viewer
// does (LoadLibraryA on its full path, the exports bound by name) and calls one of them,
// printing one line per call: the export, the result code and its meaning, the picture's size
// and depth, and the time the call took. Pictures can be written as PNG, and the same request
// can be repeated on several threads to check that every output is identical to the first.
//
// Exit codes: 0 success; 1 a call failed, an export was missing, the plug-in handed back
// something unusable, a PNG could not be written, or outputs differed; 2 usage error.
//
// The plug-in is not trusted: handles it returns are checked before they are read, and a header
// that announces more than its blocks hold is refused, not read past.
#include "base/WinHandles.h"
#include "hostplugins/SusieInterface.h"
#include "tools/DibRows.h"
#include "tools/PngWriter.h"

#include <algorithm>
#include <cerrno>
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
    "option of every command:\n"
    "  --keep-loaded     end with the plug-in still loaded, as many viewers do: its\n"
    "                    shut-down then runs as part of the process's exit\n"
    "exit code: 0 success, 1 a call failed or outputs differed, 2 usage error\n";

int UsageError(const std::string& message) {
    std::fprintf(stderr, "qorvi-host: %s\n%s", message.c_str(), Usage);
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

std::string FullPath(const std::string& path) {
    char full[MAX_PATH + 1] = {};
    DWORD length = GetFullPathNameA(path.c_str(), MAX_PATH, full, nullptr);
    return length == 0 || length > MAX_PATH ? path : std::string(full, length);
}

std::string SystemMessage(DWORD error) {
    char text[512] = {};
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                  nullptr, error, 0, text, sizeof text - 1, nullptr);
    while (length &&
           (text[length - 1] == '\r' || text[length - 1] == '\n' || text[length - 1] == ' '))
        --length;
    return length ? std::string(text, length) : "error " + std::to_string(error);
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
    std::string path;
    UniqueModule module;
    SusieEntryPoints exports;
};

bool LoadPlugin(const std::string& path, Plugin& plugin) {
    plugin.path = FullPath(path);
    plugin.module.reset(LoadLibraryA(plugin.path.c_str()));
    if (!plugin.module) {
        std::printf("LoadLibrary %s: %s\n", plugin.path.c_str(),
                    SystemMessage(GetLastError()).c_str());
        return false;
    }
    HMODULE module = plugin.module.get();
    plugin.exports.Bind(module);
    return true;
}

bool Exported(const Plugin& plugin, const void* proc, const char* name) {
    if (proc) return true;
    std::printf("%s: not exported by %s\n", name, plugin.path.c_str());
    return false;
}

// ---- reading files ----

bool ReadFileFrom(const std::string& path, uint64_t offset, std::vector<char>& data,
                  std::string& why) {
    UniqueFile file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
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

bool WriteWholeFile(const std::string& path, const std::vector<uint8_t>& bytes, std::string& why) {
    UniqueFile file(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        why = "cannot create " + path + ": " + SystemMessage(GetLastError());
        return false;
    }
    DWORD written = 0;
    if (!WriteFile(file.get(), bytes.data(), DWORD(bytes.size()), &written, nullptr) ||
        written != bytes.size()) {
        why = "cannot write " + path;
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

enum class Request { PictureInfo, Picture, Preview };

struct RequestOptions {
    Request request = Request::Picture;
    std::string file;
    bool memory = false;
    uint64_t offset = 0;
    unsigned extraFlag = 0;
    std::string out;
    unsigned long threads = 1;
    unsigned long repeat = 1;
    bool progress = true;
};

const char* RequestName(Request request) {
    switch (request) {
    case Request::PictureInfo: return "GetPictureInfo";
    case Request::Picture: return "GetPicture";
    case Request::Preview: return "GetPreview";
    }
    return "?";
}

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
    std::string path;
    std::vector<char> data;
    bool memory = false;
    uint64_t offset = 0;
    unsigned flag = 0;

    LPCSTR Buffer() const { return memory ? data.data() : path.c_str(); }
    long Length() const { return memory ? long(data.size()) : long(offset); }
};

Outcome Call(const Plugin& plugin, const RequestOptions& options, const Input& input) {
    Outcome outcome;
    volatile LONG progressCalls = 0;
    if (options.request == Request::PictureInfo) {
        PictureInfo info{};
        Stopwatch watch;
        outcome.code =
            plugin.exports.GetPictureInfo(input.Buffer(), input.Length(), input.flag, &info);
        outcome.ms = watch.Milliseconds();
        outcome.info = info;
        if (outcome.code == SusieSuccess && info.hInfo) {
            std::vector<uint8_t> text;
            if (TakeBlock(info.hInfo, "text", text, outcome.problem)) {
                auto end = std::find(text.begin(), text.end(), uint8_t(0));
                outcome.infoText.assign(text.begin(), end);
            }
        }
        return outcome;
    }
    HLOCAL header = nullptr, bits = nullptr;
    GetPictureProc proc =
        options.request == Request::Picture ? plugin.exports.GetPicture : plugin.exports.GetPreview;
    SusieProgressCallback callback = options.progress ? CountProgress : nullptr;
    Stopwatch watch;
    outcome.code = proc(input.Buffer(), input.Length(), input.flag, &header, &bits, callback,
                        long(reinterpret_cast<intptr_t>(&progressCalls)));
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

void PrintOutcome(const RequestOptions& options, const Outcome& outcome, const std::string& note) {
    std::string line = std::string(RequestName(options.request)) + ": " +
                       std::to_string(outcome.code) + " (" + ResultMeaning(outcome.code) + ")";
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
    std::printf("%s\n", line.c_str());
}

// Converts the blocks to PNG and writes it; the note says what happened, for the output line.
bool WritePng(const Outcome& outcome, const std::string& path, std::string& note) {
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
    note = "wrote " + path;
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

void RunBatch(const Plugin& plugin, const RequestOptions& options, const Input& input,
              const Outcome& reference, Batch& batch) {
    for (unsigned long i = 0; i < options.repeat; ++i) {
        Outcome outcome = Call(plugin, options, input);
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

int RunRequest(const Plugin& plugin, const RequestOptions& options) {
    const void* proc = options.request == Request::PictureInfo
                           ? reinterpret_cast<const void*>(plugin.exports.GetPictureInfo)
                       : options.request == Request::Picture
                           ? reinterpret_cast<const void*>(plugin.exports.GetPicture)
                           : reinterpret_cast<const void*>(plugin.exports.GetPreview);
    if (!Exported(plugin, proc, RequestName(options.request))) return ExitFailed;

    Input input;
    input.path = FullPath(options.file);
    input.memory = options.memory;
    input.offset = options.offset;
    input.flag = (options.memory ? SusieInputMemory : SusieInputFile) | options.extraFlag;
    if (options.memory) {
        std::string why;
        if (!ReadFileFrom(input.path, options.offset, input.data, why)) {
            std::printf("%s: %s\n", RequestName(options.request), why.c_str());
            return ExitFailed;
        }
    } else if (options.offset > 0x7FFFFFFF) {
        std::printf("%s: offset %llu does not fit the request\n", RequestName(options.request),
                    static_cast<unsigned long long>(options.offset));
        return ExitFailed;
    }

    const Outcome reference = Call(plugin, options, input);
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
    PrintOutcome(options, reference, note);

    if (options.threads * options.repeat > 1) {
        std::vector<Batch> batches(options.threads);
        std::vector<std::thread> threads;
        threads.reserve(options.threads);
        for (unsigned long t = 0; t < options.threads; ++t)
            threads.emplace_back(
                [&, t] { RunBatch(plugin, options, input, reference, batches[t]); });
        for (std::thread& thread : threads) thread.join();
        for (unsigned long t = 0; t < options.threads; ++t) {
            const Batch& batch = batches[t];
            std::string line = "thread " + std::to_string(t + 1) + ": " +
                               std::to_string(batch.calls) + " x " + RequestName(options.request) +
                               ", " + std::to_string(batch.identical) + " identical to the first";
            if (batch.identical != batch.calls) {
                line += ", " + std::to_string(batch.calls - batch.identical) +
                        " differ (first at " + batch.firstDifference + ")";
                ok = false;
            }
            line += ", " + Milliseconds(batch.minMs) + " to " + Milliseconds(batch.maxMs) +
                    ", average " +
                    Milliseconds(batch.calls ? batch.totalMs / double(batch.calls) : 0);
            std::printf("%s\n", line.c_str());
        }
    }
    return ok ? ExitOk : ExitFailed;
}

// ---- the other commands ----

// One GetPluginInfo text, ended inside our buffer whatever the plug-in wrote or returned.
std::string PluginInfoText(const Plugin& plugin, int infono, int& returned) {
    char buffer[InfoBufferBytes + 1] = {};
    returned = plugin.exports.GetPluginInfo(infono, buffer, InfoBufferBytes);
    buffer[InfoBufferBytes] = '\0';
    return std::string(buffer, strnlen(buffer, InfoBufferBytes));
}

int RunInfo(const Plugin& plugin) {
    if (!Exported(plugin, reinterpret_cast<const void*>(plugin.exports.GetPluginInfo),
                  "GetPluginInfo"))
        return ExitFailed;
    auto show = [](int infono, const std::string& text, int returned) {
        std::printf("GetPluginInfo(%d): \"%s\"", infono, text.c_str());
        // A length that is not the text's own is worth seeing: a host copying by it would err.
        if (returned != int(text.size())) std::printf(" (returned %d)", returned);
        std::printf("\n");
    };
    int returned = 0;
    for (int infono = 0; infono < 2; ++infono) {
        std::string text = PluginInfoText(plugin, infono, returned);
        show(infono, text, returned);
    }
    int pairs = 0;
    for (; pairs < MaxFormatPairs; ++pairs) {
        const int infono = 2 + 2 * pairs;
        std::string pattern = PluginInfoText(plugin, infono, returned);
        if (pattern.empty()) break;
        show(infono, pattern, returned);
        std::string description = PluginInfoText(plugin, infono + 1, returned);
        show(infono + 1, description, returned);
    }
    if (pairs == MaxFormatPairs)
        std::printf("GetPluginInfo: stopped after %d format pairs\n", pairs);
    std::printf("GetPluginInfo: %d format pair%s\n", pairs, pairs == 1 ? "" : "s");
    return ExitOk;
}

int RunSupported(const Plugin& plugin, const std::string& file) {
    if (!Exported(plugin, reinterpret_cast<const void*>(plugin.exports.IsSupported), "IsSupported"))
        return ExitFailed;
    const std::string path = FullPath(file);
    UniqueFile handle(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!handle) {
        std::printf("IsSupported: cannot open %s: %s\n", path.c_str(),
                    SystemMessage(GetLastError()).c_str());
        return ExitFailed;
    }
    std::vector<char> head(SupportedHeadBytes, 0);
    DWORD got = 0;
    if (!ReadFile(handle.get(), head.data(), DWORD(head.size()), &got, nullptr)) {
        std::printf("IsSupported: cannot read %s\n", path.c_str());
        return ExitFailed;
    }
    // The plug-in gets the handle at the start of the file, where a viewer would hand it over.
    SetFilePointer(handle.get(), 0, nullptr, FILE_BEGIN);

    Stopwatch memoryWatch;
    const int byMemory =
        plugin.exports.IsSupported(path.c_str(), DWORD(reinterpret_cast<uintptr_t>(head.data())));
    const double memoryMs = memoryWatch.Milliseconds();
    std::printf("IsSupported(memory): %d (%s) %s\n", byMemory,
                byMemory ? "supported" : "not supported", Milliseconds(memoryMs).c_str());
    Stopwatch handleWatch;
    const int byHandle =
        plugin.exports.IsSupported(path.c_str(), DWORD(reinterpret_cast<uintptr_t>(handle.get())));
    const double handleMs = handleWatch.Milliseconds();
    std::printf("IsSupported(handle): %d (%s) %s\n", byHandle,
                byHandle ? "supported" : "not supported", Milliseconds(handleMs).c_str());
    return byMemory && byHandle ? ExitOk : ExitFailed;
}

int RunConfig(const Plugin& plugin, int fnc) {
    if (!Exported(plugin, reinterpret_cast<const void*>(plugin.exports.ConfigurationDlg),
                  "ConfigurationDlg"))
        return ExitFailed;
    Stopwatch watch;
    const int code = plugin.exports.ConfigurationDlg(nullptr, fnc);
    std::printf("ConfigurationDlg(%d): %d (%s) %s\n", fnc, code, ResultMeaning(code),
                Milliseconds(watch.Milliseconds()).c_str());
    return code == SusieSuccess ? ExitOk : ExitFailed;
}

// ---- the command line ----

bool ParseNumber(const char* text, unsigned long long limit, unsigned long long& value) {
    if (!text || !*text || *text == '-' || *text == '+') return false;
    char* end = nullptr;
    errno = 0;
    value = std::strtoull(text, &end, 0);
    return errno == 0 && *end == '\0' && value <= limit;
}

int Main(int argc, char** argv) {
    if (argc < 3) return UsageError("a plug-in and a command are needed");
    const std::string pluginPath = argv[1];
    const std::string command = argv[2];
    std::vector<std::string> args(argv + 3, argv + argc);
    const auto keep = std::find(args.begin(), args.end(), "--keep-loaded");
    const bool keepLoaded = keep != args.end();
    if (keepLoaded) args.erase(keep);

    RequestOptions options;
    if (command == "info") {
        if (!args.empty()) return UsageError("info takes no arguments");
    } else if (command == "supported") {
        if (args.size() != 1) return UsageError("supported takes one FILE");
    } else if (command == "config") {
        unsigned long long fnc = 1;
        if (args.size() > 1 || (args.size() == 1 && !ParseNumber(args[0].c_str(), 0x7FFFFFFF, fnc)))
            return UsageError("config takes at most one number");
        Plugin plugin;
        if (!LoadPlugin(pluginPath, plugin)) return ExitFailed;
        const int code = RunConfig(plugin, int(fnc));
        if (keepLoaded) (void)plugin.module.release();
        return code;
    } else if (command == "pictureinfo" || command == "picture" || command == "preview") {
        options.request = command == "pictureinfo" ? Request::PictureInfo
                          : command == "picture"   ? Request::Picture
                                                   : Request::Preview;
        for (size_t i = 0; i < args.size(); ++i) {
            const std::string& arg = args[i];
            // The option's value: the next argument, or null when there is none.
            auto value = [&]() -> const char* {
                return i + 1 < args.size() ? args[++i].c_str() : nullptr;
            };
            unsigned long long number = 0;
            if (arg == "--memory") {
                options.memory = true;
            } else if (arg == "--no-progress") {
                options.progress = false;
            } else if (arg == "--offset") {
                if (!ParseNumber(value(), UINT64_MAX, number))
                    return UsageError("--offset needs a number");
                options.offset = number;
            } else if (arg == "--flag") {
                if (!ParseNumber(value(), 0xFFFFFFFFu, number))
                    return UsageError("--flag needs a 32-bit number");
                options.extraFlag = unsigned(number);
            } else if (arg == "--out") {
                const char* path = value();
                if (!path || !*path) return UsageError("--out needs a path");
                options.out = path;
            } else if (arg == "--threads") {
                if (!ParseNumber(value(), MaxThreads, number) || number == 0)
                    return UsageError("--threads needs a number from 1 to " +
                                      std::to_string(MaxThreads));
                options.threads = (unsigned long)number;
            } else if (arg == "--repeat") {
                if (!ParseNumber(value(), MaxRepeat, number) || number == 0)
                    return UsageError("--repeat needs a number from 1 to " +
                                      std::to_string(MaxRepeat));
                options.repeat = (unsigned long)number;
            } else if (!arg.empty() && arg[0] == '-') {
                return UsageError("unknown option " + arg);
            } else if (options.file.empty()) {
                options.file = arg;
            } else {
                return UsageError("one FILE only");
            }
        }
        if (options.file.empty()) return UsageError(command + " needs a FILE");
        if (options.request == Request::PictureInfo && !options.out.empty())
            return UsageError("--out is for picture and preview");
    } else {
        return UsageError("unknown command " + command);
    }

    Plugin plugin;
    if (!LoadPlugin(pluginPath, plugin)) return ExitFailed;
    const int code = command == "info"        ? RunInfo(plugin)
                     : command == "supported" ? RunSupported(plugin, args[0])
                                              : RunRequest(plugin, options);
    if (keepLoaded) (void)plugin.module.release();
    return code;
}

}  // namespace
}  // namespace qorvi::tools

int main(int argc, char** argv) {
    const int code = qorvi::tools::Main(argc, argv);
    std::fflush(stdout);
    return code;
}
