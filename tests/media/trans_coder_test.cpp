#include <gtest/gtest.h>

#include <array>
#include <cstdio>

#include "codec_interface.h"
#include "media/trans_coder.h"
#include "support/log_capture.h"
#include "support/media_files.h"

namespace {

using namespace codec_interface;
using codec_test::Bytes;
using codec_test::LogLine;
using codec_test::PictureParam;
using codec_test::SoundParam;

constexpr int kOwning = OUTPARAM_FLAG_NOT_USE_CACHE;

struct PixelPair {
  PixelFormat ours;
  AVPixelFormat av;
};
const PixelPair kPixelFormats[] = {
    {PIX_FMT_BGRA, AV_PIX_FMT_BGRA},       {PIX_FMT_RGB24, AV_PIX_FMT_RGB24},
    {PIX_FMT_RGBA, AV_PIX_FMT_RGBA},       {PIX_FMT_YUV420P, AV_PIX_FMT_YUV420P},
    {PIX_FMT_NV12, AV_PIX_FMT_NV12},       {PIX_FMT_YUVJ420P, AV_PIX_FMT_YUVJ420P},
    {PIX_FMT_YUYV422, AV_PIX_FMT_YUYV422},
};

// Hands a frame to an out-param the way a decoder in owning mode would.
void Hold(COutParam& out, FramePtr frame) {
  out.m_pFrame[out.m_nNum] = frame.release();
  out.m_nNum += 1;
}

// A picture's planes, rows packed.
Bytes PackedPicture(const uint8_t* const data[4], const int linesize[4], AVPixelFormat format,
                    int width, int height) {
  Bytes bytes(static_cast<size_t>(av_image_get_buffer_size(format, width, height, 1)));
  av_image_copy_to_buffer(bytes.data(), static_cast<int>(bytes.size()), data, linesize, format,
                          width, height, 1);
  return bytes;
}

// The same conversion through plain libswscale.
Bytes PlainScale(const AVFrame* src, AVPixelFormat format, int width, int height) {
  SwsPtr sws(sws_getContext(src->width, src->height, static_cast<AVPixelFormat>(src->format),
                            width, height, format, SWS_LANCZOS, nullptr, nullptr, nullptr));
  FramePtr out(av_frame_alloc());
  out->format = format;
  out->width = width;
  out->height = height;
  EXPECT_GE(av_frame_get_buffer(out.get(), 1), 0);
  EXPECT_EQ(sws_scale(sws.get(), src->data, src->linesize, 0, src->height, out->data,
                      out->linesize),
            height);
  return PackedPicture(out->data, out->linesize, format, width, height);
}

// The same conversion through plain libswresample, block by block.
class PlainResampler {
 public:
  PlainResampler(AVSampleFormat src, int srcRate, int srcChannels, AVSampleFormat dst,
                 int dstRate, int dstChannels)
      : dst_(dst), srcRate_(srcRate), dstRate_(dstRate), dstChannels_(dstChannels) {
    AVChannelLayout in{};
    AVChannelLayout out{};
    av_channel_layout_default(&in, srcChannels);
    av_channel_layout_default(&out, dstChannels);
    SwrContext* raw = nullptr;
    EXPECT_GE(swr_alloc_set_opts2(&raw, &out, dst, dstRate, &in, src, srcRate, 0, nullptr), 0);
    swr_.reset(raw);
    EXPECT_GE(swr_init(swr_.get()), 0);
  }
  Bytes Convert(const AVFrame* block) {
    const int room = static_cast<int>(
        av_rescale_rnd(block->nb_samples, dstRate_, srcRate_, AV_ROUND_UP));
    Bytes bytes(static_cast<size_t>(room * dstChannels_ * av_get_bytes_per_sample(dst_)));
    uint8_t* out[1] = {bytes.data()};
    const int got = swr_convert(swr_.get(), out, room, block->extended_data, block->nb_samples);
    EXPECT_GE(got, 0);
    bytes.resize(static_cast<size_t>(got * dstChannels_ * av_get_bytes_per_sample(dst_)));
    return bytes;
  }

 private:
  SwrPtr swr_;
  AVSampleFormat dst_;
  int srcRate_;
  int dstRate_;
  int dstChannels_;
};

class TransCoderTest : public ::testing::Test {
 protected:
  codec_test::ScopedLogCapture capture_;
};

// ---------------------------------------------------------------------------------------------
// Pictures.

TEST_F(TransCoderTest, Picture_Nv12FullHdToBgra720p_MatchesPlainSwscale) {
  CTransCoder trans;
  ASSERT_EQ(trans.Init(0, PictureParam(PIX_FMT_NV12, 1920, 1080, PIX_FMT_BGRA, 1280, 720)), 0);
  CVideoDecodeOutParam src(kOwning);
  Hold(src, codec_test::MakeTestPicture(1920, 1080, AV_PIX_FMT_NV12, 3));
  CVideoDecodeOutParam dst(kOwning);
  ASSERT_EQ(trans.Transcode(&src, 0, &dst), 0);

  ASSERT_EQ(dst.m_nNum, 1);
  const AVFrame* frame = dst.m_pFrame[0];
  ASSERT_NE(frame, nullptr);
  EXPECT_EQ(dst.m_ePixelFormat, PIX_FMT_BGRA);
  EXPECT_EQ(dst.m_nWidth, 1280);
  EXPECT_EQ(dst.m_nHeight, 720);
  EXPECT_EQ(dst.m_outData[0].nLinesize[0], 5120);
  EXPECT_EQ(dst.m_outData[0].pData[0], frame->data[0]);
  EXPECT_EQ(frame->format, AV_PIX_FMT_BGRA);
  EXPECT_EQ(PackedPicture(dst.m_outData[0].pData, dst.m_outData[0].nLinesize, AV_PIX_FMT_BGRA,
                          1280, 720),
            PlainScale(src.m_pFrame[0], AV_PIX_FMT_BGRA, 1280, 720));
  EXPECT_TRUE(capture_->OwnLines().empty());
}

// Every software format to every other, at sizes that are odd and change in both directions.
TEST_F(TransCoderTest, Picture_AllFormatPairsAndOddSizes_MatchPlainSwscale) {
  const struct {
    int srcW, srcH, dstW, dstH;
  } sizes[] = {{37, 23, 50, 31}, {64, 48, 33, 17}};
  for (const auto& size : sizes) {
    for (const auto& from : kPixelFormats) {
      for (const auto& to : kPixelFormats) {
        SCOPED_TRACE(testing::Message()
                     << av_get_pix_fmt_name(from.av) << " " << size.srcW << "x" << size.srcH
                     << " -> " << av_get_pix_fmt_name(to.av) << " " << size.dstW << "x"
                     << size.dstH);
        CTransCoder trans;
        ASSERT_EQ(trans.Init(0, PictureParam(from.ours, size.srcW, size.srcH, to.ours, size.dstW,
                                             size.dstH)),
                  0);
        CVideoDecodeOutParam src(kOwning);
        Hold(src, codec_test::MakeTestPicture(size.srcW, size.srcH, from.av, 1));
        CVideoDecodeOutParam dst(kOwning);
        ASSERT_EQ(trans.Transcode(&src, 0, &dst), 0);
        const AVFrame* frame = dst.m_pFrame[0];
        EXPECT_EQ(frame->format, to.av);
        EXPECT_EQ(dst.m_ePixelFormat, to.ours);
        EXPECT_EQ(dst.m_nWidth, size.dstW);
        EXPECT_EQ(dst.m_nHeight, size.dstH);
        for (int p = 0; p < 4; ++p) {
          EXPECT_EQ(dst.m_outData[0].pData[p], frame->data[p]);
          EXPECT_EQ(dst.m_outData[0].nLinesize[p], frame->linesize[p]);
        }
        // Rows are packed: the first line is exactly one row of the picture.
        EXPECT_EQ(dst.m_outData[0].nLinesize[0], av_image_get_linesize(to.av, size.dstW, 0));
        EXPECT_EQ(PackedPicture(frame->data, frame->linesize, to.av, size.dstW, size.dstH),
                  PlainScale(src.m_pFrame[0], to.av, size.dstW, size.dstH));
      }
    }
  }
  EXPECT_TRUE(capture_->OwnLines().empty());
}

// Formats without a mapping (none, the hardware surfaces, unknown numbers) and sizes the
// scaler refuses: each fails Init with its line, and nothing converts afterwards.
TEST_F(TransCoderTest, Picture_InitFailuresLogTheirLine) {
  std::vector<std::pair<TransCoderParam, std::string>> cases;
  char line[128];
  for (int format : std::initializer_list<int>{PIX_FMT_NONE, PIX_FMT_DXVA2, PIX_FMT_D3D12VA,
                                              PIX_FMT_D3D11VA, PIX_FMT_VIDEOTOOLBOX, 12, -1}) {
    const auto unmapped = static_cast<PixelFormat>(format);
    std::snprintf(line, sizeof line, "[CODE]GetPixelFormat failed:%d->%d", format, PIX_FMT_BGRA);
    cases.emplace_back(PictureParam(unmapped, 64, 48, PIX_FMT_BGRA, 32, 24), line);
    std::snprintf(line, sizeof line, "[CODE]GetPixelFormat failed:%d->%d", PIX_FMT_NV12, format);
    cases.emplace_back(PictureParam(PIX_FMT_NV12, 64, 48, unmapped, 32, 24), line);
  }
  for (const auto& [srcW, srcH, dstW, dstH] :
       std::vector<std::array<int, 4>>{{0, 1080, 1280, 720}, {1920, 1080, 1280, -2}}) {
    std::snprintf(line, sizeof line, "[CODE]sws_getContext failed:%d-%d %d  %d-%d %d", srcW,
                  srcH, AV_PIX_FMT_NV12, dstW, dstH, AV_PIX_FMT_RGB24);
    cases.emplace_back(PictureParam(PIX_FMT_NV12, srcW, srcH, PIX_FMT_RGB24, dstW, dstH), line);
  }
  for (const auto& [param, expected] : cases) {
    SCOPED_TRACE(expected);
    capture_->Clear();
    CTransCoder trans;
    EXPECT_EQ(trans.Init(0, param), -1);
    EXPECT_EQ(capture_->OwnLines(), (std::vector<LogLine>{{60, expected}}));
    capture_->Clear();
    CVideoDecodeOutParam in(kOwning);
    Hold(in, codec_test::MakeTestPicture(64, 48, AV_PIX_FMT_NV12, 0));
    CVideoDecodeOutParam out(kOwning);
    EXPECT_EQ(trans.Transcode(&in, 0, &out), -1);
    EXPECT_EQ(out.m_nNum, 0);
    EXPECT_TRUE(capture_->OwnLines().empty());
  }
}

TEST_F(TransCoderTest, Picture_CacheModeDestinationIsRefusedAndLeftUntouched) {
  CTransCoder trans;
  ASSERT_EQ(trans.Init(0, PictureParam(PIX_FMT_YUV420P, 64, 48, PIX_FMT_RGBA, 64, 48)), 0);
  CVideoDecodeOutParam src(kOwning);
  Hold(src, codec_test::MakeTestPicture(64, 48, AV_PIX_FMT_YUV420P, 0));
  for (int flags : {0, 2}) {  // bit 1 alone is still cache mode
    SCOPED_TRACE(flags);
    capture_->Clear();
    CVideoDecodeOutParam dst(flags);
    EXPECT_EQ(trans.Transcode(&src, 0, &dst), -1);
    EXPECT_EQ(capture_->OwnLines(),
              (std::vector<LogLine>{
                  {60, "[CODE]TranscodeVideo Out Param Can not set OUTPARAM_FLAG_NOT_USE_CACHE flag"}}));
    EXPECT_EQ(dst.m_nNum, 0);
    EXPECT_EQ(dst.m_pFrame[0], nullptr);
    EXPECT_EQ(dst.m_nWidth, 0);
    EXPECT_EQ(dst.m_ePixelFormat, PIX_FMT_NONE);
  }
}

// What Init did not describe is refused: converting it would read past the frame's planes.
TEST_F(TransCoderTest, Picture_SourceNotMatchingInitOrMissingIsRefusedSilently) {
  CTransCoder trans;
  ASSERT_EQ(trans.Init(0, PictureParam(PIX_FMT_YUV420P, 64, 48, PIX_FMT_BGRA, 32, 24)), 0);
  CVideoDecodeOutParam src(kOwning);
  Hold(src, codec_test::MakeTestPicture(32, 48, AV_PIX_FMT_YUV420P, 0));   // narrower
  Hold(src, codec_test::MakeTestPicture(64, 96, AV_PIX_FMT_YUV420P, 0));   // taller
  Hold(src, codec_test::MakeTestPicture(64, 48, AV_PIX_FMT_NV12, 0));      // other layout
  Hold(src, codec_test::MakeTestPicture(64, 48, AV_PIX_FMT_YUV420P, 0));   // as described
  src.m_pFrame[4] = nullptr;
  src.m_nNum = 5;                                                          // an empty entry
  CVideoDecodeOutParam dst(kOwning);
  for (int index : {0, 1, 2, 4, 5, -1, 20, 25}) {
    SCOPED_TRACE(index);
    EXPECT_EQ(trans.Transcode(&src, index, &dst), -1);
    EXPECT_EQ(dst.m_nNum, 0);
  }
  EXPECT_TRUE(capture_->OwnLines().empty());
  EXPECT_EQ(trans.Transcode(&src, 3, &dst), 0);
  EXPECT_EQ(dst.m_nNum, 1);
}

TEST_F(TransCoderTest, Picture_ResultIsOwnedByTheDestinationAlone) {
  CTransCoder trans;
  ASSERT_EQ(trans.Init(0, PictureParam(PIX_FMT_YUV420P, 64, 48, PIX_FMT_RGB24, 48, 32)), 0);
  CVideoDecodeOutParam dst(kOwning);
  Bytes first;
  {
    CVideoDecodeOutParam src(kOwning);
    Hold(src, codec_test::MakeTestPicture(64, 48, AV_PIX_FMT_YUV420P, 0));
    ASSERT_EQ(trans.Transcode(&src, 0, &dst), 0);
    first = PackedPicture(dst.m_outData[0].pData, dst.m_outData[0].nLinesize, AV_PIX_FMT_RGB24,
                          48, 32);
  }  // the source is gone; the result does not depend on it
  EXPECT_EQ(PackedPicture(dst.m_outData[0].pData, dst.m_outData[0].nLinesize, AV_PIX_FMT_RGB24,
                          48, 32),
            first);
  // A later conversion makes a new frame and leaves the one held elsewhere alone.
  CVideoDecodeOutParam kept(dst);
  dst.Clear();
  CVideoDecodeOutParam src(kOwning);
  Hold(src, codec_test::MakeTestPicture(64, 48, AV_PIX_FMT_YUV420P, 5));
  ASSERT_EQ(trans.Transcode(&src, 0, &dst), 0);
  EXPECT_NE(dst.m_pFrame[0], kept.m_pFrame[0]);
  EXPECT_EQ(PackedPicture(kept.m_pFrame[0]->data, kept.m_pFrame[0]->linesize, AV_PIX_FMT_RGB24,
                          48, 32),
            first);
}

// ---------------------------------------------------------------------------------------------
// Calls without a usable set-up.

TEST_F(TransCoderTest, Transcode_WithoutSetupNullArgumentsOrWrongClassesFailsSilently) {
  CVideoDecodeOutParam video(kOwning);
  Hold(video, codec_test::MakeTestPicture(16, 16, AV_PIX_FMT_YUV420P, 0));
  CAudioDecodeOutParam audio(kOwning);
  Hold(audio, codec_test::MakeToneFrame(AV_SAMPLE_FMT_S16, 8000, 1, 160, 0));
  CVideoDecodeOutParam videoDst(kOwning);
  CAudioDecodeOutParam audioDst(kOwning);

  CTransCoder trans;
  EXPECT_EQ(trans.Transcode(&video, 0, &videoDst), -1);  // before any Init
  EXPECT_EQ(trans.Transcode(&audio, 0, &audioDst), -1);

  ASSERT_EQ(trans.Init(0, PictureParam(PIX_FMT_YUV420P, 16, 16, PIX_FMT_BGRA, 16, 16)), 0);
  EXPECT_EQ(trans.Transcode(nullptr, 0, &videoDst), -1);
  EXPECT_EQ(trans.Transcode(&video, 0, nullptr), -1);
  EXPECT_EQ(trans.Transcode(&video, 0, &audioDst), -1);  // pictures land in a picture out-param

  ASSERT_EQ(trans.Init(1, SoundParam(SAMPLE_FMT_S16, 8000, 1, SAMPLE_FMT_S16, 16000, 1)), 0);
  EXPECT_EQ(trans.Transcode(&audio, 0, &videoDst), -1);

  // Kind 2 is stored, so nothing converts any more.
  EXPECT_EQ(trans.Init(2, PictureParam(PIX_FMT_YUV420P, 16, 16, PIX_FMT_BGRA, 16, 16)), -1);
  EXPECT_EQ(trans.Transcode(&video, 0, &videoDst), -1);
  EXPECT_EQ(trans.Transcode(&audio, 0, &audioDst), -1);
  EXPECT_EQ(videoDst.m_nNum + audioDst.m_nNum, 0);
  EXPECT_TRUE(capture_->OwnLines().empty());
}

TEST_F(TransCoderTest, Init_FailedInitDropsTheEarlierConverter) {
  CTransCoder trans;
  ASSERT_EQ(trans.Init(0, PictureParam(PIX_FMT_YUV420P, 16, 16, PIX_FMT_BGRA, 16, 16)), 0);
  EXPECT_EQ(trans.Init(0, PictureParam(PIX_FMT_YUV420P, 16, 16, PIX_FMT_D3D11VA, 16, 16)), -1);
  CVideoDecodeOutParam src(kOwning);
  Hold(src, codec_test::MakeTestPicture(16, 16, AV_PIX_FMT_YUV420P, 0));
  CVideoDecodeOutParam dst(kOwning);
  EXPECT_EQ(trans.Transcode(&src, 0, &dst), -1);
  EXPECT_EQ(dst.m_nNum, 0);

  ASSERT_EQ(trans.Init(1, SoundParam(SAMPLE_FMT_S16, 8000, 1, SAMPLE_FMT_S16, 16000, 1)), 0);
  EXPECT_EQ(trans.Init(1, SoundParam(SAMPLE_FMT_S16, 8000, 1, SAMPLE_FMT_S16, 0, 1)), -1);
  CAudioDecodeOutParam audio(kOwning);
  Hold(audio, codec_test::MakeToneFrame(AV_SAMPLE_FMT_S16, 8000, 1, 160, 0));
  CAudioDecodeOutParam audioDst(kOwning);
  EXPECT_EQ(trans.Transcode(&audio, 0, &audioDst), -1);
  EXPECT_EQ(audioDst.m_nNum, 0);
}

// ---------------------------------------------------------------------------------------------
// Sound.

struct SoundCase {
  const char* name;
  SampleFormat src;
  int srcRate;
  int srcChannels;
  SampleFormat dst;
  int dstRate;
  int dstChannels;
  int block;  // source samples per Transcode
};

// Runs blocks through the transcoder and through plain libswresample side by side.
void ExpectSameAsPlainResampler(const SoundCase& c, int blocks) {
  SCOPED_TRACE(c.name);
  const auto srcFormat = static_cast<AVSampleFormat>(c.src);
  const auto dstFormat = static_cast<AVSampleFormat>(c.dst);
  const int bytesPerSample = av_get_bytes_per_sample(dstFormat);
  const int room = static_cast<int>(av_rescale_rnd(c.block, c.dstRate, c.srcRate, AV_ROUND_UP));
  CTransCoder trans;
  ASSERT_EQ(trans.Init(1, SoundParam(c.src, c.srcRate, c.srcChannels, c.dst, c.dstRate,
                                     c.dstChannels)),
            0);
  PlainResampler plain(srcFormat, c.srcRate, c.srcChannels, dstFormat, c.dstRate,
                       c.dstChannels);
  for (int b = 0; b < blocks; ++b) {
    SCOPED_TRACE(testing::Message() << "block " << b);
    CAudioDecodeOutParam src(kOwning);
    Hold(src, codec_test::MakeToneFrame(srcFormat, c.srcRate, c.srcChannels, c.block,
                                        static_cast<int64_t>(b) * c.block));
    CAudioDecodeOutParam dst(kOwning);
    ASSERT_EQ(trans.Transcode(&src, 0, &dst), 0);
    ASSERT_EQ(dst.m_nNum, 1);
    const AVFrame* frame = dst.m_pFrame[0];
    EXPECT_EQ(frame->format, dstFormat);
    EXPECT_EQ(frame->sample_rate, c.dstRate);
    EXPECT_EQ(frame->ch_layout.nb_channels, c.dstChannels);
    // Room for the whole scaled block, interleaved, rows packed.
    EXPECT_EQ(frame->linesize[0], room * c.dstChannels * bytesPerSample);
    EXPECT_EQ(dst.m_outData[0].pData, frame->data[0]);
    // The entry covers exactly what was delivered.
    const Bytes expected = plain.Convert(src.m_pFrame[0]);
    EXPECT_EQ(dst.m_outData[0].nSize, static_cast<int>(expected.size()));
    EXPECT_EQ(frame->nb_samples * c.dstChannels * bytesPerSample,
              static_cast<int>(expected.size()));
    EXPECT_EQ(Bytes(dst.m_outData[0].pData, dst.m_outData[0].pData + dst.m_outData[0].nSize),
              expected);
  }
}

// Room for the whole scaled block; the first entry holds a little less while the resampler's
// filter fills, every later one the whole block.
TEST_F(TransCoderTest, Sound_S16MonoBlocksGiveRoomForTheScaledCount) {
  const struct {
    SoundCase c;
    int roomBytes;
  } cases[] = {
      {{"48000 -> 16000", SAMPLE_FMT_S16, 48000, 1, SAMPLE_FMT_S16, 16000, 1, 960}, 640},
      {{"8000 -> 48000", SAMPLE_FMT_S16, 8000, 1, SAMPLE_FMT_S16, 48000, 1, 160}, 1920},
  };
  for (const auto& [c, roomBytes] : cases) {
    ExpectSameAsPlainResampler(c, 3);
    CTransCoder trans;
    ASSERT_EQ(trans.Init(1, SoundParam(c.src, c.srcRate, 1, c.dst, c.dstRate, 1)), 0);
    std::vector<int> sizes;
    for (int b = 0; b < 3; ++b) {
      CAudioDecodeOutParam src(kOwning);
      Hold(src, codec_test::MakeToneFrame(AV_SAMPLE_FMT_S16, c.srcRate, 1, c.block, b * c.block));
      CAudioDecodeOutParam dst(kOwning);
      ASSERT_EQ(trans.Transcode(&src, 0, &dst), 0);
      EXPECT_EQ(dst.m_pFrame[0]->linesize[0], roomBytes);
      sizes.push_back(dst.m_outData[0].nSize);
    }
    EXPECT_LT(sizes[0], roomBytes);
    EXPECT_EQ(sizes[1], roomBytes);
    EXPECT_EQ(sizes[2], roomBytes);
  }
  EXPECT_TRUE(capture_->OwnLines().empty());
}

TEST_F(TransCoderTest, Sound_FormatsRatesAndChannels_MatchPlainSwresample) {
  const SoundCase cases[] = {
      {"u8 mono 44100 -> dbl stereo 48000", SAMPLE_FMT_U8, 44100, 1, SAMPLE_FMT_DBL, 48000, 2,
       1024},
      {"s32 stereo 48000 -> flt mono 24000", SAMPLE_FMT_S32, 48000, 2, SAMPLE_FMT_FLT, 24000, 1,
       480},
      {"dbl 5.1 32000 -> s16 stereo 32000", SAMPLE_FMT_DBL, 32000, 6, SAMPLE_FMT_S16, 32000, 2,
       640},
      {"flt stereo 16000 -> u8 mono 11025", SAMPLE_FMT_FLT, 16000, 2, SAMPLE_FMT_U8, 11025, 1,
       333},
      {"s16 stereo 22050 -> s32 7.1 44100", SAMPLE_FMT_S16, 22050, 2, SAMPLE_FMT_S32, 44100, 8,
       512},
  };
  for (const auto& c : cases) ExpectSameAsPlainResampler(c, 3);
  EXPECT_TRUE(capture_->OwnLines().empty());
}

TEST_F(TransCoderTest, Sound_RejectedSettingsFailInitWithTheDebugLine) {
  const struct {
    const char* name;
    TransCoderParam param;
  } cases[] = {
      {"no source format", SoundParam(SAMPLE_FMT_NONE, 48000, 1, SAMPLE_FMT_S16, 16000, 1)},
      {"planar is not ours", SoundParam(static_cast<SampleFormat>(6), 48000, 1, SAMPLE_FMT_S16,
                                        16000, 1)},
      {"no destination format",
       SoundParam(SAMPLE_FMT_S16, 48000, 1, static_cast<SampleFormat>(77), 16000, 1)},
      {"no source rate", SoundParam(SAMPLE_FMT_S16, 0, 1, SAMPLE_FMT_S16, 16000, 1)},
      {"no destination channels", SoundParam(SAMPLE_FMT_S16, 48000, 1, SAMPLE_FMT_S16, 16000, 0)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    capture_->Clear();
    CTransCoder trans;
    EXPECT_EQ(trans.Init(1, c.param), -1);
    EXPECT_EQ(capture_->OwnLines(),
              (std::vector<LogLine>{{0, "[CODE]Failed to initialize the resampling context"}}));
  }
}

TEST_F(TransCoderTest, Sound_CacheModeDestinationIsRefusedAndLeftUntouched) {
  CTransCoder trans;
  ASSERT_EQ(trans.Init(1, SoundParam(SAMPLE_FMT_S16, 8000, 1, SAMPLE_FMT_S16, 16000, 1)), 0);
  CAudioDecodeOutParam src(kOwning);
  Hold(src, codec_test::MakeToneFrame(AV_SAMPLE_FMT_S16, 8000, 1, 160, 0));
  CAudioDecodeOutParam dst(0);
  EXPECT_EQ(trans.Transcode(&src, 0, &dst), -1);
  EXPECT_EQ(capture_->OwnLines(),
            (std::vector<LogLine>{
                {60, "[CODE]TranscodeAudio Out Param Can not set OUTPARAM_FLAG_NOT_USE_CACHE flag"}}));
  EXPECT_EQ(dst.m_nNum, 0);
  EXPECT_EQ(dst.m_pFrame[0], nullptr);
  EXPECT_EQ(dst.m_outData[0].pData, nullptr);
}

TEST_F(TransCoderTest, Sound_SourceNotMatchingInitIsRefusedSilently) {
  CTransCoder trans;
  ASSERT_EQ(trans.Init(1, SoundParam(SAMPLE_FMT_S16, 48000, 1, SAMPLE_FMT_FLT, 16000, 2)), 0);
  CAudioDecodeOutParam src(kOwning);
  Hold(src, codec_test::MakeToneFrame(AV_SAMPLE_FMT_S16P, 48000, 1, 960, 0));  // planar
  Hold(src, codec_test::MakeToneFrame(AV_SAMPLE_FMT_S16, 48000, 2, 960, 0));   // two channels
  Hold(src, codec_test::MakeToneFrame(AV_SAMPLE_FMT_FLT, 48000, 1, 960, 0));   // float
  Hold(src, codec_test::MakeToneFrame(AV_SAMPLE_FMT_S16, 44100, 1, 960, 0));   // other rate
  CAudioDecodeOutParam dst(kOwning);
  for (int index = 0; index < 4; ++index) {
    SCOPED_TRACE(index);
    EXPECT_EQ(trans.Transcode(&src, index, &dst), -1);
    EXPECT_EQ(dst.m_nNum, 0);
  }
  EXPECT_TRUE(capture_->OwnLines().empty());
  // A frame that states no rate is taken at the rate Init gave.
  FramePtr unstated = codec_test::MakeToneFrame(AV_SAMPLE_FMT_S16, 48000, 1, 960, 0);
  unstated->sample_rate = 0;
  Hold(src, std::move(unstated));
  EXPECT_EQ(trans.Transcode(&src, 4, &dst), 0);
  EXPECT_EQ(dst.m_pFrame[0]->linesize[0], 320 * 2 * 4);
}

}  // namespace
