// Input loading: every picture request first brings the whole image into memory, so children
// decode from memory and the metadata readers search the same bytes.
//
// File input (flag & 7 == 0): `buf` names the file and `len` is the image's offset in it. The
// whole file is read into one block of virtual memory owned by the request. Memory input: the
// reader lies over the host's own block, which is neither copied nor owned, unless the image is
// shorter than HeadBytes (see below): then it is copied into a padded block of the request.
//
// Data and Size are what children get as the image; the reader lies over the same bytes (over
// their first 4 GiB less one byte: its positions are 32-bit). Children that are asked through
// IsSupported with a pointer read a fixed head of HeadBytes from it whatever the size, so the
// bytes from Data on are always readable that far (zero after the image).
#pragma once

#include "base/WinHandles.h"
#include "hostplugins/SusieInterface.h"
#include "metadata/ImageInfoReader.h"

#include <windows.h>

#include <array>
#include <cstdint>
#include <memory>

namespace qorvi {

// The head a child's IsSupported may read from the pointer it is given.
constexpr uint32_t HeadBytes = SusieHeadBytes;

// What one request holds of its input. Members are released in reverse order: the reader first,
// then the block it reads.
struct InputImage {
    UniqueVirtual InputBlock;  // the file's content, or a padded copy of a short memory image
    std::unique_ptr<TMemoryReader> Reader;
    const void* Data = nullptr;  // the image
    size_t Size = 0;
};

// Returns 0 with `input` filled, or 6 (the file cannot be opened or read completely) or 4 (no
// block for the file, an empty file and one larger than the process can address included) with
// `input` empty. An offset outside the file
// gives a reader over nothing rather than one that reads outside the block.
// The wide entry points name the file in UTF-16 (for memory input `buf` is the image either way).
int LoadInputImage(LPCSTR buf, SusieLength len, unsigned flag, InputImage& input);
int LoadInputImage(LPCWSTR buf, SusieLength len, unsigned flag, InputImage& input);

// The head of a file as children are shown it: HeadBytes from the handle's position on, zero
// after the file's end.
using FileHead = std::array<uint8_t, HeadBytes>;

// Reads the head of an open disk file from its current position and puts the position back.
// False, with the position as it was, for a handle that is no readable, seekable disk file.
bool ReadFileHead(HANDLE file, FileHead& head);

}  // namespace qorvi
