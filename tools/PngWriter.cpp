#include "tools/PngWriter.h"

#include <zlib.h>

#include <cstring>
#include <limits>

namespace qorvi::tools {
namespace {

// PNG stores every length and side as a 31-bit unsigned number.
constexpr uint32_t PngLimit = 0x7FFFFFFFu;
// IDAT chunks are cut at this size; readers accept any split, this one keeps chunks modest.
constexpr size_t IdatChunkBytes = 64 * 1024;

constexpr uint8_t Signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

void PutBE32(std::vector<uint8_t>& out, uint32_t value) {
    out.push_back(uint8_t(value >> 24));
    out.push_back(uint8_t(value >> 16));
    out.push_back(uint8_t(value >> 8));
    out.push_back(uint8_t(value));
}

void PutChunk(std::vector<uint8_t>& out, const char type[4], const uint8_t* data, size_t size) {
    PutBE32(out, uint32_t(size));
    const size_t typeAt = out.size();
    out.insert(out.end(), type, type + 4);
    if (size) out.insert(out.end(), data, data + size);
    // The CRC covers the type and the data, not the length.
    uLong crc = crc32(0L, Z_NULL, 0);
    crc = crc32(crc, out.data() + typeAt, uInt(4 + size));
    PutBE32(out, uint32_t(crc));
}

// Deflate stream ending in one z_stream's output buffer, flushed to IDAT chunks as it fills.
class IdatWriter {
public:
    explicit IdatWriter(std::vector<uint8_t>& png) : png_(png), buffer_(IdatChunkBytes) {
        std::memset(&stream_, 0, sizeof stream_);
        ok_ = deflateInit(&stream_, Z_BEST_SPEED) == Z_OK;
        stream_.next_out = buffer_.data();
        stream_.avail_out = uInt(buffer_.size());
    }
    ~IdatWriter() {
        if (ok_) deflateEnd(&stream_);
    }
    IdatWriter(const IdatWriter&) = delete;
    IdatWriter& operator=(const IdatWriter&) = delete;

    bool Write(const uint8_t* data, size_t size) { return Run(data, size, Z_NO_FLUSH); }
    bool Finish() { return Run(nullptr, 0, Z_FINISH); }

private:
    bool Run(const uint8_t* data, size_t size, int flush) {
        if (!ok_) return false;
        // A row is far below 4 GiB (its side is bounded), so it fits zlib's 32-bit counters.
        stream_.next_in = const_cast<Bytef*>(data);
        stream_.avail_in = uInt(size);
        for (;;) {
            int status = deflate(&stream_, flush);
            if (status == Z_STREAM_ERROR) return false;
            if (stream_.avail_out == 0) FlushChunk();
            if (flush == Z_FINISH) {
                if (status == Z_STREAM_END) {
                    FlushChunk();
                    return true;
                }
                if (status != Z_OK && status != Z_BUF_ERROR) return false;
            } else if (stream_.avail_in == 0 && stream_.avail_out != 0) {
                return true;
            }
        }
    }

    void FlushChunk() {
        size_t used = buffer_.size() - stream_.avail_out;
        if (used) PutChunk(png_, "IDAT", buffer_.data(), used);
        stream_.next_out = buffer_.data();
        stream_.avail_out = uInt(buffer_.size());
    }

    std::vector<uint8_t>& png_;
    std::vector<uint8_t> buffer_;
    z_stream stream_;
    bool ok_ = false;
};

}  // namespace

int PngChannels(PngColour colour) { return colour == PngColour::Rgba ? 4 : 3; }

bool EncodePng(uint32_t width, uint32_t height, PngColour colour, const uint8_t* rows,
               size_t stride, std::vector<uint8_t>& png) {
    png.clear();
    if (width == 0 || height == 0 || width > PngLimit || height > PngLimit || !rows) return false;
    const uint64_t rowBytes = uint64_t(width) * uint64_t(PngChannels(colour));
    // The filter byte joins each row in one buffer, so the row must fit memory and zlib's uInt.
    if (rowBytes + 1 > std::numeric_limits<uInt>::max() || rowBytes > SIZE_MAX - 1) return false;
    if (stride < rowBytes) return false;

    std::vector<uint8_t> out(Signature, Signature + sizeof Signature);
    uint8_t header[13];
    const uint32_t fields[2] = {width, height};
    for (int i = 0; i < 2; ++i)
        for (int b = 0; b < 4; ++b) header[i * 4 + b] = uint8_t(fields[i] >> (24 - 8 * b));
    header[8] = 8;                                  // bits per channel
    header[9] = colour == PngColour::Rgba ? 6 : 2;  // colour type: RGBA or RGB
    header[10] = 0;                                 // deflate
    header[11] = 0;                                 // adaptive filtering, type 0 used
    header[12] = 0;                                 // no interlace
    PutChunk(out, "IHDR", header, sizeof header);

    {
        IdatWriter idat(out);
        std::vector<uint8_t> line(size_t(rowBytes) + 1, 0);  // line[0] is the filter type: none
        for (uint32_t y = 0; y < height; ++y) {
            std::memcpy(line.data() + 1, rows + size_t(y) * stride, size_t(rowBytes));
            if (!idat.Write(line.data(), line.size())) return false;
        }
        if (!idat.Finish()) return false;
    }
    PutChunk(out, "IEND", nullptr, 0);
    png.swap(out);
    return true;
}

}  // namespace qorvi::tools
