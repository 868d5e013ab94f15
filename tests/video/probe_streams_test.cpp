// The embedded probe streams: their NAL structure, the properties their parameter sets carry,
// and that a software decoder outputs the one picture from one call.
#include <gtest/gtest.h>

#include <vector>

#include "base/sps_parse.h"
#include "codec_interface.h"
#include "interface/av_ptr.h"
#include "video/hw_probe.h"

namespace {

using namespace codec_interface;
using Bytes = std::vector<uint8_t>;

struct NalUnit {
  size_t offset;  // of its start code
  Bytes bytes;    // header and payload
};

// Splits at four-byte start codes and fails on any three-byte one.
std::vector<NalUnit> SplitFourByteUnits(std::span<const uint8_t> stream) {
  std::vector<size_t> codes;
  for (size_t i = 0; i + 3 <= stream.size(); ++i) {
    if (stream[i] == 0 && stream[i + 1] == 0 && stream[i + 2] == 1) {
      EXPECT_TRUE(i >= 1 && stream[i - 1] == 0) << "three-byte start code at " << i;
      codes.push_back(i - 1);
    }
  }
  EXPECT_FALSE(codes.empty());
  if (codes.empty()) return {};
  EXPECT_EQ(codes.front(), 0u) << "the stream starts with a start code";
  std::vector<NalUnit> units;
  for (size_t k = 0; k < codes.size(); ++k) {
    const size_t end = (k + 1 < codes.size()) ? codes[k + 1] : stream.size();
    units.push_back({codes[k], Bytes(stream.begin() + static_cast<std::ptrdiff_t>(codes[k] + 4),
                                     stream.begin() + static_cast<std::ptrdiff_t>(end))});
  }
  return units;
}

struct Decoded {
  CodecCtxPtr ctx;
  FramePtr frame;
  int sent = 0;
  int received = 0;
};

// One send and one receive with FFmpeg's software decoder.
Decoded DecodeOnce(AVCodecID id, std::span<const uint8_t> stream) {
  Decoded d;
  const AVCodec* codec = avcodec_find_decoder(id);
  d.ctx.reset(avcodec_alloc_context3(codec));
  d.frame.reset(av_frame_alloc());
  EXPECT_EQ(avcodec_open2(d.ctx.get(), codec, nullptr), 0);
  PacketPtr packet(av_packet_alloc());
  packet->data = const_cast<uint8_t*>(stream.data());  // padded by ProbeStream
  packet->size = static_cast<int>(stream.size());
  d.sent = avcodec_send_packet(d.ctx.get(), packet.get());
  d.received = avcodec_receive_frame(d.ctx.get(), d.frame.get());
  return d;
}

std::vector<int> H264Types(const std::vector<NalUnit>& units) {
  std::vector<int> types;
  for (const NalUnit& u : units) types.push_back(u.bytes.empty() ? -1 : (u.bytes[0] & 0x1F));
  return types;
}

std::vector<int> HevcTypes(const std::vector<NalUnit>& units) {
  std::vector<int> types;
  for (const NalUnit& u : units) {
    types.push_back(u.bytes.empty() ? -1 : ((u.bytes[0] >> 1) & 0x3F));
  }
  return types;
}

TEST(ProbeStreams, KeptOnceForTheProcessWithZeroedPaddingBehind) {
  for (bool hevc : {false, true}) {
    SCOPED_TRACE(hevc);
    const std::span<const uint8_t> first = ProbeStream(hevc);
    const std::span<const uint8_t> again = ProbeStream(hevc);
    EXPECT_EQ(first.data(), again.data());
    EXPECT_EQ(first.size(), again.size());
    for (size_t i = 0; i < AV_INPUT_BUFFER_PADDING_SIZE; ++i) {
      ASSERT_EQ(first.data()[first.size() + i], 0) << i;
    }
  }
  EXPECT_NE(ProbeStream(false).data(), ProbeStream(true).data());
}

TEST(ProbeStreams, H264IsSpsPpsAndOneIdrSlice) {
  const std::vector<NalUnit> units = SplitFourByteUnits(ProbeStream(false));
  EXPECT_EQ(H264Types(units), (std::vector<int>{7, 8, 5}));
}

TEST(ProbeStreams, HevcIsVpsSpsPpsAndOneIdrWRadlSlice) {
  const std::vector<NalUnit> units = SplitFourByteUnits(ProbeStream(true));
  EXPECT_EQ(HevcTypes(units), (std::vector<int>{32, 33, 34, 19}));
  for (const NalUnit& u : units) {
    ASSERT_GE(u.bytes.size(), 2u);
    EXPECT_EQ(u.bytes[0] & 0x81, 0) << "forbidden bit and layer id";
    EXPECT_EQ(u.bytes[1], 1) << "layer 0, temporal id 0";
  }
}

TEST(ProbeStreams, H264SpsCarriesTheProbesProperties) {
  const std::span<const uint8_t> stream = ProbeStream(false);
  const std::vector<NalUnit> units = SplitFourByteUnits(stream);
  ASSERT_EQ(units.size(), 3u);
  // Profile and level precede any run of zeros, so no emulation prevention byte can sit there.
  const Bytes& sps = units[0].bytes;
  ASSERT_GE(sps.size(), 4u);
  EXPECT_EQ(sps[1], 100) << "High profile";
  EXPECT_EQ(sps[3], 40) << "level 4.0";

  base::h264_sps_data parsed{};
  ASSERT_TRUE(base::CSpsParse::H264DecodeSeqParameterSet(
      stream.data(), static_cast<unsigned int>(stream.size()), parsed));
  EXPECT_EQ(parsed.width, 144);
  EXPECT_EQ(parsed.height, 256);
  EXPECT_EQ(parsed.chroma_format_idc, 1);
  EXPECT_EQ(parsed.bit_depth_luma, 8);
  EXPECT_EQ(parsed.bit_depth_chroma, 8);
  EXPECT_EQ(parsed.max_num_ref_frames, 1);
  EXPECT_EQ(parsed.frame_mbs_only_flag, 1);
  EXPECT_EQ(parsed.pic_order_cnt_type, 0);
  EXPECT_EQ(parsed.vui_parameters_present_flag, 1);

  // FFmpeg's reading of the same SPS: a frame rate only comes from its timing information.
  const Decoded d = DecodeOnce(AV_CODEC_ID_H264, stream);
  EXPECT_EQ(d.ctx->profile, AV_PROFILE_H264_HIGH);
  EXPECT_EQ(d.ctx->level, 40);
  EXPECT_EQ(d.ctx->refs, 1);
  EXPECT_EQ(d.ctx->has_b_frames, 0);
  EXPECT_GT(d.ctx->framerate.num, 0);
  EXPECT_GT(d.ctx->framerate.den, 0);
}

TEST(ProbeStreams, HevcSpsIsMainProfileMainTierLevel4) {
  const std::span<const uint8_t> stream = ProbeStream(true);
  const std::vector<NalUnit> units = SplitFourByteUnits(stream);
  ASSERT_EQ(units.size(), 4u);
  const Bytes& sps = units[1].bytes;
  ASSERT_GE(sps.size(), 4u);
  // Header (2), VPS id / sub-layers / nesting (1), then the profile_tier_level begins.
  EXPECT_EQ(sps[3] >> 6, 0) << "profile space";
  EXPECT_EQ((sps[3] >> 5) & 1, 0) << "Main tier";
  EXPECT_EQ(sps[3] & 0x1F, 1) << "Main profile";

  const Decoded d = DecodeOnce(AV_CODEC_ID_HEVC, stream);
  EXPECT_EQ(d.ctx->profile, AV_PROFILE_HEVC_MAIN);
  EXPECT_EQ(d.ctx->level, 120) << "level 4.0 (30 x 4)";
}

TEST(ProbeStreams, FfmpegDecodesEachIntoOnePictureAtOnce) {
  for (auto [id, hevc] : {std::pair{AV_CODEC_ID_H264, false}, std::pair{AV_CODEC_ID_HEVC, true}}) {
    SCOPED_TRACE(hevc);
    const Decoded d = DecodeOnce(id, ProbeStream(hevc));
    EXPECT_EQ(d.sent, 0);
    ASSERT_EQ(d.received, 0);
    EXPECT_EQ(d.frame->width, 144);
    EXPECT_EQ(d.frame->height, 256);
    EXPECT_EQ(d.frame->format, AV_PIX_FMT_YUV420P);
    EXPECT_TRUE(d.frame->flags & AV_FRAME_FLAG_KEY);
    EXPECT_EQ(d.frame->decode_error_flags, 0);
  }
}

TEST(ProbeStreams, OurDecodersOutputThePictureFromOneDecodeCall) {
  for (auto [type, hevc] : {std::pair{AV_CODEC_TYPE_H264DEC, false},
                            std::pair{AV_CODEC_TYPE_HEVCDEC, true}}) {
    SCOPED_TRACE(type);
    auto codec = ICodecInterface::Create(type);
    CodecParam param{};
    ASSERT_EQ(codec->Init(type, param), 0);
    const std::span<const uint8_t> stream = ProbeStream(hevc);
    CVideoDecodeOutParam out(0);
    EXPECT_EQ(codec->Decode(const_cast<uint8_t*>(stream.data()), static_cast<int>(stream.size()),
                            &out),
              1);
    EXPECT_EQ(out.m_nWidth, 144);
    EXPECT_EQ(out.m_nHeight, 256);
    EXPECT_EQ(out.m_ePixelFormat, PIX_FMT_YUV420P);
    EXPECT_FALSE(out.m_bDecodeError);
    out.Clear();
  }
}

}  // namespace
