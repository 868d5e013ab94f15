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

// Streams are made once per process: encoding is the slow part of these tests.
const EncodedVideo& H264At720p() {
  static const EncodedVideo video = codec_test::EncodeTestVideo("libx264", 1280, 720, 4);
  return video;
}
const EncodedVideo& H264At1080p() {
  static const EncodedVideo video = codec_test::EncodeTestVideo("libx264", 1920, 1080, 2);
  return video;
}
[[maybe_unused]] const EncodedVideo& H264Portrait() {
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
  const auto decoded = codec_test::ReferenceDecode(AV_CODEC_ID_H264, video.packets);
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

}  // namespace
}  // namespace codec_interface
