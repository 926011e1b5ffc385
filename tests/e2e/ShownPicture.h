// Pictures as the host shows them, and the references they are compared with: the pixels of
// both blocks qorvi hands back, ImageMagick's PPMs, differences, and Little CMS's conversions.
#pragma once

#include "tests/e2e/PluginHost.h"

#include <lcms2.h>

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace qorvi::test {

extern const std::string ProfileFolder;
extern const std::string SRGBMonitor;
extern const std::string AdobeMonitor;
// The profile the adobe.* pictures carry.
extern const std::string AdobeEmbedded;

std::string ImagePath(const std::string& file);

// A picture as the host would show it: rows top down, three bytes B, G, R per pixel, an 8-bit
// picture's indices looked up in its colour table.
struct Picture {
    int32_t width = 0;
    int32_t height = 0;
    int bitCount = 0;
    std::vector<uint8_t> bgr;

    const uint8_t* At(int32_t x, int32_t y) const { return &bgr[(size_t(y) * width + x) * 3]; }
};

// The host's view of both blocks qorvi handed back.
Picture FromReceived(const ReceivedBitmap& received);
// A binary 8-bit PPM of the pictures folder: "P6", width, height, 255, one whitespace, then
// R,G,B rows top-down (no comments in what ImageMagick and the decoders write).
Picture ReadPpm(const std::string& file);

int MaxDifference(const Picture& a, const Picture& b);
double MeanDifference(const Picture& a, const Picture& b);
// Mean B, G, R over the rectangle [x0, x1) x [y0, y1).
std::array<double, 3> Mean(const Picture& p, int32_t x0, int32_t y0, int32_t x1, int32_t y1);
// The largest difference of the mean of one channel over any block of block x block pixels:
// two JPEG decoders differ in their inverse transform and chroma upsampling, not in the
// colour of an area.
double MaxBlockMeanDifference(const Picture& a, const Picture& b, int32_t block);

struct ProfileCloser {
    void operator()(void* profile) const { cmsCloseProfile(profile); }
};
using Profile = std::unique_ptr<void, ProfileCloser>;

Profile OpenProfile(const std::string& path);
// Little CMS's own conversion: the intent qorvi uses by default (RenderingIntent 0, perceptual),
// no flags.
Picture Converted(const Picture& source, cmsHPROFILE from, cmsHPROFILE to);
// The same conversion unoptimised in double precision, rounded. Little CMS's 8-bit path
// tabulates the output curve at 16-bit linear values, which is coarse at the dark end of a pure
// power curve such as AdobeRGB's: there it is up to two levels off, and qorvi's engine is not.
Picture ConvertedExactly(const Picture& source, cmsHPROFILE from, cmsHPROFILE to);

}  // namespace qorvi::test
