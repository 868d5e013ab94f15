#include "media/trans_coder.h"

#include "audio/resampler.h"
#include "interface/log.h"
#include "interface/out_entries.h"
#include "interface/pixel_formats.h"
#include "interface/sample_formats.h"

namespace codec_interface {

namespace {

// The entry nIndex of pSrc, or null when there is none.
const AVFrame* SourceFrame(const COutParam* pSrc, int nIndex) {
  if (nIndex < 0 || nIndex >= pSrc->m_nNum || nIndex >= OUTPARAM_MAX_COUNT) return nullptr;
  return pSrc->m_pFrame[nIndex];
}

}  // namespace

CTransCoder::CTransCoder()
    : m_nKind(0),
      m_stParam{},
      m_eDstPixelFormat(AV_PIX_FMT_YUV420P),  // FFmpeg's 0, as the rest is zero
      m_eDstSampleFormat(AV_SAMPLE_FMT_U8),
      m_stDstChLayout{} {}

CTransCoder::~CTransCoder() { av_channel_layout_uninit(&m_stDstChLayout); }

AVPixelFormat CTransCoder::GetPixelFormat(PixelFormat eFormat) {
  // None, and the hardware surfaces, which a scaler cannot read, map to none.
  AVPixelFormat eAv = AV_PIX_FMT_NONE;
  if (IsMemoryPixelFormat(eFormat)) PixelFormatToAv(eFormat, &eAv);
  return eAv;
}

AVSampleFormat CTransCoder::GetSampleFormat(SampleFormat eFormat) {
  return SampleFormatToAv(eFormat);
}

int CTransCoder::Init(int nKind, const TransCoderParam& param) {
  m_nKind = nKind;
  m_stParam = param;
  // The record is replaced, so a converter of an earlier Init no longer matches it.
  m_scaler.Reset();
  m_pSwrContext.reset();
  if (nKind == 0) return InitVideo();
  if (nKind == 1) return InitAudio();
  return -1;
}

int CTransCoder::InitVideo() {
  const AVPixelFormat eSrc = GetPixelFormat(m_stParam.eSrcPixelFormat);
  m_eDstPixelFormat = GetPixelFormat(m_stParam.eDstPixelFormat);
  if (eSrc == AV_PIX_FMT_NONE || m_eDstPixelFormat == AV_PIX_FMT_NONE) {
    CODEC_LOG(kLogError, "GetPixelFormat failed:%d->%d", m_stParam.eSrcPixelFormat,
              m_stParam.eDstPixelFormat);
    return -1;
  }
  return m_scaler.Init({m_stParam.nSrcWidth, m_stParam.nSrcHeight, eSrc, m_stParam.nDstWidth,
                        m_stParam.nDstHeight, m_eDstPixelFormat});
}

int CTransCoder::InitAudio() {
  const AVSampleFormat eSrc = GetSampleFormat(m_stParam.eSrcSampleFormat);
  m_eDstSampleFormat = GetSampleFormat(m_stParam.eDstSampleFormat);
  AVChannelLayout stSrcLayout{};
  av_channel_layout_default(&stSrcLayout, m_stParam.nSrcChannels);
  av_channel_layout_uninit(&m_stDstChLayout);
  av_channel_layout_default(&m_stDstChLayout, m_stParam.nDstChannels);
  SwrPtr pSwr = MakeResampler({&stSrcLayout, m_stParam.nSrcSampleRate, eSrc},
                              {&m_stDstChLayout, m_stParam.nDstSampleRate, m_eDstSampleFormat});
  av_channel_layout_uninit(&stSrcLayout);
  if (pSwr == nullptr) return -1;
  m_pSwrContext = std::move(pSwr);
  return 0;
}

int CTransCoder::Transcode(COutParam* pSrc, int nIndex, COutParam* pDst) {
  if (pSrc == nullptr || pDst == nullptr) return -1;
  // The destination's own members are filled, so it must be of the kind's class.
  if (m_nKind == 0) {
    auto* pVideoDst = dynamic_cast<CVideoDecodeOutParam*>(pDst);
    return pVideoDst != nullptr ? TranscodeVideo(pSrc, nIndex, pVideoDst) : -1;
  }
  if (m_nKind == 1) {
    auto* pAudioDst = dynamic_cast<CAudioDecodeOutParam*>(pDst);
    return pAudioDst != nullptr ? TranscodeAudio(pSrc, nIndex, pAudioDst) : -1;
  }
  return -1;
}

int CTransCoder::TranscodeVideo(COutParam* pSrc, int nIndex, CVideoDecodeOutParam* pDst) {
  if (!m_scaler.Ready()) return -1;
  if (!OwnsEntries(pDst->m_nFlag)) {
    CODEC_LOG(kLogError, "TranscodeVideo Out Param Can not set OUTPARAM_FLAG_NOT_USE_CACHE flag");
    return -1;
  }
  const AVFrame* pIn = SourceFrame(pSrc, nIndex);
  if (pIn == nullptr) return -1;
  if (pIn->format != GetPixelFormat(m_stParam.eSrcPixelFormat) ||
      pIn->width != m_stParam.nSrcWidth || pIn->height != m_stParam.nSrcHeight) {
    return -1;
  }

  FramePtr pOut(av_frame_alloc());
  if (pOut == nullptr) return -1;
  pOut->format = m_eDstPixelFormat;
  pOut->width = m_stParam.nDstWidth;
  pOut->height = m_stParam.nDstHeight;
  if (av_frame_get_buffer(pOut.get(), 1) < 0) return -1;

  // A picture that declares its colour matrix and range is converted with them.
  if (m_scaler.FollowColour(*pIn) < 0) return -1;
  m_scaler.TagConverted(*pOut);
  const int nRows = m_scaler.ScaleInto(*pIn, *pOut);
  if (nRows != m_stParam.nDstHeight) {
    CODEC_LOG(kLogError, "sws_scale get height[%d] is diff with [%d]", nRows, m_stParam.nDstHeight);
    return -1;
  }

  // Earlier entries are the caller's to clear: the result always goes into the first.
  PutOwnedFirstEntry(*pDst, std::move(pOut));
  pDst->m_ePixelFormat = m_stParam.eDstPixelFormat;
  return 0;
}

int CTransCoder::TranscodeAudio(COutParam* pSrc, int nIndex, CAudioDecodeOutParam* pDst) {
  if (m_pSwrContext == nullptr) return -1;
  if (!OwnsEntries(pDst->m_nFlag)) {
    CODEC_LOG(kLogError, "TranscodeAudio Out Param Can not set OUTPARAM_FLAG_NOT_USE_CACHE flag");
    return -1;
  }
  const AVFrame* pIn = SourceFrame(pSrc, nIndex);
  if (pIn == nullptr) return -1;
  if (pIn->format != GetSampleFormat(m_stParam.eSrcSampleFormat) ||
      pIn->ch_layout.nb_channels != m_stParam.nSrcChannels ||
      (pIn->sample_rate != 0 && pIn->sample_rate != m_stParam.nSrcSampleRate)) {
    return -1;
  }

  const int64_t nRoom = av_rescale_rnd(pIn->nb_samples, m_stParam.nDstSampleRate,
                                       m_stParam.nSrcSampleRate, AV_ROUND_UP);
  if (nRoom <= 0 || nRoom > INT32_MAX) return -1;
  FramePtr pOut(av_frame_alloc());
  if (pOut == nullptr) return -1;
  pOut->format = m_eDstSampleFormat;
  pOut->sample_rate = m_stParam.nDstSampleRate;
  pOut->nb_samples = static_cast<int>(nRoom);
  if (av_channel_layout_copy(&pOut->ch_layout, &m_stDstChLayout) < 0) return -1;
  if (av_frame_get_buffer(pOut.get(), 1) < 0) return -1;

  const int nGot = swr_convert(m_pSwrContext.get(), pOut->extended_data, pOut->nb_samples,
                               pIn->extended_data, pIn->nb_samples);
  if (nGot < 0) {
    CODEC_LOG(kLogError, "swr_convert failed");
    return -1;
  }

  // The entry covers what was delivered; the rest of the block holds nothing yet.
  pOut->nb_samples = nGot;
  const int nSize =
      nGot * pOut->ch_layout.nb_channels * av_get_bytes_per_sample(m_eDstSampleFormat);
  PutOwnedFirstEntry(*pDst, std::move(pOut));
  pDst->m_outData[0].nSize = nSize;
  return 0;
}

}  // namespace codec_interface
