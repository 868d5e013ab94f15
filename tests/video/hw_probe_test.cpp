// The hardware decode probe on a platform without any device family: every hardware decoder
// is answered false once per (type, adapter) and cached. Each test uses adapter numbers of its
// own, because the cache lives as long as the test program.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include "codec_interface.h"
#include "support/log_capture.h"
#include "support/media.h"
#include "video/hw_probe.h"

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
  return "[" + std::to_string(type) + "][" + std::to_string(adapter) + "]";
}

LogLine ProbeStarts(int type, unsigned int adapter) {
  return {0, "[CODE]CheckHardwareDecode" + Key(type, adapter)};
}

LogLine InitFailed(int type, unsigned int adapter) {
  return {60, "[CODE]CheckHardwareDecode" + Key(type, adapter) + " Codec Init failed"};
}

// The keys in the order their probes started, read from the probe's first line.
std::vector<std::string> ProbedKeys(const std::vector<LogLine>& lines) {
  const std::string prefix = "[CODE]CheckHardwareDecode";
  std::vector<std::string> keys;
  for (const LogLine& line : lines) {
    if (line.level == 0 && line.text.rfind(prefix, 0) == 0 &&
        line.text.find(' ') == std::string::npos) {
      keys.push_back(line.text.substr(prefix.size()));
    }
  }
  return keys;
}

TEST(CheckHardwareDecode, SoftwareAndUnknownTypesAreNeitherProbedNorCached) {
  ScopedLogCapture capture;
  for (int type : {0, 1, 2, 3, 10, 11, 14, 15, 21, -1, 99}) {
    SCOPED_TRACE(type);
    EXPECT_FALSE(ICodecInterface::CheckHardwareDecode(static_cast<CodecType>(type), 0));
    EXPECT_FALSE(CachedHardwareDecodeAnswer(static_cast<CodecType>(type), 0).has_value());
  }
  EXPECT_TRUE(capture->OwnLines().empty());
}

TEST(CheckHardwareDecode, EveryHardwareDecoderFailsInitAndIsCachedFalse) {
  constexpr unsigned int kAdapter = 100;
  for (CodecType type : kProbedTypes) {
    SCOPED_TRACE(type);
    ASSERT_FALSE(CachedHardwareDecodeAnswer(type, kAdapter).has_value());
    ScopedLogCapture capture;
    EXPECT_FALSE(ICodecInterface::CheckHardwareDecode(type, kAdapter));
    // No decoder here offers a configuration for any family, so Init fails at that step; the
    // object is released (its destructor's Uninit logs) before the probe's own line.
    const std::vector<LogLine> expected = {ProbeStarts(type, kAdapter),
                                           {60, "[CODE]avcodec_get_hw_config failed"},
                                           {0, "[CODE]video codec uninit"},
                                           InitFailed(type, kAdapter)};
    EXPECT_EQ(capture->OwnLines(), expected);
    EXPECT_EQ(CachedHardwareDecodeAnswer(type, kAdapter), std::optional<bool>(false));
  }
}

TEST(CheckHardwareDecode, SecondQuestionIsAnsweredFromTheCacheSilently) {
  constexpr unsigned int kAdapter = 110;
  {
    ScopedLogCapture capture;
    EXPECT_FALSE(ICodecInterface::CheckHardwareDecode(AV_CODEC_TYPE_H264DEC_D3D11VA, kAdapter));
    EXPECT_FALSE(capture->OwnLines().empty());
  }
  ScopedLogCapture capture;
  EXPECT_FALSE(ICodecInterface::CheckHardwareDecode(AV_CODEC_TYPE_H264DEC_D3D11VA, kAdapter));
  EXPECT_TRUE(capture->OwnLines().empty());
}

TEST(CheckHardwareDecode, EachAdapterHasItsOwnEntry) {
  ScopedLogCapture capture;
  EXPECT_FALSE(ICodecInterface::CheckHardwareDecode(AV_CODEC_TYPE_HEVCDEC_DXVA2, 120));
  EXPECT_FALSE(CachedHardwareDecodeAnswer(AV_CODEC_TYPE_HEVCDEC_DXVA2, 121).has_value());
  EXPECT_FALSE(ICodecInterface::CheckHardwareDecode(AV_CODEC_TYPE_HEVCDEC_DXVA2, 121));
  EXPECT_EQ(ProbedKeys(capture->OwnLines()), (std::vector<std::string>{Key(4, 120), Key(4, 121)}));
  EXPECT_EQ(CachedHardwareDecodeAnswer(AV_CODEC_TYPE_HEVCDEC_DXVA2, 120),
            std::optional<bool>(false));
  EXPECT_EQ(CachedHardwareDecodeAnswer(AV_CODEC_TYPE_HEVCDEC_DXVA2, 121),
            std::optional<bool>(false));
  // The largest adapter index is a key like any other and is logged as %d gives it.
  capture->Clear();
  EXPECT_FALSE(ICodecInterface::CheckHardwareDecode(AV_CODEC_TYPE_HEVCDEC_DXVA2, 4294967295u));
  EXPECT_EQ(capture->OwnLines().front(), (LogLine{0, "[CODE]CheckHardwareDecode[4][-1]"}));
  EXPECT_TRUE(CachedHardwareDecodeAnswer(AV_CODEC_TYPE_HEVCDEC_DXVA2, 4294967295u).has_value());
}

TEST(Prepare, ProbesTheFamilysH264ThenHevcDecoder) {
  struct Case {
    HardwareDecoderType family;
    int h264;
    int hevc;
  };
  const Case cases[] = {{HARDWARE_DECODER_DXVA2, 7, 4},
                        {HARDWARE_DECODER_D3D12VA, 8, 5},
                        {HARDWARE_DECODER_D3D11VA, 9, 6},
                        {HARDWARE_DECODER_VIDEOTOOLBOX, 12, 13}};
  constexpr unsigned int kAdapter = 130;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.family);
    ScopedLogCapture capture;
    ICodecInterface::Prepare(c.family, kAdapter);
    EXPECT_EQ(ProbedKeys(capture->OwnLines()),
              (std::vector<std::string>{Key(c.h264, kAdapter), Key(c.hevc, kAdapter)}));
    EXPECT_TRUE(CachedHardwareDecodeAnswer(static_cast<CodecType>(c.h264), kAdapter));
    EXPECT_TRUE(CachedHardwareDecodeAnswer(static_cast<CodecType>(c.hevc), kAdapter));
    // Now the questions cost nothing.
    capture->Clear();
    EXPECT_FALSE(ICodecInterface::CheckHardwareDecode(static_cast<CodecType>(c.h264), kAdapter));
    ICodecInterface::Prepare(c.family, kAdapter);
    EXPECT_TRUE(capture->OwnLines().empty());
  }
}

TEST(Prepare, UnknownFamilyDoesNothing) {
  ScopedLogCapture capture;
  for (int family : {4, -1, 100}) {
    ICodecInterface::Prepare(static_cast<HardwareDecoderType>(family), 140);
  }
  EXPECT_TRUE(capture->OwnLines().empty());
  for (CodecType type : kProbedTypes) {
    EXPECT_FALSE(CachedHardwareDecodeAnswer(type, 140).has_value()) << type;
  }
}

TEST(CheckHardwareDecode, ConcurrentQuestionsProbeEachKeyAndAgree) {
  constexpr unsigned int kFirstAdapter = 150;
  constexpr int kAdapters = 3;
  constexpr int kThreads = 6;
  ScopedLogCapture capture;
  std::vector<std::thread> threads;
  std::vector<int> trueAnswers(kThreads, 0);
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t, &trueAnswers] {
      // Every thread asks every key, in an order of its own, twice, and prepares a family.
      for (int round = 0; round < 2; ++round) {
        for (int i = 0; i < kAdapters * 8; ++i) {
          const int k = (i + t * 5) % (kAdapters * 8);
          const CodecType type = kProbedTypes[k % 8];
          trueAnswers[t] += ICodecInterface::CheckHardwareDecode(type, kFirstAdapter + k / 8);
        }
        ICodecInterface::Prepare(static_cast<HardwareDecoderType>(t % 4), kFirstAdapter);
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(trueAnswers, std::vector<int>(kThreads, 0));

  const std::vector<std::string> probed = ProbedKeys(capture->OwnLines());
  for (unsigned int adapter = kFirstAdapter; adapter < kFirstAdapter + kAdapters; ++adapter) {
    for (CodecType type : kProbedTypes) {
      SCOPED_TRACE(Key(type, adapter));
      EXPECT_EQ(CachedHardwareDecodeAnswer(type, adapter), std::optional<bool>(false));
      // Probed at least once, and never again once the answer was stored: at most one
      // probe per thread that asked before the first store.
      const auto count = std::count(probed.begin(), probed.end(), Key(type, adapter));
      EXPECT_GE(count, 1);
      EXPECT_LE(count, kThreads);
    }
  }
}

// The probe's own outcome lines, without those of the codec it drives.
std::vector<LogLine> OutcomeLines(const std::vector<LogLine>& lines) {
  std::vector<LogLine> outcome;
  for (const LogLine& line : lines) {
    if (line.text.find("HardwareDecode[") != std::string::npos) outcome.push_back(line);
  }
  return outcome;
}

// A single probe run through software decoders, which do work here: every outcome but the
// hardware one can be seen.
TEST(RunHardwareDecodeProbe, PictureInTheAskedFormatIsSupport) {
  struct Case {
    CodecType type;
    PixelFormat format;
    bool hevc;
  };
  const Case cases[] = {{AV_CODEC_TYPE_H264DEC, PIX_FMT_YUV420P, false},
                        {AV_CODEC_TYPE_HEVCDEC, PIX_FMT_YUV420P, true},
                        {AV_CODEC_TYPE_H264DEC, PIX_FMT_NV12, false}};  // converted
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.type << " " << c.format);
    ScopedLogCapture capture;
    EXPECT_TRUE(RunHardwareDecodeProbe(c.type, c.format, 2, ProbeStream(c.hevc)));
    EXPECT_EQ(OutcomeLines(capture->OwnLines()),
              (std::vector<LogLine>{{0, "[CODE]Support HardwareDecode" + Key(c.type, 2)}}));
    EXPECT_FALSE(CachedHardwareDecodeAnswer(c.type, 2).has_value());
  }
}

TEST(RunHardwareDecodeProbe, NoPictureFromTheOneCallIsUnSupport) {
  // B-frames make the decoder hold the first picture back: one Decode yields nothing.
  const codec_test::EncodedVideo delayed =
      codec_test::EncodeTestVideo("libx264", 144, 256, 4, {{"bf", "2"}});
  ASSERT_FALSE(delayed.packets.empty());
  ScopedLogCapture capture;
  EXPECT_FALSE(RunHardwareDecodeProbe(AV_CODEC_TYPE_H264DEC, PIX_FMT_YUV420P, 3,
                                      delayed.packets.front()));
  EXPECT_EQ(OutcomeLines(capture->OwnLines()),
            (std::vector<LogLine>{{0, "[CODE]UnSupport HardwareDecode[1][3]"}}));
}

TEST(RunHardwareDecodeProbe, RefusedDecodeAndFailedInitAreErrors) {
  {
    ScopedLogCapture capture;
    EXPECT_FALSE(RunHardwareDecodeProbe(AV_CODEC_TYPE_H264DEC, PIX_FMT_YUV420P, 4, {}));
    EXPECT_EQ(OutcomeLines(capture->OwnLines()),
              (std::vector<LogLine>{{60, "[CODE]CheckHardwareDecode[1][4] Decode failed"}}));
  }
  ScopedLogCapture capture;
  EXPECT_FALSE(RunHardwareDecodeProbe(static_cast<CodecType>(-5), PIX_FMT_YUV420P, 4,
                                      ProbeStream(false)));
  // Init's own Uninit, then the released object's destructor, then the probe.
  const std::vector<LogLine> expected = {{60, "[CODE]Codec not found for AVCodecType:-5"},
                                         {0, "[CODE]video codec uninit"},
                                         {0, "[CODE]video codec uninit"},
                                         InitFailed(-5, 4)};
  EXPECT_EQ(capture->OwnLines(), expected);
}

}  // namespace
