#include <gtest/gtest.h>
#if defined(_WIN32)
#include <windows.h>
#else
#include <sched.h>
#endif

#include "base/log.h"
#include "base/system.h"
#include "support/log_capture.h"

namespace {

using base::IBaseLogInterface;
using codec_test::CaptureLogger;

// Installing returns the logger given, an empty pointer gives the one installed. (Loggers
// replaced while many threads log, with no line lost, is the load test's.)
TEST(BaseLog, GetLogInstance_InstallsAndReturnsTheLogger) {
  auto previous = IBaseLogInterface::GetLogInstance(nullptr);
  auto a = std::make_shared<CaptureLogger>();
  EXPECT_EQ(IBaseLogInterface::GetLogInstance(a), a);
  IBaseLogInterface::GetLogInstance(nullptr)->PrintLog(60, 7, "[CODE]x %d %s", 3, "y");
  EXPECT_EQ(a->OwnLines(), (std::vector<codec_test::LogLine>{{60, "[CODE]x 3 y"}}));
  EXPECT_EQ(IBaseLogInterface::GetLogInstance(previous), previous);
  EXPECT_EQ(IBaseLogInterface::GetLogInstance(nullptr), previous);
}

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
