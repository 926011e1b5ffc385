#include "metadata/ImageInfoReader.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <vector>

namespace qorvi {
namespace {

const std::array<uint8_t, 8> Bytes = {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE, 0xF0};

TEST(MemoryReader, ReadsValuesInBothByteOrders) {
    TMemoryReader reader(Bytes.data(), Bytes.size());
    EXPECT_EQ(reader.ReadWord(false), 0x3412);
    EXPECT_EQ(reader.ReadWord(true), 0x5678);
    EXPECT_EQ(reader.Position, 4u);
    EXPECT_EQ(reader.ReadLong(true), 0x9ABCDEF0u);
    reader.Seek(0, 0);
    EXPECT_EQ(reader.ReadLong(false), 0x78563412u);
}

TEST(MemoryReader, ReadReturnsOnlyWhatIsLeft) {
    TMemoryReader reader(Bytes.data(), Bytes.size());
    reader.Seek(5, 0);
    std::array<uint8_t, 8> out{};
    EXPECT_EQ(reader.Read(out.data(), 8), 3u);
    EXPECT_EQ(std::memcmp(out.data(), Bytes.data() + 5, 3), 0);
    EXPECT_EQ(reader.Position, 8u);
    EXPECT_EQ(reader.Read(out.data(), 1), 0u);
}

TEST(MemoryReader, ShortReadsThrowAfterConsumingWhatWasThere) {
    TMemoryReader reader(Bytes.data(), Bytes.size());
    reader.Seek(7, 0);
    EXPECT_THROW(reader.ReadWord(false), EReadError);
    EXPECT_EQ(reader.Position, 8u);
    reader.Seek(6, 0);
    EXPECT_THROW(reader.ReadLong(true), EReadError);
    EXPECT_EQ(reader.Position, 8u);
}

TEST(MemoryReader, ZeroByteReadBufferNeverFails) {
    TMemoryReader reader(Bytes.data(), Bytes.size());
    uint8_t out = 0;
    for (int32_t position : {0, 8, 100, -4}) {
        reader.Seek(position, 0);
        EXPECT_NO_THROW(reader.ReadBuffer(&out, 0)) << position;
    }
}

// Positions before the start or past the end read nothing: no byte outside the image is touched.
// (Under AddressSanitizer a read outside `image` would fail the test.)
TEST(MemoryReader, SeekOutsideTheImageMakesTheNextReadFail) {
    const std::vector<uint8_t> image(Bytes.begin(), Bytes.end());
    TMemoryReader reader(image.data(), static_cast<uint32_t>(image.size()));
    uint8_t out = 0;

    reader.Seek(-4, 0);
    EXPECT_EQ(reader.Position, 0xFFFFFFFCu);
    EXPECT_THROW(reader.ReadBuffer(&out, 1), EReadError);

    reader.Seek(0, 2);
    EXPECT_THROW(reader.ReadBuffer(&out, 1), EReadError);

    reader.Seek(-2, 2);
    EXPECT_EQ(reader.ReadWord(true), 0xDEF0);

    reader.Seek(4, 0);
    reader.Seek(-8, 1);  // before the start from the current position
    EXPECT_EQ(reader.Read(&out, 1), 0u);

    reader.Seek(3, 0);
    reader.Seek(99, 7);  // an unknown origin leaves the position alone
    EXPECT_EQ(reader.Position, 3u);

    // A 64-bit position: the end itself is a place, anything past it (a wrapped sum too) is not.
    reader.SeekTo(image.size());
    EXPECT_EQ(reader.Position, image.size());
    EXPECT_THROW(reader.SeekTo(image.size() + 1), EReadError);
    EXPECT_THROW(reader.SeekTo(uint64_t{1} << 32), EReadError);
    EXPECT_EQ(reader.Position, image.size());
}

TEST(MemoryReader, EmptyImageReadsNothing) {
    TMemoryReader reader(nullptr, 0);
    uint8_t out = 0;
    EXPECT_EQ(reader.Read(&out, 1), 0u);
    EXPECT_THROW(reader.ReadWord(false), EReadError);
}

}  // namespace
}  // namespace qorvi
