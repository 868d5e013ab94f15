// The hardware decode probe on a platform without any device family (every hardware decoder is
// answered false once per (type, adapter) and cached), and the embedded streams it decodes. The
// cache lives as long as the program, so each test uses adapter numbers of its own.
#include "video/hw_probe.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "base/sps_parse.h"
#include "interface/av_ptr.h"
#include "support/log_capture.h"
#include "support/media.h"

namespace {

using namespace codec_interface;
using codec_test::LogLine;
using codec_test::ScopedLogCapture;

constexpr CodecType kProbedTypes[] = {
    AV_CODEC_TYPE_HEVCDEC_DXVA2,        AV_CODEC_TYPE_HEVCDEC_D3D12VA,
    AV_CODEC_TYPE_HEVCDEC_D3D11VA,      AV_CODEC_TYPE_H264DEC_DXVA2,
    AV_CODEC_TYPE_H264DEC_D3D12VA,      AV_CODEC_TYPE_H264DEC_D3D11VA,
    AV_CODEC_TYPE_H264DEC_VIDEOTOOLBOX, AV_CODEC_TYPE_HEVCDEC_VIDEOTOOLBOX};

std::string Key(int type, unsigned int adapter) {
  return "[" + std::to_string(type) + "][" + std::to_string(static_cast<int>(adapter)) + "]";
}

// The keys in the order their probes started, read from the probe's first line.
std::vector<std::string> ProbedKeys(const ScopedLogCapture& capture) {
  const std::string prefix = "[CODE]CheckHardwareDecode";
  std::vector<std::string> keys;
  for (const LogLine& line : capture->OwnLines()) {
    if (line.level == 0 && line.text.starts_with(prefix) && line.text.find(' ') == std::string::npos) {
      keys.push_back(line.text.substr(prefix.size()));
    }
  }
  return keys;
}

TEST(CheckHardwareDecode, SoftwareAndUnknownTypesAndFamiliesDoNothing) {
  ScopedLogCapture capture;
  for (int family : {4, -1, 100}) ICodecInterface::Prepare(HardwareDecoderType(family), 90);
  for (int type : {0, 1, 2, 3, 10, 11, 14, 15, 21, -1, 99}) {
    EXPECT_FALSE(ICodecInterface::CheckHardwareDecode(CodecType(type), 90)) << type;
    EXPECT_FALSE(CachedHardwareDecodeAnswer(CodecType(type), 90)) << type;
  }
  for (CodecType type : kProbedTypes) EXPECT_FALSE(CachedHardwareDecodeAnswer(type, 90)) << type;
  EXPECT_TRUE(capture->OwnLines().empty());
}

TEST(CheckHardwareDecode, EveryHardwareDecoderFailsInitOnceAndIsCachedFalse) {
  for (CodecType type : kProbedTypes) {
    SCOPED_TRACE(type);
    ScopedLogCapture capture;
    EXPECT_FALSE(ICodecInterface::CheckHardwareDecode(type, 100));
    EXPECT_FALSE(ICodecInterface::CheckHardwareDecode(type, 100));  // from the cache, silently
    // Init finds no configuration; the codec is released (its destructor's line) first.
    const std::vector<LogLine> expected = {
        {0, "[CODE]CheckHardwareDecode" + Key(type, 100)},
        {60, "[CODE]avcodec_get_hw_config failed"},
        {0, "[CODE]video codec uninit"},
        {60, "[CODE]CheckHardwareDecode" + Key(type, 100) + " Codec Init failed"}};
    EXPECT_EQ(capture->OwnLines(), expected);
    EXPECT_EQ(CachedHardwareDecodeAnswer(type, 100), false);
  }
}

TEST(CheckHardwareDecode, EachAdapterHasItsOwnEntry) {
  ScopedLogCapture capture;
  for (unsigned int adapter : {120u, 121u, 4294967295u}) {
    EXPECT_FALSE(CachedHardwareDecodeAnswer(AV_CODEC_TYPE_HEVCDEC_DXVA2, adapter));
    EXPECT_FALSE(ICodecInterface::CheckHardwareDecode(AV_CODEC_TYPE_HEVCDEC_DXVA2, adapter));
    EXPECT_EQ(CachedHardwareDecodeAnswer(AV_CODEC_TYPE_HEVCDEC_DXVA2, adapter), false);
  }
  // The largest adapter index is logged as %d gives it.
  EXPECT_EQ(ProbedKeys(capture), (std::vector<std::string>{"[4][120]", "[4][121]", "[4][-1]"}));
}

TEST(Prepare, ProbesTheFamilysH264ThenHevcDecoderOnce) {
  const std::tuple<HardwareDecoderType, int, int> cases[] = {
      {HARDWARE_DECODER_DXVA2, 7, 4},
      {HARDWARE_DECODER_D3D12VA, 8, 5},
      {HARDWARE_DECODER_D3D11VA, 9, 6},
      {HARDWARE_DECODER_VIDEOTOOLBOX, 12, 13}};
  for (const auto& [family, h264, hevc] : cases) {
    SCOPED_TRACE(family);
    ScopedLogCapture capture;
    ICodecInterface::Prepare(family, 130);
    ICodecInterface::Prepare(family, 130);
    EXPECT_EQ(ProbedKeys(capture), (std::vector<std::string>{Key(h264, 130), Key(hevc, 130)}));
  }
}

TEST(CheckHardwareDecode, ConcurrentQuestionsProbeEachKeyAndAgree) {
  constexpr int kKeys = 3 * 8, kThreads = 6;  // every probed type on adapters 150 to 152
  ScopedLogCapture capture;
  std::vector<std::thread> threads;
  std::vector<int> trueAnswers(kThreads, 0);
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t, &trueAnswers] {
      // Every thread asks every key twice, in an order of its own, and prepares a family.
      for (int i = 0; i < 2 * kKeys; ++i) {
        const int k = (i + t * 5) % kKeys;
        trueAnswers[t] += ICodecInterface::CheckHardwareDecode(kProbedTypes[k % 8], 150 + k / 8);
        if (i == kKeys) ICodecInterface::Prepare(HardwareDecoderType(t % 4), 150);
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(trueAnswers, std::vector<int>(kThreads, 0));
  const std::vector<std::string> probed = ProbedKeys(capture);
  for (int k = 0; k < kKeys; ++k) {
    SCOPED_TRACE(Key(kProbedTypes[k % 8], 150 + k / 8));
    EXPECT_EQ(CachedHardwareDecodeAnswer(kProbedTypes[k % 8], 150 + k / 8), false);
    // Probed, and never again once the answer was stored: at most once per thread.
    const auto count =
        std::count(probed.begin(), probed.end(), Key(kProbedTypes[k % 8], 150 + k / 8));
    EXPECT_GE(count, 1);
    EXPECT_LE(count, kThreads);
  }
}

// Single probes through software decoders, which do work here: every outcome but the hardware
// one can be seen. Only the probe's own outcome line is compared.
TEST(RunHardwareDecodeProbe, OutcomeLines) {
  // B-frames make the decoder hold the first picture back: one Decode yields nothing.
  const auto delayed = codec_test::EncodeTestVideo("libx264", 144, 256, 4, {{"bf", "2"}});
  ASSERT_FALSE(delayed.packets.empty());
  const std::tuple<int, PixelFormat, std::span<const uint8_t>, bool, LogLine> cases[] = {
      {1, PIX_FMT_YUV420P, ProbeStream(false), true, {0, "[CODE]Support HardwareDecode[1][2]"}},
      {3, PIX_FMT_YUV420P, ProbeStream(true), true, {0, "[CODE]Support HardwareDecode[3][2]"}},
      {1, PIX_FMT_NV12, ProbeStream(false), true, {0, "[CODE]Support HardwareDecode[1][2]"}},
      {1, PIX_FMT_YUV420P, delayed.packets[0], false, {0, "[CODE]UnSupport HardwareDecode[1][2]"}},
      {1, PIX_FMT_YUV420P, {}, false, {60, "[CODE]CheckHardwareDecode[1][2] Decode failed"}},
      {-5,
       PIX_FMT_YUV420P,
       ProbeStream(false),
       false,
       {60, "[CODE]CheckHardwareDecode[-5][2] Codec Init failed"}}};
  for (const auto& [type, format, stream, answer, outcome] : cases) {
    SCOPED_TRACE(outcome.text);
    ScopedLogCapture capture;
    EXPECT_EQ(RunHardwareDecodeProbe(CodecType(type), format, 2, stream), answer);
    std::vector<LogLine> lines = capture->OwnLines();
    std::erase_if(lines,
                  [](const LogLine& l) { return l.text.find("HardwareDecode[") == std::string::npos; });
    EXPECT_EQ(lines, std::vector<LogLine>{outcome});
    EXPECT_FALSE(CachedHardwareDecodeAnswer(CodecType(type), 2));  // its callers' business
  }
}

TEST(ProbeStreams, PropertiesAndOnePictureFromOneDecode) {
  // H.264: SPS PPS IDR; HEVC: VPS SPS PPS IDR_W_RADL. HEVC levels count 30 per major level.
  const std::tuple<bool, CodecType, std::vector<int>, AVCodecID, int, int> cases[] = {
      {false, AV_CODEC_TYPE_H264DEC, {7, 8, 5}, AV_CODEC_ID_H264, AV_PROFILE_H264_HIGH, 40},
      {true, AV_CODEC_TYPE_HEVCDEC, {32, 33, 34, 19}, AV_CODEC_ID_HEVC, AV_PROFILE_HEVC_MAIN, 120}};
  for (const auto& [hevc, type, nals, id, profile, level] : cases) {
    SCOPED_TRACE(hevc);
    const std::span<const uint8_t> stream = ProbeStream(hevc);
    EXPECT_EQ(stream.data(), ProbeStream(hevc).data());  // copied once for the process
    EXPECT_EQ(codec_test::Bytes(stream.end(), stream.end() + AV_INPUT_BUFFER_PADDING_SIZE),
              codec_test::Bytes(AV_INPUT_BUFFER_PADDING_SIZE, 0));
    std::vector<size_t> headers;  // behind four-byte start codes only
    for (size_t i = 3; i < stream.size(); ++i) {
      if (stream[i - 3] == 0 && stream[i - 2] == 0 && stream[i - 1] == 1) headers.push_back(i);
    }
    std::vector<int> found;
    for (size_t at : headers) {
      EXPECT_TRUE(at >= 4 && stream[at - 4] == 0) << "three-byte start code before " << at;
      found.push_back(hevc ? (stream[at] >> 1) & 0x3F : stream[at] & 0x1F);
    }
    ASSERT_EQ(found, nals);
    EXPECT_EQ(headers[0], 4u);
    if (hevc) {
      // Two header bytes and one of VPS id and sub-layers, then profile space, tier, profile.
      EXPECT_EQ(stream[headers[1] + 3], 0x01) << "profile space 0, Main tier, Main profile";
    } else {
      base::h264_sps_data sps{};
      ASSERT_TRUE(base::CSpsParse::H264DecodeSeqParameterSet(stream.data(), stream.size(), sps));
      EXPECT_EQ(
          std::vector<int>({sps.width, sps.height, sps.chroma_format_idc, sps.bit_depth_luma,
                            sps.bit_depth_chroma, sps.max_num_ref_frames, sps.frame_mbs_only_flag,
                            sps.pic_order_cnt_type, sps.vui_parameters_present_flag}),
          std::vector<int>({144, 256, 1, 8, 8, 1, 1, 0, 1}));
    }
    // FFmpeg's reading of the parameter sets; a frame rate only comes from timing information.
    const AVCodec* decoder = avcodec_find_decoder(id);
    CodecCtxPtr ctx(avcodec_alloc_context3(decoder));
    ASSERT_EQ(avcodec_open2(ctx.get(), decoder, nullptr), 0);
    PacketPtr packet(av_packet_alloc());
    packet->data = const_cast<uint8_t*>(stream.data());
    packet->size = static_cast<int>(stream.size());
    EXPECT_EQ(avcodec_send_packet(ctx.get(), packet.get()), 0);
    EXPECT_EQ(std::vector<int>({ctx->profile, ctx->level, ctx->has_b_frames}),
              std::vector<int>({profile, level, 0}));
    EXPECT_GT(av_q2d(ctx->framerate), 0);
    // Our decoder outputs the picture from one Decode call with the whole stream.
    auto codec = ICodecInterface::Create(type);
    ASSERT_EQ(codec->Init(type, CodecParam{}), 0);
    CVideoDecodeOutParam out(0);
    EXPECT_EQ(codec->Decode(const_cast<uint8_t*>(stream.data()), int(stream.size()), &out), 1);
    EXPECT_EQ(
        std::vector<int>({out.m_nWidth, out.m_nHeight, out.m_ePixelFormat, out.m_bDecodeError}),
        std::vector<int>({144, 256, PIX_FMT_YUV420P, false}));
    out.Clear();
  }
}

}  // namespace
