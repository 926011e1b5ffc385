#include "engine/ColorEngine.h"

#include "base/Mutex.h"
#include "engine/MatrixShaper.h"

#include <lcms2.h>

#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cfenv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace qorvi::engine {

namespace {

// "QRVI" in the first state word marks a record this engine prepared; the second names it.
constexpr uint32_t RecordMagic = 0x49565251;

// Grey profiles read the blue byte of B,G,R pixels, which equals the other two in a grey
// picture delivered as colour.
constexpr cmsUInt32Number GrayInBGR =
    COLORSPACE_SH(PT_GRAY) | CHANNELS_SH(1) | BYTES_SH(1) | EXTRA_SH(2);

// The palette is converted in one row through the B,G,R transform; no palette is larger.
constexpr int32_t LargestPalette = 1 << 16;

struct ProfileCloser {
    void operator()(void* profile) const noexcept { cmsCloseProfile(profile); }
};
using UniqueProfile = std::unique_ptr<void, ProfileCloser>;

struct TransformDeleter {
    void operator()(void* transform) const noexcept { cmsDeleteTransform(transform); }
};
using UniqueTransform = std::unique_ptr<void, TransformDeleter>;

struct CurveDeleter {
    void operator()(cmsToneCurve* curve) const noexcept { cmsFreeToneCurve(curve); }
};
using UniqueCurve = std::unique_ptr<cmsToneCurve, CurveDeleter>;

// Little CMS's context of this engine, made at first use: everything the engine builds belongs
// to it, and its plug-in (the matrix-shaper kernel) is registered there. Little CMS's global
// context would do as well but keeps what a plug-in registers for ever: a library loaded and
// unloaded again and again would lose that every time. ReleaseEngine deletes the context.
std::atomic<cmsContext> LittleCMS{nullptr};

cmsContext Context() {
    cmsContext context = LittleCMS.load(std::memory_order_acquire);
    if (context != nullptr) return context;
    cmsContext made = cmsCreateContext(MatrixShaperPlugin(), nullptr);
    if (made == nullptr) return nullptr;  // out of memory: what needs it fails
    // Two first uses at once: one context stays, the other goes.
    if (LittleCMS.compare_exchange_strong(context, made, std::memory_order_acq_rel)) return made;
    cmsDeleteContext(made);
    return context;
}

UniqueProfile OpenProfile(const void* bytes, uint32_t size) {
    if (bytes == nullptr || size == 0 || size > LargestProfile) return nullptr;
    return UniqueProfile(cmsOpenProfileFromMemTHR(Context(), bytes, size));
}

UniqueProfile SRGBProfile() { return UniqueProfile(cmsCreate_sRGBProfileTHR(Context())); }

// A built transform, or the record that building one from this key failed (null), so a source
// Little CMS rejects is not parsed again for every picture.
struct CachedTransform {
    std::string Key;
    UniqueTransform Transform;
};

// A proofing profile file, read once for as long as its size and time stamp stay.
struct ProofingProfileFile {
    std::string Identity;  // path, size and modification time
    UniqueProfile Profile;
};

struct EngineRecord {
    UniqueProfile Output;
    bool OutputIsMonitor = false;
    UniqueProfile Cmyk;
    std::vector<CachedTransform> Cache;  // most recently used first
    ProofingProfileFile Proofing;
};

Mutex EngineLock;
std::map<uint32_t, std::unique_ptr<EngineRecord>> Records;
uint32_t LastRecordName = 0;
TMultiThread* Workers = nullptr;
uint64_t TransformsBuilt = 0;

EngineRecord* FindRecord(const CMSInfo& info) {
    if (info.State[0] != RecordMagic) return nullptr;
    const auto found = Records.find(info.State[1]);
    return found == Records.end() ? nullptr : found->second.get();
}

int32_t KnownIntent(int32_t intent) { return intent >= 0 && intent <= 3 ? intent : 0; }

// Of the record's flags only black-point compensation means something to Little CMS; the option
// bit and anything else a caller sets stay here.
cmsUInt32Number LittleCMSFlags(const CMSInfo& info) {
    return (info.Flags & BlackPointCompensation) ? cmsFLAGS_BLACKPOINTCOMPENSATION : 0;
}

// The monitor profile serves when it is an RGB profile Little CMS can convert sRGB into.
bool UsableOutput(cmsHPROFILE profile, const CMSInfo& info) {
    if (cmsGetColorSpace(profile) != cmsSigRgbData) return false;
    UniqueProfile srgb = SRGBProfile();
    if (!srgb) return false;
    // Unoptimised: only whether it can be built counts, not how fast it would run.
    UniqueTransform probe(cmsCreateTransformTHR(Context(), srgb.get(), TYPE_BGR_8, profile,
                                                TYPE_BGR_8, KnownIntent(info.Intent),
                                                LittleCMSFlags(info) | cmsFLAGS_NOOPTIMIZE));
    return probe != nullptr;
}

// ---- Where the source's colours come from

enum class Buffer { BGR, CMYK };

// One way to describe the source: the bytes that name it in the cache, and how to open it.
struct ColorSource {
    std::string Key;
    enum { Embedded, Chromaticities, SRGB, RecordCmyk } Origin;
};

const void* EmbeddedProfile(const ImageInfo& image, uint32_t& size) {
    if (image.ProfileSize <= 0 || static_cast<uint32_t>(image.ProfileSize) > LargestProfile)
        return nullptr;
    size = static_cast<uint32_t>(image.ProfileSize);
    if ((image.Flags & HasProfileBuffer) && image.ProfileBuffer != nullptr)
        return image.ProfileBuffer;
    if ((image.Flags & HasProfileData) && image.ProfileData != nullptr) return image.ProfileData;
    return nullptr;
}

// Spectral primaries lie on the edge x + y = 1 (P3's red: 0.68, 0.32), where the 32-bit build's
// extended precision makes the sum of the two stored doubles come out a little above 1.
bool Chromaticity(double x, double y) {
    return std::isfinite(x) && std::isfinite(y) && x > 0 && y > 0 && x < 1 && y < 1 &&
           x + y <= 1 + 1e-9;
}

// The white point, primaries and tone curve a picture's chromaticity fields describe, with the
// pieces it lacks (or states impossibly) from sRGB.
struct ChromaticityValues {
    double White[2] = {0.3127, 0.3290};
    double Primaries[6] = {0.64, 0.33, 0.30, 0.60, 0.15, 0.06};
    double Gamma = 0;  // 0: sRGB's own curve
};

bool ReadChromaticities(const ImageInfo& image, ChromaticityValues& out) {
    bool any = false;
    if ((image.Flags & HasWhitePoint) && Chromaticity(image.WhitePointX, image.WhitePointY)) {
        out.White[0] = image.WhitePointX;
        out.White[1] = image.WhitePointY;
        any = true;
    }
    const bool primaries = (image.Flags & HasPrimaries) && Chromaticity(image.RedX, image.RedY) &&
                           Chromaticity(image.GreenX, image.GreenY) &&
                           Chromaticity(image.BlueX, image.BlueY);
    if (primaries) {
        const double values[6] = {image.RedX,   image.RedY,  image.GreenX,
                                  image.GreenY, image.BlueX, image.BlueY};
        std::copy(values, values + 6, out.Primaries);
        any = true;
    }
    // Exponents outside this range describe no display a picture was made for.
    const bool gamma = (image.Flags & HasGamma) && std::isfinite(image.Gamma) &&
                       image.Gamma >= 0.1 && image.Gamma <= 10;
    if (gamma) {
        out.Gamma = image.Gamma;
        any = true;
    } else if (primaries) {
        out.Gamma = 2.2;
    }
    return any;
}

template <class T>
void Append(std::string& key, const T& value) {
    key.append(reinterpret_cast<const char*>(&value), sizeof value);
}

UniqueProfile OpenChromaticities(const ChromaticityValues& c) {
    const cmsCIExyY white = {c.White[0], c.White[1], 1.0};
    const cmsCIExyYTRIPLE primaries = {{c.Primaries[0], c.Primaries[1], 1.0},
                                       {c.Primaries[2], c.Primaries[3], 1.0},
                                       {c.Primaries[4], c.Primaries[5], 1.0}};
    // sRGB's curve: the 2.4 power with its linear toe.
    const double srgb[5] = {2.4, 1.0 / 1.055, 0.055 / 1.055, 1.0 / 12.92, 0.04045};
    UniqueCurve curve(c.Gamma > 0 ? cmsBuildGamma(Context(), c.Gamma)
                                  : cmsBuildParametricToneCurve(Context(), 4, srgb));
    if (!curve) return nullptr;
    cmsToneCurve* curves[3] = {curve.get(), curve.get(), curve.get()};
    return UniqueProfile(cmsCreateRGBProfileTHR(Context(), &white, &primaries, curves));
}

// The key's prefix: everything but the source that decides the transform.
std::string KeyPrefix(char kind, const CMSInfo& info, const std::string& proofing) {
    std::string key(1, kind);
    Append(key, KnownIntent(info.Intent));
    Append(key, KnownIntent(info.ProofingIntent));
    Append(key, LittleCMSFlags(info));
    Append(key, static_cast<uint32_t>(proofing.size()));
    key += proofing;
    return key;
}

// ---- Building and caching

CachedTransform* FindCached(EngineRecord& record, const std::string& key) {
    auto& cache = record.Cache;
    for (size_t i = 0; i < cache.size(); ++i) {
        if (cache[i].Key.size() != key.size() || cache[i].Key != key) continue;
        if (i > 0)
            std::rotate(cache.begin(), cache.begin() + static_cast<ptrdiff_t>(i),
                        cache.begin() + static_cast<ptrdiff_t>(i) + 1);
        return &cache.front();
    }
    return nullptr;
}

CachedTransform& Remember(EngineRecord& record, std::string key, UniqueTransform transform) {
    auto& cache = record.Cache;
    if (cache.size() >= CachedTransforms) cache.pop_back();
    cache.insert(cache.begin(), CachedTransform{std::move(key), std::move(transform)});
    return cache.front();
}

// The source profile of one transform: one opened for it, or the record's own, which the
// record keeps and closes.
struct SourceProfile {
    UniqueProfile Owned;
    cmsHPROFILE Profile = nullptr;

    static SourceProfile Own(UniqueProfile profile) {
        cmsHPROFILE handle = profile.get();
        return {std::move(profile), handle};
    }
    static SourceProfile Borrow(cmsHPROFILE profile) { return {nullptr, profile}; }
    explicit operator bool() const { return Profile != nullptr; }
};

// Opens the source profile for `buffer`; empty when the source cannot serve it.
SourceProfile OpenSource(EngineRecord& record, const ImageInfo& image, const ColorSource& source,
                         Buffer buffer, cmsUInt32Number& format) {
    switch (source.Origin) {
    case ColorSource::Embedded: {
        uint32_t size = 0;
        const void* bytes = EmbeddedProfile(image, size);
        UniqueProfile profile = OpenProfile(bytes, size);
        if (!profile) return {};
        const cmsColorSpaceSignature space = cmsGetColorSpace(profile.get());
        if (buffer == Buffer::CMYK) {
            if (space != cmsSigCmykData) return {};
            format = TYPE_CMYK_8;
        } else if (space == cmsSigRgbData) {
            format = TYPE_BGR_8;
        } else if (space == cmsSigGrayData) {
            format = GrayInBGR;
        } else {
            return {};
        }
        return SourceProfile::Own(std::move(profile));
    }
    case ColorSource::Chromaticities: {
        ChromaticityValues c;
        if (!ReadChromaticities(image, c)) return {};
        format = TYPE_BGR_8;
        return SourceProfile::Own(OpenChromaticities(c));
    }
    case ColorSource::SRGB: format = TYPE_BGR_8; return SourceProfile::Own(SRGBProfile());
    case ColorSource::RecordCmyk:
        format = TYPE_CMYK_8;
        return SourceProfile::Borrow(record.Cmyk.get());
    }
    return {};
}

cmsHTRANSFORM Build(EngineRecord& record, const CMSInfo& info, const ImageInfo& image,
                    const ColorSource& source, Buffer buffer, bool proofing) {
    cmsUInt32Number format = 0;
    const SourceProfile opened = OpenSource(record, image, source, buffer, format);
    if (!opened || !record.Output) return nullptr;
    ++TransformsBuilt;
    const cmsUInt32Number flags = LittleCMSFlags(info);
    cmsHPROFILE profile = opened.Profile;
    return proofing ? cmsCreateProofingTransformTHR(
                          Context(), profile, format, record.Output.get(), TYPE_BGR_8,
                          record.Proofing.Profile.get(), KnownIntent(info.Intent),
                          KnownIntent(info.ProofingIntent), flags | cmsFLAGS_SOFTPROOFING)
                    : cmsCreateTransformTHR(Context(), profile, format, record.Output.get(),
                                            TYPE_BGR_8, KnownIntent(info.Intent), flags);
}

// The sources for a buffer, most specific first.
std::vector<ColorSource> Sources(const ImageInfo& image, Buffer buffer) {
    std::vector<ColorSource> sources;
    uint32_t size = 0;
    if (const void* bytes = EmbeddedProfile(image, size)) {
        std::string key(1, 'P');
        key.append(static_cast<const char*>(bytes), size);
        sources.push_back({std::move(key), ColorSource::Embedded});
    }
    if (buffer == Buffer::CMYK) {
        sources.push_back({"K", ColorSource::RecordCmyk});
        return sources;
    }
    ChromaticityValues c;
    if (ReadChromaticities(image, c)) {
        std::string key(1, 'C');
        Append(key, c);
        sources.push_back({std::move(key), ColorSource::Chromaticities});
    }
    sources.push_back({"S", ColorSource::SRGB});
    return sources;
}

// Refreshes the record's proofing profile from `path`; false when there is none to use.
bool PrepareProofing(EngineRecord& record, const char* path) {
    if (path == nullptr || *path == '\0') return false;
    struct stat status {};
    if (stat(path, &status) != 0 || status.st_size <= 0 ||
        static_cast<uint64_t>(status.st_size) > LargestProfile)
        return false;
    std::string identity(path);
    identity.push_back('\0');
    Append(identity, static_cast<int64_t>(status.st_size));
    Append(identity, static_cast<int64_t>(status.st_mtime));
    if (identity == record.Proofing.Identity) return record.Proofing.Profile != nullptr;

    record.Proofing = ProofingProfileFile{identity, nullptr};
    std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path, "rb"), std::fclose);
    if (!file) return false;
    std::vector<char> bytes(static_cast<size_t>(status.st_size));
    if (std::fread(bytes.data(), 1, bytes.size(), file.get()) != bytes.size()) return false;
    record.Proofing.Profile = OpenProfile(bytes.data(), static_cast<uint32_t>(bytes.size()));
    return record.Proofing.Profile != nullptr;
}

// The transform for this picture: the first source that builds, cached under every key tried.
cmsHTRANSFORM FindTransform(EngineRecord& record, const CMSInfo& info, const ImageInfo& image,
                            Buffer buffer, const char* proofingPath) {
    const bool proofing = PrepareProofing(record, proofingPath);
    const std::string prefix = KeyPrefix(buffer == Buffer::CMYK ? 'K' : 'R', info,
                                         proofing ? record.Proofing.Identity : "");
    for (const ColorSource& source : Sources(image, buffer)) {
        std::string key = prefix + source.Key;
        if (CachedTransform* cached = FindCached(record, key)) {
            if (cached->Transform) return cached->Transform.get();
            continue;
        }
        UniqueTransform built(Build(record, info, image, source, buffer, proofing));
        // A proofing transform Little CMS cannot make from this source: the plain one.
        if (!built && proofing) built.reset(Build(record, info, image, source, buffer, false));
        CachedTransform& stored = Remember(record, std::move(key), std::move(built));
        if (stored.Transform) return stored.Transform.get();
    }
    return nullptr;
}

// ---- Running

// Rows [first, first + count) of the picture.
struct RowSpan {
    uint8_t* Source;
    uint8_t* Destination;
    int32_t SourceStride;
    int32_t DestinationStride;
    int32_t Width;
};

void TransformRows(cmsHTRANSFORM transform, const RowSpan& rows, int32_t first, int32_t count) {
    // Little CMS adds up its row offsets in 32 bits: one call covers at most 4 GiB of rows, so a
    // larger picture goes in several calls. Every row converts on its own; the bytes are the same.
    const int64_t widest = std::max(rows.SourceStride, rows.DestinationStride);
    const int32_t perCall = int32_t(std::min<int64_t>(INT32_MAX, UINT32_MAX / widest));
    for (int32_t done = 0; done < count; done += perCall) {
        const int32_t row = first + done;
        const int32_t lines = std::min(perCall, count - done);
        cmsDoTransformLineStride(transform, rows.Source + int64_t(row) * rows.SourceStride,
                                 rows.Destination + int64_t(row) * rows.DestinationStride,
                                 static_cast<cmsUInt32Number>(rows.Width),
                                 static_cast<cmsUInt32Number>(lines),
                                 static_cast<cmsUInt32Number>(rows.SourceStride),
                                 static_cast<cmsUInt32Number>(rows.DestinationStride), 0, 0);
    }
}

// One transform split over the worker group: member `slice` converts its share of the rows.
struct SlicedTransform {
    cmsHTRANSFORM Transform;
    const RowSpan* Rows;
    int32_t Height;
    std::fenv_t Environment;  // the caller's

    static void Slice(int32_t slice, int32_t slices, void* data) {
        const auto& job = *static_cast<const SlicedTransform*>(data);
        std::fenv_t own;
        std::fegetenv(&own);
        std::fesetenv(&job.Environment);
        const int32_t first = int32_t(int64_t(job.Height) * slice / slices);
        const int32_t last = int32_t(int64_t(job.Height) * (slice + 1) / slices);
        TransformRows(job.Transform, *job.Rows, first, last - first);
        std::fesetenv(&own);
    }
};

void RunTransform(cmsHTRANSFORM transform, const RowSpan& rows, int32_t height) {
    const int32_t slices = Workers != nullptr ? Workers->Count() : 1;
    if (slices <= 1 || int64_t(rows.Width) * height < ParallelPixels || height < slices) {
        TransformRows(transform, rows, 0, height);
        return;
    }
    // Workers compute with the caller's rounding and precision, so the bytes do not depend on
    // which thread converted a row.
    SlicedTransform job{transform, &rows, height, {}};
    std::fegetenv(&job.Environment);
    Workers->Run(&SlicedTransform::Slice, &job);
}

// The plain ink formula, for a CMYK picture no profile can convert.
void InkFormula(const RowSpan& rows, int32_t height) {
    for (int32_t y = 0; y < height; ++y) {
        const uint8_t* in = rows.Source + int64_t(y) * rows.SourceStride;
        uint8_t* out = rows.Destination + int64_t(y) * rows.DestinationStride;
        for (int32_t x = 0; x < rows.Width; ++x, in += 4, out += 3) {
            const unsigned white = 255u - in[3];
            out[0] = uint8_t(((255u - in[2]) * white + 127) / 255);
            out[1] = uint8_t(((255u - in[1]) * white + 127) / 255);
            out[2] = uint8_t(((255u - in[0]) * white + 127) / 255);
        }
    }
}

bool RowsFit(int32_t width, int32_t stride, int bytesPerPixel) {
    return stride >= int64_t(width) * bytesPerPixel;
}

}  // namespace

void SetWorkerGroup(TMultiThread* group) noexcept {
    std::lock_guard<Mutex> lock(EngineLock);
    Workers = group;
}

bool InitializeRecord(CMSInfo& info, const void* monitorProfile, int32_t monitorSize,
                      const void* cmykProfile, int32_t cmykSize) noexcept {
    try {
        auto record = std::make_unique<EngineRecord>();
        if (monitorSize > 0) {
            UniqueProfile monitor = OpenProfile(monitorProfile, static_cast<uint32_t>(monitorSize));
            if (monitor && UsableOutput(monitor.get(), info)) {
                record->Output = std::move(monitor);
                record->OutputIsMonitor = true;
            }
        }
        if (!record->Output) record->Output = SRGBProfile();
        if (cmykSize > 0) {
            UniqueProfile cmyk = OpenProfile(cmykProfile, static_cast<uint32_t>(cmykSize));
            if (cmyk && cmsGetColorSpace(cmyk.get()) == cmsSigCmykData)
                record->Cmyk = std::move(cmyk);
        }
        if (!record->Output) return false;

        std::lock_guard<Mutex> lock(EngineLock);
        const uint32_t name = ++LastRecordName;
        Records.emplace(name, std::move(record));
        if (FindRecord(info) != nullptr) Records.erase(info.State[1]);
        info.State[0] = RecordMagic;
        info.State[1] = name;
        return true;
    } catch (...) {
        return false;
    }
}

void FinalizeRecord(CMSInfo& info) noexcept {
    std::lock_guard<Mutex> lock(EngineLock);
    if (FindRecord(info) != nullptr) Records.erase(info.State[1]);
    info.State[0] = 0;
    info.State[1] = 0;
}

bool RecordPrepared(const CMSInfo& info) noexcept {
    std::lock_guard<Mutex> lock(EngineLock);
    return FindRecord(info) != nullptr;
}

bool RecordUsesMonitorProfile(const CMSInfo& info) noexcept {
    std::lock_guard<Mutex> lock(EngineLock);
    const EngineRecord* record = FindRecord(info);
    return record != nullptr && record->OutputIsMonitor;
}

void Transform(CMSInfo& info, const ImageInfo* image, void* source, void* destination,
               int32_t sourceStride, int32_t destinationStride, int32_t width, int32_t height,
               int32_t kind, const char* proofingProfile) noexcept {
    if (source == nullptr || width < 1) return;
    static const ImageInfo Nothing{};
    const ImageInfo& picture = image != nullptr ? *image : Nothing;
    try {
        std::lock_guard<Mutex> lock(EngineLock);
        EngineRecord* record = FindRecord(info);
        switch (kind) {
        case TransformBGR: {
            if (record == nullptr || height < 1 || !RowsFit(width, sourceStride, 3)) return;
            if (destination == nullptr) destination = source;
            if (!RowsFit(width, destinationStride, 3)) return;
            cmsHTRANSFORM transform =
                FindTransform(*record, info, picture, Buffer::BGR, proofingProfile);
            if (transform == nullptr) return;
            RunTransform(transform,
                         {static_cast<uint8_t*>(source), static_cast<uint8_t*>(destination),
                          sourceStride, destinationStride, width},
                         height);
            return;
        }
        case TransformCMYK: {
            if (destination == nullptr || height < 1 || !RowsFit(width, sourceStride, 4) ||
                !RowsFit(width, destinationStride, 3))
                return;
            const RowSpan rows{static_cast<uint8_t*>(source), static_cast<uint8_t*>(destination),
                               sourceStride, destinationStride, width};
            cmsHTRANSFORM transform =
                record != nullptr
                    ? FindTransform(*record, info, picture, Buffer::CMYK, proofingProfile)
                    : nullptr;
            if (transform != nullptr)
                RunTransform(transform, rows, height);
            else
                InkFormula(rows, height);
            return;
        }
        case TransformPalette: {
            if (record == nullptr || width > LargestPalette) return;
            if (destination == nullptr) destination = source;
            cmsHTRANSFORM transform =
                FindTransform(*record, info, picture, Buffer::BGR, proofingProfile);
            if (transform == nullptr) return;
            // Through the picture transform in B,G,R, so a palette converts exactly as pixels of
            // its colours would; the reserved bytes are never written.
            const auto* in = static_cast<const uint8_t*>(source);
            std::vector<uint8_t> colours(size_t(width) * 3);
            for (int32_t i = 0; i < width; ++i)
                std::memcpy(&colours[size_t(i) * 3], in + size_t(i) * 4, 3);
            cmsDoTransform(transform, colours.data(), colours.data(),
                           static_cast<cmsUInt32Number>(width));
            auto* out = static_cast<uint8_t*>(destination);
            for (int32_t i = 0; i < width; ++i)
                std::memcpy(out + size_t(i) * 4, &colours[size_t(i) * 3], 3);
            return;
        }
        default: return;
        }
    } catch (...) {
        // Out of memory while building: the picture stays as it is.
    }
}

uint32_t ProfileFileColorSpace(const char* path) noexcept {
    if (path == nullptr || *path == '\0') return 0;
    UniqueProfile profile(cmsOpenProfileFromFileTHR(Context(), path, "r"));
    return profile ? static_cast<uint32_t>(cmsGetColorSpace(profile.get())) : 0;
}

void ReleaseEngine() noexcept {
    {
        std::lock_guard<Mutex> lock(EngineLock);
        Records.clear();
    }
    if (cmsContext context = LittleCMS.exchange(nullptr)) cmsDeleteContext(context);
}

EngineCounters Counters() noexcept {
    std::lock_guard<Mutex> lock(EngineLock);
    size_t transforms = 0;
    for (const auto& [name, record] : Records)
        for (const auto& cached : record->Cache) transforms += cached.Transform != nullptr;
    return {TransformsBuilt, Records.size(), transforms};
}

}  // namespace qorvi::engine
