// Counts heap allocations made by the whole process (the library, FFmpeg and the C++ runtime)
// while a scope is open: the bench program interposes malloc and its relatives.
#pragma once

#include <cstdint>

namespace codec_bench {

class AllocationScope {
 public:
  AllocationScope();
  ~AllocationScope();
  AllocationScope(const AllocationScope&) = delete;
  AllocationScope& operator=(const AllocationScope&) = delete;

  int64_t Count() const;  // allocations since the scope opened

 private:
  int64_t start_;
};

}  // namespace codec_bench
