#include <gtest/gtest.h>

#include <cstring>

#include "base/sps_parse.h"
#include "support/media.h"

namespace {

using base::CSpsParse;
using base::h264_sps_data;
using codec_test::Bytes;
using codec_test::EncodeTestVideo;

Bytes FirstH264Packet(int width, int height,
                      const std::vector<std::pair<std::string, std::string>>& options = {}) {
  auto video = EncodeTestVideo("libx264", width, height, 1, options);
  return video.packets.empty() ? Bytes{} : video.packets.front();
}

struct SizeCase {
  int width;
  int height;
  const char* profile;
};

class SpsSizes : public testing::TestWithParam<SizeCase> {};

TEST_P(SpsSizes, DecodesPictureSizeAfterCropping) {
  const SizeCase c = GetParam();
  const Bytes packet = FirstH264Packet(c.width, c.height, {{"profile", c.profile}});
  ASSERT_FALSE(packet.empty());
  h264_sps_data sps;
  std::memset(&sps, 0, sizeof sps);
  ASSERT_TRUE(CSpsParse::H264DecodeSeqParameterSet(packet.data(),
                                                   static_cast<unsigned>(packet.size()), sps));
  EXPECT_EQ(sps.width, c.width);
  EXPECT_EQ(sps.height, c.height);
}

INSTANTIATE_TEST_SUITE_P(Libx264, SpsSizes,
                         testing::Values(SizeCase{1920, 1080, "high"},
                                         SizeCase{144, 256, "high"},
                                         SizeCase{250, 130, "high"},
                                         SizeCase{250, 130, "baseline"},
                                         SizeCase{1280, 720, "main"},
                                         SizeCase{64, 48, "high"}));

TEST(SpsParse, HighProfileWithScalingMatrixAndInterlaceFlags) {
  // A custom quant matrix makes libx264 write seq_scaling_matrix_present_flag = 1, and
  // interlaced coding clears frame_mbs_only_flag: both change how the size is read.
  const Bytes packet = FirstH264Packet(
      352, 288,
      {{"preset", "medium"}, {"profile", "high"}, {"x264-params", "cqm=jvt"}, {"flags", "+ildct"}});
  ASSERT_FALSE(packet.empty());
  h264_sps_data sps{};
  ASSERT_TRUE(CSpsParse::H264DecodeSeqParameterSet(packet.data(),
                                                   static_cast<unsigned>(packet.size()), sps));
  EXPECT_EQ(sps.profile_idc, 100);
  EXPECT_EQ(sps.frame_mbs_only_flag, 0);
  EXPECT_EQ(sps.width, 352);
  EXPECT_EQ(sps.height, 288);
}

TEST(SpsParse, EmulationPreventionBytesAreRemoved) {
  // Baseline SPS for 1920x1080 written by hand, with an emulation prevention byte inserted
  // into a run of zeros: 00 00 03 00 must read as 00 00 00.
  const Bytes withEpb = {0x00, 0x00, 0x00, 0x01, 0x67, 0x42, 0x00, 0x28, 0xE9, 0x00, 0xF0,
                         0x04, 0x4F, 0xCB, 0x80};
  h264_sps_data plain{};
  ASSERT_TRUE(CSpsParse::H264DecodeSeqParameterSet(withEpb.data(),
                                                   static_cast<unsigned>(withEpb.size()), plain));
  // The same SPS with level_idc 0 so that 00 00 must be escaped: 42 00 00 -> 42 00 00 03 ...
  const Bytes escaped = {0x00, 0x00, 0x00, 0x01, 0x67, 0x42, 0x00, 0x00, 0x03, 0xE9, 0x00,
                         0xF0, 0x04, 0x4F, 0xCB, 0x80};
  h264_sps_data unescaped{};
  ASSERT_TRUE(CSpsParse::H264DecodeSeqParameterSet(
      escaped.data(), static_cast<unsigned>(escaped.size()), unescaped));
  EXPECT_EQ(unescaped.level_idc, 0);
  EXPECT_EQ(unescaped.width, plain.width);
  EXPECT_EQ(unescaped.height, plain.height);
}

TEST(SpsParse, TruncatedInputFailsWithoutReadingPastTheEnd) {
  const Bytes packet = FirstH264Packet(1920, 1080);
  ASSERT_FALSE(packet.empty());
  // Find the SPS length: up to the next start code.
  size_t spsEnd = 5;
  while (spsEnd + 3 <= packet.size() &&
         !(packet[spsEnd] == 0 && packet[spsEnd + 1] == 0 && packet[spsEnd + 2] == 1)) {
    ++spsEnd;
  }
  // Cut anywhere: either refused, or (once the size fields are complete and only VUI bytes are
  // missing) the right size. The size of 1920x1080 needs more than the first 9 bytes.
  for (size_t n = 0; n < spsEnd; ++n) {
    // A fresh heap copy of exactly n bytes lets AddressSanitizer catch any overread.
    std::unique_ptr<unsigned char[]> copy(new unsigned char[n == 0 ? 1 : n]);
    std::memcpy(copy.get(), packet.data(), n);
    h264_sps_data sps{};
    const bool ok =
        CSpsParse::H264DecodeSeqParameterSet(copy.get(), static_cast<unsigned>(n), sps);
    if (n <= 9) {
      EXPECT_FALSE(ok) << "length " << n;
    }
    if (ok) {
      EXPECT_EQ(sps.width, 1920) << "length " << n;
      EXPECT_EQ(sps.height, 1080) << "length " << n;
    }
  }
}

TEST(SpsParse, RefusesInputWithoutAnSps) {
  const Bytes pps = {0x00, 0x00, 0x00, 0x01, 0x68, 0xCE, 0x38, 0x80};
  h264_sps_data sps{};
  EXPECT_FALSE(CSpsParse::H264DecodeSeqParameterSet(pps.data(), 8, sps));
  EXPECT_FALSE(CSpsParse::H264DecodeSeqParameterSet(nullptr, 0, sps));
  const Bytes noStartCode = {0x67, 0x42, 0x00, 0x28, 0xE9, 0x00, 0xF0, 0x04};
  EXPECT_FALSE(CSpsParse::H264DecodeSeqParameterSet(noStartCode.data(), 8, sps));
}

}  // namespace
