#include "base/sps_parse.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "support/media.h"

namespace {

using base::CSpsParse;
using base::h264_sps_data;
using codec_test::Bytes;

bool Parse(const Bytes& bytes, h264_sps_data& sps) {
  sps = h264_sps_data{};
  return CSpsParse::H264DecodeSeqParameterSet(bytes.data(), static_cast<unsigned>(bytes.size()), sps);
}

// The picture size after cropping, from the SPS libx264 writes. A custom quant matrix makes it
// write seq_scaling_matrix_present_flag, interlaced coding clears frame_mbs_only_flag: both
// change how the size is read.
TEST(SpsParse, SizeOfLibx264Streams) {
  struct Case {
    int width, height;
    codec_test::Options options;
    int frameMbsOnly;
  };
  const Case cases[] = {
      {1920, 1080, {{"profile", "high"}}, 1},
      {144, 256, {{"profile", "high"}}, 1},
      {250, 130, {{"profile", "high"}}, 1},
      {250, 130, {{"profile", "baseline"}}, 1},
      {1280, 720, {{"profile", "main"}}, 1},
      {352, 288, {{"preset", "medium"}, {"profile", "high"}, {"x264-params", "cqm=jvt"},
                  {"flags", "+ildct"}}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.width << "x" << c.height);
    const auto video = codec_test::EncodeVideo("libx264", c.width, c.height, 1, c.options);
    ASSERT_FALSE(video.data.empty());
    h264_sps_data sps;
    ASSERT_TRUE(Parse(video.data[0], sps));
    EXPECT_EQ(std::tuple(sps.width, sps.height, sps.frame_mbs_only_flag),
              std::tuple(c.width, c.height, c.frameMbsOnly));
  }
}

TEST(SpsParse, EmulationPreventionBytesAreRemoved) {
  // A baseline SPS for 1920x1080, then the same with level_idc 0, whose 00 00 must be escaped
  // as 00 00 03.
  h264_sps_data plain, unescaped;
  ASSERT_TRUE(Parse({0, 0, 0, 1, 0x67, 0x42, 0x00, 0x28, 0xE9, 0x00, 0xF0, 0x04, 0x4F, 0xCB, 0x80},
                    plain));
  ASSERT_TRUE(Parse({0, 0, 0, 1, 0x67, 0x42, 0x00, 0x00, 0x03, 0xE9, 0x00, 0xF0, 0x04, 0x4F, 0xCB,
                     0x80}, unescaped));
  EXPECT_EQ(std::tuple(plain.width, plain.height), std::tuple(1920, 1080));
  EXPECT_EQ(std::tuple(unescaped.level_idc, unescaped.width, unescaped.height),
            std::tuple(0, 1920, 1080));
}

TEST(SpsParse, TruncatedOrMissingSpsIsRefusedWithoutReadingPastTheEnd) {
  const Bytes packet = codec_test::EncodeVideo("libx264", 1920, 1080, 1).data.at(0);
  for (size_t n = 0; n < 40; ++n) {
    // A heap copy of exactly n bytes lets AddressSanitizer catch any overread. Cut anywhere,
    // the size is refused, or right once the size fields are complete (past the first 9 bytes).
    std::unique_ptr<unsigned char[]> copy(new unsigned char[n + 1]);
    std::memcpy(copy.get(), packet.data(), n);
    h264_sps_data sps{};
    const bool ok = CSpsParse::H264DecodeSeqParameterSet(copy.get(), static_cast<unsigned>(n), sps);
    EXPECT_TRUE(!ok || (n > 9 && sps.width == 1920 && sps.height == 1080)) << n;
  }
  h264_sps_data sps;
  EXPECT_FALSE(Parse({0, 0, 0, 1, 0x68, 0xCE, 0x38, 0x80}, sps));  // a PPS
  EXPECT_FALSE(Parse({0x67, 0x42, 0x00, 0x28, 0xE9, 0x00, 0xF0, 0x04}, sps));  // no start code
  EXPECT_FALSE(CSpsParse::H264DecodeSeqParameterSet(nullptr, 0, sps));
}

}  // namespace
