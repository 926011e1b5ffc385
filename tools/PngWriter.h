// A minimal PNG encoder for the command-line host: 8-bit RGB or RGBA rows in, the bytes of a PNG
// file out. Platform-free (zlib only), so it also builds natively under the sanitizers.
//
// The rows are read top-down, `stride` bytes apart; each row holds width * channels bytes. The
// file gets one IHDR, as many IDAT chunks as the compressed stream needs, and IEND; every row is
// written with filter type 0 (none), which keeps the writer obviously correct.
//
// EncodePng returns false and leaves `png` empty when the geometry is not one a PNG can hold (a
// zero or too large side, a stride shorter than a row) or when zlib fails.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace qorvi::tools {

enum class PngColour { Rgb, Rgba };

// Bytes per pixel of a colour type: 3 or 4.
int PngChannels(PngColour colour);

bool EncodePng(uint32_t width, uint32_t height, PngColour colour, const uint8_t* rows,
               size_t stride, std::vector<uint8_t>& png);

}  // namespace qorvi::tools
