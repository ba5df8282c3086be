#pragma once
// A table of ours beside a peer with the ratio, printed after a benchmark run.
#include <benchmark/benchmark.h>
#include <time.h>

#include <algorithm>
#include <string>
#include <vector>

namespace benchsupport {

// The thread's CPU time, for benchmarks with manual timing: a busy machine does not count the
// time the thread waits for a processor.
inline double ThreadSeconds() {
  timespec T;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &T);
  return static_cast<double>(T.tv_sec) + static_cast<double>(T.tv_nsec) * 1e-9;
}

// Adds the fastest repetition to the statistics (less disturbed by a busy machine than the
// median, which the table reports beside it).
inline benchmark::internal::Benchmark* WithMinimum(benchmark::internal::Benchmark* B) {
  return B->ComputeStatistics("min", [](const std::vector<double>& V) { return *std::min_element(V.begin(), V.end()); });
}

// Runs the benchmarks named "<operation>/<implementation>/<case>" (after benchmark::Initialize
// and the registrations), with the usual console output, and then prints one table per
// operation: for each case the median time of Ours and of Peer, Peer's time divided by Ours
// (above 1: ours is faster), the same ratio of the fastest repetitions when they were kept
// (WithMinimum), and the "bytes" counter of both when set (encoded sizes). A "batch" counter
// says how many operations one iteration timed: times are divided by it. Cases come in the
// order they were registered.
int RunWithRatioTable(const std::string& Ours, const std::string& Peer);

}  // namespace benchsupport
