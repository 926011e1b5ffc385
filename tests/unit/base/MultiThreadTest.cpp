#include "base/MultiThread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <vector>

namespace qorvi {
namespace {

struct Calls {
    std::atomic<int> perIndex[8] = {};
    std::atomic<int> wrongCount{0};
    int32_t expectedCount = 0;
};

void Record(int32_t index, int32_t count, void* data) {
    auto& calls = *static_cast<Calls*>(data);
    if (count != calls.expectedCount) ++calls.wrongCount;
    ++calls.perIndex[index];
}

TEST(MultiThread, RunsTheJobOnceOnEveryWorkerPerRun) {
    for (int32_t workers : {1, 2, 4}) {
        TMultiThread group(workers);
        ASSERT_EQ(group.Count(), workers);
        Calls calls;
        calls.expectedCount = workers;
        group.Run(Record, &calls);
        group.Run(Record, &calls);
        EXPECT_EQ(calls.wrongCount, 0);
        for (int32_t i = 0; i < 8; ++i) EXPECT_EQ(calls.perIndex[i], i < workers ? 2 : 0) << i;
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
