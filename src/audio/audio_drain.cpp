// Draining the audio codec at the end of a stream: the encoder's last partial frame, padded
// with silence, and the packets it delays; the frames a decoder still holds. Results are
// appended to the host's out-param; then the codec is ready for a new stream.
#include "audio/ffmpeg_audio_codec.h"
#include "interface/log.h"
#include "interface/no_throw.h"

namespace codec_interface {

int CFFMpegAudioCodec::Drain(COutParam* pOut) {
  return WithoutThrowing(-1, [&] {
    std::lock_guard<std::mutex> lock(m_mtxCodec);
    if (!m_bInit || m_pCodecCtx == nullptr || pOut == nullptr || pOut->m_nNum < 0) return -1;
    if (m_bDecoder) {
      auto* pDecOut = dynamic_cast<CAudioDecodeOutParam*>(pOut);
      return pDecOut != nullptr ? DrainDecoder(pDecOut) : -1;
    }
    auto* pEncOut = dynamic_cast<CAudioEncodeOutParam*>(pOut);
    return pEncOut != nullptr ? DrainEncoder(pEncOut) : -1;
  });
}

int CFFMpegAudioCodec::DrainDecoder(CAudioDecodeOutParam* pOut) {
  // A full out-param takes nothing: the drain goes on once the host has cleared it.
  if (pOut->m_nNum >= OUTPARAM_MAX_COUNT) return OUTPARAM_MAX_COUNT;
  const int nBefore = pOut->m_nNum;
  if (!m_bDraining) {
    // EOF: an empty packet given to Decode has ended the stream already.
    const int nSent = avcodec_send_packet(m_pCodecCtx.get(), nullptr);
    if (nSent < 0 && nSent != AVERROR_EOF) {
      CODEC_LOG(kLogError, "[CODE]audio drain avcodec_send_packet failed:%d", nSent);
      avcodec_flush_buffers(m_pCodecCtx.get());
      return -1;
    }
    m_bDraining = true;
  }
  while (pOut->m_nNum < OUTPARAM_MAX_COUNT) {
    // Each frame its own cache slot: entries the host still holds keep their samples.
    const int nGot = ReceiveFrame(pOut, pOut->m_nNum);
    if (nGot < 0) {
      LeaveDrain();
      return -1;
    }
    if (nGot == 0) {
      LeaveDrain();
      break;
    }
  }
  return pOut->m_nNum > nBefore ? pOut->m_nNum : 0;
}

int CFFMpegAudioCodec::DrainEncoder(CAudioEncodeOutParam* pOut) {
  if (pOut->m_nNum >= OUTPARAM_MAX_COUNT) return OUTPARAM_MAX_COUNT;
  const int nBefore = pOut->m_nNum;
  if (!m_bDraining) {
    m_bDraining = true;
    if (EncodePaddedTail(pOut) != 0) {
      LeaveDrain();
      return -1;
    }
    const int nSent = avcodec_send_frame(m_pCodecCtx.get(), nullptr);
    if (nSent < 0 && nSent != AVERROR_EOF) {
      CODEC_LOG(kLogError, "[CODE]audio drain avcodec_send_frame failed:%d", nSent);
      LeaveDrain();
      return -1;
    }
  }
  while (pOut->m_nNum < OUTPARAM_MAX_COUNT) {
    const int nGot = ReceivePacket(pOut);
    if (nGot < 0) {
      LeaveDrain();
      return -1;
    }
    if (nGot == 0) {
      if (LeaveDrain() != 0) return -1;
      break;
    }
  }
  return pOut->m_nNum > nBefore ? pOut->m_nNum : 0;
}

int CFFMpegAudioCodec::EncodePaddedTail(CAudioEncodeOutParam* pOut) {
  const int nHeld = m_pEncodeFifo != nullptr ? av_audio_fifo_size(m_pEncodeFifo.get()) : 0;
  const int nFrameSize = m_pCodecCtx->frame_size;
  if (nHeld <= 0 || nFrameSize <= 0) return 0;
  // An encoder that takes a short last frame pads it itself and knows the stream's true end
  // (its delay flushed no further than needed); any other gets silence up to a whole frame.
  const bool bShortLast = (m_pCodec->capabilities & AV_CODEC_CAP_SMALL_LAST_FRAME) != 0;
  if (PrepareWorkFrame(bShortLast ? nHeld : nFrameSize) != 0) {
    CODEC_LOG(kLogError, "[CODE]audio drain could not prepare the last frame");
    return -1;
  }
  AVFrame* frame = m_pAudioFrame.get();
  auto** ppPlanes = reinterpret_cast<void**>(frame->extended_data);
  const int nRead = av_audio_fifo_read(m_pEncodeFifo.get(), ppPlanes, nHeld);
  if (nRead != nHeld) {
    CODEC_LOG(kLogError, "[CODE]av_audio_fifo_read failed[%d] frame_size[%d]", nRead, nFrameSize);
    return -1;
  }
  av_samples_set_silence(frame->extended_data, nHeld, frame->nb_samples - nHeld,
                         frame->ch_layout.nb_channels, static_cast<AVSampleFormat>(frame->format));
  return EncodeFrame(frame, pOut) < 0 ? -1 : 0;
}

int CFFMpegAudioCodec::LeaveDrain() {
  if (!m_bDraining) return 0;
  m_bDraining = false;
  if (m_bDecoder) {
    avcodec_flush_buffers(m_pCodecCtx.get());
    return 0;
  }
  // An encoder told the end of its stream takes no frame until it is opened anew; what the
  // FIFOs and the resampler kept belongs to the stream that ended.
  m_pEncodeFifo.reset();
  m_pRateFifo.reset();
  m_pCodecCtx.reset(avcodec_alloc_context3(m_pCodec));
  if (m_pCodecCtx == nullptr) {
    CODEC_LOG(kLogError, "[CODE]audio drain could not allocate the encoder again");
    m_bInit = false;  // nothing to encode with until Init
    return -1;
  }
  const int nOpened = OpenCodec(m_stParam);
  if (nOpened < 0) {
    CODEC_LOG(kLogError, "[CODE]audio drain could not open the encoder again:[%d][%s]", nOpened,
              AvErrorText(nOpened).c_str());
    return -1;
  }
  if (m_pSwrCtx != nullptr && SwrResamplingInit(m_eSrcSampleFormat) != 0) {
    CODEC_LOG(kLogError, "[CODE]SwrEncResamplingInit failed");
    return -1;
  }
  return 0;
}

}  // namespace codec_interface
