// Repeats one codec operation for a while and reports how it went.
#pragma once

#include <chrono>
#include <cstdint>

struct JpegBenchRuns {
  int runs = 0;
  double seconds = 0;
  int32_t result = 0;  // of the last run; the loop stops at the first failure
};

template <typename Operation>
JpegBenchRuns RunFor(double seconds, Operation operation) {
  JpegBenchRuns r;
  const auto start = std::chrono::steady_clock::now();
  do {
    r.result = operation();
    ++r.runs;
    r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  } while (r.result == 0 && r.seconds < seconds);
  return r;
}
