// Decoding packets into pictures, held to FFmpeg's own decoding and scaling of the same packets.
#include <algorithm>
#include <atomic>
#include <map>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "interface/ffmpeg.h"
#include "support/media.h"
#include "video_codec_peer.h"
#include "video_test_util.h"

namespace codec_interface {
namespace {

using codec_test::Bytes;
using codec_test::EncodedVideo;
using codec_test::LogLine;
using ::testing::IsEmpty;
using Peer = VideoCodecTestPeer;
using VideoDecode = VideoCodecTest;
using VideoDecodeConcurrent = VideoCodecTest;

// Four pictures per stream, made once per process: encoding is the slow part of these tests.
const EncodedVideo& Stream(const char* encoder, int width, int height) {
  static std::map<std::tuple<std::string, int, int>, EncodedVideo> made;
  auto [it, fresh] = made.try_emplace({encoder, width, height});
  if (fresh) it->second = codec_test::EncodeTestVideo(encoder, width, height, 4);
  return it->second;
}

// FFmpeg's own pictures of the packets: a plain send/receive loop on one thread.
std::vector<FramePtr> ReferenceDecode(AVCodecID id, const std::vector<Bytes>& packets) {
  const AVCodec* decoder = avcodec_find_decoder(id);
  CodecCtxPtr ctx(avcodec_alloc_context3(decoder));
  ctx->thread_count = 1;
  EXPECT_EQ(avcodec_open2(ctx.get(), decoder, nullptr), 0);
  PacketPtr packet(av_packet_alloc());
  std::vector<FramePtr> pictures;
  for (const Bytes& bytes : packets) {
    packet->data = const_cast<uint8_t*>(bytes.data());
    packet->size = static_cast<int>(bytes.size());
    EXPECT_EQ(avcodec_send_packet(ctx.get(), packet.get()), 0);
    for (FramePtr frame(av_frame_alloc()); avcodec_receive_frame(ctx.get(), frame.get()) == 0;
         frame.reset(av_frame_alloc())) {
      pictures.push_back(std::move(frame));
    }
  }
  return pictures;
}

// The picture as plain sws_scale with Lanczos makes it.
FramePtr ReferenceScale(const AVFrame* src, int width, int height, AVPixelFormat format) {
  SwsPtr sws(sws_getContext(src->width, src->height, static_cast<AVPixelFormat>(src->format),
                            width, height, format, SWS_LANCZOS, nullptr, nullptr, nullptr));
  FramePtr out(av_frame_alloc());
  EXPECT_GE(sws_scale_frame(sws.get(), out.get(), src), 0);
  return out;
}

// The visible pixels, plane after plane, without row padding.
Bytes Pixels(const AVFrame* frame) {
  const auto format = static_cast<AVPixelFormat>(frame->format);
  Bytes bytes(static_cast<size_t>(
      std::max(av_image_get_buffer_size(format, frame->width, frame->height, 1), 0)));
  av_image_copy_to_buffer(bytes.data(), static_cast<int>(bytes.size()), frame->data,
                          frame->linesize, format, frame->width, frame->height, 1);
  return bytes;
}

// The out-param holds one entry that describes its picture, and the picture is `expected`.
void ExpectPicture(const CVideoDecodeOutParam& out, const AVFrame* expected, PixelFormat format) {
  ASSERT_EQ(out.m_nNum, 1);
  const AVFrame* frame = out.m_pFrame[0];
  ASSERT_NE(frame, nullptr);
  EXPECT_EQ(out.m_nWidth, frame->width);
  EXPECT_EQ(out.m_nHeight, frame->height);
  for (int plane = 0; plane < 4; ++plane) {
    EXPECT_EQ(out.m_outData[0].pData[plane], frame->data[plane]) << plane;
    EXPECT_EQ(out.m_outData[0].nLinesize[plane], frame->linesize[plane]) << plane;
  }
  EXPECT_EQ(out.m_ePixelFormat, format);
  ASSERT_EQ(std::tie(frame->width, frame->height, frame->format),
            std::tie(expected->width, expected->height, expected->format));
  const Bytes pixels = Pixels(expected);
  ASSERT_FALSE(pixels.empty());
  EXPECT_TRUE(Pixels(frame) == pixels) << "pixels differ";
}

int Decode(CFFMpegVideoCodec& codec, const Bytes& packet, CVideoDecodeOutParam& out) {
  return codec.Decode(const_cast<uint8_t*>(packet.data()), static_cast<int>(packet.size()), &out);
}

LogLine Learned(int width, int height) {
  return {20, "[CODE]Src pix changed [0*0]->[" + std::to_string(width) + "*" +
                  std::to_string(height) + "]"};
}

TEST_F(VideoDecode, UntouchedPictures_EqualFfmpegsOwnDecode) {
  struct Case {
    CodecType type;
    AVCodecID id;
    const char* encoder;
    int width, height;
    PixelFormat format;
    const char* init;
  };
  const Case cases[] = {
      {AV_CODEC_TYPE_H264DEC, AV_CODEC_ID_H264, "libx264", 1280, 720, PIX_FMT_YUV420P,
       "[CODE]video codec init succ; Using codec: h264 (ID: 27)"},
      {AV_CODEC_TYPE_H264DEC, AV_CODEC_ID_H264, "libx264", 322, 182, PIX_FMT_YUV420P,
       "[CODE]video codec init succ; Using codec: h264 (ID: 27)"},
      {AV_CODEC_TYPE_HEVCDEC, AV_CODEC_ID_HEVC, "libx265", 640, 360, PIX_FMT_YUV420P,
       "[CODE]video codec init succ; Using codec: hevc (ID: 173)"},
      {AV_CODEC_TYPE_MJPEGDEC, AV_CODEC_ID_MJPEG, "mjpeg", 321, 241, PIX_FMT_YUVJ420P,
       "[CODE]video codec init succ; Using codec: mjpeg (ID: 7)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.encoder << " " << c.width << "x" << c.height);
    const EncodedVideo& video = Stream(c.encoder, c.width, c.height);
    const auto expected = ReferenceDecode(c.id, video.packets);
    ASSERT_EQ(expected.size(), video.packets.size());
    capture_->Clear();
    CFFMpegVideoCodec codec;
    ASSERT_EQ(codec.Init(c.type, Param()), 0);
    CVideoDecodeOutParam out;  // borrows the codec's picture
    for (size_t i = 0; i < expected.size(); ++i) {
      SCOPED_TRACE(i);
      ASSERT_EQ(Decode(codec, video.packets[i], out), 1);
      ExpectPicture(out, expected[i].get(), c.format);
      EXPECT_FALSE(out.m_bDecodeError);
    }
    EXPECT_EQ(capture_->OwnLines(),
              (std::vector<LogLine>{{20, c.init}, Learned(c.width, c.height)}));
  }
}

TEST_F(VideoDecode, SizeSwitchMidStream_NewDecoderTakesTheSamePacketAgain) {
  const EncodedVideo& small = Stream("libx264", 1280, 720);
  const EncodedVideo& large = Stream("libx264", 1920, 1080);
  const auto decoded = ReferenceDecode(AV_CODEC_ID_H264, large.packets);
  ASSERT_EQ(decoded.size(), large.packets.size());
  CodecParam fixed = Param();
  fixed.stVideo.nSrcWidth = 1280;
  fixed.stVideo.nSrcHeight = 720;
  const LogLine change{20, "[CODE]Src pix changed[1280*720]->[1920*1080] DecodeChangeSize"};
  struct Case {
    const char* name;
    CodecParam param;
    int result;
    std::vector<LogLine> lines;
    FramePtr expected;
    PixelFormat format;
  };
  const Case cases[] = {
      {"untouched", Param(), 1, {change}, FramePtr(av_frame_clone(decoded[0].get())),
       PIX_FMT_YUV420P},
      {"scaled into 640x640 keeping aspect", Param(PIX_FMT_BGRA, 640, 640, true), 1,
       {change, {20, "[CODE]Get RelDst[640*360] format[0->28]"}},
       ReferenceScale(decoded[0].get(), 640, 360, AV_PIX_FMT_BGRA), PIX_FMT_BGRA},
      {"source size fixed", fixed, -1,
       {{60, "[CODE]Src pix changed [1280*720]->[1920*1080]"}}, nullptr, PIX_FMT_NONE},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CFFMpegVideoCodec codec;
    ASSERT_EQ(codec.Init(AV_CODEC_TYPE_H264DEC, c.param), 0);
    CVideoDecodeOutParam out;
    for (const Bytes& packet : small.packets) ASSERT_EQ(Decode(codec, packet, out), 1);
    int mark = 0;
    Peer::CodecCtx(codec)->opaque = &mark;  // a new decoder comes without it
    capture_->Clear();
    EXPECT_EQ(Decode(codec, large.packets[0], out), c.result);
    EXPECT_EQ(capture_->OwnLines(), c.lines);
    EXPECT_EQ(Peer::CodecCtx(codec)->opaque == &mark, c.result < 0);
    if (c.result < 0) {
      EXPECT_EQ(out.m_nNum, 0);
      continue;
    }
    ExpectPicture(out, c.expected.get(), c.format);
    ASSERT_EQ(Decode(codec, large.packets[1], out), 1);  // the new decoder carries on
    EXPECT_EQ(capture_->OwnLines(), c.lines);
  }
}

TEST_F(VideoDecode, ScaledPictures_EqualSwsScaleAtTheFittedSizeAndOutliveTheCodec) {
  struct Case {
    int srcW, srcH;
    CodecParam param;
    int width, height;
    AVPixelFormat av;
    PixelFormat format;
    const char* line;  // null: the picture goes out untouched
  };
  const Case cases[] = {
      {1280, 720, Param(), 1280, 720, AV_PIX_FMT_YUV420P, PIX_FMT_YUV420P, nullptr},
      {1280, 720, Param(PIX_FMT_BGRA, 640, 360), 640, 360, AV_PIX_FMT_BGRA, PIX_FMT_BGRA,
       "[CODE]Get RelDst[640*360] format[0->28]"},
      {1280, 720, Param(PIX_FMT_RGB24, 500, 500, true), 500, 281, AV_PIX_FMT_RGB24,
       PIX_FMT_RGB24, "[CODE]Get RelDst[500*281] format[0->2]"},
      {1280, 720, Param(PIX_FMT_RGBA, 320, 180), 320, 180, AV_PIX_FMT_RGBA, PIX_FMT_RGBA,
       "[CODE]Get RelDst[320*180] format[0->26]"},
      {1280, 720, Param(PIX_FMT_NV12), 1280, 720, AV_PIX_FMT_NV12, PIX_FMT_NV12,
       "[CODE]Get RelDst[1280*720] format[0->23]"},
      // One side only asks for no size: the format changes alone.
      {1280, 720, Param(PIX_FMT_YUYV422, 640, 0, true), 1280, 720, AV_PIX_FMT_YUYV422,
       PIX_FMT_YUYV422, "[CODE]Get RelDst[1280*720] format[0->1]"},
      {1280, 720, Param(PIX_FMT_NONE, 320, 200), 320, 200, AV_PIX_FMT_YUV420P, PIX_FMT_YUV420P,
       "[CODE]Get RelDst[320*200] format[0->0]"},
      {1920, 1080, Param(PIX_FMT_BGRA, 640, 640, true), 640, 360, AV_PIX_FMT_BGRA, PIX_FMT_BGRA,
       "[CODE]Get RelDst[640*360] format[0->28]"},
      {1080, 1920, Param(PIX_FMT_BGRA, 640, 640, true), 360, 640, AV_PIX_FMT_BGRA, PIX_FMT_BGRA,
       "[CODE]Get RelDst[360*640] format[0->28]"},
      {1080, 1920, Param(PIX_FMT_BGRA, 640, 640), 640, 640, AV_PIX_FMT_BGRA, PIX_FMT_BGRA,
       "[CODE]Get RelDst[640*640] format[0->28]"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.srcW << "x" << c.srcH << " to " << c.width << "x"
                                    << c.height << " " << c.format);
    const EncodedVideo& video = Stream("libx264", c.srcW, c.srcH);
    const auto decoded = ReferenceDecode(AV_CODEC_ID_H264, video.packets);
    ASSERT_EQ(decoded.size(), video.packets.size());
    std::vector<CVideoDecodeOutParam> kept(video.packets.size(),
                                           CVideoDecodeOutParam(OUTPARAM_FLAG_NOT_USE_CACHE));
    {
      CFFMpegVideoCodec codec;
      ASSERT_EQ(codec.Init(AV_CODEC_TYPE_H264DEC, c.param), 0);
      capture_->Clear();
      for (size_t i = 0; i < kept.size(); ++i) {
        ASSERT_EQ(Decode(codec, video.packets[i], kept[i]), 1);
      }
      std::vector<LogLine> lines = {Learned(c.srcW, c.srcH)};
      if (c.line != nullptr) lines.push_back({20, c.line});
      EXPECT_EQ(capture_->OwnLines(), lines);
    }
    // Owning entries keep their own pixels after later calls and the codec's end.
    for (size_t i = 0; i < kept.size(); ++i) {
      SCOPED_TRACE(i);
      const FramePtr expected =
          c.line == nullptr ? FramePtr(av_frame_clone(decoded[i].get()))
                            : ReferenceScale(decoded[i].get(), c.width, c.height, c.av);
      ExpectPicture(kept[i], expected.get(), c.format);
    }
  }
}

// The H.264 packet cut before its first picture slice: parameter sets only.
Bytes ParameterSetsOf(const Bytes& packet) {
  for (size_t i = 1; i + 4 < packet.size(); ++i) {
    if (packet[i] == 0 && packet[i + 1] == 0 && packet[i + 2] == 1 &&
        (packet[i + 3] & 0x1f) == 5) {
      const size_t start = packet[i - 1] == 0 ? i - 1 : i;
      return Bytes(packet.begin(), packet.begin() + static_cast<ptrdiff_t>(start));
    }
  }
  return {};
}

TEST_F(VideoDecode, PacketsWithoutAGoodPicture_LeaveTheDecoderUsable) {
  const EncodedVideo& h264 = Stream("libx264", 1280, 720);
  Bytes garbage(600);
  for (size_t i = 0; i < garbage.size(); ++i) garbage[i] = static_cast<uint8_t>(i * 37 + 11);
  Bytes damaged = h264.packets[0];
  std::fill(damaged.begin() + static_cast<ptrdiff_t>(damaged.size() / 2), damaged.end(), 0);
  struct Case {
    const char* name;
    CodecType type;
    const EncodedVideo& video;
    Bytes input;
    int result;
  };
  const Case cases[] = {
      {"h264 parameter sets only", AV_CODEC_TYPE_H264DEC, h264, ParameterSetsOf(h264.packets[0]),
       0},
      {"h264 garbage", AV_CODEC_TYPE_H264DEC, h264, garbage, 0},
      {"hevc garbage", AV_CODEC_TYPE_HEVCDEC, Stream("libx265", 640, 360), garbage, 0},
      {"mjpeg garbage", AV_CODEC_TYPE_MJPEGDEC, Stream("mjpeg", 321, 241), garbage, 0},
      {"h264 damaged picture", AV_CODEC_TYPE_H264DEC, h264, damaged, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_FALSE(c.input.empty());
    CFFMpegVideoCodec codec;
    ASSERT_EQ(codec.Init(c.type, Param()), 0);
    capture_->Clear();
    CVideoDecodeOutParam out;
    EXPECT_EQ(Decode(codec, c.input, out), c.result);
    EXPECT_EQ(out.m_nNum, c.result);
    EXPECT_EQ(out.m_bDecodeError, c.result == 1);  // pictures with errors are still handed out
    if (c.result == 0) {
      EXPECT_THAT(capture_->OwnLines(), IsEmpty());
    }
    EXPECT_EQ(Decode(codec, c.video.packets[0], out), 1);
    EXPECT_FALSE(out.m_bDecodeError);
  }
}

TEST_F(VideoDecode, EasyParam_TakesEffectAtTheNextPicture) {
  const EncodedVideo& video = Stream("libx264", 1280, 720);
  const auto decoded = ReferenceDecode(AV_CODEC_ID_H264, video.packets);
  ASSERT_EQ(decoded.size(), 4u);
  struct Step {
    bool set;
    int width, height;  // asked for and, when the call succeeds, handed out (0: untouched)
    int result;
    std::vector<LogLine> lines;
    std::vector<LogLine> forwarded;
  };
  const Step steps[] = {
      {true, 320, 240, 1,
       {Learned(1280, 720), {20, "[CODE]reset decode easy param [320*240]"},
        {20, "[CODE]Get RelDst[320*240] format[0->0]"}}, {}},
      {false, 320, 240, 1, {}, {}},  // the scaler serves on
      {true, -2, 10, -1,
       {{20, "[CODE]reset decode easy param [-2*10]"}, {20, "[CODE]Get RelDst[-2*10] format[0->0]"},
        {60, "[CODE]sws_getContext failed:1280-720 0  -2-10 0"}, {60, "[CODE]SwsCtxInit failed"},
        {60, "[CODE]OutPutFrame failed!"}},
       {{60, "1280x720 -> -2x10 is invalid scaling dimension\n"}}},
      {true, 0, 0, 1, {{20, "[CODE]reset decode easy param [0*0]"}}, {}},
  };
  CFFMpegVideoCodec codec;
  ASSERT_EQ(codec.Init(AV_CODEC_TYPE_H264DEC, Param()), 0);
  CVideoDecodeOutParam out;
  for (size_t i = 0; i < 4; ++i) {
    SCOPED_TRACE(i);
    const Step& s = steps[i];
    if (s.set) codec.SetEasyParam(EasyParam(s.width, s.height));
    capture_->Clear();
    EXPECT_EQ(Decode(codec, video.packets[i], out), s.result);
    EXPECT_EQ(capture_->OwnLines(), s.lines);
    EXPECT_EQ(capture_->ForwardedLines(), s.forwarded);
    if (s.result < 0) {
      EXPECT_EQ(out.m_nNum, 0);
    } else if (s.width == 0) {
      ExpectPicture(out, decoded[i].get(), PIX_FMT_YUV420P);
    } else {
      const FramePtr expected =
          ReferenceScale(decoded[i].get(), s.width, s.height, AV_PIX_FMT_YUV420P);
      ExpectPicture(out, expected.get(), PIX_FMT_YUV420P);
    }
  }
}

TEST_F(VideoDecode, Reset_StartsAFreshDecoderWithTheNewOutput) {
  const EncodedVideo& video = Stream("libx264", 1280, 720);
  const auto decoded = ReferenceDecode(AV_CODEC_ID_H264, {video.packets[0]});
  ASSERT_EQ(decoded.size(), 1u);
  CFFMpegVideoCodec codec;
  EXPECT_EQ(codec.Reset(Param()), -1);  // nothing to reset before Init
  ASSERT_EQ(codec.Init(AV_CODEC_TYPE_H264DEC, Param(PIX_FMT_NV12, 640, 360)), 0);
  CVideoDecodeOutParam out;
  ASSERT_EQ(Decode(codec, video.packets[0], out), 1);
  ASSERT_EQ(codec.Reset(Param(PIX_FMT_BGRA, 320, 180)), 0);
  ASSERT_EQ(Decode(codec, video.packets[0], out), 1);
  const FramePtr expected = ReferenceScale(decoded[0].get(), 320, 180, AV_PIX_FMT_BGRA);
  ExpectPicture(out, expected.get(), PIX_FMT_BGRA);
  EXPECT_EQ(capture_->OwnLines(),
            (std::vector<LogLine>{{60, "[CODE]AVCodecContext is null"},
                                  {20, "[CODE]video codec init succ; Using codec: h264 (ID: 27)"},
                                  Learned(1280, 720),
                                  {20, "[CODE]Get RelDst[640*360] format[0->23]"},
                                  Learned(1280, 720),
                                  {20, "[CODE]Get RelDst[320*180] format[0->28]"}}));
}

TEST_F(VideoDecodeConcurrent, SetEasyParamFromAnotherThread_AppliesAtPictures) {
  const EncodedVideo& video = Stream("libx264", 1280, 720);
  CFFMpegVideoCodec codec;
  ASSERT_EQ(codec.Init(AV_CODEC_TYPE_H264DEC, Param(PIX_FMT_BGRA)), 0);
  std::atomic<bool> done{false};
  std::thread setter([&] {
    const int sizes[3][2] = {{320, 180}, {0, 0}, {640, 360}};
    for (int i = 0; !done.load(); ++i) {
      codec.SetEasyParam(EasyParam(sizes[i % 3][0], sizes[i % 3][1]));
      std::this_thread::yield();
    }
  });
  CVideoDecodeOutParam out;
  for (size_t i = 0; i < 24; ++i) {
    SCOPED_TRACE(i);
    ASSERT_EQ(Decode(codec, video.packets[i % video.packets.size()], out), 1);
    ASSERT_EQ(out.m_nNum, 1);
    const int width = out.m_pFrame[0]->width;
    EXPECT_EQ(width, out.m_nWidth);
    EXPECT_TRUE(width == 1280 || width == 320 || width == 640) << width;
    EXPECT_EQ(out.m_nHeight * 16, width * 9);
    EXPECT_EQ(out.m_ePixelFormat, PIX_FMT_BGRA);
  }
  done = true;
  setter.join();
}

}  // namespace
}  // namespace codec_interface
