#include "engine/WicImageInfo.h"

#include "base/WinHandles.h"

#include <initguid.h>  // the WIC GUIDs are defined here rather than taken from an import library
#include <wincodec.h>

#include <algorithm>
#include <utility>

namespace qorvi::engine {
namespace {

// A profile block from AllocateProfileBuffer, freed unless handed over.
class ProfileBlock {
public:
    ProfileBlock() = default;
    ~ProfileBlock() { FreeProfileBuffer(data_); }
    ProfileBlock(const ProfileBlock&) = delete;
    ProfileBlock& operator=(const ProfileBlock&) = delete;
    bool Allocate(uint32_t size) {
        FreeProfileBuffer(std::exchange(data_, AllocateProfileBuffer(size)));
        size_ = data_ ? size : 0;
        return data_ != nullptr;
    }
    void Free() { FreeProfileBuffer(Release()); }
    void* Release() {
        size_ = 0;
        return std::exchange(data_, nullptr);
    }
    void* Data() const { return data_; }
    uint32_t Size() const { return size_; }

private:
    void* data_ = nullptr;
    uint32_t size_ = 0;
};

// An ICC profile begins with a header of this size; anything shorter is not a profile.
constexpr UINT ICCHeaderSize = 128;
// Formats carry one colour context, two at most (a profile and an Exif colour space); the bound
// keeps a lying count from making us create contexts without end.
constexpr UINT MaxColorContexts = 8;

// The first profile among the frame's colour contexts, copied into `profile`.
void ReadProfile(IWICImagingFactory* factory, IWICBitmapFrameDecode* frame, ProfileBlock& profile) {
    UINT count = 0;
    if (FAILED(frame->GetColorContexts(0, nullptr, &count)) || count == 0) return;
    count = std::min(count, MaxColorContexts);
    ComRef<IWICColorContext> contexts[MaxColorContexts];
    IWICColorContext* handed[MaxColorContexts] = {};
    for (UINT i = 0; i < count; ++i) {
        if (FAILED(factory->CreateColorContext(contexts[i].Put()))) return;
        handed[i] = contexts[i].Get();
    }
    UINT filled = 0;
    if (FAILED(frame->GetColorContexts(count, handed, &filled))) return;
    for (UINT i = 0; i < std::min(filled, count); ++i) {
        WICColorContextType type = WICColorContextUninitialized;
        if (FAILED(handed[i]->GetType(&type)) || type != WICColorContextProfile) continue;
        UINT size = 0;
        if (FAILED(handed[i]->GetProfileBytes(0, nullptr, &size))) continue;
        if (size < ICCHeaderSize || size > MaxWICProfileSize) continue;
        if (!profile.Allocate(size)) return;
        UINT copied = 0;
        if (SUCCEEDED(
                handed[i]->GetProfileBytes(size, static_cast<BYTE*>(profile.Data()), &copied)) &&
            copied == size)
            return;
        profile.Free();  // a context that cannot give what it announced: try the next
    }
}

// An integer property of any width; 0 for anything else.
int32_t IntegerOf(const PROPVARIANT& value) {
    switch (value.vt) {
    case VT_UI1: return value.bVal;
    case VT_UI2: return value.uiVal;
    case VT_I2: return value.iVal;
    case VT_UI4: return value.ulVal <= 0x7FFFFFFF ? int32_t(value.ulVal) : 0;
    case VT_I4: return value.lVal;
    default: return 0;
    }
}

// The orientation from wherever the format keeps it: Exif in a JPEG's APP1, a TIFF's first
// directory, or the photo property the component maps either to. 0 when none gives 1 to 8.
int32_t ReadOrientation(IWICBitmapFrameDecode* frame) {
    ComRef<IWICMetadataQueryReader> reader;
    if (FAILED(frame->GetMetadataQueryReader(reader.Put())) || !reader) return 0;
    static const wchar_t* const Queries[] = {L"/app1/ifd/{ushort=274}", L"/ifd/{ushort=274}",
                                             L"System.Photo.Orientation"};
    for (const wchar_t* query : Queries) {
        PROPVARIANT value;
        PropVariantInit(&value);
        const int32_t orientation =
            SUCCEEDED(reader->GetMetadataByName(query, &value)) ? IntegerOf(value) : 0;
        PropVariantClear(&value);
        if (orientation >= 1 && orientation <= 8) return orientation;
    }
    return 0;
}

}  // namespace

int ReadWICImageInfo(ImageInfo& info, const void* data, int32_t size) noexcept {
    if (data == nullptr || size <= 0) return 0;
    const bool profileWanted = (info.Flags & (HasProfileData | HasProfileBuffer)) == 0;
    const bool orientationWanted = (info.Flags & HasOrientation) == 0;
    if (!profileWanted && !orientationWanted) return 0;

    // Declared first, so that every COM object below is released before the apartment is left.
    ComApartment apartment;
    if (!apartment.Usable()) return 0;
    ComRef<IWICImagingFactory> factory;
    if (FAILED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                IID_IWICImagingFactory, reinterpret_cast<void**>(factory.Put()))))
        return 0;
    ComRef<IWICStream> stream;
    if (FAILED(factory->CreateStream(stream.Put()))) return 0;
    // The stream ends at `size`: the component reads nothing outside the file image.
    if (FAILED(
            stream->InitializeFromMemory(static_cast<BYTE*>(const_cast<void*>(data)), DWORD(size))))
        return 0;
    ComRef<IWICBitmapDecoder> decoder;
    if (FAILED(factory->CreateDecoderFromStream(stream.Get(), nullptr,
                                                WICDecodeMetadataCacheOnDemand, decoder.Put())))
        return 0;
    ComRef<IWICBitmapFrameDecode> frame;
    if (FAILED(decoder->GetFrame(0, frame.Put())) || !frame) return 0;

    ProfileBlock profile;
    if (profileWanted) ReadProfile(factory.Get(), frame.Get(), profile);
    const int32_t orientation = orientationWanted ? ReadOrientation(frame.Get()) : 0;

    int stored = 0;
    if (profile.Data() != nullptr) {
        info.ProfileSize = int32_t(profile.Size());  // at most MaxWICProfileSize
        info.ProfileBuffer = profile.Release();
        info.Flags |= HasProfileBuffer;
        stored = 1;
    }
    if (orientation != 0) {
        info.Orientation = orientation;
        info.Flags |= HasOrientation;
        stored = 1;
    }
    return stored;
}

}  // namespace qorvi::engine
