#include <gtest/gtest.h>
#if defined(_WIN32)
#include <windows.h>
#else
#include <sched.h>
#endif

#include "base/log.h"
#include "base/system.h"

namespace {

// (Installing and replacing loggers, while many threads log, is the load test's.)
TEST(BaseLog, StderrLogger_WritesInformationAndAboveWithLevelAndTid) {
  base::CStderrLog logger;
  testing::internal::CaptureStderr();
  logger.PrintLog(0, 11, "[CODE]debug %d", 1);
  logger.PrintLog(20, 12, "[CODE]info %s", "line");
  logger.PrintLog(60, 13, "[CODE]error\n");
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "[20][12] [CODE]info line\n[60][13] [CODE]error\n");
}

TEST(BaseSystem, GetCpuCountFollowsANarrowedAffinity) {
#if defined(_WIN32)
  DWORD_PTR saved = 0, system = 0;
  ASSERT_NE(GetProcessAffinityMask(GetCurrentProcess(), &saved, &system), 0);
  ASSERT_NE(SetProcessAffinityMask(GetCurrentProcess(), saved & -saved), 0);  // the lowest CPU
  EXPECT_EQ(base::GetCpuCount(), 1);
  ASSERT_NE(SetProcessAffinityMask(GetCurrentProcess(), saved), 0);
#else
  cpu_set_t saved, one;
  ASSERT_EQ(sched_getaffinity(0, sizeof saved, &saved), 0);
  CPU_ZERO(&one);
  for (int cpu = 0; CPU_COUNT(&one) == 0; ++cpu) {
    if (CPU_ISSET(cpu, &saved)) CPU_SET(cpu, &one);
  }
  ASSERT_EQ(sched_setaffinity(0, sizeof one, &one), 0);
  EXPECT_EQ(base::GetCpuCount(), 1);
  ASSERT_EQ(sched_setaffinity(0, sizeof saved, &saved), 0);
#endif
}

}  // namespace
