// Video encoding: our packets are decoded by plain libavcodec and compared with the source.
#include <gtest/gtest.h>

#include "support/log_capture.h"
#include "support/media.h"
#include "support/video_check.h"
#include "video/encode_peer.h"

namespace {

using namespace codec_interface;
using codec_test::Bytes;
using codec_test::LogLine;
using Peer = VideoCodecTestPeer;

constexpr int kError = 60;

AVPixelFormat ToAv(PixelFormat format) {
  switch (format) {
    case PIX_FMT_BGRA: return AV_PIX_FMT_BGRA;
    case PIX_FMT_RGB24: return AV_PIX_FMT_RGB24;
    case PIX_FMT_RGBA: return AV_PIX_FMT_RGBA;
    case PIX_FMT_YUV420P: return AV_PIX_FMT_YUV420P;
    case PIX_FMT_NV12: return AV_PIX_FMT_NV12;
    case PIX_FMT_YUVJ420P: return AV_PIX_FMT_YUVJ420P;
    case PIX_FMT_YUYV422: return AV_PIX_FMT_YUYV422;
    default: return AV_PIX_FMT_NONE;
  }
}

using codec_test::EncoderParam;
using codec_test::EncodeRun;

std::vector<FramePtr> SourcePictures(PixelFormat format, int width, int height, int count) {
  return codec_test::TestPictures(ToAv(format), width, height, count);
}

EncodeRun EncodeAll(CFFMpegVideoCodec& codec, const std::vector<FramePtr>& pictures) {
  return codec_test::EncodePictures(codec, pictures);
}

AVCodecID CodecIdOf(CodecType type) {
  return type == AV_CODEC_TYPE_H264ENC   ? AV_CODEC_ID_H264
         : type == AV_CODEC_TYPE_HEVCENC ? AV_CODEC_ID_HEVC
                                         : AV_CODEC_ID_BMP;
}

// ---------------------------------------------------------------------------------------------
// Round trips through FFmpeg's decoders.

struct RoundTripCase {
  const char* name;
  CodecType type;
  PixelFormat source;
  int srcWidth, srcHeight, dstWidth, dstHeight;
  bool scaler;
};

class EncodeRoundTrip : public ::testing::TestWithParam<RoundTripCase> {};

TEST_P(EncodeRoundTrip, DecodesToTheSourcePictures) {
  const RoundTripCase& c = GetParam();
  CodecParam param = EncoderParam(c.source, c.srcWidth, c.srcHeight);
  param.stVideo.nDstWidth = c.dstWidth;
  param.stVideo.nDstHeight = c.dstHeight;
  CFFMpegVideoCodec codec;
  ASSERT_EQ(codec.Init(c.type, param), 0);
  EXPECT_EQ(Peer::Sws(codec) != nullptr, c.scaler);

  constexpr int kFrames = 8;
  const auto sources = SourcePictures(c.source, c.srcWidth, c.srcHeight, kFrames);
  const EncodeRun run = EncodeAll(codec, sources);
  // Without B-frames and look-ahead every picture comes straight back as its packet.
  EXPECT_EQ(run.results, std::vector<int>(kFrames, 1));
  const auto decoded = codec_test::DecodePackets(CodecIdOf(c.type), run.packets);
  ASSERT_EQ(decoded.size(), static_cast<size_t>(kFrames));
  const int width = c.dstWidth != 0 ? c.dstWidth : c.srcWidth;
  const int height = c.dstHeight != 0 ? c.dstHeight : c.srcHeight;
  for (int i = 0; i < kFrames; ++i) {
    SCOPED_TRACE(i);
    ASSERT_EQ(decoded[i]->width, width);
    ASSERT_EQ(decoded[i]->height, height);
    const FramePtr expected = codec_test::ConvertPicture(
        sources[i].get(), width, height, static_cast<AVPixelFormat>(decoded[i]->format));
    EXPECT_GT(codec_test::Psnr(decoded[i].get(), expected.get()), 35.0);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Encode, EncodeRoundTrip,
    ::testing::Values(
        RoundTripCase{"H264Yuv420p", AV_CODEC_TYPE_H264ENC, PIX_FMT_YUV420P, 320, 240, 0, 0,
                      false},
        RoundTripCase{"H264Nv12", AV_CODEC_TYPE_H264ENC, PIX_FMT_NV12, 320, 240, 0, 0, false},
        RoundTripCase{"H264BgraThroughScaler", AV_CODEC_TYPE_H264ENC, PIX_FMT_BGRA, 320, 240, 0,
                      0, true},
        RoundTripCase{"H264Downscaled", AV_CODEC_TYPE_H264ENC, PIX_FMT_YUV420P, 320, 240, 160,
                      120, true},
        RoundTripCase{"HevcYuv420p", AV_CODEC_TYPE_HEVCENC, PIX_FMT_YUV420P, 320, 240, 0, 0,
                      false},
        RoundTripCase{"HevcYuyvThroughScaler", AV_CODEC_TYPE_HEVCENC, PIX_FMT_YUYV422, 320, 240,
                      0, 0, true}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(EncodeBmp, PacketsDecodeToTheExactSourcePixels) {
  CFFMpegVideoCodec codec;
  ASSERT_EQ(codec.Init(AV_CODEC_TYPE_BMPENC, EncoderParam(PIX_FMT_BGRA, 64, 48)), 0);
  EXPECT_EQ(Peer::Sws(codec), nullptr);
  const auto sources = SourcePictures(PIX_FMT_BGRA, 64, 48, 3);
  const EncodeRun run = EncodeAll(codec, sources);
  EXPECT_EQ(run.results, std::vector<int>(3, 1));
  const auto decoded = codec_test::DecodePackets(AV_CODEC_ID_BMP, run.packets);
  ASSERT_EQ(decoded.size(), 3u);
  for (size_t i = 0; i < decoded.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_TRUE(codec_test::SamePixels(decoded[i].get(), sources[i].get()));
  }
}

// ---------------------------------------------------------------------------------------------
// The caller's buffer.

class EncodeBuffer : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(codec_.Init(AV_CODEC_TYPE_H264ENC, EncoderParam(PIX_FMT_YUV420P, 64, 48)), 0);
    picture_ = codec_test::PackPicture(SourcePictures(PIX_FMT_YUV420P, 64, 48, 1)[0].get());
  }
  CFFMpegVideoCodec codec_;
  Bytes picture_;
};

TEST_F(EncodeBuffer, OneByteShortFailsWithBothLines) {
  codec_test::ScopedLogCapture capture;
  CVideoEncodeOutParam out;
  out.m_nNum = 3;
  const int size = static_cast<int>(picture_.size());
  EXPECT_EQ(codec_.Encode(picture_.data(), size - 1, &out), -1);
  EXPECT_EQ(out.m_nNum, 0);
  const std::string need = "[CODE]av_image_fill_arrays  need buf len[" + std::to_string(size) +
                           "], but get [" + std::to_string(size - 1) + "]";
  EXPECT_EQ(capture->OwnLines(), (std::vector<LogLine>{{kError, need},
                                                       {kError, "[CODE]FillAVFrame failed"}}));
  // The object stays usable.
  EXPECT_EQ(codec_.Encode(picture_.data(), size, &out), 1);
}

TEST_F(EncodeBuffer, LargerBufferIsAcceptedAndItsTailIgnored) {
  codec_test::ScopedLogCapture capture;
  Bytes larger = picture_;
  larger.resize(picture_.size() + 4096, 0x5a);
  CVideoEncodeOutParam out;
  EXPECT_EQ(codec_.Encode(larger.data(), static_cast<int>(larger.size()), &out), 1);
  EXPECT_TRUE(capture->OwnLines().empty());
  const Bytes packet(out.m_outData[0].pData, out.m_outData[0].pData + out.m_outData[0].nSize);
  const auto decoded = codec_test::DecodePackets(AV_CODEC_ID_H264, {packet});
  ASSERT_EQ(decoded.size(), 1u);
  const auto source = SourcePictures(PIX_FMT_YUV420P, 64, 48, 1);
  EXPECT_GT(codec_test::Psnr(decoded[0].get(), source[0].get()), 35.0);
}

TEST_F(EncodeBuffer, CallerBufferIsNotReferencedAfterTheCall) {
  Bytes copy = picture_;
  CVideoEncodeOutParam out;
  ASSERT_EQ(codec_.Encode(copy.data(), static_cast<int>(copy.size()), &out), 1);
  EXPECT_EQ(Peer::VideoFrame(codec_)->data[0], nullptr);
  // Freeing the caller's bytes right away must not disturb a later call (ASan would see it).
  copy.clear();
  copy.shrink_to_fit();
  out.Clear();
  EXPECT_EQ(codec_.Encode(picture_.data(), static_cast<int>(picture_.size()), &out), 1);
}

TEST(EncodeRefusal, RefusedCallsLogNothingAndLeaveTheOutParamAlone) {
  Bytes bytes(64 * 48 * 3 / 2, 0x80);
  CFFMpegVideoCodec closed;
  CFFMpegVideoCodec open;
  ASSERT_EQ(open.Init(AV_CODEC_TYPE_H264ENC, EncoderParam(PIX_FMT_YUV420P, 64, 48)), 0);
  CFFMpegVideoCodec decoder;
  ASSERT_EQ(decoder.Init(AV_CODEC_TYPE_H264DEC, CodecParam{}), 0);
  codec_test::ScopedLogCapture capture;
  struct Case {
    const char* name;
    CFFMpegVideoCodec* codec;
    unsigned char* data;
    int size;
  };
  const Case cases[] = {
      {"not initialised", &closed, bytes.data(), static_cast<int>(bytes.size())},
      {"decoder", &decoder, bytes.data(), static_cast<int>(bytes.size())},
      {"null data", &open, nullptr, static_cast<int>(bytes.size())},
      {"empty", &open, bytes.data(), 0},
      {"negative size", &open, bytes.data(), -5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CVideoEncodeOutParam out;
    out.m_nNum = 0;
    out.m_nWidth = 7;
    EXPECT_EQ(c.codec->Encode(c.data, c.size, &out), -1);
    EXPECT_EQ(out.m_nWidth, 7);
  }
  CVideoDecodeOutParam wrongKind;
  EXPECT_EQ(open.Encode(bytes.data(), static_cast<int>(bytes.size()), &wrongKind), -1);
  EXPECT_EQ(open.Encode(bytes.data(), static_cast<int>(bytes.size()), nullptr), -1);
  EXPECT_TRUE(capture->OwnLines().empty());
}

TEST(EncodeFailure, EncoderLeftUnopenedByResetRejectsPictures) {
  CFFMpegVideoCodec codec;
  ASSERT_EQ(codec.Init(AV_CODEC_TYPE_BMPENC, EncoderParam(PIX_FMT_BGRA, 16, 8)), 0);
  // BMP has no RGB24 layout: InitEncode falls back to YUV420P, which BMP cannot open.
  ASSERT_EQ(codec.Reset(EncoderParam(PIX_FMT_RGB24, 16, 8)), -1);
  Bytes picture = codec_test::PackPicture(SourcePictures(PIX_FMT_RGB24, 16, 8, 1)[0].get());
  codec_test::ScopedLogCapture capture;
  CVideoEncodeOutParam out;
  out.m_nWidth = 7;
  EXPECT_EQ(codec.Encode(picture.data(), static_cast<int>(picture.size()), &out), -1);
  EXPECT_EQ(capture->OwnLines(),
            (std::vector<LogLine>{
                {kError, "[CODE]Video avcodec_send_frame failed:" +
                             std::to_string(AVERROR(EINVAL))}}));
  EXPECT_EQ(out.m_nNum, 0);
  EXPECT_EQ(out.m_nWidth, 7);  // a failed send leaves the size alone
  // Re-initialising with a layout BMP stores makes the object encode again.
  codec.Uninit();
  ASSERT_EQ(codec.Init(AV_CODEC_TYPE_BMPENC, EncoderParam(PIX_FMT_BGRA, 16, 8)), 0);
  picture = codec_test::PackPicture(SourcePictures(PIX_FMT_BGRA, 16, 8, 1)[0].get());
  EXPECT_EQ(codec.Encode(picture.data(), static_cast<int>(picture.size()), &out), 1);
  EXPECT_EQ(out.m_nWidth, 16);
}

// ---------------------------------------------------------------------------------------------
// Packets: ownership and timestamps.

class EncodeBmpPackets : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(codec_.Init(AV_CODEC_TYPE_BMPENC, EncoderParam(PIX_FMT_BGRA, 16, 8)), 0);
    sources_ = SourcePictures(PIX_FMT_BGRA, 16, 8, 2);
    first_ = codec_test::PackPicture(sources_[0].get());
    second_ = codec_test::PackPicture(sources_[1].get());
  }
  int Encode(Bytes& picture, CVideoEncodeOutParam& out) {
    return codec_.Encode(picture.data(), static_cast<int>(picture.size()), &out);
  }
  CFFMpegVideoCodec codec_;
  std::vector<FramePtr> sources_;
  Bytes first_;
  Bytes second_;
};

TEST_F(EncodeBmpPackets, CacheModeLendsTheCodecsOwnPacket) {
  CVideoEncodeOutParam out;
  ASSERT_EQ(Encode(first_, out), 1);
  EXPECT_EQ(out.m_pPacket[0], Peer::Packet(codec_));
  EXPECT_EQ(out.m_outData[0].pData, Peer::Packet(codec_)->data);
  EXPECT_EQ(out.m_outData[0].nSize, Peer::Packet(codec_)->size);
  out.Clear();
  EXPECT_EQ(Peer::Packet(codec_)->data, nullptr);  // Clear dropped the borrowed data
  ASSERT_EQ(Encode(second_, out), 1);
  EXPECT_EQ(out.m_pPacket[0], Peer::Packet(codec_));
}

TEST_F(EncodeBmpPackets, OwningModeEntriesSurviveLaterCalls) {
  CVideoEncodeOutParam kept(OUTPARAM_FLAG_NOT_USE_CACHE);
  ASSERT_EQ(Encode(first_, kept), 1);
  EXPECT_NE(kept.m_pPacket[0], Peer::Packet(codec_));
  const Bytes before(kept.m_outData[0].pData, kept.m_outData[0].pData + kept.m_outData[0].nSize);
  CVideoEncodeOutParam next(OUTPARAM_FLAG_NOT_USE_CACHE);
  ASSERT_EQ(Encode(second_, next), 1);
  const Bytes after(kept.m_outData[0].pData, kept.m_outData[0].pData + kept.m_outData[0].nSize);
  EXPECT_EQ(before, after);
  const auto decoded = codec_test::DecodePackets(AV_CODEC_ID_BMP, {after});
  ASSERT_EQ(decoded.size(), 1u);
  EXPECT_TRUE(codec_test::SamePixels(decoded[0].get(), sources_[0].get()));
  // The owned clones outlive the codec; their destructors free them.
  codec_.Uninit();
}

TEST(EncodePackets, TimestampsContinueAcrossResetAndUninit) {
  CFFMpegVideoCodec codec;
  const CodecParam param = EncoderParam(PIX_FMT_YUV420P, 64, 48);
  ASSERT_EQ(codec.Init(AV_CODEC_TYPE_H264ENC, param), 0);
  EXPECT_EQ(EncodeAll(codec, SourcePictures(PIX_FMT_YUV420P, 64, 48, 3)).pts,
            (std::vector<int64_t>{0, 1, 2}));
  ASSERT_EQ(codec.Reset(param), 0);
  EXPECT_EQ(EncodeAll(codec, SourcePictures(PIX_FMT_YUV420P, 64, 48, 2)).pts,
            (std::vector<int64_t>{3, 4}));
  codec.Uninit();
  ASSERT_EQ(codec.Init(AV_CODEC_TYPE_H264ENC, param), 0);
  EXPECT_EQ(EncodeAll(codec, SourcePictures(PIX_FMT_YUV420P, 64, 48, 1)).pts,
            (std::vector<int64_t>{5}));
}

TEST(EncodePackets, ResetToAnotherSizeEncodesTheNewSize) {
  CFFMpegVideoCodec codec;
  ASSERT_EQ(codec.Init(AV_CODEC_TYPE_H264ENC, EncoderParam(PIX_FMT_BGRA, 64, 48)), 0);
  ASSERT_EQ(codec.Reset(EncoderParam(PIX_FMT_YUV420P, 96, 64)), 0);
  EXPECT_EQ(Peer::Sws(codec), nullptr);
  const auto sources = SourcePictures(PIX_FMT_YUV420P, 96, 64, 2);
  const EncodeRun run = EncodeAll(codec, sources);
  const auto decoded = codec_test::DecodePackets(AV_CODEC_ID_H264, run.packets);
  ASSERT_EQ(decoded.size(), 2u);
  EXPECT_EQ(decoded[0]->width, 96);
  EXPECT_GT(codec_test::Psnr(decoded[1].get(), sources[1].get()), 35.0);
}

// ---------------------------------------------------------------------------------------------
// InitEncode on its own: what it writes into a fresh encoder context.

struct ContextCase {
  const char* encoder;  // FFmpeg encoder name
  AVPixelFormat source;
  AVPixelFormat chosen;
  std::vector<std::pair<std::string, std::string>> options;
};

TEST(InitEncode, FillsTheContextChoosesTheFormatAndPreparesTheOptions) {
  const ContextCase cases[] = {
      {"libx264", AV_PIX_FMT_YUV420P, AV_PIX_FMT_YUV420P,
       {{"preset", "slow"}, {"tune", "zerolatency"}, {"profile", "baseline"}}},
      {"libx264", AV_PIX_FMT_NV12, AV_PIX_FMT_NV12,
       {{"preset", "slow"}, {"tune", "zerolatency"}, {"profile", "baseline"}}},
      {"libx264", AV_PIX_FMT_BGRA, AV_PIX_FMT_YUV420P,
       {{"preset", "slow"}, {"tune", "zerolatency"}, {"profile", "baseline"}}},
      {"libx265", AV_PIX_FMT_YUV420P, AV_PIX_FMT_YUV420P,
       {{"preset", "ultrafast"}, {"tune", "zerolatency"}}},
      {"libx265", AV_PIX_FMT_RGBA, AV_PIX_FMT_YUV420P,
       {{"preset", "ultrafast"}, {"tune", "zerolatency"}}},
      {"bmp", AV_PIX_FMT_BGRA, AV_PIX_FMT_BGRA, {}},
      // BMP stores BGR24, not RGB24: the fallback is taken even though BMP refuses it later.
      {"bmp", AV_PIX_FMT_RGB24, AV_PIX_FMT_YUV420P, {}},
  };
  for (const ContextCase& c : cases) {
    SCOPED_TRACE(std::string(c.encoder) + " " + av_get_pix_fmt_name(c.source));
    CFFMpegVideoCodec codec;
    CodecCtxPtr ctx(avcodec_alloc_context3(avcodec_find_encoder_by_name(c.encoder)));
    ASSERT_NE(ctx, nullptr);
    Peer::PixFmt(codec) = c.source;
    CodecParam param = EncoderParam(PIX_FMT_NONE, 64, 48);
    param.stVideo.nBitRate = -1000;
    param.stVideo.nFrameRate = 30;
    param.stVideo.nGopSize = 12;
    param.stVideo.nDstWidth = 64;  // the height stays 0: the source height is taken
    Peer::VideoFrame(codec) = av_frame_alloc();  // Init's frame; the codec frees it
    ASSERT_EQ(Peer::InitEncode(codec, ctx.get(), param.stVideo), 0);
    EXPECT_EQ(ctx->pix_fmt, c.chosen);
    const AVFrame* send = Peer::VideoFrame(codec);
    EXPECT_EQ(send->format, c.chosen);
    EXPECT_EQ(send->width, 64);
    EXPECT_EQ(send->height, 48);
    EXPECT_EQ(send->pts, 0);
    // The send frame is bound to the picture buffer only when a scaler feeds it.
    EXPECT_EQ(send->data[0] != nullptr, c.chosen != c.source);
    EXPECT_EQ(send->data[0], Peer::ImageBuf(codec));
    EXPECT_EQ(ctx->bit_rate, -1000);
    EXPECT_EQ(ctx->width, 64);
    EXPECT_EQ(ctx->height, 48);
    EXPECT_EQ(ctx->time_base.num, 2);
    EXPECT_EQ(ctx->time_base.den, 30);
    EXPECT_EQ(ctx->framerate.num, 30);
    EXPECT_EQ(ctx->framerate.den, 1);
    EXPECT_EQ(ctx->gop_size, 12);
    EXPECT_EQ(ctx->max_b_frames, 0);
    EXPECT_EQ(ctx->refs, 6);
    std::vector<std::pair<std::string, std::string>> options;
    for (const AVDictionaryEntry* e = nullptr;
         (e = av_dict_iterate(Peer::EncodeOptions(codec), e)) != nullptr;) {
      options.emplace_back(e->key, e->value);
    }
    EXPECT_EQ(options, c.options);
    av_dict_free(&Peer::EncodeOptions(codec));
  }
}

TEST(InitEncode, JpegEncodersTakeAnyFormatOnlyWithRelaxedCompliance) {
  for (const int strict : {FF_COMPLIANCE_NORMAL, FF_COMPLIANCE_UNOFFICIAL,
                           FF_COMPLIANCE_EXPERIMENTAL}) {
    SCOPED_TRACE(strict);
    CFFMpegVideoCodec codec;
    CodecCtxPtr ctx(avcodec_alloc_context3(avcodec_find_encoder(AV_CODEC_ID_MJPEG)));
    ctx->strict_std_compliance = strict;
    Peer::PixFmt(codec) = AV_PIX_FMT_NV12;
    Peer::InitEncode(codec, ctx.get(), EncoderParam(PIX_FMT_NONE, 32, 32).stVideo);
    EXPECT_EQ(ctx->pix_fmt,
              strict <= FF_COMPLIANCE_UNOFFICIAL ? AV_PIX_FMT_NV12 : AV_PIX_FMT_YUV420P);
  }
}

struct ScalerCase {
  const char* name;
  PixelFormat source;
  int dstWidth, dstHeight, filterWidth, filterHeight;
  bool scaler;
  int swsWidth, swsHeight;
};

TEST(InitEncode, MakesTheScalerOnlyWhenSourceAndEncoderDiffer) {
  const ScalerCase cases[] = {
      {"same format and size", PIX_FMT_YUV420P, 0, 0, 0, 0, false, 0, 0},
      {"same size given explicitly", PIX_FMT_YUV420P, 160, 120, 0, 0, false, 0, 0},
      {"format differs", PIX_FMT_BGRA, 0, 0, 0, 0, true, 160, 120},
      {"size differs", PIX_FMT_YUV420P, 80, 60, 0, 0, true, 160, 120},
      {"filter output size", PIX_FMT_YUV420P, 0, 0, 80, 60, true, 80, 60},
      {"filter output equals encoder", PIX_FMT_YUV420P, 80, 60, 80, 60, false, 0, 0},
      {"half a filter size is ignored", PIX_FMT_YUV420P, 0, 0, 80, 0, false, 0, 0},
  };
  for (const ScalerCase& c : cases) {
    SCOPED_TRACE(c.name);
    CFFMpegVideoCodec codec;
    CodecParam param = EncoderParam(c.source, 160, 120);
    param.stVideo.nDstWidth = c.dstWidth;
    param.stVideo.nDstHeight = c.dstHeight;
    param.stVideo.nFilterOutWidth = c.filterWidth;
    param.stVideo.nFilterOutHeight = c.filterHeight;
    ASSERT_EQ(codec.Init(AV_CODEC_TYPE_H264ENC, param), 0);
    EXPECT_EQ(Peer::Sws(codec) != nullptr, c.scaler);
    EXPECT_EQ(Peer::ImageBuf(codec) != nullptr, c.scaler);
    const int width = c.dstWidth != 0 ? c.dstWidth : 160;
    const int height = c.dstHeight != 0 ? c.dstHeight : 120;
    EXPECT_EQ(Peer::RealDstWidth(codec), width);
    EXPECT_EQ(Peer::RealDstHeight(codec), height);
    EXPECT_EQ(Peer::SrcWidth(codec), 160);
    EXPECT_EQ(Peer::SrcHeight(codec), 120);
    if (c.scaler) {
      EXPECT_EQ(Peer::SwsSrcWidth(codec), c.swsWidth);
      EXPECT_EQ(Peer::SwsSrcHeight(codec), c.swsHeight);
      EXPECT_EQ(Peer::SwsSrcPixFmt(codec), ToAv(c.source));
      EXPECT_EQ(Peer::ImageBufSize(codec),
                av_image_get_buffer_size(AV_PIX_FMT_YUV420P, width, height, 1));
    }
  }
}

TEST(InitEncode, ScalerThatCannotBeMadeFailsInit) {
  codec_test::ScopedLogCapture capture;
  CFFMpegVideoCodec codec;
  CodecParam param = EncoderParam(PIX_FMT_BGRA, 160, 120);
  param.stVideo.nFilterOutWidth = -4;
  param.stVideo.nFilterOutHeight = -4;
  EXPECT_EQ(codec.Init(AV_CODEC_TYPE_H264ENC, param), -1);
  EXPECT_EQ(capture->OwnLines(),
            (std::vector<LogLine>{{kError, "[CODE]sws_getContext failed:-4--4 28  160-120 0"},
                                  {kError, "[CODE]SwsCtxInit failed"},
                                  {0, "[CODE]InitEncode failed"},
                                  {0, "[CODE]video codec uninit"}}));
  // Everything InitEncode prepared went with the failed Init (ASan checks the options).
  EXPECT_EQ(Peer::EncodeOptions(codec), nullptr);
  EXPECT_EQ(Peer::ImageBuf(codec), nullptr);
}

}  // namespace
