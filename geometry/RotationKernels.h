// The pixel work of the Exif rotation, on rows in memory. Platform-free.
//
// The kernels that move pixels take pictures of 1 or 3 bytes per pixel (colour indices or B,G,R)
// and do nothing for any other pixel size; every kernel does nothing for a picture without pixels.
// Rows are memory rows: row 0 is the first in memory. The fill bytes at the end of each row are
// never read or written, except by SwapRows, which moves whole rows and so works for any depth.
#pragma once

#include "geometry/ImageDesc.h"

#include <cstddef>

namespace qorvi {

// Exchanges pixel i with pixel Width - 1 - i in every row.
void MirrorRows(const TImageDesc& image);
// Turns the picture by half a turn in place: row r, pixel k trades with row Height - 1 - r,
// pixel Width - 1 - k; an odd middle row is mirrored.
void HalfTurn(const TImageDesc& image);
// Exchanges row r with row Height - 1 - r, whole strides (a multiple of 4), in 32-bit units.
void SwapRows(const TImageDesc& image);

// The quarter turns work through one tile of 64 x 64 pixels so that both the source rows read
// and the destination rows written stay in a small working set.
inline constexpr int RotationTileSide = 64;
inline constexpr size_t RotationTileBytes = RotationTileSide * RotationTileSide * 3;
inline constexpr size_t RotationTileAlignment = 64;

// Writes `source` turned by a quarter into `destination`, which must be Height x Width pixels of
// the same size. In memory rows: turning clockwise, source row r, column c lands in destination
// row Width - 1 - c, column r; anticlockwise, in destination row c, column Height - 1 - r.
// `tile` holds RotationTileBytes bytes; its rows are RotationTileSide pixels apart.
void QuarterTurn(const TImageDesc& source, const TImageDesc& destination, bool clockwise,
                 unsigned char* tile);

}  // namespace qorvi
