#include "plugin/ImageBuffer.h"

#include "base/WinHandles.h"
#include "plugin/CompositeStage.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace qorvi {
namespace {

// The colour table, directly after the 40 header bytes.
uint8_t* Table(ImageBuffer& image) { return reinterpret_cast<uint8_t*>(image.Header) + 40; }

TEST(AllocateImage, GivesZeroedBlocksOfTheDocumentedLayout) {
    struct Case {
        int32_t bpp, width, height;
        size_t headerBytes, bitsBytes;
    };
    const Case cases[] = {{1, 5, 5, 1064, 8 * 6},  // an odd height gets an even row count
                          {3, 3, 2, 44, 12 * 2},
                          {4, 3, 1, 44, 12 * 2}};
    for (const Case& c : cases) {
        UniqueImage image = AllocateImage(c.bpp, c.width, c.height);
        ASSERT_TRUE(image) << c.bpp;
        const ImageBuffer& b = image.get();
        EXPECT_EQ(LocalSize(b.InfoHandle), c.headerBytes);
        EXPECT_EQ(LocalSize(b.BitsHandle), c.bitsBytes);
        const BITMAPINFOHEADER& h = *b.Header;
        EXPECT_EQ(h.biSize, 40u);
        EXPECT_EQ(h.biWidth, c.width);
        EXPECT_EQ(h.biHeight, c.height);
        EXPECT_EQ(h.biPlanes, 1);
        EXPECT_EQ(h.biBitCount, 8 * c.bpp);
        EXPECT_EQ(h.biCompression, DWORD(BI_RGB));
        EXPECT_EQ(h.biSizeImage, c.bitsBytes / ((c.height + 1) / 2 * 2) * c.height);
        EXPECT_EQ(h.biClrUsed, c.bpp == 1 ? 256u : 0u);
        EXPECT_EQ(h.biXPelsPerMeter | h.biYPelsPerMeter | h.biClrImportant, 0);
        const auto* after = reinterpret_cast<const uint8_t*>(b.Header) + 40;
        EXPECT_EQ(std::vector<uint8_t>(after, after + c.headerBytes - 40),
                  std::vector<uint8_t>(c.headerBytes - 40, 0));
        EXPECT_EQ(std::vector<uint8_t>(b.Bits, b.Bits + c.bitsBytes),
                  std::vector<uint8_t>(c.bitsBytes, 0));
    }
}

TEST(AllocateImage, RefusesOtherPixelSizesEmptyPicturesAndOversizedBlocks) {
    for (int32_t bpp : {0, 2, 5, -1}) EXPECT_FALSE(AllocateImage(bpp, 4, 4)) << bpp;
    EXPECT_FALSE(AllocateImage(3, 0, 4));
    EXPECT_FALSE(AllocateImage(3, 4, 0));
    EXPECT_FALSE(AllocateImage(3, 4, -4));
    EXPECT_FALSE(AllocateImage(4, 0x20000000, 1));  // a 2 GiB row: 32-bit arithmetic would wrap
    // 2^31 bytes once the height is even: past the bound of a 32-bit process only.
    if (sizeof(void*) == 4) {
        EXPECT_FALSE(AllocateImage(1, 0x10000, 0x7FFF));
    }
    // 2^62 bytes: past the 32-bit bound, and more than any 64-bit process is given.
    EXPECT_FALSE(AllocateImage(4, 0x1FFFFFFF, 0x7FFFFFFF));
    EXPECT_FALSE(AllocateImage(3, 0x7FFFFFFF, 0x7FFFFFFF));
}

TEST(Palette, SavesTheDepthsCountAndRestoresIt) {
    UniqueImage imageOwner = AllocateImage(1, 4, 4);
    ImageBuffer& image = imageOwner.get();
    BITMAPINFOHEADER& h = *image.Header;
    for (int i = 0; i < 1024; ++i) Table(image)[i] = uint8_t(i * 3);
    PaletteArea area{};
    h.biBitCount = 4;
    h.biClrUsed = 0;
    EXPECT_EQ(SavePalette(&h, area), 16);
    EXPECT_EQ(std::memcmp(area.data(), Table(image), 64), 0);
    EXPECT_EQ(area[16].rgbBlue | area[16].rgbGreen | area[16].rgbRed, 0) << "copied too much";
    h.biBitCount = 8;
    h.biClrUsed = 300;
    EXPECT_EQ(SavePalette(&h, area), 256);
    h.biBitCount = 24;
    EXPECT_EQ(SavePalette(&h, area), 0);
    // A table that runs into memory nobody owns reads as none.
    UniqueVirtual pages(VirtualAlloc(nullptr, 8192, MEM_RESERVE, PAGE_NOACCESS));
    ASSERT_TRUE(VirtualAlloc(pages.get(), 4096, MEM_COMMIT, PAGE_READWRITE));
    uint8_t* lastHeader = static_cast<uint8_t*>(pages.get()) + 4096 - 40;
    auto* edge = reinterpret_cast<BITMAPINFOHEADER*>(lastHeader);
    *edge = BITMAPINFOHEADER{};
    edge->biBitCount = 8;
    EXPECT_EQ(SavePalette(edge, area), 0);

    // Restoring writes `count` entries into a paletted table only.
    std::memset(Table(image), 0, 1024);
    RestorePalette(&h, area, 256);
    EXPECT_EQ(Table(image)[4], 0) << "24 bits carry no table";
    h.biBitCount = 8;
    RestorePalette(&h, area, 2);
    EXPECT_EQ(std::memcmp(Table(image), area.data(), 8), 0);
    EXPECT_EQ(Table(image)[8], 0);
}

TEST(Palette, GreyOnlyForEightBitsWithTheWholeRamp) {
    UniqueImage imageOwner = AllocateImage(1, 2, 2);
    ImageBuffer& image = imageOwner.get();
    BITMAPINFOHEADER& h = *image.Header;
    for (int i = 0; i < 256; ++i) std::memset(Table(image) + 4 * i, i, 3);
    EXPECT_TRUE(IsGrayscalePalette(&h));
    h.biClrUsed = 0;
    EXPECT_TRUE(IsGrayscalePalette(&h));
    h.biClrUsed = 16;
    EXPECT_FALSE(IsGrayscalePalette(&h));
    h.biClrUsed = 256;
    Table(image)[4 * 9 + 3] = 1;  // a reserved byte is no colour
    EXPECT_TRUE(IsGrayscalePalette(&h));
    h.biBitCount = 4;
    EXPECT_FALSE(IsGrayscalePalette(&h));
}

TEST(CompositeOverChecker, ReplacesA32BitBufferWithSquaresSizedByTheOutputBox) {
    for (int32_t maxWidth : {200, 99}) {
        UniqueImage imageOwner = AllocateImage(4, 100, 100);  // all transparent
        ImageBuffer& image = imageOwner.get();
        const HLOCAL old = image.InfoHandle;
        ASSERT_TRUE(CompositeOverChecker(image, 0x000000, 0xFFFFFF, maxWidth, 200));
        EXPECT_NE(image.InfoHandle, old);
        EXPECT_EQ(image.Header->biBitCount, 24);
        const int32_t side = maxWidth < 100 ? 16 : 8;
        const uint8_t* bits = image.Bits;
        EXPECT_EQ(bits[3 * (side - 1)], 0) << maxWidth;  // the first square: colour1
        EXPECT_EQ(bits[3 * side], 255) << maxWidth;
    }

    UniqueImage colourOwner = AllocateImage(3, 4, 4);
    ImageBuffer& colour = colourOwner.get();
    const HLOCAL old = colour.InfoHandle;
    EXPECT_FALSE(CompositeOverChecker(colour, 0, 0, 200, 200));
    EXPECT_EQ(colour.InfoHandle, old);
}

// ---- bitmaps from a child ----

// A movable block holding `bytes`, `extra` more zero bytes, freed at the end of the test.
struct Block {
    UniqueLocal handle;
    Block(const void* bytes, size_t size, size_t extra = 0)
        : handle(LocalAlloc(LMEM_MOVEABLE | LMEM_ZEROINIT, size + extra)) {
        std::memcpy(LocalLock(handle.get()), bytes, size);
        LocalUnlock(handle.get());
    }
};

BITMAPINFOHEADER Header(LONG width, LONG height, WORD bits, DWORD compression = BI_RGB) {
    BITMAPINFOHEADER h{};
    h.biSize = 40, h.biWidth = width, h.biHeight = height, h.biPlanes = 1;
    h.biBitCount = bits, h.biCompression = compression;
    return h;
}

TEST(CheckChildBitmap, ComparesTheBlocksWithWhatTheHeaderAnnounces) {
    struct Case {
        const char* what;
        BITMAPINFOHEADER header;
        size_t headerExtra, bitsBytes;
        ChildBitmap expected;
    };
    BITMAPINFOHEADER v4 = Header(3, 2, 32, BI_BITFIELDS);
    v4.biSize = 108;
    BITMAPINFOHEADER fewColours = Header(3, 2, 8);
    fewColours.biClrUsed = 2;
    BITMAPINFOHEADER manyColours = Header(3, 2, 8);
    manyColours.biClrUsed = 1000;
    BITMAPINFOHEADER v5 = Header(3, 2, 24);
    v5.biSize = 124;
    const Case cases[] = {
        {"24-bit", Header(3, 2, 24), 0, 24, ChildBitmap::Usable},
        {"24-bit, one byte short", Header(3, 2, 24), 0, 23, ChildBitmap::Short},
        {"top-down", Header(3, -2, 24), 0, 24, ChildBitmap::Usable},
        {"top-down, one row short", Header(3, -2, 24), 0, 12, ChildBitmap::Short},
        {"-2^31 rows", Header(1, INT32_MIN, 8), 1024, 64, ChildBitmap::Short},
        {"huge rows", Header(0x7FFFFFFF, 1, 32), 0, 64, ChildBitmap::Short},
        {"8-bit with its table", Header(3, 2, 8), 1024, 8, ChildBitmap::Usable},
        {"8-bit, table short", Header(3, 2, 8), 1020, 8, ChildBitmap::Short},
        {"8-bit, two colours", fewColours, 8, 8, ChildBitmap::Usable},
        {"1000 colours, 256 in the table", manyColours, 1024, 8, ChildBitmap::Usable},
        {"a header longer than its block", v5, 0, 24, ChildBitmap::Short},
        {"1-bit without its table", Header(3, 2, 1), 4, 8, ChildBitmap::Short},
        {"masks missing", Header(3, 2, 32, BI_BITFIELDS), 8, 24, ChildBitmap::Short},
        {"three masks", Header(3, 2, 32, BI_BITFIELDS), 12, 24, ChildBitmap::Usable},
        {"alpha mask missing", v4, 12, 24, ChildBitmap::Short},
        {"run-length rows", Header(3, 2, 8, BI_RLE8), 1024, 4, ChildBitmap::Foreign},
        {"2 bits", Header(3, 2, 2), 64, 8, ChildBitmap::Foreign},
        {"no width", Header(0, 2, 24), 0, 8, ChildBitmap::Foreign},
        {"no rows", Header(3, 0, 24), 0, 8, ChildBitmap::Foreign},
    };
    const std::vector<uint8_t> zeros(64 * 1024);
    for (const Case& c : cases) {
        Block header(&c.header, sizeof c.header, c.headerExtra);
        Block bits(zeros.data(), c.bitsBytes);
        EXPECT_EQ(CheckChildBitmap(header.handle.get(), bits.handle.get()), c.expected) << c.what;
    }
    const BITMAPINFOHEADER plain = Header(3, 2, 24);
    Block bits(zeros.data(), 24);
    Block shortHeader(&plain, 39);
    EXPECT_EQ(CheckChildBitmap(shortHeader.handle.get(), bits.handle.get()), ChildBitmap::Short);
    Block header(&plain, 40);
    EXPECT_EQ(CheckChildBitmap(header.handle.get(), nullptr), ChildBitmap::Short);
    EXPECT_EQ(CheckChildBitmap(nullptr, bits.handle.get()), ChildBitmap::Short);

    // A block that holds a row longer than strides go: too large, not short. Only a 64-bit
    // process has room for it; the block is never touched.
    if (sizeof(void*) == 8) {
        const BITMAPINFOHEADER wide = Header(0x2AAAAAAB, 1, 24);  // a row of 2^31 + 4 bytes
        Block wideHeader(&wide, 40);
        UniqueLocal row(LocalAlloc(LMEM_MOVEABLE, size_t(0x80000004)));
        ASSERT_TRUE(row);
        EXPECT_EQ(CheckChildBitmap(wideHeader.handle.get(), row.get()), ChildBitmap::TooLarge);
    }
}

// What a child may store instead of a local block: nothing may lock, read or free it.
TEST(InspectChildBlock, TellsLocalBlocksFromAnythingElse) {
    static char ownData[64];
    const HANDLE heap = HeapCreate(0, 0, 0);
    void* const foreign = HeapAlloc(heap, 0, 64);
    void* const unmapped = VirtualAlloc(nullptr, 65536, MEM_RESERVE, PAGE_NOACCESS);
    VirtualFree(unmapped, 0, MEM_RELEASE);
    UniqueHandle event(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    UniqueLocal movable(LocalAlloc(LMEM_MOVEABLE, 64)), fixed(LocalAlloc(LMEM_FIXED, 48)),
        empty(LocalAlloc(LMEM_MOVEABLE, 0));
    struct Case {
        const char* what;
        HLOCAL handle;
        bool local;
        size_t bytes;
    };
    const Case cases[] = {
        {"movable", movable.get(), true, 64},
        {"fixed", fixed.get(), true, 48},
        {"movable without memory", empty.get(), true, 0},
        {"null", nullptr, false, 0},
        {"the child's own data", ownData, false, 0},
        {"a private heap's block", foreign, false, 0},
        {"an event", event.get(), false, 0},
        {"a small number", reinterpret_cast<HLOCAL>(4), false, 0},
        {"an address nothing is mapped at", unmapped, false, 0},
    };
    for (const Case& c : cases) {
        const ChildBlock block = InspectChildBlock(c.handle);
        EXPECT_EQ(block.local, c.local) << c.what;
        EXPECT_EQ(block.bytes, c.bytes) << c.what;
    }
    HeapDestroy(heap);
}

TEST(MakeBottomUp, TurnsTopDownRowsAndTheHeight) {
    UniqueImage imageOwner = AllocateImage(1, 3, 3);
    ImageBuffer& image = imageOwner.get();
    for (int row = 0; row < 3; ++row) std::memset(image.Bits + 4 * row, 'a' + row, 4);
    image.Header->biHeight = -3;
    MakeBottomUp(image);
    EXPECT_EQ(image.Header->biHeight, 3);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(image.Bits), 12), "ccccbbbbaaaa");
    MakeBottomUp(image);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(image.Bits), 12), "ccccbbbbaaaa");
}

}  // namespace
}  // namespace qorvi
