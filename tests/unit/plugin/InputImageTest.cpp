#include "plugin/InputImage.h"

#include "hostplugins/SusieInterface.h"
#include "tests/unit/TestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace qorvi {
namespace {

using test::TempFile;

std::string Pattern(size_t size) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(i * 7 + 1);
    return bytes;
}

std::string ReaderBytes(const InputImage& input) {
    return std::string(reinterpret_cast<const char*>(input.Reader->Memory), input.Reader->Size);
}

TEST(LoadInputImage, FileInputStartsAtTheOffset) {
    const std::string contents = Pattern(5000);
    TempFile file(contents);
    struct Case {
        long offset;
        std::string expected;
    };
    const Case cases[] = {
        {0, contents},
        {128, contents.substr(128)},
        {5000, ""},
        // Offsets outside the file give nothing to read, never a size that wraps round.
        {5001, ""},
        {-1, ""},
    };
    for (const Case& c : cases) {
        InputImage input;
        ASSERT_EQ(LoadInputImage(file.Path().c_str(), c.offset, SusieInputFile, input),
                  SusieSuccess);
        ASSERT_TRUE(input.InputBlock);
        EXPECT_EQ(ReaderBytes(input), c.expected) << c.offset;
        EXPECT_EQ(input.Reader->Position, 0u);
    }
}

TEST(LoadInputImage, FileFailuresLeaveNothingBehind) {
    TempFile empty("");
    struct Case {
        std::string path;
        int expected;
    };
    const Case cases[] = {
        {empty.Path(), SusieOutOfMemory},  // a block of 0 bytes cannot be had
        {empty.Path() + ".missing", SusieReadError},
        {"", SusieReadError},
    };
    for (const Case& c : cases) {
        InputImage input;
        EXPECT_EQ(LoadInputImage(c.path.c_str(), 0, SusieInputFile, input), c.expected) << c.path;
        EXPECT_FALSE(input.Reader);
        EXPECT_FALSE(input.InputBlock);
    }
}

// A file of 4 GiB and more (sparse here: its middle is a hole): the 64-bit build reads it whole
// and its end is where the file's end is; the 32-bit one cannot address it and says so, where a
// size taken from its low 32 bits would have read only the first few bytes.
TEST(LoadInputImage, FilePast4GiBIsReadWholeOrRefused) {
    TempFile file("head");
    const uint64_t size = (uint64_t{1} << 32) + 4096;
    {
        UniqueFile writer(
            CreateFileA(file.Path().c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(writer);
        LARGE_INTEGER end;
        end.QuadPart = static_cast<LONGLONG>(size - 4);
        ASSERT_TRUE(SetFilePointerEx(writer.get(), end, nullptr, FILE_BEGIN));
        DWORD written = 0;
        ASSERT_TRUE(WriteFile(writer.get(), "tail", 4, &written, nullptr));
    }
    InputImage input;
    const int result = LoadInputImage(file.Path().c_str(), 0, SusieInputFile, input);
#ifdef _WIN64
    ASSERT_EQ(result, SusieSuccess);
    ASSERT_EQ(input.Size, size);
    const auto* bytes = static_cast<const char*>(input.Data);
    EXPECT_EQ(std::string(bytes, 4), "head");
    EXPECT_EQ(std::string(bytes + size - 4, 4), "tail");
    EXPECT_EQ(input.Reader->Size, UINT32_MAX) << "the readers see the first 4 GiB";
#else
    EXPECT_EQ(result, SusieOutOfMemory);
    EXPECT_FALSE(input.Reader);
#endif
}

TEST(LoadInputImage, FileLockedForWritingCannotBeRead) {
    TempFile file(Pattern(100));
    UniqueFile writer(CreateFileA(file.Path().c_str(), GENERIC_WRITE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                  nullptr));
    ASSERT_TRUE(writer);
    InputImage input;
    EXPECT_EQ(LoadInputImage(file.Path().c_str(), 0, SusieInputFile, input), SusieReadError);
}

TEST(LoadInputImage, MemoryInputOfEveryKindReadsTheHostsBlock) {
    const std::string image = Pattern(HeadBytes + 10);
    for (unsigned flag : {1u, 2u, 3u, 4u, 5u, 6u, 7u, 0x101u, 0xFFFFFFF9u}) {
        InputImage input;
        ASSERT_EQ(LoadInputImage(image.data(), static_cast<SusieLength>(image.size()), flag, input),
                  SusieSuccess);
        // Neither copied nor owned: the reader is the host's own block.
        EXPECT_EQ(input.Reader->Memory, reinterpret_cast<const uint8_t*>(image.data())) << flag;
        EXPECT_EQ(input.Reader->Size, image.size());
        EXPECT_FALSE(input.InputBlock);
    }
}

// Children asked through IsSupported read a fixed head from the pointer: a short image is copied
// into a block where that head is readable and zero after the image.
TEST(LoadInputImage, ShortInputsAreReadableForAWholeHead) {
    const std::string shortImage = Pattern(10);
    InputImage memory;
    ASSERT_EQ(LoadInputImage(shortImage.data(), 10, SusieInputMemory, memory), SusieSuccess);
    EXPECT_EQ(ReaderBytes(memory), shortImage);
    EXPECT_TRUE(memory.InputBlock);

    InputImage nothing;
    ASSERT_EQ(LoadInputImage(LPCSTR(nullptr), 500, SusieInputMemory, nothing), SusieSuccess);
    EXPECT_EQ(nothing.Reader->Size, 0u);

    TempFile file(Pattern(HeadBytes + 100));
    InputImage tail;
    ASSERT_EQ(LoadInputImage(file.Path().c_str(), HeadBytes, SusieInputFile, tail), SusieSuccess);
    ASSERT_EQ(tail.Reader->Size, 100u);

    for (const InputImage* input : {&memory, &nothing, &tail}) {
        const uint8_t* head = input->Reader->Memory;
        MEMORY_BASIC_INFORMATION region{};
        ASSERT_NE(VirtualQuery(head + HeadBytes - 1, &region, sizeof region), 0u);
        EXPECT_EQ(region.State, static_cast<DWORD>(MEM_COMMIT));
        for (uint32_t i = input->Reader->Size; i < HeadBytes; ++i) ASSERT_EQ(head[i], 0) << i;
    }
}

TEST(LoadInputImage, NegativeMemorySizeReadsNothing) {
    const std::string image = Pattern(HeadBytes);
    InputImage input;
    ASSERT_EQ(LoadInputImage(image.data(), -5, SusieInputMemory, input), SusieSuccess);
    EXPECT_EQ(input.Reader->Size, 0u);
}

}  // namespace
}  // namespace qorvi
