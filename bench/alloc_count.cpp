#include "alloc_count.h"

#include <atomic>
#include <cerrno>
#include <cstddef>

// glibc's own entry points, which the interposed functions below forward to.
extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* ptr, size_t size);
void __libc_free(void* ptr);
void* __libc_memalign(size_t alignment, size_t size);
}

namespace {

std::atomic<int64_t> g_allocations{0};
std::atomic<int64_t> g_bytes{0};
std::atomic<int> g_scopes{0};

void Note(size_t bytes) {
  if (g_scopes.load(std::memory_order_relaxed) > 0) {
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    g_bytes.fetch_add(static_cast<int64_t>(bytes), std::memory_order_relaxed);
  }
}

}  // namespace

// Defined in the executable, these take the place of libc's for every shared library too
// (FFmpeg's av_malloc ends in posix_memalign, operator new in malloc). realloc counts as an
// allocation whether or not it moves.
extern "C" {
void* malloc(size_t size) {
  Note(size);
  return __libc_malloc(size);
}
void* calloc(size_t count, size_t size) {
  Note(count * size);
  return __libc_calloc(count, size);
}
void* realloc(void* ptr, size_t size) {
  Note(size);
  return __libc_realloc(ptr, size);
}
void free(void* ptr) { __libc_free(ptr); }
int posix_memalign(void** out, size_t alignment, size_t size) {
  Note(size);
  void* p = __libc_memalign(alignment, size);
  if (p == nullptr) return ENOMEM;
  *out = p;
  return 0;
}
void* memalign(size_t alignment, size_t size) {
  Note(size);
  return __libc_memalign(alignment, size);
}
void* aligned_alloc(size_t alignment, size_t size) {
  Note(size);
  return __libc_memalign(alignment, size);
}
}

namespace codec_bench {

AllocationScope::AllocationScope() : start_(g_allocations.load()), startBytes_(g_bytes.load()) {
  g_scopes.fetch_add(1);
}
AllocationScope::~AllocationScope() { g_scopes.fetch_sub(1); }
int64_t AllocationScope::Count() const { return g_allocations.load() - start_; }
int64_t AllocationScope::Bytes() const { return g_bytes.load() - startBytes_; }

void ReportAllocations(benchmark::State& state, const AllocationScope& scope, int64_t calls) {
  const double n = static_cast<double>(calls > 0 ? calls : 1);
  state.counters["allocs_per_call"] = static_cast<double>(scope.Count()) / n;
  state.counters["alloc_bytes_per_call"] = static_cast<double>(scope.Bytes()) / n;
  state.counters["calls_per_iteration"] = n / static_cast<double>(state.iterations());
}

}  // namespace codec_bench
