// ProcessPicture: what a child's bitmap goes through before the host gets it. The stages run in a
// fixed order (alpha, pre-shrink, filtered shrink, rotation, colour, palette) on one ImageBuffer
// whose values the stages replace; the caller's handle variables get the final handles. Every
// setting a stage uses comes from the one snapshot the request hands in.
#include "base/WinText.h"
#include "plugin/ColorStage.h"
#include "plugin/CompositeStage.h"
#include "plugin/ImageBuffer.h"
#include "plugin/ResizeStages.h"
#include "plugin/RotationStage.h"
#include "plugin/Settings.h"
#include "plugin/SusiePluginMain.h"

#include <cstdint>
#include <new>
#include <utility>

namespace qorvi {

namespace {

void ShowFaultBox(const wchar_t* message) { MessageBoxW(nullptr, message, L"qorvi", MB_OK); }

constexpr wchar_t ShortBitmapMessage[] =
    L"The child plug-in's bitmap is smaller than its header says";
constexpr wchar_t TooLargeBitmapMessage[] = L"The picture is too large for this plug-in";
constexpr wchar_t OutOfMemoryMessage[] = L"Out of memory";

// The file's own colour data: white point, primaries, gamma, a profile or an Exif colour space.
// The orientation bit does not count.
constexpr uint32_t OwnColourFlags =
    HasWhitePoint | HasPrimaries | HasGamma | HasProfileData | HasProfileBuffer | HasColorSpace;

// A child told that colour management is on delivers CMYK as 32-bit bit fields whose four masks
// are all zero.
bool IsCMYKMarked(const BITMAPINFOHEADER& header) {
    if (header.biBitCount != 32 || header.biSize < 56 || header.biCompression != BI_BITFIELDS)
        return false;
    const auto* masks = reinterpret_cast<const uint32_t*>(
        reinterpret_cast<const uint8_t*>(&header) + BitmapHeaderBytes);
    return masks[0] == 0 && masks[1] == 0 && masks[2] == 0 && masks[3] == 0;
}

// The power of two a preview is decimated by first: as far as 8 while both sides stay at least
// `times` the box.
int32_t PreShrinkFactor(int32_t width, int32_t height, int32_t boxWidth, int32_t boxHeight,
                        int32_t quality) {
    const int64_t times = quality == 0 ? 2 : quality == 1 ? 4 : 160;
    int32_t factor = 1;
    while (factor < 8 && width / (2 * factor) >= times * boxWidth &&
           height / (2 * factor) >= times * boxHeight)
        factor *= 2;
    return factor;
}

// ThumbnailCMMode 3 leaves a picture of thumbnail size without colour data of its own as it is:
// such pictures are mostly thumbnails a viewer made itself, already in the monitor's colours.
bool IsUnconvertedThumbnail(const BITMAPINFOHEADER& header, const ImageInfo& info,
                            const TPluginOption& o) {
    return o.ThumbnailCMMode == 3 && o.ThumbnailWidth >= header.biWidth &&
           o.ThumbnailHeight >= header.biHeight &&
           (o.ThumbnailWidth == header.biWidth || o.ThumbnailHeight == header.biHeight) &&
           (info.Flags & OwnColourFlags) == 0;
}

// A CMYK buffer when there is no engine: the plain complement, each ink darkened by the black.
bool CMYKToBGRWithoutEngine(ImageBuffer& buffer) {
    const int32_t width = buffer.Header->biWidth, height = buffer.Header->biHeight;
    UniqueImage converted = AllocateImage(3, width, height);
    if (!converted) return false;
    const TImageDesc out = DescribeRows(converted.get());
    ConvertCMYKToBGR(buffer.Bits, out.Bits, out.Stride, width, height);
    ReplaceImage(buffer, std::move(converted));
    return true;
}

struct StageInput {
    bool preview;
    int32_t orientation;
    int32_t boxWidth;
    int32_t boxHeight;
    bool cmyk;
    bool grey;  // an 8-bit grey ramp, judged before a stage may drop the colour table
};

// Every stage, from the alpha to the palette's return: everything that may fault once the bitmap
// is checked, locked and bottom-up. Throws StageFault or std::bad_alloc.
void RunStages(PluginState& state, const TPluginOption& o, ImageBuffer& buffer,
               const StageInput& in, ImageInfo& info, PaletteArea& palette, int32_t paletteCount) {
    auto bitCount = [&] { return buffer.Header->biBitCount; };

    // A failed composite leaves the 32-bit picture as it is.
    if (bitCount() == 32 && !in.cmyk)
        CompositeOverChecker(buffer, uint32_t(o.BGColor1),
                             uint32_t(in.preview ? o.BGColor1 : o.BGColor2), o.MaxWidth,
                             o.MaxHeight);

    if (in.preview && (bitCount() == 24 || bitCount() == 8)) {
        const int32_t factor = PreShrinkFactor(buffer.Header->biWidth, buffer.Header->biHeight,
                                               in.boxWidth, in.boxHeight, o.ThumbnailQuality);
        if (factor > 1 && !NearestNeighborResize(buffer, factor))
            throw StageFault("Error in NearestNeighborResize");
    }

    const bool filtered = bitCount() == 24 || bitCount() == 32 || (bitCount() == 8 && in.grey);
    if (filtered && (o.LimitedOutputSize || in.preview) &&
        (buffer.Header->biWidth > in.boxWidth || buffer.Header->biHeight > in.boxHeight)) {
        TResizer& resizer = in.preview ? *state.ThumbnailResizer : *state.PictureResizer;
        if (!NormalResize(resizer, state.ResizeLock, buffer, in.boxWidth, in.boxHeight))
            throw StageFault("Error in NormalResize");
    }

    if (!ExifRotation(buffer, in.orientation)) throw StageFault("Error in ExifRotation");

    CMSInfo& cmsInfo = in.preview ? state.PreviewCMSInfo : state.PictureCMSInfo;
    const char* proofingProfile = ProofingProfile(o);
    if (in.cmyk) {
        // Whatever the settings say: the host cannot show CMYK. A failure leaves it as it is.
        if (LCMSDll.ColorTransform != nullptr)
            Convert32To24(state, proofingProfile, cmsInfo, info, buffer);
        else
            CMYKToBGRWithoutEngine(buffer);
    } else if (o.ColorManagement && LCMSDll.ColorTransform != nullptr) {
        const bool convert =
            in.preview ? o.ThumbnailCMMode != 0 : !IsUnconvertedThumbnail(*buffer.Header, info, o);
        if (convert) {
            const BITMAPINFOHEADER& h = *buffer.Header;
            if (h.biBitCount == 24) {
                const TImageDesc rows = DescribeRows(buffer);
                ApplyColorTransform(state, proofingProfile, cmsInfo, info, rows.Bits, rows.Bits,
                                    rows.Stride, rows.Stride, h.biWidth, h.biHeight, TransformBGR);
            } else {
                // Only the colour table: a paletted picture's pixels are indices.
                ApplyColorTransform(state, proofingProfile, cmsInfo, info, palette.data(),
                                    palette.data(), 0, 0, paletteCount, 0, TransformPalette);
            }
        }
    }

    // Also gives back the table a decimated, resized or turned 8-bit buffer did not carry over.
    RestorePalette(buffer.Header, palette, paletteCount);
}

ImageInfoEngine MetadataEngine() {
    ImageInfoEngine engine;
    engine.ReadPNGColorManageInfo = LCMSDll.ReadPNGColorManageInfo;
    engine.ReadWICImageInfo = LCMSDll.ReadWICImageInfo;
    return engine;
}

// Frees a profile the metadata reader joined, whatever happens to the request.
class ProfileBufferOwner {
public:
    explicit ProfileBufferOwner(ImageInfo& info) : info_(info) {}
    ~ProfileBufferOwner() { FreeProfileBuffer(info_.ProfileBuffer); }
    ProfileBufferOwner(const ProfileBufferOwner&) = delete;
    ProfileBufferOwner& operator=(const ProfileBufferOwner&) = delete;

private:
    ImageInfo& info_;
};

// The child's two blocks, locked for the stages while this lives. Whatever a stage left in the
// buffer is unlocked on every path, and those handles are written back to the caller's
// variables: the stages may have replaced both blocks.
class LockedChildBlocks {
public:
    LockedChildBlocks(HLOCAL& infoHandle, HLOCAL& bitsHandle)
        : infoHandle_(infoHandle),
          bitsHandle_(bitsHandle),
          buffer_{infoHandle, bitsHandle, static_cast<BITMAPINFOHEADER*>(LocalLock(infoHandle)),
                  static_cast<uint8_t*>(LocalLock(bitsHandle))} {}
    ~LockedChildBlocks() {
        if (buffer_.Header != nullptr) LocalUnlock(buffer_.InfoHandle);
        if (buffer_.Bits != nullptr) LocalUnlock(buffer_.BitsHandle);
        infoHandle_ = buffer_.InfoHandle;
        bitsHandle_ = buffer_.BitsHandle;
    }
    LockedChildBlocks(const LockedChildBlocks&) = delete;
    LockedChildBlocks& operator=(const LockedChildBlocks&) = delete;

    bool Locked() const noexcept { return buffer_.Header != nullptr && buffer_.Bits != nullptr; }
    ImageBuffer& Buffer() noexcept { return buffer_; }

private:
    HLOCAL& infoHandle_;
    HLOCAL& bitsHandle_;
    ImageBuffer buffer_;
};

}  // namespace

FaultReporter ReportPipelineFault = ShowFaultBox;

bool ProcessPicture(PluginState& state, const TPluginOption& settings, TMemoryReader& reader,
                    HLOCAL& infoHandle, HLOCAL& bitsHandle, bool preview) {
    switch (CheckChildBitmap(infoHandle, bitsHandle)) {
    case ChildBitmap::Short:
        // Neither we nor the host may read such a bitmap: reading its rows would run past the
        // child's block.
        ReportPipelineFault(ShortBitmapMessage);
        return false;
    case ChildBitmap::TooLarge: ReportPipelineFault(TooLargeBitmapMessage); return false;
    case ChildBitmap::Foreign: return true;
    case ChildBitmap::Usable: break;
    }

    // A file that breaks off or lies only loses the metadata it could not read.
    ImageInfo info{};
    ProfileBufferOwner profileOwner(info);
    ReadImageInfo(reader, info, MetadataEngine());

    const TPluginOption& o = settings;
    StageInput in{};
    in.preview = preview;
    in.orientation = o.AutomaticRotation ? info.Orientation : 0;
    in.boxWidth = preview ? o.ThumbnailWidth : o.MaxWidth;
    in.boxHeight = preview ? o.ThumbnailHeight : o.MaxHeight;
    // A quarter turn comes after the shrink: the box is turned instead of the picture.
    if (in.orientation >= 5 && in.orientation <= 8) std::swap(in.boxWidth, in.boxHeight);

    LockedChildBlocks blocks(infoHandle, bitsHandle);
    if (!blocks.Locked()) return false;
    ImageBuffer& buffer = blocks.Buffer();
    // Every stage works on bottom-up rows.
    MakeBottomUp(buffer);
    CapColourCount(*buffer.Header);
    PaletteArea palette{};
    const int32_t paletteCount = SavePalette(buffer.Header, palette);
    in.cmyk = IsCMYKMarked(*buffer.Header);
    in.grey = IsGrayscalePalette(buffer.Header);
    try {
        RunStages(state, settings, buffer, in, info, palette, paletteCount);
        return true;
    } catch (const StageFault& fault) {
        ReportPipelineFault(WidenAnsi(fault.what()).c_str());
    } catch (const std::bad_alloc&) {
        ReportPipelineFault(OutOfMemoryMessage);
    } catch (const EReadError&) {
        ReportPipelineFault(EReadError::Message);
    } catch (const std::exception& fault) {
        ReportPipelineFault(WidenAnsi(fault.what()).c_str());
    }
    return false;
}

}  // namespace qorvi
