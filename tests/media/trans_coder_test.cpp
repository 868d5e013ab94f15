#include "support/media.h"

namespace {

using namespace codec_test;

constexpr int kOwning = OUTPARAM_FLAG_NOT_USE_CACHE;

// Pictures at odd sizes that grow and shrink against plain libswscale with the same settings,
// and blocks of sound against plain libswresample: each result is a frame of its own (packed
// rows; room for the whole scaled block) that does not depend on the source any more.
TEST(TransCoder, PicturesAndSound_MatchPlainSwscaleAndSwresample) {
  ScopedLogCapture capture;
  // Formats, public then FFmpeg's, and sizes; the line size handed out.
  const std::tuple<int, AVPixelFormat, int, int, int, AVPixelFormat, int, int, int> pictures[] = {
      {PIX_FMT_NV12, AV_PIX_FMT_NV12, 1920, 1080, PIX_FMT_BGRA, AV_PIX_FMT_BGRA, 1280, 720, 5120},
      {PIX_FMT_RGBA, AV_PIX_FMT_RGBA, 64, 48, PIX_FMT_YUYV422, AV_PIX_FMT_YUYV422, 33, 17, 68},
      {PIX_FMT_YUV420P, AV_PIX_FMT_YUV420P, 37, 23, PIX_FMT_RGB24, AV_PIX_FMT_RGB24, 50, 31, 150},
      {PIX_FMT_YUVJ420P, AV_PIX_FMT_YUVJ420P, 64, 48, PIX_FMT_RGBA, AV_PIX_FMT_RGBA, 33, 17, 132},
  };
  for (const auto& [from, fromAv, srcW, srcH, to, toAv, dstW, dstH, lineSize] : pictures) {
    auto trans = ITransCoder::Create();
    ASSERT_EQ(trans->Init(0, TransParam(from, srcW, srcH, to, dstW, dstH)), 0);
    CVideoDecodeOutParam dst(kOwning);
    FramePtr plain;
    {
      CVideoDecodeOutParam src(kOwning);
      Hold(src, MakePicture(srcW, srcH, fromAv, 3));
      ASSERT_EQ(trans->Transcode(&src, 0, &dst), 0);
      plain = Scale(src.m_pFrame[0], dstW, dstH, toAv);
    }
    ASSERT_EQ(dst.m_nNum, 1);
    EXPECT_EQ(std::tuple(dst.m_outData[0].nLinesize[0], dst.m_outData[0].pData[0]),
              std::tuple(lineSize, dst.m_pFrame[0]->data[0]));
    EXPECT_TRUE(SamePixels(dst.m_pFrame[0], plain.get())) << av_get_pix_fmt_name(fromAv);
  }
  // Formats, rates and channel counts; samples per channel in a block and room for it.
  const std::tuple<int, int, int, int, int, int, int, int> sound[] = {
      {SAMPLE_FMT_S16, 48000, 1, SAMPLE_FMT_S16, 16000, 1, 960, 320},
      {SAMPLE_FMT_S16, 8000, 1, SAMPLE_FMT_S16, 48000, 1, 160, 960},
      {SAMPLE_FMT_U8, 44100, 1, SAMPLE_FMT_DBL, 48000, 2, 1024, 1115},
  };
  for (const auto& [from, srcRate, srcCh, to, dstRate, dstCh, block, room] : sound) {
    const int sampleBytes = dstCh * av_get_bytes_per_sample(AVSampleFormat(to));
    auto trans = ITransCoder::Create();
    ASSERT_EQ(trans->Init(1, TransParam(from, srcRate, srcCh, to, dstRate, dstCh)), 0);
    const SwrPtr plain = Resampler(AVSampleFormat(from), srcRate, srcCh, AVSampleFormat(to), dstRate, dstCh);
    for (int n = 0; n < 3; ++n) {
      CAudioDecodeOutParam src(kOwning), dst(kOwning);
      Hold(src, MakeTone(AVSampleFormat(from), srcRate, srcCh, block, n * block));
      ASSERT_EQ(trans->Transcode(&src, 0, &dst), 0);
      Bytes expected(static_cast<size_t>(room * sampleBytes));
      uint8_t* planes[1] = {expected.data()};
      expected.resize(swr_convert(plain.get(), planes, room, src.m_pFrame[0]->extended_data, block) * sampleBytes);
      ASSERT_EQ(dst.m_nNum, 1);
      const AVFrame* frame = dst.m_pFrame[0];
      EXPECT_EQ(std::tuple(frame->linesize[0], frame->nb_samples * sampleBytes, dst.m_outData[0].pData),
                std::tuple(room * sampleBytes, dst.m_outData[0].nSize, frame->data[0]));
      EXPECT_EQ(Bytes(frame->data[0], frame->data[0] + dst.m_outData[0].nSize), expected) << srcRate << " " << n;
    }
  }
  EXPECT_TRUE(capture->OwnLines().empty());
}

// Calls that cannot convert leave the destination empty. Only settings Init refuses and a
// destination in cache mode are worth a line; a refused Init also drops the converter an earlier
// Init made.
TEST(TransCoder, Refusals_LogTheirLineAndLeaveTheDestinationEmpty) {
  const TransCoderParam params[] = {TransParam(PIX_FMT_YUV420P, 64, 48, PIX_FMT_BGRA, 32, 24),
                                    TransParam(SAMPLE_FMT_S16, 48000, 1, SAMPLE_FMT_FLT, 16000, 2)};
  CVideoDecodeOutParam pictures(kOwning);
  Hold(pictures, MakePicture(64, 48, AV_PIX_FMT_NV12, 0));     // 0: other layout
  Hold(pictures, MakePicture(64, 48, AV_PIX_FMT_YUV420P, 0));  // 1: as described
  CAudioDecodeOutParam sound(kOwning);
  Hold(sound, MakeTone(AV_SAMPLE_FMT_S16, 44100, 1, 960, 0));  // 0: other rate
  Hold(sound, MakeTone(AV_SAMPLE_FMT_S16, 48000, 1, 960, 0));  // 1: as described
  const std::string cache = " Out Param Can not set OUTPARAM_FLAG_NOT_USE_CACHE flag";
  // The kind given to Init (-1: none), with a destination of that kind; the settings given to
  // Init next, which fails (all zero: none); the entry, the destination's flags, the lines.
  const std::tuple<int, TransCoderParam, int, int, std::vector<LogLine>> cases[] = {
      {-1, {}, 1, kOwning, {}},
      {0, TransParam(PIX_FMT_D3D11VA, 64, 48, PIX_FMT_BGRA, 32, 24), 1, kOwning,
       {{60, "[CODE]GetPixelFormat failed:10->1"}}},
      {0, TransParam(PIX_FMT_NV12, 0, 1080, PIX_FMT_RGB24, 1280, 720), 1, kOwning,
       {{60, "[CODE]sws_getContext failed:0-1080 23  1280-720 2"}}},
      // 6 would be FFmpeg's planar S16, which is not one of ours.
      {1, TransParam(6, 48000, 1, SAMPLE_FMT_S16, 16000, 1), 1, kOwning,
       {{0, "[CODE]Failed to initialize the resampling context"}}},
      {0, {}, 0, kOwning, {}},
      {0, {}, 1, 0, {{60, "[CODE]TranscodeVideo" + cache}}},
      {1, {}, 0, kOwning, {}},
      {1, {}, 1, 0, {{60, "[CODE]TranscodeAudio" + cache}}},
  };
  int row = 0;
  for (const auto& [kind, refused, index, flags, lines] : cases) {
    SCOPED_TRACE(row++);
    auto trans = ITransCoder::Create();
    EXPECT_EQ(kind < 0 ? 0 : trans->Init(kind, params[kind]), 0);
    ScopedLogCapture capture;
    EXPECT_EQ(refused.nSrcHeight != 0 ? trans->Init(kind, refused) : -1, -1);
    CVideoDecodeOutParam pictureDst(flags);
    CAudioDecodeOutParam soundDst(flags);
    COutParam& dst = kind == 1 ? static_cast<COutParam&>(soundDst) : pictureDst;
    EXPECT_EQ(trans->Transcode(kind == 1 ? static_cast<COutParam*>(&sound) : &pictures, index, &dst), -1);
    EXPECT_EQ(dst.m_nNum, 0);
    EXPECT_EQ(capture->OwnLines(), lines);
  }
}

}  // namespace
