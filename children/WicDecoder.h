// wicdec.spi's decoding through the Windows Imaging Component (WIC).
//
// LoadInput takes the host's input (a file name with the picture's offset, or a block in memory
// with its length) and gives the picture's bytes; Decode turns them into what the host interface
// exchanges: a BITMAPINFOHEADER with its colour table and the bottom-up pixel rows, each in a
// movable local-memory block (see PixelRows.h for the layouts). Decode works on the first frame
// only and reads no byte outside the span it is given.
//
// Results are the host interface's codes: 0 success, 2 no signature of ours, 3 data the decoder
// cannot decode, 4 out of memory (or a picture above PixelRows.h's bounds), 6 a file that cannot be
// opened or read, 8 WIC itself unavailable. On failure nothing is allocated and `picture` holds no
// blocks.
//
// Each call initialises COM on the calling thread for itself (multithreaded) and leaves it as it
// found it; there is no shared state, so any number of threads may decode at once.
#pragma once

#include "base/WinHandles.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace qorvi::wicdec {

// Result code of data a decoder refuses, beside the host interface's common ones.
constexpr int ResultUndecodable = 3;
// The largest input we read from a file: beyond it a 32-bit process cannot hold a copy anyway.
constexpr uint64_t MaxInputBytes = uint64_t(1) << 30;

struct Input {
    std::vector<uint8_t> owned;  // the file's bytes when the input was a file
    const uint8_t* data = nullptr;
    size_t size = 0;
};
// `flag` & 7 == 0: `buf` is an ANSI file name and `len` the picture's offset in it; otherwise `buf`
// points at the picture in memory and `len` is its size. Other flag bits are ignored.
int LoadInput(const char* buf, intptr_t len, unsigned flag, Input& input);

struct DecodedPicture {
    uint32_t width = 0;
    uint32_t height = 0;
    unsigned bitCount = 0;  // of the delivered bitmap
    double dpiX = 0;        // 0 when the file gives none
    double dpiY = 0;
    UniqueLocal info;  // with pixels only
    UniqueLocal bits;
};
// With `pixels` false stops once the size, depth and resolution are known.
int Decode(const uint8_t* data, size_t size, bool cmykWanted, bool pixels, DecodedPicture& picture);

}  // namespace qorvi::wicdec
