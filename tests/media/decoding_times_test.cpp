#include "media/decoding_times.h"

#include <gtest/gtest.h>

#include <climits>
#include <memory>
#include <vector>

namespace codec_interface {
namespace {

// Pictures held back two deep (I P B B P B B), none with a decoding time: each gets the smallest
// presentation time not yet used, the first two counted back from the first by a picture each,
// as FFmpeg's muxers fill them in. A time the file gives is kept; a seek starts afresh; times
// near the end of int64_t are left without instead of overflowing (UBSan catches that).
TEST(DecodingTimes, FilledAsFfmpegsMuxersFillThem) {
  const std::unique_ptr<AVFormatContext, decltype(&avformat_free_context)> ctx(avformat_alloc_context(), avformat_free_context);
  AVStream* st = avformat_new_stream(ctx.get(), nullptr);
  st->codecpar->codec_type = AVMEDIA_TYPE_VIDEO, st->codecpar->video_delay = 2;
  st->time_base = {1, 25}, st->avg_frame_rate = {25, 1};
  CDecodingTimes times(st);
  const auto fill = [&](int64_t pts, int64_t dts = AV_NOPTS_VALUE, int64_t duration = 0) {
    AVPacket packet{};
    packet.pts = pts, packet.dts = dts, packet.duration = duration;
    times.Fill(&packet);
    return packet.dts;
  };
  std::vector<int64_t> filled;
  for (const int64_t pts : {0, 3, 1, 2, 6, 4, 5}) filled.push_back(fill(pts));
  EXPECT_EQ(filled, (std::vector<int64_t>{-2, -1, 0, 1, 2, 3, 4}));
  EXPECT_EQ(fill(9, 7), 7);
  times.Restart();
  EXPECT_EQ(fill(10, AV_NOPTS_VALUE, 3), 4);  // counted back by the packet's own duration
  times.Restart();
  EXPECT_EQ(fill(INT64_MIN + 1, AV_NOPTS_VALUE, INT64_MAX), AV_NOPTS_VALUE);
  EXPECT_EQ(fill(INT64_MAX, AV_NOPTS_VALUE, INT64_MAX), INT64_MAX - 2 * (int64_t{1} << 32));
}

}  // namespace
}  // namespace codec_interface
