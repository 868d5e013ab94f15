// Counts heap allocations made by the whole process (the library, FFmpeg and the C++ runtime)
// while a scope is open: the bench program interposes malloc and its relatives.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdint>

namespace codec_bench {

class AllocationScope {
 public:
  AllocationScope();
  ~AllocationScope();
  AllocationScope(const AllocationScope&) = delete;
  AllocationScope& operator=(const AllocationScope&) = delete;

  int64_t Count() const;  // allocations since the scope opened
  int64_t Bytes() const;  // bytes asked for by them

 private:
  int64_t start_;
  int64_t startBytes_;
};

// Sets the counters every pair reports: "allocs_per_call" and "alloc_bytes_per_call", what the
// scope saw divided by the calls made, and "calls_per_iteration" (1 unless an iteration makes
// several calls), so that times compare per call.
void ReportAllocations(benchmark::State& state, const AllocationScope& scope, int64_t calls);

}  // namespace codec_bench
