#include "base/system.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <sched.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

#include <bit>
#include <thread>

namespace base {

long GetTid() {
#if defined(_WIN32)
  return static_cast<long>(::GetCurrentThreadId());
#else
  return static_cast<long>(::syscall(SYS_gettid));
#endif
}

int GetCpuCount() {
  // The affinity mask, so that a process confined to some CPUs does not oversubscribe them.
#if defined(_WIN32)
  DWORD_PTR process = 0, system = 0;  // the process's processor group: at most 64 CPUs
  if (GetProcessAffinityMask(GetCurrentProcess(), &process, &system) != 0) {
    const int n = std::popcount(static_cast<unsigned long long>(process));
    if (n > 0) return n;
  }
#else
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) == 0) {
    const int n = CPU_COUNT(&set);
    if (n > 0) return n;
  }
#endif
  const unsigned n = std::thread::hardware_concurrency();
  return n > 0 ? static_cast<int>(n) : 1;
}

}  // namespace base
