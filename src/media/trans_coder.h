#pragma once

#include <cstdint>

#include "codec_interface.h"
#include "interface/av_ptr.h"
#include "interface/scaler.h"

namespace codec_interface {

// Converts one decoded picture (kind 0: pixel format and size) or one decoded block of sound
// (kind 1: sample format, rate and channels) without a codec. Every result is a new frame that
// the destination out-param owns, so the destination must be made with
// OUTPARAM_FLAG_NOT_USE_CACHE; clear it before every Transcode.
//
// The source entry must be what Init described: a picture of the source format and size, or
// sound of the source sample format and channel count (and rate, when the frame states one).
// Anything else is refused with -1, because the converter would read past the frame's planes.
//
// Sound: the resampler carries samples between calls, so consecutive blocks form one stream.
// Each result holds room for the source count scaled to the destination rate, but its entry
// (frame nb_samples and m_outData[0].nSize) covers only the samples really delivered: fewer
// at the start while the resampler's filter fills, possibly none for a tiny block.
//
// A failed Init leaves the object without a converter until the next successful Init.
class CTransCoder final : public ITransCoder {
 public:
  CTransCoder();
  virtual ~CTransCoder();

  int Init(int nKind, const TransCoderParam& param) override;
  int Transcode(COutParam* pSrc, int nIndex, COutParam* pDst) override;

 private:
  static AVPixelFormat GetPixelFormat(PixelFormat eFormat);
  static AVSampleFormat GetSampleFormat(SampleFormat eFormat);

  int InitVideo();
  int InitAudio();
  int TranscodeVideo(COutParam* pSrc, int nIndex, CVideoDecodeOutParam* pDst);
  int TranscodeAudio(COutParam* pSrc, int nIndex, CAudioDecodeOutParam* pDst);

  int32_t m_nKind;
  TransCoderParam m_stParam;
  Scaler m_scaler;
  SwrPtr m_pSwrContext;
  AVPixelFormat m_eDstPixelFormat;
  AVSampleFormat m_eDstSampleFormat;
  AVChannelLayout m_stDstChLayout;
};

}  // namespace codec_interface
