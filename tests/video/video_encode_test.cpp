// Video encoding and the filter graph, checked with plain libavcodec and libavfilter.
#include <gtest/gtest.h>

#include "support/log_capture.h"
#include "support/media.h"

namespace {

using namespace codec_interface;
using namespace codec_test;

std::vector<FramePtr> Pictures(AVPixelFormat format, int width, int height, int n) {
  std::vector<FramePtr> pictures;
  for (int i = 0; i < n; ++i) pictures.push_back(MakePicture(width, height, format, i));
  return pictures;
}

// What Encode gave for each picture, passed as a packed buffer: results, packets, timestamps.
struct EncodeRun {
  std::vector<int> results;
  std::vector<Bytes> packets;
  std::vector<int64_t> pts;
};
EncodeRun EncodePictures(ICodecInterface& codec, const std::vector<FramePtr>& pictures) {
  EncodeRun run;
  CVideoEncodeOutParam out;
  for (const FramePtr& picture : pictures) {
    Bytes bytes = PackPicture(picture.get());
    run.results.push_back(codec.Encode(bytes.data(), static_cast<int>(bytes.size()), &out));
    for (int k = 0; k < out.m_nNum; ++k) {
      run.packets.emplace_back(out.m_outData[k].pData, out.m_outData[k].pData + out.m_outData[k].nSize);
      run.pts.push_back(out.m_pPacket[k]->pts);
    }
    out.Clear();
  }
  return run;
}

TEST(VideoEncode, PacketsDecodeByPlainFfmpegToTheSource) {
  const struct {
    CodecType type;
    const char* decoder;
    PixelFormat format;
    AVPixelFormat avFormat;
    int width, height;  // coded size; 0: the source's 320x240
    const char* filter;
  } cases[] = {
      {AV_CODEC_TYPE_H264ENC, "h264", PIX_FMT_YUV420P, AV_PIX_FMT_YUV420P, 0, 0, ""},
      {AV_CODEC_TYPE_H264ENC, "h264", PIX_FMT_BGRA, AV_PIX_FMT_BGRA, 0, 0, ""},
      {AV_CODEC_TYPE_H264ENC, "h264", PIX_FMT_YUV420P, AV_PIX_FMT_YUV420P, 160, 120, ""},
      {AV_CODEC_TYPE_HEVCENC, "hevc", PIX_FMT_YUV420P, AV_PIX_FMT_YUV420P, 0, 0, ""},
      {AV_CODEC_TYPE_BMPENC, "bmp", PIX_FMT_BGRA, AV_PIX_FMT_BGRA, 0, 0, ""},  // lossless
      // The filter's output is encoded, through a scaler when its format is not the encoder's.
      {AV_CODEC_TYPE_H264ENC, "h264", PIX_FMT_YUV420P, AV_PIX_FMT_YUV420P, 0, 0, "hflip"},
      {AV_CODEC_TYPE_H264ENC, "h264", PIX_FMT_YUV420P, AV_PIX_FMT_YUV420P, 0, 0, "format=nv12"},
      {AV_CODEC_TYPE_H264ENC, "h264", PIX_FMT_BGRA, AV_PIX_FMT_BGRA, 0, 0, "hflip,format=rgb24"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.decoder << " " << c.format << " " << c.filter);
    auto codec = OpenCodec(c.type, VideoParam(c.format, 320, 240, c.width, c.height, false, c.filter));
    const auto sources = Pictures(c.avFormat, 320, 240, 6);
    ScopedLogCapture capture;
    const EncodeRun run = EncodePictures(*codec, sources);
    EXPECT_TRUE(capture->OwnLines().empty());
    EXPECT_EQ(run.results, std::vector<int>(sources.size(), 1));  // one packet per picture
    const auto decoded = DecodeWith(c.decoder, run.packets);
    ASSERT_EQ(decoded.size(), sources.size());
    for (size_t i = 0; i < decoded.size(); ++i) {
      SCOPED_TRACE(i);
      EXPECT_EQ(std::tuple(decoded[i]->width, decoded[i]->height),
                std::tuple(c.width ? c.width : 320, c.height ? c.height : 240));
      const FramePtr source = *c.filter ? FilterReference(c.filter, sources[i].get())
                                        : FramePtr(av_frame_clone(sources[i].get()));
      if (c.type == AV_CODEC_TYPE_BMPENC) {
        EXPECT_TRUE(SamePixels(decoded[i].get(), source.get()));
      } else {
        EXPECT_GT(Psnr(decoded[i].get(), source.get()), 35.0);
      }
    }
  }
}

TEST(VideoEncode, BufferSizeIsChecked) {
  auto codec = OpenCodec(AV_CODEC_TYPE_H264ENC, VideoParam(PIX_FMT_YUV420P, 64, 48));
  Bytes picture = PackPicture(MakePicture(64, 48, AV_PIX_FMT_YUV420P, 0).get());
  const int size = static_cast<int>(picture.size());
  picture.resize(picture.size() + 4096, 0x5a);
  const std::vector<LogLine> shortLines = {
      {60, "[CODE]av_image_fill_arrays  need buf len[" + std::to_string(size) + "], but get [" +
               std::to_string(size - 1) + "]"},
      {60, "[CODE]FillAVFrame failed"}};
  for (const auto& [given, result, lines] : {std::tuple{size - 1, -1, shortLines},
                                             std::tuple{size + 4096, 1, std::vector<LogLine>{}}}) {
    SCOPED_TRACE(given);
    ScopedLogCapture capture;
    CVideoEncodeOutParam out;
    EXPECT_EQ(codec->Encode(picture.data(), given, &out), result);
    EXPECT_EQ(out.m_nNum, result == 1 ? 1 : 0);
    EXPECT_EQ(capture->OwnLines(), lines);
  }
}

TEST(VideoEncode, TimestampsContinueAcrossResetAndUninit) {
  const CodecParam param = VideoParam(PIX_FMT_YUV420P, 64, 48);
  const auto pictures = Pictures(AV_PIX_FMT_YUV420P, 64, 48, 2);
  auto codec = OpenCodec(AV_CODEC_TYPE_H264ENC, param);
  EXPECT_EQ(EncodePictures(*codec, pictures).pts, (std::vector<int64_t>{0, 1}));
  ASSERT_EQ(codec->Reset(param), 0);
  EXPECT_EQ(EncodePictures(*codec, pictures).pts, (std::vector<int64_t>{2, 3}));
  codec->Uninit();
  ASSERT_EQ(codec->Init(AV_CODEC_TYPE_H264ENC, param), 0);
  EXPECT_EQ(EncodePictures(*codec, pictures).pts, (std::vector<int64_t>{4, 5}));
}

// Cache mode lends the codec's one reused packet; an owning out-param keeps a packet of its own
// that outlives the codec and still holds its picture.
TEST(VideoEncode, CacheLendsTheCodecsPacketOwningOutParamKeepsItsOwn) {
  auto codec = OpenCodec(AV_CODEC_TYPE_BMPENC, VideoParam(PIX_FMT_BGRA, 16, 8));
  const auto sources = Pictures(AV_PIX_FMT_BGRA, 16, 8, 2);
  Bytes first = PackPicture(sources[0].get()), second = PackPicture(sources[1].get());
  CVideoEncodeOutParam lent, kept(OUTPARAM_FLAG_NOT_USE_CACHE);
  ASSERT_EQ(codec->Encode(first.data(), static_cast<int>(first.size()), &lent), 1);
  const AVPacket* codecs = lent.m_pPacket[0];
  EXPECT_EQ(lent.m_outData[0].pData, codecs->data);
  lent.Clear();
  ASSERT_EQ(codec->Encode(first.data(), static_cast<int>(first.size()), &kept), 1);
  ASSERT_EQ(codec->Encode(second.data(), static_cast<int>(second.size()), &lent), 1);
  EXPECT_EQ(lent.m_pPacket[0], codecs);
  EXPECT_NE(kept.m_pPacket[0], codecs);
  lent.Clear();  // a lent packet goes back before the codec goes
  codec.reset();
  const auto decoded = DecodeWith(
      "bmp", {Bytes(kept.m_outData[0].pData, kept.m_outData[0].pData + kept.m_outData[0].nSize)});
  ASSERT_EQ(decoded.size(), 1u);
  EXPECT_TRUE(SamePixels(decoded[0].get(), sources[0].get()));
}

// A decoder's filter applies to every picture and takes a new text at the next picture; a text
// that fails logs its step (with the full-width colon) on every picture, which passes unfiltered.
TEST(VideoFilter, DecoderFilters_FollowTheTextOrLogTheFailingStep) {
  const EncodedStream video = EncodeVideo("libx264", 96, 64, 3);
  const auto plain = DecodeWith("h264", video.data);
  const auto failed = [](const std::string& step, int err) {
    return std::vector<LogLine>{{0, "[CODE]" + step + " failed：[" + ErrorText(err) + "]"},
                                {60, "[CODE]InitFilter failed"}};
  };
  const std::vector<std::pair<const char*, std::vector<LogLine>>> cases = {
      {"hflip", {}}, {"vflip", {}}, {"", {}},
      {"hflip,nosuchfilter",
       failed("avfilter_graph_parse2 for [hflip,nosuchfilter]", AVERROR_FILTER_NOT_FOUND)},
      {"overlay", failed("avfilter_graph_config", AVERROR(EINVAL))},  // second input left open
      {"testsrc", failed("avfilter_link filter input", AVERROR(EINVAL))},
      {"hflip,nullsink", failed("avfilter_link filter output", AVERROR(EINVAL))},
  };
  auto switched = OpenCodec(AV_CODEC_TYPE_H264DEC, VideoParam(PIX_FMT_NONE, 0, 0, 0, 0, false, "hflip"));
  for (const auto& [text, lines] : cases) {
    SCOPED_TRACE(text);
    auto fresh = OpenCodec(AV_CODEC_TYPE_H264DEC, VideoParam(PIX_FMT_NONE, 0, 0, 0, 0, false, text));
    VideoEasyParam easy{};
    std::snprintf(easy.szFilterDesc, sizeof easy.szFilterDesc, "%s", text);
    switched->SetEasyParam(easy);
    for (ICodecInterface* codec : {fresh.get(), switched.get()}) {
      for (size_t i = 0; i < plain.size(); ++i) {
        CVideoDecodeOutParam out;
        ScopedLogCapture capture;
        ASSERT_EQ(codec->Decode(const_cast<uint8_t*>(video.data[i].data()),
                                static_cast<int>(video.data[i].size()), &out), 1);
        std::vector<LogLine> got = capture->OwnLines();
        std::erase(got, LogLine{20, "[CODE]Src pix changed [0*0]->[96*64]"});
        EXPECT_EQ(got, lines);
        const bool filtered = *text && lines.empty();
        EXPECT_TRUE(SamePixels(out.m_pFrame[0], filtered ? FilterReference(text, plain[i].get()).get()
                                                         : plain[i].get()));
      }
    }
  }
}

// "reverse" holds every picture back until the end of the stream: no picture is the answer.
TEST(VideoFilter, FilterThatHoldsPicturesBackGivesNoPicture) {
  const EncodedStream video = EncodeVideo("libx264", 96, 64, 3);
  auto decoder = OpenCodec(AV_CODEC_TYPE_H264DEC, VideoParam(PIX_FMT_NONE, 0, 0, 0, 0, false, "reverse"));
  auto encoder = OpenCodec(AV_CODEC_TYPE_H264ENC, VideoParam(PIX_FMT_YUV420P, 96, 64, 0, 0, false, "reverse"));
  ScopedLogCapture capture;
  for (const Bytes& packet : video.data) {
    CVideoDecodeOutParam out;
    EXPECT_EQ(decoder->Decode(const_cast<uint8_t*>(packet.data()), static_cast<int>(packet.size()), &out), 0);
    EXPECT_EQ(out.m_nNum, 0);
  }
  const EncodeRun run = EncodePictures(*encoder, Pictures(AV_PIX_FMT_YUV420P, 96, 64, 2));
  EXPECT_EQ(run.results, (std::vector<int>{-1, -1}));
  std::vector<LogLine> lines = capture->OwnLines();
  std::erase(lines, LogLine{20, "[CODE]Src pix changed [0*0]->[96*64]"});
  EXPECT_EQ(lines, std::vector<LogLine>(5, LogLine{60, "[CODE]av_buffersink_get_frame failed"}));
}

}  // namespace
