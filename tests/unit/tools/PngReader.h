// A strict reader for the PNGs our writer makes, for the tests: checks the signature, every
// chunk's CRC, IHDR first and IEND last, inflates the joined IDAT data (whose Adler-32 zlib
// checks) and undoes filter type 0. Anything else it does not accept, and says why.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace qorvi::test {

struct DecodedPng {
    uint32_t width = 0;
    uint32_t height = 0;
    int channels = 0;             // 3 for colour type 2, 4 for colour type 6
    std::vector<uint8_t> pixels;  // rows top-down, width * channels bytes each
    int idatChunks = 0;
};

inline uint32_t ReadBE32(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
}

// Empty on success, else the reason.
inline std::string DecodePng(const std::vector<uint8_t>& png, DecodedPng& out) {
    static const uint8_t signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (png.size() < 8 || std::memcmp(png.data(), signature, 8) != 0) return "no PNG signature";
    size_t pos = 8;
    std::vector<uint8_t> idat;
    bool sawHeader = false, sawEnd = false;
    while (pos < png.size()) {
        if (sawEnd) return "data after IEND";
        if (png.size() - pos < 12) return "truncated chunk";
        const uint32_t length = ReadBE32(&png[pos]);
        if (length > png.size() - pos - 12) return "chunk longer than the file";
        const std::string type(reinterpret_cast<const char*>(&png[pos + 4]), 4);
        const uint8_t* data = &png[pos + 8];
        const uint32_t crc = ReadBE32(data + length);
        if (uint32_t(crc32(0, &png[pos + 4], 4 + length)) != crc) return "bad CRC in " + type;
        if (!sawHeader && type != "IHDR") return "first chunk is " + type;
        if (type == "IHDR") {
            if (sawHeader || length != 13) return "bad IHDR";
            sawHeader = true;
            out.width = ReadBE32(data);
            out.height = ReadBE32(data + 4);
            if (data[8] != 8 || (data[9] != 2 && data[9] != 6) || data[10] || data[11] || data[12])
                return "unexpected IHDR fields";
            out.channels = data[9] == 6 ? 4 : 3;
        } else if (type == "IDAT") {
            idat.insert(idat.end(), data, data + length);
            ++out.idatChunks;
        } else if (type == "IEND") {
            sawEnd = true;
        } else {
            return "unexpected chunk " + type;
        }
        pos += 12 + size_t(length);
    }
    if (!sawEnd) return "no IEND";
    const size_t rowBytes = size_t(out.width) * out.channels;
    std::vector<uint8_t> raw((rowBytes + 1) * out.height + 1);  // one spare byte: extra data shows
    z_stream stream{};
    if (inflateInit(&stream) != Z_OK) return "inflateInit failed";
    stream.next_in = idat.data();
    stream.avail_in = uInt(idat.size());
    stream.next_out = raw.data();
    stream.avail_out = uInt(raw.size());
    const int status = inflate(&stream, Z_FINISH);
    const size_t produced = raw.size() - stream.avail_out;
    const bool allInput = stream.avail_in == 0;
    inflateEnd(&stream);
    if (status != Z_STREAM_END)
        return "the zlib stream does not end well (" + std::to_string(status) + ")";
    if (!allInput) return "bytes after the zlib stream";
    if (produced != raw.size() - 1) return "inflated " + std::to_string(produced) + " bytes";
    out.pixels.clear();
    for (uint32_t y = 0; y < out.height; ++y) {
        const uint8_t* line = &raw[y * (rowBytes + 1)];
        if (line[0] != 0) return "filter type " + std::to_string(line[0]);
        out.pixels.insert(out.pixels.end(), line + 1, line + 1 + rowBytes);
    }
    return {};
}

}  // namespace qorvi::test
