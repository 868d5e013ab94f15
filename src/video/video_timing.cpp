// Times of the video codec: a rational frame rate for the encoder, and packet times that the
// decoder carries onto the pictures it hands out.
#include <climits>

#include "interface/log.h"
#include "interface/no_throw.h"
#include "video/ffmpeg_video_codec.h"

namespace codec_interface {

// Packet times go to FFmpeg as given: MEDIA_NO_TIMESTAMP is its AV_NOPTS_VALUE.
static_assert(MEDIA_NO_TIMESTAMP == AV_NOPTS_VALUE, "no timestamp is FFmpeg's");

int CFFMpegVideoCodec::SetEncoderFrameRate(int nNum, int nDen) {
  const bool bCleared = nNum == 0 && nDen == 0;
  if (!bCleared && (nNum <= 0 || nDen <= 0)) {
    CODEC_LOG(kLogError, "[CODE]SetEncoderFrameRate refuses %d/%d", nNum, nDen);
    return -1;
  }
  std::lock_guard<std::mutex> lock(m_mtxCodec);
  m_stFrameRate = AVRational{nNum, nDen};
  return 0;
}

void CFFMpegVideoCodec::SetEncoderTiming(AVCodecContext* pCtx, int nFrameRate) const {
  // Two ticks a picture: the time base is twice the picture's duration.
  if (m_stFrameRate.num <= 0) {
    pCtx->time_base = AVRational{2, nFrameRate};
    pCtx->framerate = AVRational{nFrameRate, 1};
    return;
  }
  pCtx->framerate = m_stFrameRate;
  pCtx->time_base = m_stFrameRate.den <= INT_MAX / 2
                        ? AVRational{2 * m_stFrameRate.den, m_stFrameRate.num}
                        : av_mul_q(av_inv_q(m_stFrameRate), AVRational{2, 1});
}

int CFFMpegVideoCodec::DecodeTimed(unsigned char* pData, int nSize, int64_t nTimeUs,
                                   COutParam* pOut) {
  return WithoutThrowing(-1, [&] { return DecodeLocked(pData, nSize, pOut, nTimeUs); });
}

}  // namespace codec_interface
