// Timing for the benchmarks: medians of several runs, so that one slow run (the second core of a
// shared machine, a page-in) does not decide the figure.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <vector>

namespace qorvi::bench {

// The median of `runs` timings of `work()`, in seconds; `prepare()` runs untimed before each.
template <class Prepare, class Work>
double MedianSeconds(int runs, Prepare&& prepare, Work&& work) {
    std::vector<double> seconds;
    for (int i = 0; i < runs; ++i) {
        prepare();
        const auto start = std::chrono::steady_clock::now();
        work();
        seconds.push_back(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    std::sort(seconds.begin(), seconds.end());
    return seconds[seconds.size() / 2];
}

// The run count from the command line's first argument.
inline int RunsArgument(int argc, char** argv, int runs) {
    return argc > 1 ? std::max(1, std::atoi(argv[1])) : runs;
}

}  // namespace qorvi::bench
