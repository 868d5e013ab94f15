// Decoding packets into pictures, held to FFmpeg's own decoding and scaling of the same packets.

#include <map>

#include "support/media.h"

namespace {

using namespace codec_test;

// Four pictures per stream, made once per process: encoding is the slow part of these tests.
const EncodedStream& Stream(const char* encoder, int width, int height) {
  static std::map<std::tuple<std::string, int, int>, EncodedStream> made;
  auto [it, fresh] = made.try_emplace({encoder, width, height});
  if (fresh) it->second = EncodeVideo(encoder, width, height, 4);
  return it->second;
}

// The out-param holds one entry that describes its picture, and the picture is `expected`, or
// the plain one scaled as sws_scale does it when the output is another.
void ExpectPicture(const CVideoDecodeOutParam& out, const AVFrame* plain, int width, int height,
                   PixelFormat format, AVPixelFormat av) {
  ASSERT_EQ(out.m_nNum, 1);
  const AVFrame* f = out.m_pFrame[0];
  EXPECT_EQ(std::tuple(out.m_nWidth, out.m_nHeight, out.m_ePixelFormat), std::tuple(f->width, f->height, format));
  EXPECT_TRUE(std::equal(f->data, f->data + 4, out.m_outData[0].pData) &&
              std::equal(f->linesize, f->linesize + 4, out.m_outData[0].nLinesize));  // the four planes
  const bool untouched = av == plain->format && width == plain->width && height == plain->height;
  EXPECT_TRUE(SamePixels(f, untouched ? plain : Scale(plain, width, height, av).get()));
}

LogLine Line(const char* head, int width, int height, const std::string& tail = "") {
  return {20, head + std::to_string(width) + "*" + std::to_string(height) + tail};
}
LogLine Learned(int width, int height) { return Line("[CODE]Src pix changed [0*0]->[", width, height, "]"); }
LogLine Scaled(int width, int height, int av) {
  return Line("[CODE]Get RelDst[", width, height, "] format[0->" + std::to_string(av) + "]");
}

// Pictures equal FFmpeg's own decoding of the packets, scaled as plain sws_scale does it to the
// fitted size. Owning entries keep their own pixels after later calls and the codec's end.
TEST(VideoDecode, PicturesEqualFfmpegsOwnDecodeScaledAsSwsScaleDoesAndOutliveTheCodec) {
  // Type, FFmpeg's encoder, source size, the record, the size and format handed out.
  const std::tuple<CodecType, const char*, int, int, CodecParam, int, int, AVPixelFormat> cases[] = {
      {AV_CODEC_TYPE_H264DEC, "libx264", 322, 182, VideoParam(PIX_FMT_NONE), 322, 182, AV_PIX_FMT_YUV420P},
      {AV_CODEC_TYPE_HEVCDEC, "libx265", 640, 360, VideoParam(PIX_FMT_NONE), 640, 360, AV_PIX_FMT_YUV420P},
      {AV_CODEC_TYPE_MJPEGDEC, "mjpeg", 321, 241, VideoParam(PIX_FMT_NONE), 321, 241, AV_PIX_FMT_YUVJ420P},
      {AV_CODEC_TYPE_H264DEC, "libx264", 1280, 720, VideoParam(PIX_FMT_RGB24, 0, 0, 500, 500, true), 500,
       281, AV_PIX_FMT_RGB24},
      {AV_CODEC_TYPE_H264DEC, "libx264", 1280, 720, VideoParam(PIX_FMT_NV12, 0, 0, 320, 200), 320, 200, AV_PIX_FMT_NV12},
      // One side only asks for no size: the format changes alone.
      {AV_CODEC_TYPE_H264DEC, "libx264", 1280, 720, VideoParam(PIX_FMT_YUYV422, 0, 0, 640, 0, true), 1280,
       720, AV_PIX_FMT_YUYV422},
      {AV_CODEC_TYPE_H264DEC, "libx264", 1080, 1920, VideoParam(PIX_FMT_RGBA, 0, 0, 640, 640, true), 360,
       640, AV_PIX_FMT_RGBA},
      // A fitted side that rounds to nothing keeps one pixel, or one chroma sample.
      {AV_CODEC_TYPE_H264DEC, "libx264", 1280, 720, VideoParam(PIX_FMT_RGB24, 0, 0, 1, 5, true), 1, 1, AV_PIX_FMT_RGB24},
      {AV_CODEC_TYPE_H264DEC, "libx264", 1080, 1920, VideoParam(PIX_FMT_YUV420P, 0, 0, 5, 1, true), 2, 1,
       AV_PIX_FMT_YUV420P},
  };
  for (const auto& [type, encoder, srcW, srcH, param, width, height, av] : cases) {
    const EncodedStream& video = Stream(encoder, srcW, srcH);
    const AVCodecID id = avcodec_find_encoder_by_name(encoder)->id;
    const auto plain = DecodeWith(avcodec_get_name(id), video.data);
    std::vector<CVideoDecodeOutParam> kept(4, CVideoDecodeOutParam(OUTPARAM_FLAG_NOT_USE_CACHE));
    const PixelFormat format = param.stVideo.ePixelFormat ? param.stVideo.ePixelFormat
                               : av == AV_PIX_FMT_YUV420P ? PIX_FMT_YUV420P : PIX_FMT_YUVJ420P;
    std::vector<LogLine> lines = {{20, "[CODE]video codec init succ; Using codec: " +
                                           std::string(avcodec_get_name(id)) + " (ID: " + std::to_string(id) + ")"},
                                  Learned(srcW, srcH)};
    if (param.stVideo.ePixelFormat != PIX_FMT_NONE) lines.push_back(Scaled(width, height, av));
    {
      ScopedLogCapture capture;
      auto codec = OpenCodec(type, param);
      for (size_t i = 0; i < 4; ++i) ASSERT_EQ(Decode(*codec, video.data[i], kept[i]), 1);
      EXPECT_EQ(capture->OwnLines(), lines) << encoder << " " << srcW << " " << av;
    }
    for (size_t i = 0; i < 4; ++i) ExpectPicture(kept[i], plain.at(i).get(), width, height, format, av);
  }
}

// A bigger picture from a key frame on, behind reordered pictures, shows several packets after
// it: the re-created decoder starts from that key frame, so the pictures are plain FFmpeg's, each
// once and in order, all 30 of the old size included; only the last few, which need a drain, are
// not out yet. A fixed source size refuses every bigger picture instead.
TEST(VideoDecode, SizeChangeBehindReorderedPictures_LosesAndRepeatsNone) {
  const std::tuple<CodecType, const char*, int> cases[] = {
      {AV_CODEC_TYPE_H264DEC, "libx264", 0}, {AV_CODEC_TYPE_HEVCDEC, "libx265", 0}, {AV_CODEC_TYPE_H264DEC, "libx264", 1}};
  for (const auto& [type, encoder, fixed] : cases) {
    SCOPED_TRACE(testing::Message() << encoder << fixed);
    const std::vector<Bytes> packets =
        EncodeVideo(encoder, 320, 240, 30, {{"bf", "2"}}).data + EncodeVideo(encoder, 640, 480, 30, {{"bf", "2"}}).data;
    const auto plain = DecodeWith(type == AV_CODEC_TYPE_H264DEC ? "h264" : "hevc", packets);
    auto codec = OpenCodec(type, VideoParam(PIX_FMT_NONE, 320 * fixed, 240 * fixed));
    std::vector<CVideoDecodeOutParam> kept(packets.size(), CVideoDecodeOutParam(OUTPARAM_FLAG_NOT_USE_CACHE));
    size_t handed = 0, refused = 0;
    ScopedLogCapture capture;
    for (size_t i = 0; i < packets.size(); ++i) {
      const int result = Decode(*codec, packets[i], kept[i]);  // an exact-size block: ASan sees over-reads
      EXPECT_EQ(kept[i].m_nNum, std::max(result, 0)) << i;
      refused += result == -1;
      if (result == 1) {
        EXPECT_TRUE(SamePixels(kept[i].m_pFrame[0], plain.at(handed++).get())) << i;
      }
    }
    const std::vector<LogLine> lines = fixed ? std::vector<LogLine>(refused, {60, "[CODE]Src pix changed [320*240]->[640*480]"})
        : std::vector<LogLine>{Learned(320, 240), {20, "[CODE]Src pix changed[320*240]->[640*480] DecodeChangeSize"}};
    EXPECT_EQ(capture->OwnLines(), lines);
    EXPECT_EQ(std::tuple(handed >= 30, handed + refused + 3 >= plain.size(), refused > 25), std::tuple(true, true, fixed == 1));
  }
}

// A source that changes its format (MJPEG 4:2:2, then 4:2:0) or its size mid-stream gets a
// scaler and a filter graph built for it, never one made for the pictures before.
TEST(VideoDecode, SourceFormatOrSizeChange_RebuildsScalerAndFilter) {
  const EncodedStream j422 = EncodeVideo("mjpeg", 64, 48, 1, {{"pixel_format", "yuvj422p"}});
  const std::vector<Bytes> formats = {j422.data[0], Stream("mjpeg", 64, 48).data[0]};
  const std::vector<Bytes> sizes = {Stream("mjpeg", 96, 64).data[0], Stream("mjpeg", 64, 48).data[0]};
  const std::tuple<std::vector<Bytes>, CodecParam, int, int, AVPixelFormat> cases[] = {
      {formats, VideoParam(PIX_FMT_RGB24, 0, 0, 32, 24), 32, 24, AV_PIX_FMT_RGB24},
      {sizes, VideoParam(PIX_FMT_NONE, 0, 0, 0, 0, false, "crop=iw/2:ih/2:0:0"), 0, 0, AV_PIX_FMT_YUVJ420P},
  };
  for (const auto& [packets, param, width, height, av] : cases) {
    auto codec = OpenCodec(AV_CODEC_TYPE_MJPEGDEC, param);
    const auto plain = DecodeWith("mjpeg", packets);
    for (size_t i = 0; i < packets.size(); ++i) {
      CVideoDecodeOutParam out;
      ASSERT_EQ(Decode(*codec, packets[i], out), 1) << i;
      FramePtr expected(av_frame_clone(plain.at(i).get()));
      if (width == 0) {
        expected->crop_right = size_t(expected->width / 2), expected->crop_bottom = size_t(expected->height / 2);
        ASSERT_GE(av_frame_apply_cropping(expected.get(), 0), 0);
      }
      const PixelFormat format = width ? PIX_FMT_RGB24 : PIX_FMT_YUVJ420P;
      ExpectPicture(out, expected.get(), width ? width : expected->width, height ? height : expected->height, format, av);
    }
  }
}

TEST(VideoDecode, PacketsWithoutAGoodPicture_LeaveTheDecoderUsable) {
  const EncodedStream& h264 = Stream("libx264", 1280, 720);
  Bytes garbage(600);
  for (size_t i = 0; i < 600; ++i) garbage[i] = static_cast<uint8_t>(i * 37 + 11);
  Bytes damaged = h264.data[0];
  std::fill(damaged.begin() + static_cast<ptrdiff_t>(damaged.size() / 2), damaged.end(), 0);
  const Bytes idr = {0, 0, 1, 0x65};  // the parameter sets alone: cut before the IDR slice
  const Bytes sets(h264.data[0].begin(),
                   std::search(h264.data[0].begin(), h264.data[0].end(), idr.begin(), idr.end()) - 1);
  // The input and the result. FFmpeg's HEVC and MJPEG decoders refuse the garbage as invalid
  // data just as its H.264 one does, so one decoder shows the way through.
  const std::pair<Bytes, int> cases[] = {{sets, 0}, {garbage, 0}, {damaged, 1}};  // 1: handed out, marked
  for (const auto& [input, result] : cases) {
    auto codec = OpenCodec(AV_CODEC_TYPE_H264DEC, VideoParam(PIX_FMT_NONE));
    ScopedLogCapture capture;
    CVideoDecodeOutParam out;
    EXPECT_EQ(Decode(*codec, input, out), result) << input.size();
    EXPECT_EQ(std::tuple(out.m_nNum, out.m_bDecodeError), std::tuple(result, result == 1));
    EXPECT_TRUE(result == 1 || capture->OwnLines().empty());
    EXPECT_EQ(std::tuple(Decode(*codec, h264.data[0], out), out.m_bDecodeError), std::tuple(1, false));
  }
}

// Easy parameters take effect at the next picture, and the scaler they made serves on; Reset
// starts a fresh decoder with the new output (and has nothing to reset before Init).
TEST(VideoDecode, EasyParamAndReset_TakeEffectAtTheNextPicture) {
  const EncodedStream& video = Stream("libx264", 1280, 720);
  const auto plain = DecodeWith("h264", video.data);
  const LogLine swsFailed{60, "[CODE]sws_getContext failed:1280-720 0  -2-10 0"};
  // The size asked for and, when the call succeeds, handed out (0: untouched); the result and
  // our lines (libswscale's own words for the refusal are its business). The second step sets
  // nothing: the scaler serves on.
  const std::tuple<int, int, int, std::vector<LogLine>> steps[] = {
      {320, 240, 1, {Learned(1280, 720), Line("[CODE]reset decode easy param [", 320, 240, "]"), Scaled(320, 240, 0)}},
      {320, 240, 1, {}},
      {-2, 10, -1, {Line("[CODE]reset decode easy param [", -2, 10, "]"), Scaled(-2, 10, 0), swsFailed,
                    {60, "[CODE]SwsCtxInit failed"}, {60, "[CODE]OutPutFrame failed!"}}},
      {0, 0, 1, {Line("[CODE]reset decode easy param [", 0, 0, "]")}},
  };
  auto codec = OpenCodec(AV_CODEC_TYPE_H264DEC, VideoParam(PIX_FMT_NONE));
  CVideoDecodeOutParam out;
  for (size_t i = 0; i < 4; ++i) {
    const auto& [width, height, result, lines] = steps[i];
    if (i != 1) codec->SetEasyParam(VideoEasyParam{width, height, {}});
    ScopedLogCapture capture;
    EXPECT_EQ(Decode(*codec, video.data[i], out), result) << i;
    EXPECT_EQ(std::tuple(capture->OwnLines(), out.m_nNum), std::tuple(lines, result > 0 ? 1 : 0)) << i;
    if (result > 0) {
      ExpectPicture(out, plain[i].get(), width ? width : 1280, height ? height : 720, PIX_FMT_YUV420P,
                    AV_PIX_FMT_YUV420P);
    }
  }
  ScopedLogCapture capture;
  EXPECT_EQ(ICodecInterface::Create(AV_CODEC_TYPE_H264DEC)->Reset(VideoParam(PIX_FMT_NONE)), -1);
  ASSERT_EQ(codec->Reset(VideoParam(PIX_FMT_BGRA, 0, 0, 320, 180)), 0);
  ASSERT_EQ(Decode(*codec, video.data[0], out), 1);
  ExpectPicture(out, plain[0].get(), 320, 180, PIX_FMT_BGRA, AV_PIX_FMT_BGRA);
  EXPECT_EQ(capture->OwnLines(),
            (std::vector<LogLine>{{60, "[CODE]AVCodecContext is null"}, {0, "[CODE]video codec uninit"},
                                  Learned(1280, 720), Scaled(320, 180, AV_PIX_FMT_BGRA)}));
}

}  // namespace
