// Image metadata: what a file image in memory says about its colours and its orientation.
//
// TMemoryReader is the bounded reader every parser here reads through. It never owns the bytes
// and never reads outside [Memory, Memory + Size): a read that cannot be satisfied in full throws
// EReadError, which the parsers catch where a short read only means "no more metadata". Seek
// checks nothing; the next read does.
//
// Everything in this folder is platform-free: it builds natively, runs under the sanitizers and
// is fuzzed.
#pragma once

#include <cstdint>
#include <stdexcept>

namespace qorvi {

// A read ran past the end of the image, or a value had a type or count the parser cannot read.
class EReadError : public std::runtime_error {
public:
    // The text the user sees should the error ever reach a message box.
    static constexpr const wchar_t* Message = L"ストリームからの読み込みエラー";
    EReadError() : std::runtime_error("read error: the stream ended or held an unexpected value") {}
};

class TMemoryReader {
public:
    TMemoryReader(const void* memory, uint32_t size)
        : Memory(static_cast<const uint8_t*>(memory)), Size(size) {}

    // Copies up to `count` bytes from Position on; returns how many (0 at or past the end).
    uint32_t Read(void* buffer, uint32_t count);
    // Copies exactly `count` bytes or throws EReadError (having consumed what was there).
    void ReadBuffer(void* buffer, uint32_t count);
    uint16_t ReadWord(bool bigEndian);
    uint32_t ReadLong(bool bigEndian);
    // Origin 0: from the start, 1: from Position, 2: from Size. Any other origin does nothing.
    // Positions before the start wrap to huge unsigned offsets, so the next read fails.
    void Seek(int32_t offset, int origin);

    const uint8_t* Memory;
    uint32_t Position = 0;
    uint32_t Size;
};

}  // namespace qorvi
