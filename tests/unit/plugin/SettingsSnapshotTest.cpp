// The live settings as requests see them while the settings dialog's OK replaces them.
#include "plugin/Settings.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace qorvi {
namespace {

// Two records that differ in every kind of field, strings long enough to live on the heap.
TPluginOption Record(bool second) {
    TPluginOption o;
    o.ColorManagement = second;
    o.MonitorProfileName = second ? std::string(300, 'm') : "C:\\Windows\\monitor-a.icc";
    o.ProofingProfileName = second ? "C:\\proof-b.icc" : std::string(200, 'p');
    o.SoftProofing = !second;
    o.MaxWidth = second ? 640 : 1920;
    o.MaxHeight = second ? 480 : 1080;
    o.ThumbnailWidth = second ? 96 : 160;
    o.BGColor2 = second ? 0x123456 : 0xAAAAAA;
    return o;
}

TEST(SettingsHolder, ASnapshotIsAlwaysOneWholeRecordWhileAnotherThreadPublishes) {
    const TPluginOption first = Record(false), second = Record(true);
    ASSERT_NE(first, second);
    SettingsHolder live;
    live.Publish(first);

    // Bounded: the publisher stops after a fixed count, the reader when the publisher is done.
    constexpr int Publishes = 20000;
    std::atomic<bool> done{false};
    std::thread publisher([&] {
        for (int i = 0; i < Publishes; ++i) live.Publish(i % 2 == 0 ? second : first);
        done = true;
    });
    int snapshots = 0, torn = 0;
    while (!done || snapshots == 0) {
        const SettingsSnapshot snapshot = live.Snapshot();
        ASSERT_NE(snapshot, nullptr);
        if (*snapshot != first && *snapshot != second) ++torn;
        ++snapshots;
    }
    publisher.join();
    EXPECT_EQ(torn, 0) << "of " << snapshots << " snapshots";
    EXPECT_EQ(*live.Snapshot(), first);  // the last publish
}

TEST(SettingsHolder, ARequestKeepsItsSnapshotAndTheNextOneSeesThePublishedRecord) {
    SettingsHolder live;
    EXPECT_EQ(*live.Snapshot(), TPluginOption{});  // usable before the first publish
    live.Publish(Record(false));
    const SettingsSnapshot running = live.Snapshot();  // a request that started before the OK
    live.Publish(Record(true));
    EXPECT_EQ(*running, Record(false));
    EXPECT_EQ(*live.Snapshot(), Record(true));
}

}  // namespace
}  // namespace qorvi
