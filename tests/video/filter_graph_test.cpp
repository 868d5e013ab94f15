// The filter graph on both sides, compared with plain libavfilter.
#include <gtest/gtest.h>

#include <span>

#include "interface/log.h"
#include "support/log_capture.h"
#include "support/media.h"
#include "support/video_check.h"
#include "video/encode_peer.h"

namespace {

using namespace codec_interface;
using codec_test::Bytes;
using codec_test::LogLine;
using Peer = VideoCodecTestPeer;

constexpr int kDebug = 0;
constexpr int kError = 60;

std::string OptionText(AVFilterContext* filter, const char* name) {
  uint8_t* value = nullptr;
  if (av_opt_get(filter, name, AV_OPT_SEARCH_CHILDREN, &value) < 0) return "?";
  std::string text(reinterpret_cast<char*>(value));
  av_free(value);
  return text;
}

// ---------------------------------------------------------------------------------------------
// InitFilter.

struct SourceArgsCase {
  AVRational timeBase;
  AVRational aspect;
  const char* expectedTimeBase;
  const char* expectedAspect;
};

TEST(InitFilter, BufferSourceTakesTheContextsTimeBaseAndAspectWithDefaults) {
  const SourceArgsCase cases[] = {
      {{0, 1}, {0, 1}, "1/25", "0/1"},
      {{1, 30}, {0, 1}, "1/30", "0/1"},
      {{2, 1}, {4, 3}, "2/25", "4/3"},
      {{2, 25}, {1, 1}, "2/25", "1/1"},
  };
  for (const SourceArgsCase& c : cases) {
    SCOPED_TRACE(std::string(c.expectedTimeBase) + " " + c.expectedAspect);
    CFFMpegVideoCodec codec;
    CodecCtxPtr ctx(avcodec_alloc_context3(nullptr));
    ctx->time_base = c.timeBase;
    ctx->sample_aspect_ratio = c.aspect;
    codec_test::ScopedLogCapture capture;
    ASSERT_EQ(Peer::InitFilter(codec, ctx.get(), 1280, 720, AV_PIX_FMT_NV12, "hflip"), 0);
    EXPECT_TRUE(capture->OwnLines().empty());
    AVFilterContext* source = Peer::BufferSrc(codec);
    ASSERT_NE(source, nullptr);
    EXPECT_STREQ(source->name, "in");
    EXPECT_STREQ(source->filter->name, "buffer");
    EXPECT_STREQ(Peer::BufferSink(codec)->name, "out");
    EXPECT_STREQ(Peer::BufferSink(codec)->filter->name, "buffersink");
    EXPECT_EQ(OptionText(source, "video_size"), "1280x720");
    EXPECT_EQ(OptionText(source, "pix_fmt"), "nv12");
    EXPECT_EQ(OptionText(source, "time_base"), c.expectedTimeBase);
    EXPECT_EQ(OptionText(source, "pixel_aspect"), c.expectedAspect);
    EXPECT_NE(Peer::FilterFrame(codec), nullptr);
    // The open ends of the parsed text are kept until the graph goes.
    EXPECT_NE(Peer::FilterInputs(codec), nullptr);
    EXPECT_NE(Peer::FilterOutputs(codec), nullptr);
  }
}

struct FailureCase {
  const char* description;
  std::string line;  // expected text up to the full-width colon
};

TEST(InitFilter, FailuresLogTheirStepWithTheFullWidthColonAndFreeTheGraph) {
  const std::string invalid = "[" + AvErrorText(AVERROR(EINVAL)) + "]";
  const FailureCase cases[] = {
      {"hflip,nosuchfilter", "[CODE]avfilter_graph_parse2 for [hflip,nosuchfilter] failed："},
      // Only the first of overlay's two inputs is linked; configuring finds the other open.
      {"overlay", "[CODE]avfilter_graph_config failed："},
      // A text with its own source has no open input to link the buffer source to.
      {"testsrc", "[CODE]avfilter_link filter input failed："},
      {"hflip,nullsink", "[CODE]avfilter_link filter output failed："},
      // The buffer source refuses a picture without a size.
      {"hflip", "[CODE]avfilter_graph_create_filter for src avfilter failed："},
  };
  for (const FailureCase& c : cases) {
    SCOPED_TRACE(c.description);
    CFFMpegVideoCodec codec;
    codec_test::ScopedLogCapture capture;
    const int width = std::string(c.line).find("for src") != std::string::npos ? 0 : 64;
    EXPECT_EQ(Peer::InitFilter(codec, nullptr, width, 48, AV_PIX_FMT_YUV420P, c.description),
              -1);
    const auto lines = capture->OwnLines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].level, kDebug);
    EXPECT_EQ(lines[0].text.rfind(c.line, 0), 0u) << lines[0].text;
    const std::string reason = lines[0].text.substr(c.line.size());
    EXPECT_TRUE(reason.size() > 2 && reason.front() == '[' && reason.back() == ']') << reason;
    EXPECT_EQ(Peer::Graph(codec), nullptr);
    EXPECT_EQ(Peer::BufferSrc(codec), nullptr);
    EXPECT_EQ(Peer::BufferSink(codec), nullptr);
    EXPECT_EQ(Peer::FilterInputs(codec), nullptr);
    EXPECT_EQ(Peer::FilterOutputs(codec), nullptr);
  }
}

// ---------------------------------------------------------------------------------------------
// The per-picture steps of both sides.

TEST(FilterSteps, WithoutGraphNothingIsFilteredOrLogged) {
  using Step = AVFrame* (*)(CFFMpegVideoCodec&, AVFrame*);
  const std::pair<const char*, Step> steps[] = {
      {"decoder with an empty description", &Peer::FilterDecodeFrame},
      {"encoder without a graph", &Peer::FilterEncodeFrame},
  };
  for (const auto& [name, step] : steps) {
    SCOPED_TRACE(name);
    CFFMpegVideoCodec codec;
    codec_test::ScopedLogCapture capture;
    FramePtr picture = codec_test::MakeTestPicture(32, 16, AV_PIX_FMT_YUV420P, 0);
    EXPECT_EQ(step(codec, picture.get()), nullptr);
    EXPECT_NE(picture->buf[0], nullptr);  // the picture is left to the caller
    EXPECT_EQ(Peer::Graph(codec), nullptr);
    EXPECT_TRUE(capture->OwnLines().empty());
  }
}

TEST(FilterSteps, SourceThatRefusesThePictureGivesNothing) {
  using Step = AVFrame* (*)(CFFMpegVideoCodec&, AVFrame*);
  const std::pair<const char*, Step> steps[] = {
      {"decoder", &Peer::FilterDecodeFrame},
      {"encoder", &Peer::FilterEncodeFrame},
  };
  for (const auto& [name, step] : steps) {
    SCOPED_TRACE(name);
    CFFMpegVideoCodec codec;
    Peer::FilterDesc(codec) = "hflip";
    ASSERT_EQ(Peer::InitFilter(codec, nullptr, 32, 16, AV_PIX_FMT_YUV420P, "hflip"), 0);
    // A source that saw the end of its stream refuses every later picture.
    ASSERT_GE(av_buffersrc_add_frame(Peer::BufferSrc(codec), nullptr), 0);
    codec_test::ScopedLogCapture capture;
    FramePtr picture = codec_test::MakeTestPicture(32, 16, AV_PIX_FMT_YUV420P, 0);
    EXPECT_EQ(step(codec, picture.get()), nullptr);
    EXPECT_NE(picture->buf[0], nullptr);  // refused, so still the caller's
    EXPECT_EQ(capture->OwnLines(),
              (std::vector<LogLine>{{kError, "[CODE]av_buffersrc_add_frame failed"}}));
  }
}

// ---------------------------------------------------------------------------------------------
// Decoder side, through Decode: compared with plain libavcodec decoding and plain filtering.

class DecoderFilter : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    stream_ = new codec_test::EncodedVideo(codec_test::EncodeTestVideo("libx264", 96, 64, 6));
    plain_ = new std::vector<FramePtr>(codec_test::DecodePackets(AV_CODEC_ID_H264,
                                                                 stream_->packets));
  }
  static void TearDownTestSuite() {
    delete plain_;
    delete stream_;
  }

  static CodecParam DecoderParam(const char* description) {
    CodecParam param{};
    std::snprintf(param.stVideo.szFilterDesc, sizeof param.stVideo.szFilterDesc, "%s",
                  description);
    return param;
  }

  static VideoEasyParam Easy(const char* description) {
    VideoEasyParam easy{};
    std::snprintf(easy.szFilterDesc, sizeof easy.szFilterDesc, "%s", description);
    return easy;
  }

  // Decodes packet i and checks the one picture against plain FFmpeg with `expected` applied
  // (nullptr: the plain picture itself).
  void ExpectPicture(size_t i, const char* expected) {
    SCOPED_TRACE(i);
    CVideoDecodeOutParam out;
    Bytes& packet = stream_->packets[i];
    ASSERT_EQ(codec_.Decode(packet.data(), static_cast<int>(packet.size()), &out), 1);
    const AVFrame* plain = (*plain_)[i].get();
    const FramePtr reference =
        expected != nullptr ? codec_test::FilterReference(expected, plain) : nullptr;
    EXPECT_TRUE(codec_test::SamePixels(out.m_pFrame[0], reference ? reference.get() : plain));
    EXPECT_EQ(out.m_nWidth, 96);
    EXPECT_EQ(out.m_nHeight, 64);
    EXPECT_EQ(out.m_ePixelFormat, PIX_FMT_YUV420P);
  }

  static std::vector<LogLine> WithoutSizeLine(std::vector<LogLine> lines) {
    std::erase(lines, LogLine{20, "[CODE]Src pix changed [0*0]->[96*64]"});
    return lines;
  }

  static codec_test::EncodedVideo* stream_;
  static std::vector<FramePtr>* plain_;
  CFFMpegVideoCodec codec_;
};

codec_test::EncodedVideo* DecoderFilter::stream_ = nullptr;
std::vector<FramePtr>* DecoderFilter::plain_ = nullptr;

TEST_F(DecoderFilter, MirrorsEveryPicture) {
  ASSERT_EQ(plain_->size(), stream_->packets.size());
  ASSERT_EQ(codec_.Init(AV_CODEC_TYPE_H264DEC, DecoderParam("hflip")), 0);
  codec_test::ScopedLogCapture capture;
  ExpectPicture(0, "hflip");
  const AVFilterGraph* graph = Peer::Graph(codec_);  // built from the first picture
  ASSERT_NE(graph, nullptr);
  for (size_t i = 1; i < stream_->packets.size(); ++i) ExpectPicture(i, "hflip");
  EXPECT_EQ(Peer::Graph(codec_), graph);  // and kept
  EXPECT_TRUE(WithoutSizeLine(capture->OwnLines()).empty());
}

TEST_F(DecoderFilter, EasyParameterTextTakesEffectOnTheNextPicture) {
  ASSERT_EQ(codec_.Init(AV_CODEC_TYPE_H264DEC, DecoderParam("hflip")), 0);
  codec_test::ScopedLogCapture capture;
  ExpectPicture(0, "hflip");
  codec_.SetEasyParam(Easy("vflip"));
  ExpectPicture(1, "vflip");
  ExpectPicture(2, "vflip");
  codec_.SetEasyParam(Easy(""));  // no text: the graph goes and pictures pass unfiltered
  ExpectPicture(3, nullptr);
  codec_.SetEasyParam(Easy("hflip,vflip"));
  ExpectPicture(4, "hflip,vflip");
  EXPECT_TRUE(WithoutSizeLine(capture->OwnLines()).empty());
}

TEST_F(DecoderFilter, TextThatFailsLogsOnEveryPictureAndPicturesPassUnfiltered) {
  struct Case {
    const char* description;
    std::string line;
  };
  const Case cases[] = {
      {"hflip[", "[CODE]avfilter_graph_parse2 for [hflip[] failed："},
      // Only overlay's first input is linked: configuring the graph fails.
      {"overlay", "[CODE]avfilter_graph_config failed："},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.description);
    CFFMpegVideoCodec codec;
    ASSERT_EQ(codec.Init(AV_CODEC_TYPE_H264DEC, DecoderParam(c.description)), 0);
    codec_test::ScopedLogCapture capture;
    for (size_t i = 0; i < 3; ++i) {
      CVideoDecodeOutParam out;
      Bytes& packet = stream_->packets[i];
      ASSERT_EQ(codec.Decode(packet.data(), static_cast<int>(packet.size()), &out), 1);
      EXPECT_TRUE(codec_test::SamePixels(out.m_pFrame[0], (*plain_)[i].get()));
    }
    const auto lines = WithoutSizeLine(capture->OwnLines());
    ASSERT_EQ(lines.size(), 6u);
    for (size_t k = 0; k < lines.size(); k += 2) {
      EXPECT_EQ(lines[k].level, kDebug);
      EXPECT_EQ(lines[k].text.rfind(c.line + "[", 0), 0u) << lines[k].text;
      EXPECT_EQ(lines[k + 1], (LogLine{kError, "[CODE]InitFilter failed"}));
    }
  }
}

TEST_F(DecoderFilter, TextThatHoldsPicturesBackHandsOutNoPicture) {
  ASSERT_EQ(codec_.Init(AV_CODEC_TYPE_H264DEC, DecoderParam("reverse")), 0);
  codec_test::ScopedLogCapture capture;
  for (size_t i = 0; i < 2; ++i) {
    CVideoDecodeOutParam out;
    Bytes& packet = stream_->packets[i];
    EXPECT_EQ(codec_.Decode(packet.data(), static_cast<int>(packet.size()), &out), 0);
    EXPECT_EQ(out.m_nNum, 0);
  }
  EXPECT_EQ(WithoutSizeLine(capture->OwnLines()),
            (std::vector<LogLine>{{kError, "[CODE]av_buffersink_get_frame failed"},
                                  {kError, "[CODE]av_buffersink_get_frame failed"}}));
  // A text that gives pictures again brings them back.
  codec_.SetEasyParam(Easy("hflip"));
  ExpectPicture(2, "hflip");
}

// ---------------------------------------------------------------------------------------------
// Encoder side.

using codec_test::EncoderParam;
using codec_test::TestPictures;

// The packets Encode gave for these pictures, each of which must give one.
std::vector<Bytes> EncodeEach(CFFMpegVideoCodec& codec, std::span<const FramePtr> pictures) {
  codec_test::EncodeRun run = codec_test::EncodePictures(codec, pictures);
  EXPECT_EQ(run.results, std::vector<int>(pictures.size(), 1));
  return std::move(run.packets);
}

struct EncoderFilterCase {
  const char* name;
  PixelFormat source;
  AVPixelFormat sourceAv;
  const char* description;
  bool scaler;  // after the first picture
  AVPixelFormat swsSource;
};

class EncoderFilter : public ::testing::TestWithParam<EncoderFilterCase> {};

TEST_P(EncoderFilter, PacketsCarryTheFilteredPictures) {
  const EncoderFilterCase& c = GetParam();
  CFFMpegVideoCodec codec;
  ASSERT_EQ(codec.Init(AV_CODEC_TYPE_H264ENC, EncoderParam(c.source, 96, 64,
                                                                     c.description)),
            0);
  codec_test::ScopedLogCapture capture;
  const auto sources = TestPictures(c.sourceAv, 96, 64, 4);
  const auto decoded = codec_test::DecodePackets(AV_CODEC_ID_H264, EncodeEach(codec, sources));
  EXPECT_TRUE(capture->OwnLines().empty());
  EXPECT_EQ(Peer::Sws(codec) != nullptr, c.scaler);
  if (c.scaler) {
    EXPECT_EQ(Peer::SwsSrcPixFmt(codec), c.swsSource);
  }
  ASSERT_EQ(decoded.size(), sources.size());
  for (size_t i = 0; i < sources.size(); ++i) {
    SCOPED_TRACE(i);
    const FramePtr filtered = codec_test::FilterReference(c.description, sources[i].get());
    EXPECT_GT(codec_test::Psnr(decoded[i].get(), filtered.get()), 35.0);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Encode, EncoderFilter,
    ::testing::Values(
        EncoderFilterCase{"Mirror", PIX_FMT_YUV420P, AV_PIX_FMT_YUV420P, "hflip", false,
                          AV_PIX_FMT_NONE},
        // The filter's format differs from the encoder's: a scaler is made for it.
        EncoderFilterCase{"ToNv12MakesScaler", PIX_FMT_YUV420P, AV_PIX_FMT_YUV420P,
                          "format=nv12", true, AV_PIX_FMT_NV12},
        // The scaler made for BGRA input is rebuilt for the filter's RGB24.
        EncoderFilterCase{"BgraToRgb24RebuildsScaler", PIX_FMT_BGRA, AV_PIX_FMT_BGRA,
                          "hflip,format=rgb24", true, AV_PIX_FMT_RGB24},
        EncoderFilterCase{"BgraKeepsItsScaler", PIX_FMT_BGRA, AV_PIX_FMT_BGRA, "vflip", true,
                          AV_PIX_FMT_BGRA}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(EncoderFilterSwap, FormatChangeBetweenCallsRebuildsTheScaler) {
  CFFMpegVideoCodec codec;
  ASSERT_EQ(codec.Init(AV_CODEC_TYPE_H264ENC,
                       EncoderParam(PIX_FMT_YUV420P, 96, 64, "format=nv12")),
            0);
  const auto sources = TestPictures(AV_PIX_FMT_YUV420P, 96, 64, 4);
  std::vector<Bytes> packets = EncodeEach(codec, std::span(sources).first(2));
  const SwsContext* first = Peer::Sws(codec);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(Peer::SwsSrcPixFmt(codec), AV_PIX_FMT_NV12);

  // A graph of another output format replaces the first one between two pictures.
  ASSERT_EQ(Peer::InitFilter(codec, Peer::CodecCtx(codec), 96, 64, AV_PIX_FMT_YUV420P,
                             "hflip,format=rgb24"),
            0);
  for (const Bytes& packet : EncodeEach(codec, std::span(sources).subspan(2))) {
    packets.push_back(packet);
  }
  EXPECT_EQ(Peer::SwsSrcPixFmt(codec), AV_PIX_FMT_RGB24);
  EXPECT_EQ(Peer::SwsSrcWidth(codec), 96);
  EXPECT_EQ(Peer::SwsSrcHeight(codec), 64);
  const auto decoded = codec_test::DecodePackets(AV_CODEC_ID_H264, packets);
  ASSERT_EQ(decoded.size(), 4u);
  EXPECT_GT(codec_test::Psnr(decoded[1].get(), sources[1].get()), 35.0);
  const FramePtr mirrored =
      codec_test::FilterReference("hflip,format=rgb24", sources[3].get());
  EXPECT_GT(codec_test::Psnr(decoded[3].get(), mirrored.get()), 35.0);
}

// The scaler's input is the filter's output: its size must be announced when the filter
// changes it.
TEST(EncoderFilterSize, AnnouncedFilterOutputSizeFeedsTheScaler) {
  CFFMpegVideoCodec codec;
  CodecParam param = EncoderParam(PIX_FMT_BGRA, 96, 64, "scale=48:32");
  param.stVideo.nFilterOutWidth = 48;
  param.stVideo.nFilterOutHeight = 32;
  ASSERT_EQ(codec.Init(AV_CODEC_TYPE_H264ENC, param), 0);
  EXPECT_EQ(Peer::SwsSrcWidth(codec), 48);
  EXPECT_EQ(Peer::SwsSrcHeight(codec), 32);
  const auto sources = TestPictures(AV_PIX_FMT_BGRA, 96, 64, 2);
  const auto decoded = codec_test::DecodePackets(
      AV_CODEC_ID_H264, EncodeEach(codec, std::span(sources).first(2)));
  ASSERT_EQ(decoded.size(), 2u);
  EXPECT_EQ(decoded[1]->width, 96);  // the encoder keeps the source size
  EXPECT_EQ(decoded[1]->height, 64);
  const FramePtr small = codec_test::FilterReference("scale=48:32", sources[1].get());
  const FramePtr expected = codec_test::ConvertPicture(small.get(), 96, 64, AV_PIX_FMT_YUV420P);
  EXPECT_GT(codec_test::Psnr(decoded[1].get(), expected.get()), 30.0);
}

TEST(EncoderFilterSize, UnannouncedFilterOutputSizeFailsTheConversion) {
  CFFMpegVideoCodec codec;
  ASSERT_EQ(codec.Init(AV_CODEC_TYPE_H264ENC,
                       EncoderParam(PIX_FMT_BGRA, 96, 64, "scale=48:32")),
            0);
  Bytes picture =
      codec_test::PackPicture(codec_test::MakeTestPicture(96, 64, AV_PIX_FMT_BGRA, 0).get());
  codec_test::ScopedLogCapture capture;
  CVideoEncodeOutParam out;
  EXPECT_EQ(codec.Encode(picture.data(), static_cast<int>(picture.size()), &out), -1);
  const auto lines = capture->OwnLines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].level, kError);
  EXPECT_EQ(lines[0].text.rfind("[CODE]sws_scale_frame failed:-", 0), 0u) << lines[0].text;
}

TEST(EncoderFilterFailure, PullThatGivesNothingFailsTheCall) {
  CFFMpegVideoCodec codec;
  ASSERT_EQ(codec.Init(AV_CODEC_TYPE_H264ENC,
                       EncoderParam(PIX_FMT_YUV420P, 32, 16, "reverse")),
            0);
  codec_test::ScopedLogCapture capture;
  Bytes picture =
      codec_test::PackPicture(codec_test::MakeTestPicture(32, 16, AV_PIX_FMT_YUV420P, 0).get());
  CVideoEncodeOutParam out;
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(codec.Encode(picture.data(), static_cast<int>(picture.size()), &out), -1);
    EXPECT_EQ(out.m_nNum, 0);
  }
  EXPECT_EQ(capture->OwnLines(),
            (std::vector<LogLine>{{kError, "[CODE]av_buffersink_get_frame failed"},
                                  {kError, "[CODE]av_buffersink_get_frame failed"}}));
}

TEST(EncoderFilterFailure, TextThatCannotBeConfiguredFailsInit) {
  CFFMpegVideoCodec codec;
  codec_test::ScopedLogCapture capture;
  EXPECT_EQ(codec.Init(AV_CODEC_TYPE_H264ENC,
                       EncoderParam(PIX_FMT_YUV420P, 32, 16, "overlay")),
            -1);
  const auto lines = capture->OwnLines();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0].level, kDebug);
  EXPECT_EQ(lines[0].text.rfind("[CODE]avfilter_graph_config failed：[", 0), 0u) << lines[0].text;
  EXPECT_EQ(lines[1], (LogLine{kError, "[CODE]InitFilter failed"}));
  EXPECT_EQ(lines[2], (LogLine{kDebug, "[CODE]video codec uninit"}));
  EXPECT_EQ(Peer::Graph(codec), nullptr);
  Bytes picture(32 * 16 * 3 / 2, 0x80);
  CVideoEncodeOutParam out;
  EXPECT_EQ(codec.Encode(picture.data(), static_cast<int>(picture.size()), &out), -1);
}

}  // namespace
