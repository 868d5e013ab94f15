#include "media/microseconds.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace codec_interface {
namespace {

// The inline rescale gives what libavutil gives at the edges of every branch (within INT_MAX,
// beyond it, overflow, the negative side, INT64_MIN), for random times of every size, in time
// bases files use and at the limit of the fast path. (The reader's and writer's tests check the
// conversions built on it against plain FFmpeg.)
TEST(Microseconds, RescaleRoundsAsLibavutilDoes) {
  std::vector<int64_t> times = {0, 1, 499999, 500000, 500001, INT_MAX, int64_t{INT_MAX} + 1, INT64_MAX, INT64_MIN, INT64_MIN + 1};
  std::mt19937_64 random(7);
  for (int i = 0; i < 63 * 40; ++i) times.push_back(int64_t(random() >> (63 - i / 40)) * (i % 2 ? -1 : 1));
  const int64_t factors[] = {1, 3, 1001, 12800, 44100, 48000, 90000, 1000000, 30000000, INT_MAX, int64_t{INT_MAX} + 1};
  for (const int64_t a : times) {
    for (const int64_t b : factors) {
      for (const int64_t c : factors) ASSERT_EQ(RescaleNear(a, b, c), av_rescale_rnd(a, b, c, AV_ROUND_NEAR_INF)) << a << " " << b << " " << c;
    }
  }
}

}  // namespace
}  // namespace codec_interface
