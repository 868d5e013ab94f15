// Video encoding and the filter graph, checked with plain libavcodec and libavfilter.
#include <gtest/gtest.h>

#include "interface/log.h"
#include "support/log_capture.h"
#include "support/video_check.h"
#include "video/ffmpeg_video_codec.h"

namespace codec_interface {
// Test access to the private steps and members these tests look at.
struct VideoCodecTestPeer {
  using Codec = CFFMpegVideoCodec;
  static int InitFilter(Codec& c, AVCodecContext* ctx, int width, const char* text) {
    return c.InitFilter(ctx, width, 48, AV_PIX_FMT_NV12, text);
  }
  static AVCodecContext* Ctx(Codec& c) { return c.m_pCodecCtx.get(); }
  static SwsContext* Sws(Codec& c) { return c.m_scaler.Context(); }
  static AVPixelFormat SwsSrcPixFmt(Codec& c) { return c.m_scaler.Geometry().eSrcFormat; }
  static AVPacket* Packet(Codec& c) { return c.m_pPacket.get(); }
  static AVFilterGraph* Graph(Codec& c) { return c.m_filterGraph.Graph(); }
  static AVFilterContext* BufferSrc(Codec& c) { return c.m_filterGraph.Source(); }
};
}  // namespace codec_interface

namespace {

using namespace codec_interface;
using namespace codec_test;
using Peer = VideoCodecTestPeer;

constexpr int kDebug = 0;
constexpr int kError = 60;

class VideoEncodeTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    stream_ = new EncodedVideo(EncodeTestVideo("libx264", 96, 64, 5));
    plain_ = new std::vector<FramePtr>(DecodePackets(AV_CODEC_ID_H264, stream_->packets));
  }
  static void TearDownTestSuite() {
    delete plain_;
    delete stream_;
  }

  static std::vector<FramePtr> Pictures(AVPixelFormat format, int width, int height, int n) {
    std::vector<FramePtr> pictures;
    for (int i = 0; i < n; ++i) pictures.push_back(MakeTestPicture(width, height, format, i));
    return pictures;
  }

  // Decodes packet i through `codec`; the picture must equal the plain one run through
  // `expected` (nullptr: unfiltered).
  static void ExpectDecoded(CFFMpegVideoCodec& codec, size_t i, const char* expected) {
    SCOPED_TRACE(i);
    CVideoDecodeOutParam out;
    Bytes& packet = stream_->packets[i];
    ASSERT_EQ(codec.Decode(packet.data(), static_cast<int>(packet.size()), &out), 1);
    const FramePtr filtered = expected ? FilterReference(expected, (*plain_)[i].get()) : nullptr;
    EXPECT_TRUE(SamePixels(out.m_pFrame[0], filtered ? filtered.get() : (*plain_)[i].get()));
  }

  static CodecParam DecoderParam(const char* text) {
    CodecParam param{};
    std::snprintf(param.stVideo.szFilterDesc, sizeof param.stVideo.szFilterDesc, "%s", text);
    return param;
  }

  // The library's lines without the one announcing the first picture's size.
  static std::vector<LogLine> Lines(ScopedLogCapture& capture) {
    std::vector<LogLine> lines = capture->OwnLines();
    std::erase(lines, LogLine{20, "[CODE]Src pix changed [0*0]->[96*64]"});
    return lines;
  }

  static EncodedVideo* stream_;
  static std::vector<FramePtr>* plain_;
};

EncodedVideo* VideoEncodeTest::stream_ = nullptr;
std::vector<FramePtr>* VideoEncodeTest::plain_ = nullptr;

TEST_F(VideoEncodeTest, PacketsDecodeByPlainFFmpegToTheSource) {
  struct Case {
    const char* name;
    CodecType type;
    AVCodecID id;
    PixelFormat format;
    AVPixelFormat avFormat;
    int dstWidth, dstHeight;  // 0: the source size
    bool scaler;
    bool exact;  // lossless: the pixels must be equal, otherwise PSNR above 35 dB
  };
  const Case cases[] = {
      {"h264 yuv420p", AV_CODEC_TYPE_H264ENC, AV_CODEC_ID_H264, PIX_FMT_YUV420P,
       AV_PIX_FMT_YUV420P, 0, 0, false, false},
      {"h264 bgra", AV_CODEC_TYPE_H264ENC, AV_CODEC_ID_H264, PIX_FMT_BGRA, AV_PIX_FMT_BGRA, 0, 0,
       true, false},
      {"h264 downscaled", AV_CODEC_TYPE_H264ENC, AV_CODEC_ID_H264, PIX_FMT_YUV420P,
       AV_PIX_FMT_YUV420P, 160, 120, true, false},
      {"hevc yuv420p", AV_CODEC_TYPE_HEVCENC, AV_CODEC_ID_HEVC, PIX_FMT_YUV420P,
       AV_PIX_FMT_YUV420P, 0, 0, false, false},
      {"bmp bgra", AV_CODEC_TYPE_BMPENC, AV_CODEC_ID_BMP, PIX_FMT_BGRA, AV_PIX_FMT_BGRA, 0, 0,
       false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CodecParam param = EncoderParam(c.format, 320, 240);
    param.stVideo.nDstWidth = c.dstWidth;
    param.stVideo.nDstHeight = c.dstHeight;
    CFFMpegVideoCodec codec;
    ASSERT_EQ(codec.Init(c.type, param), 0);
    EXPECT_EQ(Peer::Sws(codec) != nullptr, c.scaler);
    const AVCodecContext* ctx = Peer::Ctx(codec);
    EXPECT_EQ(av_cmp_q(ctx->time_base, AVRational{2, 25}), 0);
    EXPECT_EQ(ctx->max_b_frames, 0);
    const auto sources = Pictures(c.avFormat, 320, 240, 6);
    const EncodeRun run = EncodePictures(codec, sources);
    EXPECT_EQ(run.results, std::vector<int>(sources.size(), 1));  // one packet per picture
    const auto decoded = DecodePackets(c.id, run.packets);
    ASSERT_EQ(decoded.size(), sources.size());
    for (size_t i = 0; i < decoded.size(); ++i) {
      SCOPED_TRACE(i);
      EXPECT_EQ(decoded[i]->width, c.dstWidth ? c.dstWidth : 320);
      EXPECT_EQ(decoded[i]->height, c.dstHeight ? c.dstHeight : 240);
      const double psnr = Psnr(decoded[i].get(), sources[i].get());
      EXPECT_TRUE(c.exact ? SamePixels(decoded[i].get(), sources[i].get()) : psnr > 35.0) << psnr;
    }
  }
}

TEST_F(VideoEncodeTest, BufferSizeIsChecked) {
  CFFMpegVideoCodec codec;
  ASSERT_EQ(codec.Init(AV_CODEC_TYPE_H264ENC, EncoderParam(PIX_FMT_YUV420P, 64, 48)), 0);
  Bytes picture = PackPicture(MakeTestPicture(64, 48, AV_PIX_FMT_YUV420P, 0).get());
  const int size = static_cast<int>(picture.size());
  picture.resize(picture.size() + 4096, 0x5a);
  const std::vector<LogLine> shortLines = {
      {kError, "[CODE]av_image_fill_arrays  need buf len[" + std::to_string(size) +
                   "], but get [" + std::to_string(size - 1) + "]"},
      {kError, "[CODE]FillAVFrame failed"}};
  for (const auto& [given, result, lines] : {std::tuple{size - 1, -1, shortLines},
                                             std::tuple{size + 4096, 1, std::vector<LogLine>{}}}) {
    SCOPED_TRACE(given);
    ScopedLogCapture capture;
    CVideoEncodeOutParam out;
    EXPECT_EQ(codec.Encode(picture.data(), given, &out), result);
    EXPECT_EQ(out.m_nNum, result == 1 ? 1 : 0);
    EXPECT_EQ(capture->OwnLines(), lines);
  }
}

TEST_F(VideoEncodeTest, TimestampsContinueAcrossResetAndUninit) {
  CFFMpegVideoCodec codec;
  const CodecParam param = EncoderParam(PIX_FMT_YUV420P, 64, 48);
  const auto pictures = Pictures(AV_PIX_FMT_YUV420P, 64, 48, 2);
  ASSERT_EQ(codec.Init(AV_CODEC_TYPE_H264ENC, param), 0);
  EXPECT_EQ(EncodePictures(codec, pictures).pts, (std::vector<int64_t>{0, 1}));
  ASSERT_EQ(codec.Reset(param), 0);
  EXPECT_EQ(EncodePictures(codec, pictures).pts, (std::vector<int64_t>{2, 3}));
  codec.Uninit();
  ASSERT_EQ(codec.Init(AV_CODEC_TYPE_H264ENC, param), 0);
  EXPECT_EQ(EncodePictures(codec, pictures).pts, (std::vector<int64_t>{4, 5}));
}

TEST_F(VideoEncodeTest, CacheLendsTheCodecsPacketOwningOutParamKeepsItsOwn) {
  CFFMpegVideoCodec codec;
  ASSERT_EQ(codec.Init(AV_CODEC_TYPE_BMPENC, EncoderParam(PIX_FMT_BGRA, 16, 8)), 0);
  const auto sources = Pictures(AV_PIX_FMT_BGRA, 16, 8, 2);
  Bytes first = PackPicture(sources[0].get());
  Bytes second = PackPicture(sources[1].get());
  CVideoEncodeOutParam lent;
  ASSERT_EQ(codec.Encode(first.data(), static_cast<int>(first.size()), &lent), 1);
  EXPECT_EQ(lent.m_pPacket[0], Peer::Packet(codec));
  EXPECT_EQ(lent.m_outData[0].pData, Peer::Packet(codec)->data);
  lent.Clear();
  CVideoEncodeOutParam kept(OUTPARAM_FLAG_NOT_USE_CACHE);
  ASSERT_EQ(codec.Encode(first.data(), static_cast<int>(first.size()), &kept), 1);
  EXPECT_NE(kept.m_pPacket[0], Peer::Packet(codec));
  ASSERT_EQ(codec.Encode(second.data(), static_cast<int>(second.size()), &lent), 1);
  lent.Clear();  // a lent packet must go back before the codec goes
  codec.Uninit();  // the owned packet outlives the codec and still holds the first picture
  const Bytes packet(kept.m_outData[0].pData, kept.m_outData[0].pData + kept.m_outData[0].nSize);
  const auto decoded = DecodePackets(AV_CODEC_ID_BMP, {packet});
  ASSERT_EQ(decoded.size(), 1u);
  EXPECT_TRUE(SamePixels(decoded[0].get(), sources[0].get()));
}

TEST_F(VideoEncodeTest, BufferSourceArgumentsTakeTimeBaseAndAspectWithDefaults) {
  const std::tuple<AVRational, AVRational, const char*, const char*> cases[] = {
      {{0, 1}, {0, 1}, "1/25", "0/1"},
      {{1, 30}, {0, 1}, "1/30", "0/1"},
      {{2, 25}, {4, 3}, "2/25", "4/3"},
  };
  for (const auto& [timeBase, aspect, timeBaseText, aspectText] : cases) {
    SCOPED_TRACE(timeBaseText);
    CFFMpegVideoCodec codec;
    CodecCtxPtr ctx(avcodec_alloc_context3(nullptr));
    ctx->time_base = timeBase;
    ctx->sample_aspect_ratio = aspect;
    ASSERT_EQ(Peer::InitFilter(codec, ctx.get(), 64, "hflip"), 0);
    std::string args;
    for (const char* name : {"video_size", "pix_fmt", "time_base", "pixel_aspect"}) {
      uint8_t* value = nullptr;
      ASSERT_GE(av_opt_get(Peer::BufferSrc(codec), name, AV_OPT_SEARCH_CHILDREN, &value), 0);
      args += std::string(name) + "=" + reinterpret_cast<char*>(value) + ":";
      av_free(value);
    }
    EXPECT_EQ(args, std::string("video_size=64x48:pix_fmt=nv12:time_base=") + timeBaseText +
                        ":pixel_aspect=" + aspectText + ":");
  }
}

TEST_F(VideoEncodeTest, FilterFailuresLogTheirStepWithTheFullWidthColonAndFreeTheGraph) {
  const std::tuple<const char*, int, std::string, int> cases[] = {
      {"hflip,nosuchfilter", 64, "avfilter_graph_parse2 for [hflip,nosuchfilter]",
       AVERROR_FILTER_NOT_FOUND},
      {"overlay", 64, "avfilter_graph_config", AVERROR(EINVAL)},  // second input left open
      {"testsrc", 64, "avfilter_link filter input", AVERROR(EINVAL)},
      {"hflip,nullsink", 64, "avfilter_link filter output", AVERROR(EINVAL)},
      {"hflip", 0, "avfilter_graph_create_filter for src avfilter", AVERROR(EINVAL)},
  };
  for (const auto& [text, width, step, err] : cases) {
    SCOPED_TRACE(text);
    CFFMpegVideoCodec codec;
    ScopedLogCapture capture;
    EXPECT_EQ(Peer::InitFilter(codec, nullptr, width, text), -1);
    EXPECT_EQ(capture->OwnLines(), (std::vector<LogLine>{
                                       {kDebug, "[CODE]" + step + " failed：[" +
                                                    AvErrorText(err) + "]"}}));
    EXPECT_EQ(Peer::Graph(codec), nullptr);
  }
}

TEST_F(VideoEncodeTest, DecoderFilterMirrorsAndTakesANewTextOnTheNextPicture) {
  CFFMpegVideoCodec codec;
  ASSERT_EQ(codec.Init(AV_CODEC_TYPE_H264DEC, DecoderParam("hflip")), 0);
  ScopedLogCapture capture;
  ExpectDecoded(codec, 0, "hflip");
  ExpectDecoded(codec, 1, "hflip");
  VideoEasyParam easy{};
  std::snprintf(easy.szFilterDesc, sizeof easy.szFilterDesc, "vflip");
  codec.SetEasyParam(easy);
  ExpectDecoded(codec, 2, "vflip");
  ExpectDecoded(codec, 3, "vflip");
  easy.szFilterDesc[0] = '\0';  // no text: pictures pass unfiltered
  codec.SetEasyParam(easy);
  ExpectDecoded(codec, 4, nullptr);
  EXPECT_TRUE(Lines(capture).empty());
}

TEST_F(VideoEncodeTest, DecoderTextThatFailsLogsOnEveryPictureWhichPassesUnfiltered) {
  const std::pair<const char*, std::string> cases[] = {
      {"hflip[", "[CODE]avfilter_graph_parse2 for [hflip[] failed：["},
      {"overlay", "[CODE]avfilter_graph_config failed：["},  // no second input
  };
  for (const auto& [text, line] : cases) {
    SCOPED_TRACE(text);
    CFFMpegVideoCodec codec;
    ASSERT_EQ(codec.Init(AV_CODEC_TYPE_H264DEC, DecoderParam(text)), 0);
    ScopedLogCapture capture;
    for (size_t i = 0; i < 3; ++i) ExpectDecoded(codec, i, nullptr);
    const auto lines = Lines(capture);
    ASSERT_EQ(lines.size(), 6u);
    for (size_t k = 0; k < lines.size(); k += 2) {
      EXPECT_EQ(lines[k].level, kDebug);
      EXPECT_EQ(lines[k].text.rfind(line, 0), 0u) << lines[k].text;
      EXPECT_EQ(lines[k + 1], (LogLine{kError, "[CODE]InitFilter failed"}));
    }
  }
}

// "reverse" holds every picture back until the end of the stream: no picture is the answer.
TEST_F(VideoEncodeTest, FilterThatHoldsPicturesBackGivesNoPicture) {
  CFFMpegVideoCodec decoder;
  ASSERT_EQ(decoder.Init(AV_CODEC_TYPE_H264DEC, DecoderParam("reverse")), 0);
  ScopedLogCapture capture;
  for (size_t i = 0; i < 3; ++i) {
    CVideoDecodeOutParam out;
    Bytes& packet = stream_->packets[i];
    EXPECT_EQ(decoder.Decode(packet.data(), static_cast<int>(packet.size()), &out), 0);
    EXPECT_EQ(out.m_nNum, 0);
  }
  CFFMpegVideoCodec encoder;
  ASSERT_EQ(encoder.Init(AV_CODEC_TYPE_H264ENC, EncoderParam(PIX_FMT_YUV420P, 96, 64, "reverse")),
            0);
  const EncodeRun run = EncodePictures(encoder, Pictures(AV_PIX_FMT_YUV420P, 96, 64, 2));
  EXPECT_EQ(run.results, (std::vector<int>{-1, -1}));
  EXPECT_TRUE(run.packets.empty());
  std::vector<LogLine> lines = Lines(capture);
  std::erase(lines, LogLine{20, "[CODE]video codec init succ; Using codec: libx264 (ID: 27)"});
  EXPECT_EQ(lines, std::vector<LogLine>(5, LogLine{kError, "[CODE]av_buffersink_get_frame failed"}));
}

TEST_F(VideoEncodeTest, EncoderFilterOutputIsEncodedThroughAScalerForItsFormat) {
  struct Case {
    PixelFormat format;
    AVPixelFormat avFormat;
    const char* text;
    AVPixelFormat swsSource;  // NONE: no scaler
  };
  const Case cases[] = {
      {PIX_FMT_YUV420P, AV_PIX_FMT_YUV420P, "hflip", AV_PIX_FMT_NONE},
      {PIX_FMT_YUV420P, AV_PIX_FMT_YUV420P, "format=nv12", AV_PIX_FMT_NV12},
      {PIX_FMT_BGRA, AV_PIX_FMT_BGRA, "hflip,format=rgb24", AV_PIX_FMT_RGB24},  // rebuilt
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    CFFMpegVideoCodec codec;
    ASSERT_EQ(codec.Init(AV_CODEC_TYPE_H264ENC, EncoderParam(c.format, 96, 64, c.text)), 0);
    ScopedLogCapture capture;
    const auto sources = Pictures(c.avFormat, 96, 64, 3);
    const EncodeRun run = EncodePictures(codec, sources);
    EXPECT_EQ(run.results, std::vector<int>(sources.size(), 1));
    EXPECT_TRUE(capture->OwnLines().empty());
    EXPECT_EQ(Peer::Sws(codec) ? Peer::SwsSrcPixFmt(codec) : AV_PIX_FMT_NONE, c.swsSource);
    const auto decoded = DecodePackets(AV_CODEC_ID_H264, run.packets);
    ASSERT_EQ(decoded.size(), sources.size());
    for (size_t i = 0; i < sources.size(); ++i) {
      SCOPED_TRACE(i);
      EXPECT_GT(Psnr(decoded[i].get(), FilterReference(c.text, sources[i].get()).get()), 35.0);
    }
  }
}

}  // namespace
