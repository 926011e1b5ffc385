#include "children/WicDecoder.h"

#include "children/PixelRows.h"
#include "hostplugins/SusieInterface.h"

#include <initguid.h>  // the WIC GUIDs are defined here rather than taken from an import library
#include <wincodec.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <iterator>
#include <new>
#include <utility>

namespace qorvi::wicdec {

namespace {

struct LayoutOf {
    const GUID* format;
    SourceLayout layout;
};
const LayoutOf Layouts[] = {
    {&GUID_WICPixelFormat24bppBGR, SourceLayout::Bgr24},
    {&GUID_WICPixelFormat24bppRGB, SourceLayout::Rgb24},
    {&GUID_WICPixelFormat32bppBGR, SourceLayout::Bgrx32},
    {&GUID_WICPixelFormat32bppBGRA, SourceLayout::Bgra32},
    {&GUID_WICPixelFormat32bppRGBA, SourceLayout::Rgba32},
    {&GUID_WICPixelFormatBlackWhite, SourceLayout::Gray1},
    {&GUID_WICPixelFormat2bppGray, SourceLayout::Gray2},
    {&GUID_WICPixelFormat4bppGray, SourceLayout::Gray4},
    {&GUID_WICPixelFormat8bppGray, SourceLayout::Gray8},
    {&GUID_WICPixelFormat16bppGray, SourceLayout::Gray16},
    {&GUID_WICPixelFormat1bppIndexed, SourceLayout::Indexed1},
    {&GUID_WICPixelFormat2bppIndexed, SourceLayout::Indexed2},
    {&GUID_WICPixelFormat4bppIndexed, SourceLayout::Indexed4},
    {&GUID_WICPixelFormat8bppIndexed, SourceLayout::Indexed8},
    {&GUID_WICPixelFormat48bppRGB, SourceLayout::Rgb48},
    {&GUID_WICPixelFormat48bppBGR, SourceLayout::Bgr48},
    {&GUID_WICPixelFormat64bppRGBA, SourceLayout::Rgba64},
    {&GUID_WICPixelFormat64bppBGRA, SourceLayout::Bgra64},
    // WIC's CMYK rows are C, M, Y, K with 0 = no ink. Adobe-style JPEGs store their ink inverted
    // (APP14 "Adobe"); the JPEG decoder undoes that itself (Wine's does: ImageMagick's pure cyan
    // comes out as 255, 0, 0, 0), so the rows are the host's agreement as they stand.
    {&GUID_WICPixelFormat32bppCMYK, SourceLayout::Cmyk32},
    {&GUID_WICPixelFormat64bppCMYK, SourceLayout::Cmyk64},
};

int FailureCode(HRESULT result) {
    return result == E_OUTOFMEMORY ? SusieOutOfMemory : ResultUndecodable;
}

// Whether WIC says a pixel format it knows (and we do not) carries alpha.
bool FormatHasAlpha(IWICImagingFactory* factory, const GUID& format) {
    ComRef<IWICComponentInfo> component;
    ComRef<IWICPixelFormatInfo2> info;
    BOOL transparent = FALSE;
    return SUCCEEDED(factory->CreateComponentInfo(format, component.Put())) &&
           SUCCEEDED(component->QueryInterface(IID_IWICPixelFormatInfo2, info.PutVoid())) &&
           SUCCEEDED(info->SupportsTransparency(&transparent)) && transparent;
}

// The frame's palette as 0xAARRGGBB; a GIF may keep it in the file rather than in the frame.
bool ReadPalette(IWICImagingFactory* factory, IWICBitmapDecoder* decoder,
                 IWICBitmapFrameDecode* frame, std::vector<uint32_t>& colours) {
    ComRef<IWICPalette> palette;
    if (FAILED(factory->CreatePalette(palette.Put()))) return false;
    if (FAILED(frame->CopyPalette(palette.Get())) && FAILED(decoder->CopyPalette(palette.Get())))
        return false;
    UINT count = 0;
    if (FAILED(palette->GetColorCount(&count)) || count == 0) return false;
    colours.assign(std::min<UINT>(count, 256), 0);
    UINT copied = 0;
    if (FAILED(palette->GetColors(UINT(colours.size()), colours.data(), &copied))) return false;
    colours.resize(std::min<size_t>(copied, colours.size()));
    return !colours.empty();
}

double UsableDpi(double dpi) {
    // A resolution WIC cannot give us arrives as 0, NaN or nonsense; 0 means unknown to the host.
    return std::isfinite(dpi) && dpi > 0 && dpi < 65535.5 ? dpi : 0;
}

constexpr double MetresPerInch = 0.0254;
// Rows decoded per CopyPixels: bounds the scratch memory beside the delivered bitmap.
constexpr uint64_t ScratchBytes = uint64_t(4) << 20;

}  // namespace

int LoadInput(const char* buf, intptr_t len, unsigned flag, Input& input) {
    input = Input();
    if ((flag & SusieInputMask) != SusieInputFile) {
        // A null or empty block holds no signature.
        if (!buf || len <= 0) return SusieUnsupported;
        input.data = reinterpret_cast<const uint8_t*>(buf);
        input.size = size_t(len);
        return SusieSuccess;
    }
    if (!buf || len < 0) return SusieReadError;
    UniqueFile file(CreateFileA(buf, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size;
    if (!file || !GetFileSizeEx(file.get(), &size) || uint64_t(size.QuadPart) < uint64_t(len))
        return SusieReadError;
    const uint64_t wanted = uint64_t(size.QuadPart) - uint64_t(len);
    if (wanted == 0) return SusieUnsupported;
    if (wanted > MaxInputBytes) return SusieOutOfMemory;
    LARGE_INTEGER offset;
    offset.QuadPart = len;
    if (!SetFilePointerEx(file.get(), offset, nullptr, FILE_BEGIN)) return SusieReadError;
    try {
        input.owned.resize(size_t(wanted));  // bounded by MaxInputBytes above
    } catch (const std::bad_alloc&) {
        return SusieOutOfMemory;
    }
    size_t done = 0;
    while (done < input.owned.size()) {
        DWORD chunk = DWORD(std::min<size_t>(input.owned.size() - done, size_t(1) << 24)), got = 0;
        if (!ReadFile(file.get(), input.owned.data() + done, chunk, &got, nullptr) || got == 0)
            return SusieReadError;  // the file shrank under us, or the read failed
        done += got;
    }
    input.data = input.owned.data();
    input.size = input.owned.size();
    return SusieSuccess;
}

int Decode(const uint8_t* data, size_t size, bool cmykWanted, bool pixels,
           DecodedPicture& picture) {
    picture = DecodedPicture();
    if (DetectFormat(data, size) == ImageFormat::Unknown) return SusieUnsupported;
    if (size > MAXDWORD) return SusieOutOfMemory;

    ComApartment apartment;
    if (!apartment.Usable()) return SusieInternalError;
    ComRef<IWICImagingFactory> factory;
    if (FAILED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                IID_IWICImagingFactory, factory.PutVoid())))
        return SusieInternalError;

    ComRef<IWICStream> stream;
    HRESULT hr = factory->CreateStream(stream.Put());
    if (FAILED(hr)) return FailureCode(hr);
    // WIC reads the block through the stream, which ends at `size`.
    hr = stream->InitializeFromMemory(const_cast<BYTE*>(data), DWORD(size));
    if (FAILED(hr)) return FailureCode(hr);
    ComRef<IWICBitmapDecoder> decoder;
    hr = factory->CreateDecoderFromStream(stream.Get(), nullptr, WICDecodeMetadataCacheOnDemand,
                                          decoder.Put());
    if (FAILED(hr)) return FailureCode(hr);
    ComRef<IWICBitmapFrameDecode> frame;
    hr = decoder->GetFrame(0, frame.Put());  // multi-frame files: the first frame only
    if (FAILED(hr)) return FailureCode(hr);

    UINT width = 0, height = 0;
    hr = frame->GetSize(&width, &height);
    if (FAILED(hr)) return FailureCode(hr);
    if (width == 0 || height == 0) return ResultUndecodable;

    WICPixelFormatGUID format;
    hr = frame->GetPixelFormat(&format);
    if (FAILED(hr)) return FailureCode(hr);
    IWICBitmapSource* source = frame.Get();
    ComRef<IWICBitmapSource> converted;
    SourceLayout layout = SourceLayout::Bgr24;
    auto known = std::find_if(std::begin(Layouts), std::end(Layouts), [&](const LayoutOf& entry) {
        return IsEqualGUID(*entry.format, format);
    });
    if (known != std::end(Layouts)) {
        layout = known->layout;
    } else {
        // Formats we have no rows for (premultiplied, 5-6-5, float, ...) go through WIC's
        // converter.
        layout = FormatHasAlpha(factory.Get(), format) ? SourceLayout::Bgra32 : SourceLayout::Bgr24;
        hr = WICConvertBitmapSource(layout == SourceLayout::Bgra32 ? GUID_WICPixelFormat32bppBGRA
                                                                   : GUID_WICPixelFormat24bppBGR,
                                    frame.Get(), converted.Put());
        if (FAILED(hr)) return FailureCode(hr);
        source = converted.Get();
    }

    std::vector<uint32_t> palette;
    bool transparentPalette = false;
    if (IsIndexed(layout)) {
        if (!ReadPalette(factory.Get(), decoder.Get(), frame.Get(), palette))
            return ResultUndecodable;
        transparentPalette = std::any_of(palette.begin(), palette.end(),
                                         [](uint32_t argb) { return (argb >> 24) != 0xFF; });
    }
    const Delivery delivery = ChooseDelivery(layout, transparentPalette, cmykWanted);

    double dpiX = 0, dpiY = 0;
    if (SUCCEEDED(frame->GetResolution(&dpiX, &dpiY))) {
        picture.dpiX = UsableDpi(dpiX);
        picture.dpiY = UsableDpi(dpiY);
    }
    picture.width = width;
    picture.height = height;
    picture.bitCount = DeliveryBits(delivery);

    RowPlan target, sourceRow;
    if (!PlanRows(width, height, picture.bitCount, MaxPixelBytes, target) ||
        !PlanRows(width, 1, SourceBits(layout), ScratchBytes * 64, sourceRow))
        return SusieOutOfMemory;
    if (!pixels) return SusieSuccess;

    const uint32_t bandRows =
        uint32_t(std::clamp<uint64_t>(ScratchBytes / sourceRow.stride, 1, height));
    std::vector<uint8_t> scratch;
    try {
        scratch.resize(sourceRow.stride * bandRows);  // sourceRow.stride is bounded by PlanRows
    } catch (const std::bad_alloc&) {
        return SusieOutOfMemory;
    }
    // target.bytes was bounded by MaxPixelBytes in PlanRows.
    UniqueLocal bits(LocalAlloc(LMEM_MOVEABLE | LMEM_ZEROINIT, target.bytes));
    if (!bits) return SusieOutOfMemory;
    RowConverter converter(layout, delivery, std::move(palette));
    {
        const LocalLockScope locked(bits.get());
        if (!locked) return SusieOutOfMemory;
        uint8_t* rows = locked.get<uint8_t>();
        for (uint32_t top = 0; top < height && SUCCEEDED(hr); top += bandRows) {
            const uint32_t count = std::min(bandRows, height - top);
            const WICRect rect = {0, INT(top), INT(width), INT(count)};
            hr = source->CopyPixels(&rect, UINT(sourceRow.stride), UINT(sourceRow.stride * count),
                                    scratch.data());
            for (uint32_t y = 0; y < count && SUCCEEDED(hr); ++y)  // top-down in, bottom-up out
                converter.Convert(scratch.data() + y * sourceRow.stride,
                                  rows + size_t(height - 1 - (top + y)) * target.stride, width);
        }
    }
    if (FAILED(hr)) return FailureCode(hr);

    // The CMYK-marked header carries four zero mask fields after the 40 bytes of the common one.
    const size_t headerSize = delivery == Delivery::Cmyk32
                                  ? sizeof(BITMAPINFOHEADER) + 4 * sizeof(DWORD)
                                  : sizeof(BITMAPINFOHEADER);
    const std::vector<uint8_t> table = converter.ColourTable();
    UniqueLocal info(LocalAlloc(LMEM_MOVEABLE | LMEM_ZEROINIT, headerSize + table.size()));
    if (!info) return SusieOutOfMemory;
    {
        const LocalLockScope locked(info.get());
        if (!locked) return SusieOutOfMemory;
        auto* header = locked.get<BITMAPINFOHEADER>();
        header->biSize = DWORD(headerSize);
        header->biWidth = LONG(width);
        header->biHeight = LONG(height);  // bottom-up
        header->biPlanes = 1;
        header->biBitCount = WORD(picture.bitCount);
        header->biCompression = delivery == Delivery::Cmyk32 ? BI_BITFIELDS : BI_RGB;
        header->biSizeImage = DWORD(target.bytes);
        header->biXPelsPerMeter = LONG(std::lround(picture.dpiX / MetresPerInch));
        header->biYPelsPerMeter = LONG(std::lround(picture.dpiY / MetresPerInch));
        header->biClrUsed = DWORD(table.size() / 4);
        if (!table.empty())
            std::memcpy(reinterpret_cast<uint8_t*>(header) + headerSize, table.data(),
                        table.size());
    }

    picture.info = std::move(info);
    picture.bits = std::move(bits);
    return SusieSuccess;
}

}  // namespace qorvi::wicdec
