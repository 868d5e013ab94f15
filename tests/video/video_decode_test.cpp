// Decoding packets into pictures, held to FFmpeg's own decoding and scaling of the same packets.
#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <thread>

#include "support/log_capture.h"
#include "support/media.h"

namespace {

using namespace codec_interface;
using namespace codec_test;

// Four pictures per stream, made once per process: encoding is the slow part of these tests.
const EncodedStream& Stream(const char* encoder, int width, int height) {
  static std::map<std::tuple<std::string, int, int>, EncodedStream> made;
  auto [it, fresh] = made.try_emplace({encoder, width, height});
  if (fresh) it->second = EncodeVideo(encoder, width, height, 4);
  return it->second;
}

int Decode(ICodecInterface& codec, const Bytes& packet, CVideoDecodeOutParam& out) {
  return codec.Decode(const_cast<uint8_t*>(packet.data()), static_cast<int>(packet.size()), &out);
}

// The out-param holds one entry that describes its picture, and the picture is `expected`.
void ExpectPicture(const CVideoDecodeOutParam& out, const AVFrame* expected, PixelFormat format) {
  ASSERT_EQ(out.m_nNum, 1);
  const AVFrame* f = out.m_pFrame[0];
  EXPECT_EQ(std::tuple(out.m_nWidth, out.m_nHeight, out.m_ePixelFormat),
            std::tuple(f->width, f->height, format));
  for (int p = 0; p < 4; ++p) {
    EXPECT_EQ(std::tuple(out.m_outData[0].pData[p], out.m_outData[0].nLinesize[p]),
              std::tuple(f->data[p], f->linesize[p]));
  }
  EXPECT_TRUE(SamePixels(f, expected)) << "pixels differ";
}

LogLine Learned(int width, int height) {
  return {20, "[CODE]Src pix changed [0*0]->[" + std::to_string(width) + "*" +
                  std::to_string(height) + "]"};
}
LogLine Scaled(int width, int height, int from, int to) {
  return {20, "[CODE]Get RelDst[" + std::to_string(width) + "*" + std::to_string(height) +
                  "] format[" + std::to_string(from) + "->" + std::to_string(to) + "]"};
}

TEST(VideoDecode, UntouchedPictures_EqualFfmpegsOwnDecode) {
  const struct {
    CodecType type;
    const char* encoder;
    const char* decoder;
    int width, height;
    PixelFormat format;
    int id;
  } cases[] = {
      {AV_CODEC_TYPE_H264DEC, "libx264", "h264", 1280, 720, PIX_FMT_YUV420P, 27},
      {AV_CODEC_TYPE_H264DEC, "libx264", "h264", 322, 182, PIX_FMT_YUV420P, 27},
      {AV_CODEC_TYPE_HEVCDEC, "libx265", "hevc", 640, 360, PIX_FMT_YUV420P, 173},
      {AV_CODEC_TYPE_MJPEGDEC, "mjpeg", "mjpeg", 321, 241, PIX_FMT_YUVJ420P, 7},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.encoder << " " << c.width << "x" << c.height);
    const EncodedStream& video = Stream(c.encoder, c.width, c.height);
    const auto expected = DecodeWith(c.decoder, video.data);
    ASSERT_EQ(expected.size(), video.data.size());
    ScopedLogCapture capture;
    auto codec = OpenCodec(c.type, VideoParam(PIX_FMT_NONE));
    CVideoDecodeOutParam out;  // borrows the codec's picture
    for (size_t i = 0; i < expected.size(); ++i) {
      ASSERT_EQ(Decode(*codec, video.data[i], out), 1);
      ExpectPicture(out, expected[i].get(), c.format);
      EXPECT_FALSE(out.m_bDecodeError);
    }
    const std::string init = "[CODE]video codec init succ; Using codec: " + std::string(c.decoder) +
                             " (ID: " + std::to_string(c.id) + ")";
    EXPECT_EQ(capture->OwnLines(), (std::vector<LogLine>{{20, init}, Learned(c.width, c.height)}));
  }
}

// Owning entries keep their own pixels after later calls and after the codec's end.
TEST(VideoDecode, ScaledPictures_EqualSwsScaleAtTheFittedSizeAndOutliveTheCodec) {
  const struct {
    int srcW, srcH;
    CodecParam param;
    int width, height;
    AVPixelFormat av;  // NONE: the picture goes out untouched
    PixelFormat format;
  } cases[] = {
      {1280, 720, VideoParam(PIX_FMT_NONE), 1280, 720, AV_PIX_FMT_NONE, PIX_FMT_YUV420P},
      {1280, 720, VideoParam(PIX_FMT_BGRA, 0, 0, 640, 360), 640, 360, AV_PIX_FMT_BGRA, PIX_FMT_BGRA},
      {1280, 720, VideoParam(PIX_FMT_RGB24, 0, 0, 500, 500, true), 500, 281, AV_PIX_FMT_RGB24,
       PIX_FMT_RGB24},
      {1280, 720, VideoParam(PIX_FMT_NV12), 1280, 720, AV_PIX_FMT_NV12, PIX_FMT_NV12},
      // One side only asks for no size: the format changes alone.
      {1280, 720, VideoParam(PIX_FMT_YUYV422, 0, 0, 640, 0, true), 1280, 720, AV_PIX_FMT_YUYV422,
       PIX_FMT_YUYV422},
      {1280, 720, VideoParam(PIX_FMT_NONE, 0, 0, 320, 200), 320, 200, AV_PIX_FMT_YUV420P,
       PIX_FMT_YUV420P},
      {1080, 1920, VideoParam(PIX_FMT_RGBA, 0, 0, 640, 640, true), 360, 640, AV_PIX_FMT_RGBA,
       PIX_FMT_RGBA},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.srcW << "x" << c.srcH << " to " << c.width << "x"
                                    << c.height << " " << c.format);
    const EncodedStream& video = Stream("libx264", c.srcW, c.srcH);
    const auto decoded = DecodeWith("h264", video.data);
    ASSERT_EQ(decoded.size(), video.data.size());
    std::vector<CVideoDecodeOutParam> kept(decoded.size(),
                                           CVideoDecodeOutParam(OUTPARAM_FLAG_NOT_USE_CACHE));
    auto codec = OpenCodec(AV_CODEC_TYPE_H264DEC, c.param);
    std::vector<LogLine> lines = {Learned(c.srcW, c.srcH)};
    if (c.av != AV_PIX_FMT_NONE) lines.push_back(Scaled(c.width, c.height, 0, c.av));
    ScopedLogCapture capture;
    for (size_t i = 0; i < kept.size(); ++i) ASSERT_EQ(Decode(*codec, video.data[i], kept[i]), 1);
    EXPECT_EQ(capture->OwnLines(), lines);
    codec.reset();
    for (size_t i = 0; i < kept.size(); ++i) {
      SCOPED_TRACE(i);
      const FramePtr expected = c.av == AV_PIX_FMT_NONE
                                    ? FramePtr(av_frame_clone(decoded[i].get()))
                                    : Scale(decoded[i].get(), c.width, c.height, c.av);
      ExpectPicture(kept[i], expected.get(), c.format);
    }
  }
}

// A bigger picture mid-stream: a new decoder takes the same packet again, unless the source size
// was fixed.
TEST(VideoDecode, SizeSwitchMidStream_NewDecoderTakesTheSamePacketAgain) {
  const EncodedStream& small = Stream("libx264", 1280, 720);
  const EncodedStream& large = Stream("libx264", 1920, 1080);
  const auto decoded = DecodeWith("h264", large.data);
  const LogLine change{20, "[CODE]Src pix changed[1280*720]->[1920*1080] DecodeChangeSize"};
  const struct {
    CodecParam param;
    int result;
    std::vector<LogLine> lines;
    FramePtr expected;
    PixelFormat format;
  } cases[] = {
      {VideoParam(PIX_FMT_NONE), 1, {change}, FramePtr(av_frame_clone(decoded.at(0).get())),
       PIX_FMT_YUV420P},
      {VideoParam(PIX_FMT_BGRA, 0, 0, 640, 640, true), 1, {change, Scaled(640, 360, 0, 28)},
       Scale(decoded[0].get(), 640, 360, AV_PIX_FMT_BGRA), PIX_FMT_BGRA},
      {VideoParam(PIX_FMT_NONE, 1280, 720), -1,
       {{60, "[CODE]Src pix changed [1280*720]->[1920*1080]"}}, nullptr, PIX_FMT_NONE},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.result);
    auto codec = OpenCodec(AV_CODEC_TYPE_H264DEC, c.param);
    CVideoDecodeOutParam out;
    for (const Bytes& packet : small.data) ASSERT_EQ(Decode(*codec, packet, out), 1);
    ScopedLogCapture capture;
    EXPECT_EQ(Decode(*codec, large.data[0], out), c.result);
    EXPECT_EQ(capture->OwnLines(), c.lines);
    if (c.result < 0) {
      EXPECT_EQ(out.m_nNum, 0);
      continue;
    }
    ExpectPicture(out, c.expected.get(), c.format);
    ASSERT_EQ(Decode(*codec, large.data[1], out), 1);  // the new decoder carries on
    EXPECT_EQ(capture->OwnLines(), c.lines);
  }
}

TEST(VideoDecode, PacketsWithoutAGoodPicture_LeaveTheDecoderUsable) {
  const EncodedStream& h264 = Stream("libx264", 1280, 720);
  Bytes garbage(600);
  for (size_t i = 0; i < garbage.size(); ++i) garbage[i] = static_cast<uint8_t>(i * 37 + 11);
  Bytes damaged = h264.data[0];
  std::fill(damaged.begin() + static_cast<ptrdiff_t>(damaged.size() / 2), damaged.end(), 0);
  // The parameter sets only: the packet cut before its IDR slice.
  const Bytes idr = {0, 0, 1, 0x65};
  const Bytes sets(h264.data[0].begin(), std::search(h264.data[0].begin(), h264.data[0].end(),
                                                     idr.begin(), idr.end()) - 1);
  const struct {
    CodecType type;
    const EncodedStream& video;
    Bytes input;
    int result;
  } cases[] = {
      {AV_CODEC_TYPE_H264DEC, h264, sets, 0},
      {AV_CODEC_TYPE_H264DEC, h264, garbage, 0},
      {AV_CODEC_TYPE_HEVCDEC, Stream("libx265", 640, 360), garbage, 0},
      {AV_CODEC_TYPE_MJPEGDEC, Stream("mjpeg", 321, 241), garbage, 0},
      {AV_CODEC_TYPE_H264DEC, h264, damaged, 1},  // handed out, marked
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.type << " " << c.input.size());
    auto codec = OpenCodec(c.type, VideoParam(PIX_FMT_NONE));
    ScopedLogCapture capture;
    CVideoDecodeOutParam out;
    EXPECT_EQ(Decode(*codec, c.input, out), c.result);
    EXPECT_EQ(std::tuple(out.m_nNum, out.m_bDecodeError), std::tuple(c.result, c.result == 1));
    EXPECT_TRUE(c.result == 1 || capture->OwnLines().empty());
    EXPECT_EQ(Decode(*codec, c.video.data[0], out), 1);
    EXPECT_FALSE(out.m_bDecodeError);
  }
}

TEST(VideoDecode, EasyParamAndReset_TakeEffectAtTheNextPicture) {
  const EncodedStream& video = Stream("libx264", 1280, 720);
  const auto decoded = DecodeWith("h264", video.data);
  const struct {
    int width, height;  // asked for and, when the call succeeds, handed out (0: untouched)
    int result;
    std::vector<LogLine> lines, forwarded;
  } steps[] = {
      {320, 240, 1, {Learned(1280, 720), {20, "[CODE]reset decode easy param [320*240]"},
                     Scaled(320, 240, 0, 0)}, {}},
      {-2, 10, -1,
       {{20, "[CODE]reset decode easy param [-2*10]"}, Scaled(-2, 10, 0, 0),
        {60, "[CODE]sws_getContext failed:1280-720 0  -2-10 0"}, {60, "[CODE]SwsCtxInit failed"},
        {60, "[CODE]OutPutFrame failed!"}},
       {{60, "1280x720 -> -2x10 is invalid scaling dimension\n"}}},
      {0, 0, 1, {{20, "[CODE]reset decode easy param [0*0]"}}, {}},
  };
  auto codec = OpenCodec(AV_CODEC_TYPE_H264DEC, VideoParam(PIX_FMT_NONE));
  CVideoDecodeOutParam out;
  for (size_t i = 0, next = 0; i < 3; ++i, ++next) {
    SCOPED_TRACE(i);
    const auto& s = steps[i];
    VideoEasyParam easy{};
    easy.nDstWidth = s.width, easy.nDstHeight = s.height;
    codec->SetEasyParam(easy);
    ScopedLogCapture capture;
    EXPECT_EQ(Decode(*codec, video.data[next], out), s.result);
    EXPECT_EQ(capture->OwnLines(), s.lines);
    EXPECT_EQ(capture->ForwardedLines(), s.forwarded);
    if (s.result < 0) {
      EXPECT_EQ(out.m_nNum, 0);
      continue;
    }
    const AVFrame* plain = decoded[next].get();
    const FramePtr expected = s.width == 0 ? FramePtr(av_frame_clone(plain))
                                           : Scale(plain, s.width, s.height, AV_PIX_FMT_YUV420P);
    ExpectPicture(out, expected.get(), PIX_FMT_YUV420P);
    if (i == 0) {  // the scaler serves on
      ASSERT_EQ(Decode(*codec, video.data[++next], out), 1);
      ExpectPicture(out, Scale(decoded[next].get(), 320, 240, AV_PIX_FMT_YUV420P).get(), PIX_FMT_YUV420P);
    }
  }
  // Reset starts a fresh decoder with the new output; nothing to reset before Init.
  ScopedLogCapture capture;
  EXPECT_EQ(ICodecInterface::Create(AV_CODEC_TYPE_H264DEC)->Reset(VideoParam(PIX_FMT_NONE)), -1);
  ASSERT_EQ(codec->Reset(VideoParam(PIX_FMT_BGRA, 0, 0, 320, 180)), 0);
  ASSERT_EQ(Decode(*codec, video.data[0], out), 1);
  ExpectPicture(out, Scale(decoded[0].get(), 320, 180, AV_PIX_FMT_BGRA).get(), PIX_FMT_BGRA);
  EXPECT_EQ(capture->OwnLines(),
            (std::vector<LogLine>{{60, "[CODE]AVCodecContext is null"},
                                  {0, "[CODE]video codec uninit"},
                                  Learned(1280, 720), Scaled(320, 180, 0, 28)}));
}

TEST(VideoDecodeConcurrent, SetEasyParamFromAnotherThread_AppliesAtPictures) {
  const EncodedStream& video = Stream("libx264", 1280, 720);
  auto codec = OpenCodec(AV_CODEC_TYPE_H264DEC, VideoParam(PIX_FMT_BGRA));
  std::atomic<bool> done{false};
  std::thread setter([&] {
    const int sizes[3][2] = {{320, 180}, {0, 0}, {640, 360}};
    for (int i = 0; !done.load(); ++i) {
      VideoEasyParam easy{};
      easy.nDstWidth = sizes[i % 3][0], easy.nDstHeight = sizes[i % 3][1];
      codec->SetEasyParam(easy);
      std::this_thread::yield();
    }
  });
  CVideoDecodeOutParam out;
  for (size_t i = 0; i < 24; ++i) {
    SCOPED_TRACE(i);
    ASSERT_EQ(Decode(*codec, video.data[i % video.data.size()], out), 1);
    const int width = out.m_pFrame[0]->width;
    EXPECT_TRUE(width == 1280 || width == 320 || width == 640) << width;
    EXPECT_EQ(std::tuple(out.m_nWidth, out.m_nHeight * 16, out.m_ePixelFormat),
              std::tuple(width, width * 9, PIX_FMT_BGRA));
  }
  done = true;
  setter.join();
}

}  // namespace
