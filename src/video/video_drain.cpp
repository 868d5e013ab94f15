// Draining the video codec at the end of a stream: the pictures a decoder keeps back for
// reordering and the packets an encoder delays come out one a call; then the codec is ready
// for a new stream with the same settings.
#include "interface/log.h"
#include "interface/no_throw.h"
#include "interface/out_entries.h"
#include "video/ffmpeg_video_codec.h"

namespace codec_interface {

int CFFMpegVideoCodec::Drain(COutParam* pOut) {
  return WithoutThrowing(-1, [&] {
    std::lock_guard<std::mutex> lock(m_mtxCodec);
    if (!m_bInit || m_pCodecCtx == nullptr || pOut == nullptr) return -1;
    if (m_bDecoder) {
      auto* pDecOut = dynamic_cast<CVideoDecodeOutParam*>(pOut);
      return pDecOut != nullptr ? DrainDecoder(pDecOut) : -1;
    }
    auto* pEncOut = dynamic_cast<CVideoEncodeOutParam*>(pOut);
    return pEncOut != nullptr ? DrainEncoder(pEncOut) : -1;
  });
}

int CFFMpegVideoCodec::DrainDecoder(CVideoDecodeOutParam* pOut) {
  pOut->m_nNum = 0;
  pOut->m_bDecodeError = false;
  AVCodecContext* ctx = m_pCodecCtx.get();
  // A MediaCodec decoder that never saw its parameter sets holds nothing.
  if (!avcodec_is_open(ctx)) return 0;
  for (;;) {
    if (!m_bDraining) {
      const int nSent = avcodec_send_packet(ctx, nullptr);
      // EAGAIN: pictures wait to be received first; the end is told on the next round.
      if (nSent < 0 && nSent != AVERROR(EAGAIN) && nSent != AVERROR_EOF) {
        CODEC_LOG(kLogError, "[CODE]video drain avcodec_send_packet failed:%d", nSent);
        LeaveDrain();
        return -1;
      }
      m_bDraining = nSent != AVERROR(EAGAIN);
    }
    const int nReceived = avcodec_receive_frame(ctx, m_pVideoFrame.get());
    if (nReceived == AVERROR_EOF || nReceived == AVERROR(EAGAIN)) {
      LeaveDrain();
      return 0;
    }
    if (nReceived < 0) {
      CODEC_LOG(kLogError, "[CODE]video drain avcodec_receive_frame failed:%d", nReceived);
      LeaveDrain();
      return -1;
    }
    if (m_pVideoFrame->decode_error_flags != 0) pOut->m_bDecodeError = true;
    if (OutPutFrame(pOut) < 0) {
      CODEC_LOG(kLogError, "[CODE]OutPutFrame failed!");
      LeaveDrain();
      return -1;
    }
    // A filter that keeps the picture back hands out nothing for it: on to the next one.
    if (pOut->m_nNum > 0) return pOut->m_nNum;
  }
}

int CFFMpegVideoCodec::DrainEncoder(CVideoEncodeOutParam* pOut) {
  pOut->m_nNum = 0;
  if (!m_bDraining) {
    const int nSent = avcodec_send_frame(m_pCodecCtx.get(), nullptr);
    if (nSent < 0 && nSent != AVERROR_EOF) {
      CODEC_LOG(kLogError, "[CODE]video drain avcodec_send_frame failed:%d", nSent);
      LeaveDrain();
      return -1;
    }
    m_bDraining = true;
  }
  if (ReceivePacket(pOut) != 0) {
    LeaveDrain();
    return -1;
  }
  if (pOut->m_nNum == 0) return LeaveDrain();
  pOut->m_nWidth = m_nRealDstWidth;
  pOut->m_nHeight = m_nRealDstHeight;
  return pOut->m_nNum;
}

int CFFMpegVideoCodec::LeaveDrain() {
  if (!m_bDraining) return 0;
  m_bDraining = false;
  if (m_bDecoder) {
    avcodec_flush_buffers(m_pCodecCtx.get());
    return 0;
  }
  return ReopenEncoder();
}

// An encoder told the end of its stream takes no picture again until it is opened anew; a
// flush does not undo the end for every encoder (libx264's lookahead stays stopped).
int CFFMpegVideoCodec::ReopenEncoder() {
  m_scaler.Reset();
  if (RecreateCodecContext(false, nullptr) != 0) {
    CODEC_LOG(kLogError, "[CODE]video drain could not allocate the encoder again");
    return -1;
  }
  m_pImageBuf.reset();
  m_nImageBufSize = 0;
  if (InitEncode(m_pCodecCtx.get(), m_stParam) != 0) {
    CODEC_LOG(kLogError, "[CODE]InitEncode failed");
    return -1;
  }
  const int nOpened = OpenCodecContext(false);
  if (nOpened < 0) {
    CODEC_LOG(kLogError, "[CODE]video drain could not open the encoder again:[%d][%s]", nOpened,
              AvErrorText(nOpened).c_str());
    return -1;
  }
  return 0;
}

}  // namespace codec_interface
