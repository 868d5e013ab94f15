#include <gtest/gtest.h>
#include <sched.h>

#include "base/system.h"

namespace {

TEST(BaseSystem, GetCpuCount_FollowsANarrowedAffinity) {
  cpu_set_t saved;
  ASSERT_EQ(sched_getaffinity(0, sizeof saved, &saved), 0);
  int first = 0;
  while (!CPU_ISSET(first, &saved)) ++first;
  cpu_set_t one;
  CPU_ZERO(&one);
  CPU_SET(first, &one);
  ASSERT_EQ(sched_setaffinity(0, sizeof one, &one), 0);
  EXPECT_EQ(base::GetCpuCount(), 1);
  ASSERT_EQ(sched_setaffinity(0, sizeof saved, &saved), 0);
}

}  // namespace
