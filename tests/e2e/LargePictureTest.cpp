// A picture whose pixel block is larger than 2 GiB, through qorvi.spi with a fixture child that
// makes it: the 64-bit build shrinks it to the output box, the 32-bit one fails it cleanly.
#include "tests/e2e/PluginHost.h"

#include <gtest/gtest.h>
#include <psapi.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace qorvi::test {
namespace {

constexpr uint32_t Width = 40000, Height = 20000;  // 2.4 GB of 24-bit rows
constexpr uint32_t BoxWidth = 1920, BoxHeight = 1080;
// The fixture's generated picture: blocks of 5000 pixels, block (i, j) from the top left of
// B = 16i + 8, G = 16j + 8, R = 255 - 8(i + j). Shrunk into the box, each is 240 pixels square.
constexpr uint32_t Block = 5000, ShownBlock = 240;
// Shown pixels this far from a block's edge read the block alone, under every filter the
// settings offer (Lanczos4 at this scale reaches about 4 pixels): weights that add up to one
// keep its colour exactly.
constexpr uint32_t EdgeReach = 6;

size_t PeakWorkingSet() {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
    return counters.PeakWorkingSetSize;
}

TEST(LargePicture, ABlockPast2GiBIsShrunkBy64BitsAndFailedCleanlyBy32) {
    TempPluginFolder folder;
    folder.AddChild("fixture.spi", "fixture.spi", "",
                    "generate=" + std::to_string(Width) + "x" + std::to_string(Height));
    folder.AddFile("qorvi.ini", "[Default]\nColorManagement=0\nLimitedOutputSize=1\nMaxWidth=" +
                                    std::to_string(BoxWidth) +
                                    "\nMaxHeight=" + std::to_string(BoxHeight) + "\n");
    PluginHost plugin(folder);
    plugin.Load();
    const std::string image = QvtImage(1, 1);  // the child makes its picture whatever it gets

    // A failure's message box, read and dismissed when a display shows it.
    std::vector<std::wstring> shown;
    std::atomic<bool> answered{false};
    std::thread watcher([&] {
        while (!answered && CanShowWindows()) {
            ShownBox box = DismissBox(L"qorvi", nullptr, 10);
            if (box.found) shown.push_back(box.text);
        }
    });
    ReceivedBitmap out;
    const int result = plugin.GetPicture(image.data(), SusieLength(image.size()), SusieInputMemory,
                                         &out.info, &out.bits, nullptr, 0);
    answered = true;
    watcher.join();

    if (sizeof(void*) == 4) {
        // No 32-bit process has room for such a block: the child cannot make it, and its own
        // answer passes through, with nothing left in the host's variables.
        EXPECT_EQ(result, SusieOutOfMemory);
        EXPECT_TRUE(shown.empty());
        EXPECT_EQ(out.info, nullptr);
        EXPECT_EQ(out.bits, nullptr);
        return;
    }

    ASSERT_EQ(result, SusieSuccess);
    EXPECT_TRUE(shown.empty());
    const BITMAPINFOHEADER header = out.Header();
    ASSERT_EQ(header.biBitCount, 24);
    ASSERT_EQ(header.biWidth, 1920);
    ASSERT_EQ(header.biHeight, 960);
    const std::string bits = out.Bits();
    const size_t stride = size_t(header.biWidth) * 3;  // a multiple of 4 already
    ASSERT_GE(bits.size(), stride * size_t(header.biHeight));
    int checked = 0, wrong = 0;
    for (uint32_t y = 0; y < 960; ++y) {  // from the top
        const uint32_t j = y / ShownBlock, inY = y % ShownBlock;
        if (inY < EdgeReach || inY >= ShownBlock - EdgeReach) continue;
        const char* row = bits.data() + (959 - y) * stride;
        for (uint32_t x = 0; x < 1920; ++x) {
            const uint32_t i = x / ShownBlock, inX = x % ShownBlock;
            if (inX < EdgeReach || inX >= ShownBlock - EdgeReach) continue;
            const uint8_t expected[3] = {uint8_t(16 * i + 8), uint8_t(16 * j + 8),
                                         uint8_t(255 - 8 * (i + j))};
            ++checked;
            if (std::memcmp(row + x * 3, expected, 3) != 0 && ++wrong <= 5)
                ADD_FAILURE() << "pixel (" << x << ", " << y << ") of block (" << i << ", " << j
                              << ")";
        }
    }
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(checked, 32 * int(ShownBlock - 2 * EdgeReach) * int(ShownBlock - 2 * EdgeReach));
    static_assert(Width / Block * ShownBlock == BoxWidth && Height / Block * ShownBlock == 960);

    // The child's block and qorvi's small buffers, and no second full-size copy.
    const size_t block = size_t(Width) * 3 * Height;
    const size_t peak = PeakWorkingSet();
    RecordProperty("PeakWorkingSetMiB", std::to_string(peak >> 20));
    EXPECT_LT(peak, block + block / 2);
}

}  // namespace
}  // namespace qorvi::test
