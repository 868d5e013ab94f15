// Video encoding and the filter graph, checked with plain libavcodec and libavfilter.

#include <algorithm>
#include <cmath>
#include <cstring>

#include "interface/pixel_formats.h"
#include "support/media.h"

namespace {

using namespace codec_test;

// One picture through a graph that plain libavfilter builds from `description`.
FramePtr FilterReference(const char* description, const AVFrame* picture) {
  FilterGraphPtr graph(avfilter_graph_alloc());
  const std::string text = "buffer=video_size=" + std::to_string(picture->width) + "x" +
                           std::to_string(picture->height) + ":pix_fmt=" + std::to_string(picture->format) +
                           ":time_base=1/25," + description + ",buffersink";
  AVFilterInOut *inputs = nullptr, *outputs = nullptr;
  EXPECT_GE(avfilter_graph_parse2(graph.get(), text.c_str(), &inputs, &outputs), 0) << text;
  const FilterInOutPtr keepInputs(inputs), keepOutputs(outputs);
  EXPECT_GE(avfilter_graph_config(graph.get(), nullptr), 0);
  // Parsed in order: the source comes first; the sink is found by kind (conversions are added).
  AVFilterContext* sink = *std::find_if(graph->filters, graph->filters + graph->nb_filters,
                                        [](auto* f) { return std::strcmp(f->filter->name, "buffersink") == 0; });
  FramePtr in(av_frame_clone(picture)), out(av_frame_alloc());
  EXPECT_GE(av_buffersrc_add_frame(graph->filters[0], in.get()), 0);
  EXPECT_GE(av_buffersink_get_frame(sink, out.get()), 0);
  return out;
}

// What Encode gave for each picture, passed as a packed buffer in a heap block of its exact
// size (a vector made at its size; AddressSanitizer sees any read past it): results, packets,
// timestamps.
struct EncodeRun {
  std::vector<int> results;
  std::vector<Bytes> packets;
  std::vector<int64_t> pts;
};
EncodeRun EncodePictures(ICodecInterface& codec, AVPixelFormat format, int width, int height, int n) {
  EncodeRun run;
  CVideoEncodeOutParam out;
  for (int i = 0; i < n; ++i) {
    Bytes bytes = PackPicture(MakePicture(width, height, format, i).get());
    run.results.push_back(codec.Encode(bytes.data(), static_cast<int>(bytes.size()), &out));
    for (int k = 0; k < out.m_nNum; ++k) {
      run.packets.emplace_back(out.m_outData[k].pData, out.m_outData[k].pData + out.m_outData[k].nSize);
      run.pts.push_back(out.m_pPacket[k]->pts);
    }
    out.Clear();
  }
  return run;
}

// Each picture gave one packet, which plain FFmpeg decodes to the source picture through
// `filter`, fitted to width x height: equal for BMP, above 35 dB otherwise.
void ExpectEncoded(CodecType type, const EncodeRun& run, AVPixelFormat av, int srcWidth, int srcHeight,
                   const char* filter, int width, int height) {
  EXPECT_EQ(run.results, std::vector<int>(run.results.size(), 1));
  const auto decoded = DecodeWith(type == AV_CODEC_TYPE_BMPENC ? "bmp" : type == AV_CODEC_TYPE_HEVCENC ? "hevc" : "h264",
                                  run.packets);
  ASSERT_EQ(decoded.size(), run.results.size());
  for (size_t i = 0; i < decoded.size(); ++i) {
    const FramePtr source = MakePicture(srcWidth, srcHeight, av, int(i));
    const FramePtr filtered = *filter ? FilterReference(filter, source.get()) : nullptr;
    const AVFrame* expected = filtered ? filtered.get() : source.get();
    const FramePtr fitted = expected->width == width && expected->height == height ? nullptr
                                                                                    : Scale(expected, width, height, av);
    if (fitted) expected = fitted.get();
    EXPECT_EQ(std::tuple(decoded[i]->width, decoded[i]->height), std::tuple(width, height));
    EXPECT_TRUE(type == AV_CODEC_TYPE_BMPENC ? SamePixels(decoded[i].get(), expected)
                                             : Psnr(decoded[i].get(), expected) > 35.0) << i;
  }
}

// Every picture gives one packet; plain FFmpeg decodes them to the source pictures (through the
// filter, when there is one): equal for BMP, otherwise above 35 dB. Every picture is read with
// its own geometry, whatever the record declared before.
TEST(VideoEncode, PacketsDecodeByPlainFfmpegToTheSource) {
  // Type, source format and size, coded size (0: the source's), declared filter output size,
  // filter, source size after a Reset (0: none).
  const std::tuple<CodecType, AVPixelFormat, int, int, int, int, int, const char*, int, int> cases[] = {
      {AV_CODEC_TYPE_H264ENC, AV_PIX_FMT_YUV420P, 320, 240, 0, 0, 0, "", 0, 0},
      {AV_CODEC_TYPE_H264ENC, AV_PIX_FMT_BGRA, 320, 240, 0, 0, 0, "", 0, 0},
      {AV_CODEC_TYPE_H264ENC, AV_PIX_FMT_YUV420P, 320, 240, 160, 120, 0, "", 0, 0},
      {AV_CODEC_TYPE_HEVCENC, AV_PIX_FMT_YUV420P, 320, 240, 0, 0, 0, "", 0, 0},
      {AV_CODEC_TYPE_BMPENC, AV_PIX_FMT_BGRA, 320, 240, 0, 0, 0, "", 0, 0},
      // The filter's output is encoded, through a scaler when its format is not the encoder's.
      {AV_CODEC_TYPE_H264ENC, AV_PIX_FMT_BGRA, 320, 240, 0, 0, 0, "hflip,format=rgb24", 0, 0},
      // A filter that changes the size, not declared in the record: scaled back to the coded size.
      {AV_CODEC_TYPE_BMPENC, AV_PIX_FMT_BGRA, 320, 240, 0, 0, 0, "crop=160:120:0:0", 0, 0},
      // A declared filter output size without a filter is not used.
      {AV_CODEC_TYPE_BMPENC, AV_PIX_FMT_BGRA, 16, 16, 32, 32, 64, "", 0, 0},
      {AV_CODEC_TYPE_H264ENC, AV_PIX_FMT_YUV420P, 256, 16, 256, 256, 256, "", 0, 0},
      // A Reset to another source size keeps no graph made for the old one.
      {AV_CODEC_TYPE_BMPENC, AV_PIX_FMT_BGRA, 64, 64, 0, 0, 0, "hflip", 16, 16},
      {AV_CODEC_TYPE_BMPENC, AV_PIX_FMT_BGRA, 16, 16, 0, 0, 0, "hflip", 64, 48},
  };
  for (const auto& [type, av, srcW, srcH, codedW, codedH, filterOut, filter, resetW, resetH] : cases) {
    SCOPED_TRACE(testing::Message() << type << " " << av << " " << srcW << " " << filter);
    CodecParam param = VideoParam(AvToPixelFormat(av), srcW, srcH, codedW, codedH, false, filter);
    param.stVideo.nFilterOutWidth = param.stVideo.nFilterOutHeight = filterOut;
    auto codec = OpenCodec(type, param);
    ScopedLogCapture capture;
    ExpectEncoded(type, EncodePictures(*codec, av, srcW, srcH, 6), av, srcW, srcH, filter, codedW ? codedW : srcW,
                  codedH ? codedH : srcH);
    if (resetW != 0) {
      ASSERT_EQ(codec->Reset(VideoParam(AvToPixelFormat(av), resetW, resetH, 0, 0, false, filter)), 0);
      ExpectEncoded(type, EncodePictures(*codec, av, resetW, resetH, 6), av, resetW, resetH, filter, resetW, resetH);
    }
    EXPECT_TRUE(capture->OwnLines().empty());
  }
}

TEST(VideoEncode, TimestampsContinueAcrossResetAndUninit) {
  const CodecParam param = VideoParam(PIX_FMT_YUV420P, 64, 48);
  auto codec = OpenCodec(AV_CODEC_TYPE_H264ENC, param);
  EXPECT_EQ(EncodePictures(*codec, AV_PIX_FMT_YUV420P, 64, 48, 2).pts, (std::vector<int64_t>{0, 1}));
  ASSERT_EQ(codec->Reset(param), 0);
  EXPECT_EQ(EncodePictures(*codec, AV_PIX_FMT_YUV420P, 64, 48, 2).pts, (std::vector<int64_t>{2, 3}));
  codec->Uninit();
  ASSERT_EQ(codec->Init(AV_CODEC_TYPE_H264ENC, param), 0);
  EXPECT_EQ(EncodePictures(*codec, AV_PIX_FMT_YUV420P, 64, 48, 2).pts, (std::vector<int64_t>{4, 5}));
}

// Cache mode lends the codec's one reused packet; an owning out-param keeps a packet of its own
// that outlives the codec and still holds its picture.
TEST(VideoEncode, CacheLendsTheCodecsPacketOwningOutParamKeepsItsOwn) {
  auto codec = OpenCodec(AV_CODEC_TYPE_BMPENC, VideoParam(PIX_FMT_BGRA, 16, 8));
  const FramePtr source = MakePicture(16, 8, AV_PIX_FMT_BGRA, 0);
  Bytes bytes = PackPicture(source.get());
  CVideoEncodeOutParam lent, kept(OUTPARAM_FLAG_NOT_USE_CACHE);
  ASSERT_EQ(codec->Encode(bytes.data(), static_cast<int>(bytes.size()), &lent), 1);
  const AVPacket* codecs = lent.m_pPacket[0];
  EXPECT_EQ(lent.m_outData[0].pData, codecs->data);
  lent.Clear();
  ASSERT_EQ(codec->Encode(bytes.data(), static_cast<int>(bytes.size()), &kept), 1);
  ASSERT_EQ(codec->Encode(bytes.data(), static_cast<int>(bytes.size()), &lent), 1);
  EXPECT_EQ(lent.m_pPacket[0], codecs);
  EXPECT_NE(kept.m_pPacket[0], codecs);
  lent.Clear();  // a lent packet goes back before the codec goes
  codec.reset();
  const auto decoded = DecodeWith("bmp", {Bytes(kept.m_outData[0].pData, kept.m_outData[0].pData + kept.m_outData[0].nSize)});
  ASSERT_EQ(decoded.size(), 1u);
  EXPECT_TRUE(SamePixels(decoded[0].get(), source.get()));
}

// A decoder's filter applies to every picture, set at Init or by the easy parameters for the
// next picture, after the scaler when a layout and size are asked for: a filter that changes the
// layout (format=rgb24, one plane) still hands out the layout asked for, with every plane of it. A text that
// fails logs its step (with the full-width colon) on every picture, which passes unfiltered.
// "reverse" holds every picture back: no picture, and for an encoder no packet, is the answer.
TEST(VideoFilter, DecoderFilters_FollowTheTextOrLogTheFailingStep) {
  const EncodedStream video = EncodeVideo("libx264", 96, 64, 3);
  const auto plain = DecodeWith("h264", video.data);
  const auto failed = [](const std::string& step, int err) {
    return std::vector<LogLine>{{0, "[CODE]" + step + " failed：[" + ErrorText(err) + "]"},
                                {60, "[CODE]InitFilter failed"}};
  };
  const LogLine noPicture{60, "[CODE]av_buffersink_get_frame failed"};
  const std::pair<const char*, std::vector<LogLine>> cases[] = {
      {"hflip", {}}, {"vflip", {}}, {"", {}}, {"format=rgb24", {}}, {"reverse", {noPicture}},
      {"hflip,nosuchfilter", failed("avfilter_graph_parse2 for [hflip,nosuchfilter]", AVERROR_FILTER_NOT_FOUND)},
      {"overlay", failed("avfilter_graph_config", AVERROR(EINVAL))},  // second input left open
      {"testsrc", failed("avfilter_link filter input", AVERROR(EINVAL))},
      {"hflip,nullsink", failed("avfilter_link filter output", AVERROR(EINVAL))},
  };
  auto switched = OpenCodec(AV_CODEC_TYPE_H264DEC, VideoParam(PIX_FMT_NONE, 0, 0, 0, 0, false, "hflip"));
  for (const auto& [text, lines] : cases) {
    SCOPED_TRACE(text);
    auto scaled = OpenCodec(AV_CODEC_TYPE_H264DEC, VideoParam(PIX_FMT_YUV420P, 0, 0, 48, 32, false, text));
    VideoEasyParam easy{};
    std::snprintf(easy.szFilterDesc, sizeof easy.szFilterDesc, "%s", text);
    switched->SetEasyParam(easy);
    for (ICodecInterface* codec : {scaled.get(), switched.get()}) {
      for (size_t i = 0; i < plain.size(); ++i) {
        CVideoDecodeOutParam out;
        ScopedLogCapture capture;
        const bool held = lines == std::vector{noPicture}, filtered = *text && lines.empty();
        ASSERT_EQ(Decode(*codec, video.data[i], out), held ? 0 : 1);
        std::vector<LogLine> got = capture->OwnLines();
        std::erase_if(got, [](const LogLine& line) { return line.first == 20; });  // the source size learned, the scaler made
        EXPECT_EQ(got, lines);
        if (held) continue;
        const FramePtr input = codec == scaled.get() ? Scale(plain[i].get(), 48, 32, AV_PIX_FMT_YUV420P) : nullptr;
        const AVFrame* source = input ? input.get() : plain[i].get();
        const FramePtr expected = filtered ? FilterReference(text, source) : FramePtr(av_frame_clone(source));
        EXPECT_TRUE(SamePixels(out.m_pFrame[0], input ? Scale(expected.get(), 48, 32, AV_PIX_FMT_YUV420P).get() : expected.get()));
        EXPECT_TRUE(!input || (out.m_ePixelFormat == PIX_FMT_YUV420P && out.m_outData[0].pData[1] && out.m_outData[0].pData[2]));
      }
    }
  }
  auto encoder = OpenCodec(AV_CODEC_TYPE_H264ENC, VideoParam(PIX_FMT_YUV420P, 96, 64, 0, 0, false, "reverse"));
  ScopedLogCapture capture;
  EXPECT_EQ(EncodePictures(*encoder, AV_PIX_FMT_YUV420P, 96, 64, 2).results, (std::vector<int>{-1, -1}));
  EXPECT_EQ(capture->OwnLines(), std::vector<LogLine>(2, noPicture));
}

}  // namespace
