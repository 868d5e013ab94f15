// Decoding packets into pictures: sizes learned and changed, conversion and scaling, easy
// parameters, owning and borrowed entries, and every failure path we can reach.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>

#include "decode_reference.h"
#include "interface/ffmpeg.h"
#include "support/log_capture.h"
#include "support/media.h"
#include "video/ffmpeg_video_codec.h"
#include "video_codec_peer.h"
#include "video_test_util.h"

namespace codec_interface {
namespace {

using codec_test::Bytes;
using codec_test::EncodedVideo;
using codec_test::LogLine;
using codec_test::VideoParam;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using Peer = VideoCodecTestPeer;
using FramePtr = codec_interface::FramePtr;

// Streams are made once per process: encoding is the slow part of these tests.
const EncodedVideo& H264At720p() {
  static const EncodedVideo video = codec_test::EncodeTestVideo("libx264", 1280, 720, 4);
  return video;
}
const EncodedVideo& H264At1080p() {
  static const EncodedVideo video = codec_test::EncodeTestVideo("libx264", 1920, 1080, 2);
  return video;
}
// FFmpeg's own pictures of the 720p stream.
const std::vector<FramePtr>& Decoded720p() {
  static const std::vector<FramePtr> pictures =
      codec_test::ReferenceDecode(AV_CODEC_ID_H264, H264At720p().packets);
  return pictures;
}
const EncodedVideo& H264Portrait() {
  static const EncodedVideo video = codec_test::EncodeTestVideo("libx264", 1080, 1920, 1);
  return video;
}
const EncodedVideo& H264Cropped() {
  static const EncodedVideo video = codec_test::EncodeTestVideo("libx264", 322, 182, 3);
  return video;
}
const EncodedVideo& HevcAt360p() {
  static const EncodedVideo video = codec_test::EncodeTestVideo("libx265", 640, 360, 3);
  return video;
}
const EncodedVideo& MjpegOddSize() {
  static const EncodedVideo video = codec_test::EncodeTestVideo("mjpeg", 321, 241, 3);
  return video;
}

PixelFormat AvToPixelFormatForTest(AVPixelFormat format) {
  switch (format) {
    case AV_PIX_FMT_BGRA: return PIX_FMT_BGRA;
    case AV_PIX_FMT_RGB24: return PIX_FMT_RGB24;
    case AV_PIX_FMT_NV12: return PIX_FMT_NV12;
    case AV_PIX_FMT_YUYV422: return PIX_FMT_YUYV422;
    case AV_PIX_FMT_YUV420P: return PIX_FMT_YUV420P;
    default: return PIX_FMT_NONE;
  }
}

Bytes& Mutable(const Bytes& bytes) { return const_cast<Bytes&>(bytes); }

int DecodeInto(CFFMpegVideoCodec& codec, const Bytes& packet, CVideoDecodeOutParam& out) {
  return codec.Decode(Mutable(packet).data(), static_cast<int>(packet.size()), &out);
}

// Checks that the out-param's first entry describes its frame.
void ExpectEntryDescribesFrame(const CVideoDecodeOutParam& out) {
  ASSERT_EQ(out.m_nNum, 1);
  const AVFrame* frame = out.m_pFrame[0];
  ASSERT_NE(frame, nullptr);
  EXPECT_EQ(out.m_nWidth, frame->width);
  EXPECT_EQ(out.m_nHeight, frame->height);
  for (int plane = 0; plane < 4; ++plane) {
    EXPECT_EQ(out.m_outData[0].pData[plane], frame->data[plane]) << plane;
    EXPECT_EQ(out.m_outData[0].nLinesize[plane], frame->linesize[plane]) << plane;
  }
}

TEST(VideoDecode, SoftwareStreams_LearnSizeAndMatchFfmpegBitExact) {
  struct Case {
    const char* name;
    CodecType type;
    AVCodecID id;
    const EncodedVideo& (*video)();
    int width, height;
    PixelFormat format;
  };
  const Case cases[] = {
      {"h264 1280x720", AV_CODEC_TYPE_H264DEC, AV_CODEC_ID_H264, H264At720p, 1280, 720,
       PIX_FMT_YUV420P},
      {"h264 322x182", AV_CODEC_TYPE_H264DEC, AV_CODEC_ID_H264, H264Cropped, 322, 182,
       PIX_FMT_YUV420P},
      {"hevc 640x360", AV_CODEC_TYPE_HEVCDEC, AV_CODEC_ID_HEVC, HevcAt360p, 640, 360,
       PIX_FMT_YUV420P},
      {"mjpeg 321x241", AV_CODEC_TYPE_MJPEGDEC, AV_CODEC_ID_MJPEG, MjpegOddSize, 321, 241,
       PIX_FMT_YUVJ420P},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const EncodedVideo& video = c.video();
    ASSERT_FALSE(video.packets.empty());
    const auto expected = codec_test::ReferenceDecode(c.id, video.packets);
    ASSERT_EQ(expected.size(), video.packets.size());

    codec_test::ScopedLogCapture capture;
    CFFMpegVideoCodec codec;
    ASSERT_EQ(codec.Init(c.type, VideoParam()), 0);
    capture->Clear();
    CVideoDecodeOutParam out;
    for (size_t i = 0; i < video.packets.size(); ++i) {
      SCOPED_TRACE(i);
      ASSERT_EQ(DecodeInto(codec, video.packets[i], out), 1);
      ExpectEntryDescribesFrame(out);
      // Borrowed entry: the codec's own frame, every call.
      EXPECT_EQ(out.m_pFrame[0], Peer::TempFrame(codec));
      EXPECT_EQ(out.m_ePixelFormat, c.format);
      EXPECT_FALSE(out.m_bDecodeError);
      EXPECT_EQ(Peer::RealDstWidth(codec), c.width);
      EXPECT_EQ(Peer::RealDstHeight(codec), c.height);
      codec_test::ExpectSamePicture(out.m_pFrame[0], expected[i].get());
      out.Clear();
    }
    const std::string learned =
        "[CODE]Src pix changed [0*0]->[" + std::to_string(c.width) + "*" +
        std::to_string(c.height) + "]";
    EXPECT_THAT(capture->OwnLines(), ElementsAre(LogLine{20, learned}));
  }
}


// The H.264 packet cut before its first picture slice: parameter sets only.
Bytes ParameterSetsOf(const Bytes& packet) {
  for (size_t i = 0; i + 4 < packet.size(); ++i) {
    if (packet[i] == 0 && packet[i + 1] == 0 && packet[i + 2] == 1 &&
        (packet[i + 3] & 0x1f) == 5) {
      const size_t start = (i > 0 && packet[i - 1] == 0) ? i - 1 : i;
      return Bytes(packet.begin(), packet.begin() + static_cast<ptrdiff_t>(start));
    }
  }
  return {};
}

TEST(VideoDecode, PacketWithoutPicture_ReturnsZeroAndLeavesOutParamEmpty) {
  const EncodedVideo& video = H264At720p();
  const Bytes headers = ParameterSetsOf(video.packets[0]);
  ASSERT_FALSE(headers.empty());
  codec_test::ScopedLogCapture capture;
  CFFMpegVideoCodec codec;
  ASSERT_EQ(codec.Init(AV_CODEC_TYPE_H264DEC, VideoParam(PIX_FMT_BGRA, 320, 180)), 0);
  codec.SetEasyParam(codec_test::EasyParam(160, 90));
  capture->Clear();
  CVideoDecodeOutParam out;
  EXPECT_EQ(DecodeInto(codec, headers, out), 0);
  EXPECT_EQ(out.m_nNum, 0);
  EXPECT_THAT(capture->OwnLines(), IsEmpty());
  // Nothing learned, and easy parameters wait for a picture.
  EXPECT_EQ(Peer::SrcWidth(codec), 0);
  EXPECT_TRUE(Peer::EasyParamPending(codec));
  EXPECT_EQ(DecodeInto(codec, video.packets[0], out), 1);
  EXPECT_FALSE(Peer::EasyParamPending(codec));
  EXPECT_EQ(out.m_nWidth, 160);
}

TEST(VideoDecode, GarbageBytes_AreLetThroughWithoutOwnLine) {
  Bytes garbage(600);
  for (size_t i = 0; i < garbage.size(); ++i) garbage[i] = static_cast<uint8_t>(i * 37 + 11);
  for (CodecType type : {AV_CODEC_TYPE_H264DEC, AV_CODEC_TYPE_HEVCDEC, AV_CODEC_TYPE_MJPEGDEC}) {
    SCOPED_TRACE(static_cast<int>(type));
    codec_test::ScopedLogCapture capture;
    CFFMpegVideoCodec codec;
    ASSERT_EQ(codec.Init(type, VideoParam()), 0);
    capture->Clear();
    CVideoDecodeOutParam out;
    EXPECT_EQ(DecodeInto(codec, garbage, out), 0);
    EXPECT_EQ(out.m_nNum, 0);
    EXPECT_THAT(capture->OwnLines(), IsEmpty());
  }
}

TEST(VideoDecode, RefusedCalls_ReturnMinusOneSilently) {
  const Bytes& packet = H264At720p().packets[0];
  codec_test::ScopedLogCapture capture;
  CFFMpegVideoCodec codec;
  CVideoDecodeOutParam out;
  out.m_nNum = 0;
  EXPECT_EQ(DecodeInto(codec, packet, out), -1);  // not initialised
  ASSERT_EQ(codec.Init(AV_CODEC_TYPE_H264DEC, VideoParam()), 0);
  capture->Clear();
  unsigned char* data = Mutable(packet).data();
  EXPECT_EQ(codec.Decode(data, 0, &out), -1);
  EXPECT_EQ(codec.Decode(data, -5, &out), -1);
  EXPECT_EQ(codec.Decode(nullptr, 100, &out), -1);
  EXPECT_EQ(codec.Decode(data, static_cast<int>(packet.size()), nullptr), -1);
  CAudioDecodeOutParam audio;
  EXPECT_EQ(codec.Decode(data, static_cast<int>(packet.size()), &audio), -1);
  EXPECT_EQ(audio.m_nNum, 0);
  Peer::IsDecoder(codec) = false;
  EXPECT_EQ(DecodeInto(codec, packet, out), -1);
  Peer::IsDecoder(codec) = true;
  codec.Uninit();
  capture->Clear();
  EXPECT_EQ(DecodeInto(codec, packet, out), -1);
  EXPECT_THAT(capture->OwnLines(), IsEmpty());
}

TEST(VideoDecode, FixedSourceSize_RefusesOtherSizes) {
  const EncodedVideo& video = H264At720p();
  codec_test::ScopedLogCapture capture;
  CFFMpegVideoCodec codec;
  CodecParam param = VideoParam();
  param.stVideo.nSrcWidth = 640;
  param.stVideo.nSrcHeight = 480;
  ASSERT_EQ(codec.Init(AV_CODEC_TYPE_H264DEC, param), 0);
  int mark = 0;
  Peer::CodecCtx(codec)->opaque = &mark;
  capture->Clear();
  CVideoDecodeOutParam out;
  EXPECT_EQ(DecodeInto(codec, video.packets[0], out), -1);
  EXPECT_EQ(out.m_nNum, 0);
  EXPECT_THAT(capture->OwnLines(),
              ElementsAre(LogLine{60, "[CODE]Src pix changed [640*480]->[1280*720]"}));
  EXPECT_EQ(Peer::CodecCtx(codec)->opaque, &mark);  // no new decoder
  EXPECT_EQ(Peer::SrcWidth(codec), 640);

  // The right fixed size passes silently.
  CFFMpegVideoCodec exact;
  param.stVideo.nSrcWidth = 1280;
  param.stVideo.nSrcHeight = 720;
  ASSERT_EQ(exact.Init(AV_CODEC_TYPE_H264DEC, param), 0);
  capture->Clear();
  EXPECT_EQ(DecodeInto(exact, video.packets[0], out), 1);
  EXPECT_THAT(capture->OwnLines(), IsEmpty());
  out.Clear();  // a borrowed entry goes before its codec
}

TEST(VideoDecode, StreamChangingSize_GetsNewDecoderAndDecodesSamePacketAgain) {
  const EncodedVideo& small = H264At720p();
  const EncodedVideo& large = H264At1080p();
  const auto expected = codec_test::ReferenceDecode(AV_CODEC_ID_H264, large.packets);
  ASSERT_EQ(expected.size(), large.packets.size());
  struct Case {
    const char* name;
    CodecParam param;
    int width, height;
    const char* relDst;  // the scaler's line after the change, if any
  };
  CodecParam scaled = VideoParam(PIX_FMT_BGRA, 640, 640);
  scaled.stVideo.bKeepAspectRatio = true;
  const Case cases[] = {
      {"untouched", VideoParam(), 1920, 1080, nullptr},
      {"scaled keeping aspect", scaled, 640, 360, "[CODE]Get RelDst[640*360] format[0->28]"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    codec_test::ScopedLogCapture capture;
    CFFMpegVideoCodec codec;
    ASSERT_EQ(codec.Init(AV_CODEC_TYPE_H264DEC, c.param), 0);
    CVideoDecodeOutParam out(OUTPARAM_FLAG_NOT_USE_CACHE);
    for (const Bytes& packet : small.packets) {
      ASSERT_EQ(DecodeInto(codec, packet, out), 1);
      out.Clear();
    }
    // A mark on the old context: a new one comes without it (addresses may be reused).
    int mark = 0;
    Peer::CodecCtx(codec)->opaque = &mark;
    capture->Clear();
    ASSERT_EQ(DecodeInto(codec, large.packets[0], out), 1);
    EXPECT_EQ(Peer::CodecCtx(codec)->opaque, nullptr);
    EXPECT_TRUE(avcodec_is_open(Peer::CodecCtx(codec)));
    EXPECT_EQ(Peer::SrcWidth(codec), 1920);
    EXPECT_EQ(Peer::SrcHeight(codec), 1080);
    ExpectEntryDescribesFrame(out);
    EXPECT_EQ(out.m_nWidth, c.width);
    EXPECT_EQ(out.m_nHeight, c.height);
    std::vector<LogLine> lines = {
        {20, "[CODE]Src pix changed[1280*720]->[1920*1080] DecodeChangeSize"}};
    if (c.relDst != nullptr) {
      lines.push_back({20, c.relDst});
      codec_test::ExpectSamePicture(
          out.m_pFrame[0], codec_test::ReferenceScale(expected[0].get(), 640, 360,
                                                      AV_PIX_FMT_BGRA).get());
    } else {
      codec_test::ExpectSamePicture(out.m_pFrame[0], expected[0].get());
    }
    EXPECT_EQ(capture->OwnLines(), lines);
    out.Clear();
    ASSERT_EQ(DecodeInto(codec, large.packets[1], out), 1);
    EXPECT_EQ(capture->OwnLines(), lines);
  }
}

TEST(VideoDecode, Scaling_MatchesSwsScaleWithLanczos) {
  const EncodedVideo& video = H264At720p();
  const auto& decoded = Decoded720p();
  ASSERT_EQ(decoded.size(), video.packets.size());
  struct Case {
    const char* name;
    PixelFormat format;
    int dstW, dstH;
    bool keep;
    int outW, outH;
    AVPixelFormat outFormat;
    const char* relDst;
  };
  const Case cases[] = {
      {"bgra 640x360", PIX_FMT_BGRA, 640, 360, false, 640, 360, AV_PIX_FMT_BGRA,
       "[CODE]Get RelDst[640*360] format[0->28]"},
      {"rgb24 into 500x500 keeping aspect", PIX_FMT_RGB24, 500, 500, true, 500, 281,
       AV_PIX_FMT_RGB24, "[CODE]Get RelDst[500*281] format[0->2]"},
      {"nv12 at own size", PIX_FMT_NV12, 0, 0, false, 1280, 720, AV_PIX_FMT_NV12,
       "[CODE]Get RelDst[1280*720] format[0->23]"},
      {"width only: format change only", PIX_FMT_YUYV422, 640, 0, true, 1280, 720,
       AV_PIX_FMT_YUYV422, "[CODE]Get RelDst[1280*720] format[0->1]"},
      {"no format: size only", PIX_FMT_NONE, 320, 200, false, 320, 200, AV_PIX_FMT_YUV420P,
       "[CODE]Get RelDst[320*200] format[0->0]"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    codec_test::ScopedLogCapture capture;
    CFFMpegVideoCodec codec;
    CodecParam param = VideoParam(c.format, c.dstW, c.dstH);
    param.stVideo.bKeepAspectRatio = c.keep;
    ASSERT_EQ(codec.Init(AV_CODEC_TYPE_H264DEC, param), 0);
    capture->Clear();
    CVideoDecodeOutParam out;
    const uint8_t* firstPixels = nullptr;
    for (size_t i = 0; i < video.packets.size(); ++i) {
      SCOPED_TRACE(i);
      ASSERT_EQ(DecodeInto(codec, video.packets[i], out), 1);
      ExpectEntryDescribesFrame(out);
      EXPECT_EQ(out.m_ePixelFormat, AvToPixelFormatForTest(c.outFormat));
      EXPECT_EQ(Peer::RealDstWidth(codec), c.outW);
      EXPECT_EQ(Peer::RealDstHeight(codec), c.outH);
      codec_test::ExpectSamePicture(
          out.m_pFrame[0],
          codec_test::ReferenceScale(decoded[i].get(), c.outW, c.outH, c.outFormat).get());
      // Borrowed scaled pictures reuse the scaler's buffers.
      if (firstPixels == nullptr) firstPixels = out.m_pFrame[0]->data[0];
      EXPECT_EQ(out.m_pFrame[0]->data[0], firstPixels);
      out.Clear();
    }
    EXPECT_THAT(capture->OwnLines(),
                ElementsAre(LogLine{20, "[CODE]Src pix changed [0*0]->[1280*720]"},
                            LogLine{20, c.relDst}));
  }
}


TEST(VideoDecode, KeepAspect_FitsLandscapeAndPortraitIntoSquare) {
  struct Case {
    const char* name;
    const EncodedVideo& (*video)();
    bool keep;
    int outW, outH;
    const char* relDst;
  };
  const Case cases[] = {
      {"1920x1080 keeping aspect", H264At1080p, true, 640, 360,
       "[CODE]Get RelDst[640*360] format[0->28]"},
      {"1080x1920 keeping aspect", H264Portrait, true, 360, 640,
       "[CODE]Get RelDst[360*640] format[0->28]"},
      {"1080x1920 stretched", H264Portrait, false, 640, 640,
       "[CODE]Get RelDst[640*640] format[0->28]"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const EncodedVideo& video = c.video();
    const auto decoded = codec_test::ReferenceDecode(AV_CODEC_ID_H264, {video.packets[0]});
    ASSERT_EQ(decoded.size(), 1u);
    codec_test::ScopedLogCapture capture;
    CFFMpegVideoCodec codec;
    CodecParam param = VideoParam(PIX_FMT_BGRA, 640, 640);
    param.stVideo.bKeepAspectRatio = c.keep;
    ASSERT_EQ(codec.Init(AV_CODEC_TYPE_H264DEC, param), 0);
    capture->Clear();
    CVideoDecodeOutParam out(OUTPARAM_FLAG_NOT_USE_CACHE);
    ASSERT_EQ(DecodeInto(codec, video.packets[0], out), 1);
    EXPECT_EQ(capture->OwnLines().back(), (LogLine{20, c.relDst}));
    codec_test::ExpectSamePicture(
        out.m_pFrame[0],
        codec_test::ReferenceScale(decoded[0].get(), c.outW, c.outH, AV_PIX_FMT_BGRA).get());
  }
}

TEST(VideoDecodeOwning, EntriesKeepTheirPixelsAfterLaterCalls) {
  const EncodedVideo& video = H264At720p();
  const auto& decoded = Decoded720p();
  ASSERT_EQ(decoded.size(), video.packets.size());
  struct Case {
    const char* name;
    CodecParam param;
    int width, height;
    AVPixelFormat format;
  };
  const Case cases[] = {
      {"untouched", VideoParam(), 1280, 720, AV_PIX_FMT_YUV420P},
      {"scaled", VideoParam(PIX_FMT_BGRA, 320, 180), 320, 180, AV_PIX_FMT_BGRA},
      {"converted", VideoParam(PIX_FMT_NV12), 1280, 720, AV_PIX_FMT_NV12},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    codec_test::ScopedLogCapture capture;
    CFFMpegVideoCodec codec;
    ASSERT_EQ(codec.Init(AV_CODEC_TYPE_H264DEC, c.param), 0);
    std::vector<CVideoDecodeOutParam> kept(video.packets.size(),
                                           CVideoDecodeOutParam(OUTPARAM_FLAG_NOT_USE_CACHE));
    for (size_t i = 0; i < video.packets.size(); ++i) {
      ASSERT_EQ(DecodeInto(codec, video.packets[i], kept[i]), 1);
      ExpectEntryDescribesFrame(kept[i]);
      EXPECT_NE(kept[i].m_pFrame[0], Peer::TempFrame(codec));
    }
    // A later call on the codec, and even its end, leaves every owned picture as it was.
    codec.Uninit();
    for (size_t i = 0; i < kept.size(); ++i) {
      SCOPED_TRACE(i);
      const auto expected =
          c.format == AV_PIX_FMT_YUV420P && c.width == 1280
              ? FramePtr(av_frame_clone(decoded[i].get()))
              : codec_test::ReferenceScale(decoded[i].get(), c.width, c.height, c.format);
      codec_test::ExpectSamePicture(kept[i].m_pFrame[0], expected.get());
      if (i > 0) {
        EXPECT_NE(kept[i].m_pFrame[0]->data[0], kept[i - 1].m_pFrame[0]->data[0]);
      }
    }
  }
}

// An H.264 decoder that has handed out the 720p stream's first picture; the log starts empty.
class StartedDecoder : public ::testing::Test {
 protected:
  void Start(const CodecParam& param) {
    ASSERT_EQ(codec_.Init(AV_CODEC_TYPE_H264DEC, param), 0);
    ASSERT_EQ(Decode(0), 1);
    out_.Clear();
    capture_->Clear();
  }
  int Decode(size_t packet) { return DecodeInto(codec_, video_.packets[packet], out_); }

  const EncodedVideo& video_ = H264At720p();
  codec_test::ScopedLogCapture capture_;
  CFFMpegVideoCodec codec_;
  CVideoDecodeOutParam out_;  // borrows from codec_, so it goes first
};

using VideoDecodeEasyParam = StartedDecoder;
using VideoDecodeFailure = StartedDecoder;

TEST_F(VideoDecodeEasyParam, NewSizeRebuildsScalerAtNextPicture) {
  const auto& decoded = Decoded720p();
  Start(VideoParam());
  codec_.SetEasyParam(codec_test::EasyParam(320, 240));
  ASSERT_EQ(Decode(1), 1);
  EXPECT_THAT(capture_->OwnLines(),
              ElementsAre(LogLine{20, "[CODE]reset decode easy param [320*240]"},
                          LogLine{20, "[CODE]Get RelDst[320*240] format[0->0]"}));
  codec_test::ExpectSamePicture(
      out_.m_pFrame[0],
      codec_test::ReferenceScale(decoded[1].get(), 320, 240, AV_PIX_FMT_YUV420P).get());
  EXPECT_EQ(out_.m_ePixelFormat, PIX_FMT_YUV420P);
  // A picture output with no out-param still works and counts nothing.
  EXPECT_EQ(Peer::OutPutFrame(codec_, nullptr), 0);
  out_.Clear();

  // The scaler serves the following pictures without another line.
  capture_->Clear();
  ASSERT_EQ(Decode(2), 1);
  EXPECT_EQ(out_.m_nWidth, 320);
  EXPECT_THAT(capture_->OwnLines(), IsEmpty());
  out_.Clear();

  codec_.SetEasyParam(codec_test::EasyParam(0, 0));
  ASSERT_EQ(Decode(3), 1);
  EXPECT_THAT(capture_->OwnLines(),
              ElementsAre(LogLine{20, "[CODE]reset decode easy param [0*0]"}));
  EXPECT_EQ(Peer::SwsCtx(codec_), nullptr);
  codec_test::ExpectSamePicture(out_.m_pFrame[0], decoded[3].get());
}

TEST_F(VideoDecodeEasyParam, SameSizeNewFilterText_KeepsScalerAndTakesText) {
  Start(VideoParam(PIX_FMT_BGRA, 320, 180));
  SwsContext* scaler = Peer::SwsCtx(codec_);
  ASSERT_NE(scaler, nullptr);
  codec_.SetEasyParam(codec_test::EasyParam(320, 180, "hflip"));
  ASSERT_EQ(Decode(1), 1);
  EXPECT_THAT(capture_->OwnLines(), IsEmpty());
  EXPECT_EQ(Peer::FilterDesc(codec_), "hflip");
  EXPECT_EQ(Peer::SwsCtx(codec_), scaler);
  EXPECT_EQ(out_.m_nWidth, 320);
  EXPECT_EQ(out_.m_nHeight, 180);
  out_.Clear();

  codec_.SetEasyParam(codec_test::EasyParam(320, 180, ""));
  ASSERT_EQ(Decode(2), 1);
  EXPECT_EQ(Peer::FilterDesc(codec_), "");
  EXPECT_THAT(capture_->OwnLines(), IsEmpty());
}

TEST_F(VideoDecodeFailure, ScalerCannotBeBuilt_EveryPictureFailsUntilSizeIsUsable) {
  Start(VideoParam());
  codec_.SetEasyParam(codec_test::EasyParam(-2, 10));
  EXPECT_EQ(Decode(1), -1);
  EXPECT_EQ(out_.m_nNum, 0);
  const std::vector<LogLine> failure = {
      {20, "[CODE]Get RelDst[-2*10] format[0->0]"},
      {60, "[CODE]sws_getContext failed:1280-720 0  -2-10 0"},
      {60, "[CODE]SwsCtxInit failed"},
      {60, "[CODE]OutPutFrame failed!"}};
  std::vector<LogLine> lines = {{20, "[CODE]reset decode easy param [-2*10]"}};
  lines.insert(lines.end(), failure.begin(), failure.end());
  EXPECT_EQ(capture_->OwnLines(), lines);
  // FFmpeg's own reason comes through at error level, without our prefix.
  EXPECT_THAT(capture_->ForwardedLines(),
              ElementsAre(LogLine{60, "1280x720 -> -2x10 is invalid scaling dimension\n"}));
  EXPECT_EQ(Peer::TempFrame(codec_)->buf[0], nullptr);

  capture_->Clear();
  EXPECT_EQ(Decode(2), -1);
  EXPECT_EQ(capture_->OwnLines(), failure);
  codec_.SetEasyParam(codec_test::EasyParam(0, 0));
  EXPECT_EQ(Decode(3), 1);
  EXPECT_EQ(out_.m_nWidth, 1280);
}

TEST_F(VideoDecodeFailure, ScaledSizeDiffersFromPromise_FailsAndDropsPicture) {
  Start(VideoParam(PIX_FMT_BGRA, 640, 360));
  Peer::RealDstWidth(codec_) = 600;
  EXPECT_EQ(Decode(1), -1);
  EXPECT_EQ(out_.m_nNum, 0);
  EXPECT_THAT(capture_->OwnLines(),
              ElementsAre(LogLine{60, "[CODE]sws_scale get height[360] is diff with [640]"},
                          LogLine{60, "[CODE]OutPutFrame failed!"}));
  EXPECT_EQ(Peer::TempFrame(codec_)->buf[0], nullptr);
}

TEST_F(VideoDecodeFailure, DecoderThatCannotReopen_LeavesUnopenedContext) {
  const EncodedVideo& large = H264At1080p();
  Start(VideoParam());
  // An encoder without picture settings: the new context cannot be opened.
  Peer::Codec(codec_) = avcodec_find_encoder(AV_CODEC_ID_BMP);
  EXPECT_EQ(DecodeInto(codec_, large.packets[0], out_), -1);
  EXPECT_THAT(
      capture_->OwnLines(),
      ElementsAre(
          LogLine{20, "[CODE]Src pix changed[1280*720]->[1920*1080] DecodeChangeSize"},
          LogLine{60,
                  "[CODE]codec_interface::CFFMpegVideoCodec::DecodeChangeSize Could not open "
                  "codec"},
          LogLine{60, "[CODE]DecodeChangeSize failed"}));
  ASSERT_NE(Peer::CodecCtx(codec_), nullptr);
  EXPECT_FALSE(avcodec_is_open(Peer::CodecCtx(codec_)));
  EXPECT_EQ(Peer::SrcWidth(codec_), 1280);

  // Sending to the unopened context fails; there is nothing to flush.
  capture_->Clear();
  EXPECT_EQ(DecodeInto(codec_, large.packets[1], out_), -2);
  EXPECT_THAT(capture_->OwnLines(),
              ElementsAre(LogLine{60, "[CODE]video avcodec_send_packet failed:-22"}));
  EXPECT_EQ(out_.m_nNum, 0);
}

TEST(VideoDecodeChangeSize, RefusesEncodersAndToleratesNoContext) {
  codec_test::ScopedLogCapture capture;
  CFFMpegVideoCodec codec;
  Peer::IsDecoder(codec) = false;
  EXPECT_EQ(Peer::DecodeChangeSize(codec), -1);
  Peer::IsDecoder(codec) = true;
  ASSERT_EQ(Peer::SwsCtxInit(codec, 64, 64, AV_PIX_FMT_YUV420P, 32, 32, AV_PIX_FMT_BGRA), 0);
  EXPECT_EQ(Peer::DecodeChangeSize(codec), 0);
  EXPECT_EQ(Peer::SwsCtx(codec), nullptr);
  EXPECT_THAT(capture->OwnLines(), IsEmpty());
}

TEST(VideoDecodeChangeSize, ReopensQuietlyAndDropsTheOldContextsDevice) {
  codec_test::ScopedLogCapture capture;
  CFFMpegVideoCodec codec;
  ASSERT_EQ(codec.Init(AV_CODEC_TYPE_HEVCDEC, VideoParam()), 0);
  // A plain buffer stands in for a device context: none exists in this FFmpeg build.
  codec_interface::BufferRefPtr device(av_buffer_alloc(16));
  Peer::CodecCtx(codec)->hw_device_ctx = av_buffer_ref(device.get());
  Peer::CodecCtx(codec)->opaque = &capture;
  capture->Clear();
  EXPECT_EQ(Peer::DecodeChangeSize(codec), 0);
  EXPECT_THAT(capture->OwnLines(), IsEmpty());  // unlike Uninit, no reference-count line
  EXPECT_EQ(av_buffer_get_ref_count(device.get()), 1);
  EXPECT_EQ(Peer::CodecCtx(codec)->opaque, nullptr);
  EXPECT_TRUE(avcodec_is_open(Peer::CodecCtx(codec)));
}

TEST(VideoDecode, CorruptPicture_SetsDecodeErrorForThatCallOnly) {
  const EncodedVideo& video = H264At720p();
  Bytes damaged = video.packets[0];
  std::fill(damaged.begin() + static_cast<ptrdiff_t>(damaged.size() / 2), damaged.end(), 0);
  codec_test::ScopedLogCapture capture;
  CFFMpegVideoCodec codec;
  ASSERT_EQ(codec.Init(AV_CODEC_TYPE_H264DEC, VideoParam()), 0);
  CVideoDecodeOutParam out;
  ASSERT_EQ(DecodeInto(codec, damaged, out), 1);
  EXPECT_TRUE(out.m_bDecodeError);
  out.Clear();
  EXPECT_FALSE(out.m_bDecodeError);
  ASSERT_EQ(DecodeInto(codec, video.packets[0], out), 1);
  EXPECT_FALSE(out.m_bDecodeError);
  out.Clear();
}

TEST(VideoDecodeConcurrent, SetEasyParamFromAnotherThread_AppliesAtPictures) {
  const EncodedVideo& video = H264At720p();
  codec_test::ScopedLogCapture capture;
  CFFMpegVideoCodec codec;
  ASSERT_EQ(codec.Init(AV_CODEC_TYPE_H264DEC, VideoParam(PIX_FMT_BGRA)), 0);
  std::atomic<bool> done{false};
  std::thread setter([&] {
    const int sizes[3][2] = {{320, 180}, {0, 0}, {640, 360}};
    for (int i = 0; !done.load(); ++i) {
      codec.SetEasyParam(codec_test::EasyParam(sizes[i % 3][0], sizes[i % 3][1]));
      std::this_thread::yield();
    }
  });
  CVideoDecodeOutParam out;
  for (int i = 0; i < 24; ++i) {
    SCOPED_TRACE(i);
    ASSERT_EQ(DecodeInto(codec, video.packets[static_cast<size_t>(i) % video.packets.size()],
                         out),
              1);
    ExpectEntryDescribesFrame(out);
    const bool known = (out.m_nWidth == 1280 && out.m_nHeight == 720) ||
                       (out.m_nWidth == 320 && out.m_nHeight == 180) ||
                       (out.m_nWidth == 640 && out.m_nHeight == 360);
    EXPECT_TRUE(known) << out.m_nWidth << "x" << out.m_nHeight;
    EXPECT_EQ(out.m_ePixelFormat, PIX_FMT_BGRA);
    out.Clear();
  }
  done = true;
  setter.join();
}

}  // namespace
}  // namespace codec_interface
