// The static additions of ICodecInterface: each reaches the codec object's own member, which
// takes the object's lock as Decode and Encode do.
#include "audio/ffmpeg_audio_codec.h"
#include "codec_interface.h"
#include "interface/log.h"
#include "video/codec_threads.h"
#include "video/ffmpeg_video_codec.h"

namespace codec_interface {

int ICodecInterface::Drain(ICodecInterface& codec, COutParam* pOut) {
  if (auto* video = dynamic_cast<CFFMpegVideoCodec*>(&codec)) return video->Drain(pOut);
  if (auto* audio = dynamic_cast<CFFMpegAudioCodec*>(&codec)) return audio->Drain(pOut);
  return -1;
}

namespace {

// The video object behind @p codec; null after the line naming the caller when it is none.
CFFMpegVideoCodec* VideoObject(ICodecInterface& codec, const char* pCaller) {
  auto* video = dynamic_cast<CFFMpegVideoCodec*>(&codec);
  if (video == nullptr) CODEC_LOG(kLogError, "%s needs a video codec object", pCaller);
  return video;
}

}  // namespace

int ICodecInterface::SetEncoderFrameRate(ICodecInterface& codec, int nNum, int nDen) {
  CFFMpegVideoCodec* video = VideoObject(codec, "SetEncoderFrameRate");
  return video != nullptr ? video->SetEncoderFrameRate(nNum, nDen) : -1;
}

int ICodecInterface::SetEncoderColour(ICodecInterface& codec, int nMatrix, int nRange,
                                      int nPrimaries, int nTransfer) {
  CFFMpegVideoCodec* video = VideoObject(codec, "SetEncoderColour");
  return video != nullptr ? video->SetEncoderColour(nMatrix, nRange, nPrimaries, nTransfer) : -1;
}

int ICodecInterface::SetThreads(ICodecInterface& codec, int nCount, int nKinds) {
  CFFMpegVideoCodec* video = VideoObject(codec, "SetThreads");
  return video != nullptr ? video->SetThreads(nCount, nKinds) : -1;
}

int ICodecInterface::SetDefaultThreads(int nDecoderCount, int nDecoderKinds, int nEncoderCount) {
  return StoreDefaultThreads(nDecoderCount, nDecoderKinds, nEncoderCount);
}

int ICodecInterface::DecodeTimed(ICodecInterface& codec, unsigned char* pData, int nSize,
                                 int64_t nTimeUs, COutParam* pOut) {
  if (auto* video = dynamic_cast<CFFMpegVideoCodec*>(&codec)) {
    return video->DecodeTimed(pData, nSize, nTimeUs, pOut);
  }
  return codec.Decode(pData, nSize, pOut);
}

int64_t ICodecInterface::GetPictureTime(const CVideoDecodeOutParam& out, int nIndex) {
  if (nIndex < 0 || nIndex >= out.m_nNum || nIndex >= OUTPARAM_MAX_COUNT ||
      out.m_pFrame[nIndex] == nullptr) {
    return MEDIA_NO_TIMESTAMP;
  }
  // The decoder's reordered packet time; its estimate for pictures of packets without one.
  const AVFrame& picture = *out.m_pFrame[nIndex];
  return picture.pts != AV_NOPTS_VALUE ? picture.pts : picture.best_effort_timestamp;
}

}  // namespace codec_interface
