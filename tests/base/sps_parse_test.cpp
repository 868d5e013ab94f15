#include "base/sps_parse.h"

#include <cstring>

#include "support/media.h"

namespace {

using base::h264_sps_data;
using codec_test::Bytes;

bool Parse(const uint8_t* bytes, size_t size, h264_sps_data& sps) {
  sps = h264_sps_data{};
  return base::CSpsParse::H264DecodeSeqParameterSet(bytes, static_cast<unsigned>(size), sps);
}

// The picture size after cropping, from the SPS libx264 writes and from units written by hand,
// or a refusal (0 x 0). A custom quant matrix makes libx264 write seq_scaling_matrix_present_flag,
// interlaced coding clears frame_mbs_only_flag: both change how the size is read.
TEST(SpsParse, SizeOfLibx264AndHandWrittenUnits) {
  const auto x264 = [](int width, int height, const codec_test::Options& options) {
    return codec_test::EncodeVideo("libx264", width, height, 1, options).data.at(0);
  };
  const std::tuple<Bytes, int, int, int> cases[] = {
      {x264(1920, 1080, {{"profile", "high"}}), 1920, 1080, 1}, {x264(144, 256, {{"profile", "high"}}), 144, 256, 1},
      {x264(250, 130, {{"profile", "high"}}), 250, 130, 1},   {x264(250, 130, {{"profile", "baseline"}}), 250, 130, 1},
      {x264(352, 288, {{"preset", "medium"}, {"x264-params", "cqm=jvt"}, {"flags", "+ildct"}}), 352, 288, 0},
      // A baseline SPS for 1920x1080 with level_idc 0, whose 00 00 is escaped as 00 00 03.
      {{0, 0, 0, 1, 0x67, 0x42, 0, 0, 3, 0xE9, 0x00, 0xF0, 0x04, 0x4F, 0xCB, 0x80}, 1920, 1080, 1},
      // 16x16 with left and right crops of 2^31 - 1 each: together they overflow 32 bits, and
      // no picture is left.
      {{0, 0, 0, 1, 0x67, 0x42, 0x00, 0x1E, 0xDD, 0xF0, 0, 0, 3, 0, 0x10, 0, 0, 3, 0, 0, 3, 0, 0, 3, 0, 0x20, 0,
        0, 3, 0, 0x34}, 0, 0, 0},
      {{0, 0, 0, 1, 0x68, 0xCE, 0x38, 0x80}, 0, 0, 0},  // a PPS
      {{0x67, 0x42, 0x00, 0x28, 0xE9}, 0, 0, 0},         // no start code
      {{}, 0, 0, 0},
  };
  for (const auto& [bytes, width, height, frameMbsOnly] : cases) {
    h264_sps_data sps;
    EXPECT_EQ(Parse(bytes.empty() ? nullptr : bytes.data(), bytes.size(), sps), width > 0) << bytes.size();
    EXPECT_TRUE(width == 0 || std::tuple(sps.width, sps.height, sps.frame_mbs_only_flag) == std::tuple(width, height, frameMbsOnly))
        << width << "x" << height;
  }
}

TEST(SpsParse, TruncatedSpsIsRefusedWithoutReadingPastTheEnd) {
  const Bytes packet = codec_test::EncodeVideo("libx264", 1920, 1080, 1).data.at(0);
  for (size_t n = 0; n < 40; ++n) {
    // A heap copy of exactly n bytes lets AddressSanitizer catch any overread. Cut anywhere,
    // the size is refused, or right once the size fields are complete (past the first 9 bytes).
    std::unique_ptr<uint8_t[]> copy(new uint8_t[n + 1]);
    std::memcpy(copy.get(), packet.data(), n);
    h264_sps_data sps;
    const bool ok = Parse(copy.get(), n, sps);
    EXPECT_TRUE(!ok || (n > 9 && sps.width == 1920 && sps.height == 1080)) << n;
  }
}

}  // namespace
