// The platform-free half of the image buffer stages (ImageBuffer.h): the layout arithmetic of
// bitmaps, the colour-table rules and the compositing of B,G,R,A pixels over a checkerboard.
//
// Layout arithmetic never overflows: every size is formed in 64 bits and a bitmap whose row or
// pixel block would pass its bound has no layout (std::nullopt), so no caller ever allocates,
// reads or writes through a wrapped size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

namespace qorvi {

// The longest row the plug-in makes or accepts: strides travel as signed 32-bit values (the
// geometry kernels' row descriptions, the engine's transform entry points).
inline constexpr uint32_t MaxRowStride = 0x7FFFFFFF;
// The largest pixel block: every byte offset into it, a row index times the stride, must fit a
// signed pointer-sized value. That is 2 GiB - 1 in a 32-bit process, whose address space has no
// larger block anyway, and no limit but memory in a 64-bit one.
inline constexpr size_t MaxPixelBlockBytes = size_t(PTRDIFF_MAX);

// Bytes from one row to the next for `width` pixels of `bitCount` bits, filled up to a multiple
// of 4. No value for a width below 1, a bit count outside 1..32, or a row past MaxRowStride.
std::optional<uint32_t> RowStride(int32_t width, int32_t bitCount);
// stride x rows, when it stays within MaxPixelBlockBytes.
std::optional<size_t> PixelBlockBytes(uint32_t stride, uint64_t rows);

// The colour table of a paletted bitmap lies directly after the first 40 header bytes.
inline constexpr uint32_t BitmapHeaderBytes = 40;
inline constexpr int32_t MaxPaletteEntries = 256;
// How many colour entries a bitmap of `bitCount` bits carries as far as the stages are concerned:
// none above 8 bits; else `clrUsed`, or, when that is 0, 2, 16 or 256 for 1, 4 or 8 bits (0 for
// any other depth); never more than MaxPaletteEntries.
int32_t PaletteEntryCount(int32_t bitCount, uint32_t clrUsed);
// True when the 256 four-byte entries of `table` are the grey ramp: entry i is blue = green =
// red = i, whatever its reserved byte holds.
bool IsGrayscaleTable(const uint8_t* table);

// Composites `width` x `height` B,G,R,A pixels (rows 4 x width bytes apart, no gaps) over a
// checkerboard into B,G,R rows `destinationStride` bytes apart; the fill bytes are not written.
// Squares are `squareSize` pixels (a power of two) on a side; the square that holds the first
// pixel in memory has `colour1`, and colours alternate along rows and columns. Colours are
// Windows colour values 0x00BBGGRR. Alpha 255 keeps the pixel, alpha 0 gives the background,
// anything between is the blend rounded to nearest.
void CompositeOverChecker(const uint8_t* source, uint8_t* destination, int32_t destinationStride,
                          int32_t width, int32_t height, uint32_t colour1, uint32_t colour2,
                          int32_t squareSize);

// `width` x `height` C,M,Y,K pixels (0 = no ink; rows 4 x width bytes apart) as B,G,R rows
// `destinationStride` bytes apart: each channel the complement of its ink, darkened by the black.
// The fill bytes are not written. For CMYK without a colour engine.
void ConvertCMYKToBGR(const uint8_t* source, uint8_t* destination, int32_t destinationStride,
                      int32_t width, int32_t height);

}  // namespace qorvi
