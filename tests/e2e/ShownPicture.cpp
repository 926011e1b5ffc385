#include "tests/e2e/ShownPicture.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <stdexcept>

namespace qorvi::test {

const std::string ProfileFolder = QORVI_PROFILE_FOLDER;
const std::string SRGBMonitor = ProfileFolder + "/colord/sRGB.icc";
const std::string AdobeMonitor = ProfileFolder + "/colord/AdobeRGB1998.icc";
const std::string AdobeEmbedded = ProfileFolder + "/compatibleWithAdobeRGB1998.icc";

std::string ImagePath(const std::string& file) { return BuiltPath("images\\" + file); }

Picture FromReceived(const ReceivedBitmap& received) {
    const auto* info = static_cast<const uint8_t*>(LocalLock(received.info));
    if (info == nullptr) throw std::runtime_error("the header handle cannot be locked");
    BITMAPINFOHEADER header;
    std::memcpy(&header, info, sizeof header);
    std::vector<RGBQUAD> colours(256);
    if (header.biBitCount == 8) {
        const size_t count = header.biClrUsed != 0 ? std::min<size_t>(header.biClrUsed, 256) : 256;
        if (LocalSize(received.info) < header.biSize + count * sizeof(RGBQUAD))
            throw std::runtime_error("the colour table is cut short");
        std::memcpy(colours.data(), info + header.biSize, count * sizeof(RGBQUAD));
    }
    LocalUnlock(received.info);

    Picture picture;
    picture.width = header.biWidth;
    picture.height = std::abs(header.biHeight);
    picture.bitCount = header.biBitCount;
    if (picture.bitCount != 24 && picture.bitCount != 8)
        throw std::runtime_error("a " + std::to_string(picture.bitCount) + "-bit picture");
    const std::string bits = received.Bits();
    const size_t stride = (size_t(picture.width) * picture.bitCount / 8 + 3) & ~size_t{3};
    if (bits.size() < stride * picture.height) throw std::runtime_error("the pixel block is short");
    picture.bgr.resize(size_t(picture.width) * picture.height * 3);
    for (int32_t y = 0; y < picture.height; ++y) {
        const int32_t row = header.biHeight > 0 ? picture.height - 1 - y : y;
        const auto* in = reinterpret_cast<const uint8_t*>(bits.data()) + stride * row;
        uint8_t* out = &picture.bgr[size_t(y) * picture.width * 3];
        for (int32_t x = 0; x < picture.width; ++x, out += 3) {
            if (picture.bitCount == 24) {
                std::memcpy(out, in + 3 * x, 3);
            } else {
                const RGBQUAD& c = colours[in[x]];
                out[0] = c.rgbBlue, out[1] = c.rgbGreen, out[2] = c.rgbRed;
            }
        }
    }
    return picture;
}

Picture ReadPpm(const std::string& file) {
    const std::string ppm = ReadWholeFile(ImagePath(file));
    std::istringstream head(ppm);
    std::string magic;
    int maximum = 0;
    Picture picture;
    picture.bitCount = 24;
    head >> magic >> picture.width >> picture.height >> maximum;
    const size_t rowBytes = size_t(picture.width) * 3;
    const auto start = size_t(head.tellg()) + 1;
    if (magic != "P6" || maximum != 255 || !head || ppm.size() < start + rowBytes * picture.height)
        throw std::runtime_error(file + " is no 8-bit binary PPM");
    picture.bgr.resize(rowBytes * picture.height);
    for (size_t i = 0; i < picture.bgr.size(); i += 3) {
        picture.bgr[i] = uint8_t(ppm[start + i + 2]);
        picture.bgr[i + 1] = uint8_t(ppm[start + i + 1]);
        picture.bgr[i + 2] = uint8_t(ppm[start + i]);
    }
    return picture;
}

int MaxDifference(const Picture& a, const Picture& b) {
    int most = 0;
    for (size_t i = 0; i < a.bgr.size() && i < b.bgr.size(); ++i)
        most = std::max(most, std::abs(int(a.bgr[i]) - int(b.bgr[i])));
    return most;
}

double MeanDifference(const Picture& a, const Picture& b) {
    double sum = 0;
    for (size_t i = 0; i < a.bgr.size(); ++i) sum += std::abs(int(a.bgr[i]) - int(b.bgr[i]));
    return a.bgr.empty() ? 0 : sum / double(a.bgr.size());
}

std::array<double, 3> Mean(const Picture& p, int32_t x0, int32_t y0, int32_t x1, int32_t y1) {
    std::array<double, 3> sum{};
    for (int32_t y = y0; y < y1; ++y)
        for (int32_t x = x0; x < x1; ++x)
            for (int c = 0; c < 3; ++c) sum[c] += p.At(x, y)[c];
    for (double& s : sum) s /= double(x1 - x0) * (y1 - y0);
    return sum;
}

double MaxBlockMeanDifference(const Picture& a, const Picture& b, int32_t block) {
    double most = 0;
    for (int32_t y = 0; y + block <= a.height; y += block)
        for (int32_t x = 0; x + block <= a.width; x += block) {
            const auto ma = Mean(a, x, y, x + block, y + block);
            const auto mb = Mean(b, x, y, x + block, y + block);
            for (int c = 0; c < 3; ++c) most = std::max(most, std::abs(ma[c] - mb[c]));
        }
    return most;
}

Profile OpenProfile(const std::string& path) {
    Profile profile(cmsOpenProfileFromFile(path.c_str(), "r"));
    if (!profile) throw std::runtime_error("Little CMS cannot open " + path);
    return profile;
}

Picture Converted(const Picture& source, cmsHPROFILE from, cmsHPROFILE to) {
    cmsHTRANSFORM transform =
        cmsCreateTransform(from, TYPE_BGR_8, to, TYPE_BGR_8, INTENT_PERCEPTUAL, 0);
    if (transform == nullptr) throw std::runtime_error("Little CMS builds no transform");
    Picture result = source;
    cmsDoTransform(transform, source.bgr.data(), result.bgr.data(),
                   cmsUInt32Number(source.width * source.height));
    cmsDeleteTransform(transform);
    return result;
}

Picture ConvertedExactly(const Picture& source, cmsHPROFILE from, cmsHPROFILE to) {
    cmsHTRANSFORM transform = cmsCreateTransform(from, TYPE_BGR_DBL, to, TYPE_BGR_DBL,
                                                 INTENT_PERCEPTUAL, cmsFLAGS_NOOPTIMIZE);
    if (transform == nullptr) throw std::runtime_error("Little CMS builds no transform");
    std::vector<double> values(source.bgr.begin(), source.bgr.end());
    for (double& v : values) v /= 255;
    cmsDoTransform(transform, values.data(), values.data(),
                   cmsUInt32Number(source.width * source.height));
    cmsDeleteTransform(transform);
    Picture result = source;
    for (size_t i = 0; i < values.size(); ++i)
        result.bgr[i] = uint8_t(std::lround(std::clamp(values[i], 0.0, 1.0) * 255));
    return result;
}

}  // namespace qorvi::test
