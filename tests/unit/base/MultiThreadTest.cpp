#include "base/MultiThread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace qorvi {
namespace {

struct Calls {
    std::atomic<int> perIndex[8] = {};
    std::atomic<int> wrongCount{0};
    std::atomic<int> onCaller[8] = {};
    int32_t expectedCount = 0;
    std::thread::id caller = std::this_thread::get_id();
};

void Record(int32_t index, int32_t count, void* data) {
    auto& calls = *static_cast<Calls*>(data);
    if (count != calls.expectedCount) ++calls.wrongCount;
    ++calls.perIndex[index];
    if (std::this_thread::get_id() == calls.caller) ++calls.onCaller[index];
}

TEST(MultiThread, RunsTheJobOnceOnEveryMemberPerRun) {
    // With a working caller, member 0 is the calling thread and there is one thread fewer; a
    // group of one is then the calling thread alone.
    for (CallingThread caller : {CallingThread::Waits, CallingThread::Works}) {
        for (int32_t members : {1, 2, 4}) {
            SCOPED_TRACE(testing::Message()
                         << members << (caller == CallingThread::Works ? " working" : " waiting"));
            TMultiThread group(members, caller);
            ASSERT_EQ(group.Count(), members);
            Calls calls;
            calls.expectedCount = members;
            group.Run(Record, &calls);
            group.Run(Record, &calls);
            EXPECT_EQ(calls.wrongCount, 0);
            for (int32_t i = 0; i < 8; ++i) {
                EXPECT_EQ(calls.perIndex[i], i < members ? 2 : 0) << i;
                const bool onCaller = i == 0 && caller == CallingThread::Works;
                EXPECT_EQ(calls.onCaller[i], onCaller ? 2 : 0) << i;
            }
        }
    }
}

TEST(MultiThread, ShareWorkThroughACounter) {
    // The resizer's way: workers take portions from an atomic counter until none is left.
    struct Job {
        std::atomic<int32_t> next{0};
        std::vector<std::atomic<int>> done = std::vector<std::atomic<int>>(1000);
    } job;
    TMultiThread group(3);
    group.Run(
        [](int32_t, int32_t, void* data) {
            auto& job = *static_cast<Job*>(data);
            for (int32_t i; (i = job.next.fetch_add(7)) < 1000;)
                for (int32_t k = i; k < i + 7 && k < 1000; ++k) ++job.done[size_t(k)];
        },
        &job);
    for (int32_t k = 0; k < 1000; ++k) ASSERT_EQ(job.done[size_t(k)], 1) << k;
    // A job that finds nothing left returns at once.
    group.Run([](int32_t, int32_t, void* data) { static_cast<Job*>(data)->next.fetch_add(7); },
              &job);
}

}  // namespace
}  // namespace qorvi
