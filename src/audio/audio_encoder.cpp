// The audio encoder's set-up and the end of its stream.
#include "audio/audio_encoder.h"

#include <string>

#include "interface/codec_exchange.h"
#include "interface/log.h"

namespace codec_interface {

AudioEncoder::AudioEncoder(const AudioCodecFacts& facts, const AudioCodecParam& param)
    : m_facts(facts),
      m_stParam(param),
      m_resampler(facts.formats.nDstChannels, facts.formats.nDstRate, facts.formats.eDst) {}

int AudioEncoder::Open() {
  if (m_facts.bAdts && m_aacFilter.Create() != 0) {
    CODEC_LOG(kLogError, "InitBsfc [%s] failed", "aac_adtstoasc");
    CODEC_LOG(kLogError, "InitCodec failed");
    return -1;
  }
  m_pCodecCtx = AllocateAudioContext(m_facts);
  if (m_pCodecCtx == nullptr) {
    CODEC_LOG(kLogError, "InitCodec failed");
    return -1;
  }
  if (OpenCodec() < 0) {
    CODEC_LOG(kLogDebug, "Could not open codec");
    return -1;
  }
  if (m_aacFilter.Start(m_pCodecCtx.get()) != 0) {
    CODEC_LOG(kLogDebug, "InitBsfc failed");
    return -1;
  }
  m_pWorkFrame.reset(av_frame_alloc());
  if (m_pWorkFrame == nullptr) {
    CODEC_LOG(kLogDebug, "Could not allocate audio frame");
    return -1;
  }
  const AudioFormats& f = m_formats;
  const bool convert =
      f.eSrc != f.eDst || f.nSrcChannels != f.nDstChannels || f.nSrcRate != f.nDstRate;
  if (convert && m_resampler.BuildFor(f.nSrcChannels, f.nSrcRate, f.eSrc) != 0) {
    CODEC_LOG(kLogError, "SwrEncResamplingInit failed");
    return -1;
  }
  return 0;
}

int AudioEncoder::OpenCodec() {
  AVCodecContext* ctx = m_pCodecCtx.get();
  ctx->bit_rate = static_cast<int64_t>(m_stParam.nBitRate);
  ctx->codec_type = AVMEDIA_TYPE_AUDIO;
  ctx->sample_fmt = m_formats.eDst;
  ctx->sample_rate = m_stParam.nDstSampleRate;
  av_channel_layout_uninit(&ctx->ch_layout);
  av_channel_layout_default(&ctx->ch_layout, m_stParam.nDstChannels);
  // Encoders without the option leave it in the dictionary, which is freed after opening.
  AvOptions options;
  const int duration = m_stParam.nFrameDuration;
  options.Set("frame_duration", duration != 0 ? std::to_string(duration).c_str() : "20");
  return avcodec_open2(ctx, m_facts.pCodec, options.Slot());
}

int AudioEncoder::Drain(CAudioEncodeOutParam* pOut) {
  if (pOut->m_nNum >= OUTPARAM_MAX_COUNT) return OUTPARAM_MAX_COUNT;
  const int nBefore = pOut->m_nNum;
  if (!m_bDraining) {
    m_bDraining = true;
    if (EncodePaddedTail(pOut) != 0) {
      AbandonDrain();
      return -1;
    }
    const ExchangeStatus sent = EncoderSend(m_pCodecCtx.get(), nullptr);
    if (!sent.Passed() && !sent.Ended()) {
      CODEC_LOG(kLogError, "audio drain avcodec_send_frame failed:%d", sent.Code());
      AbandonDrain();
      return -1;
    }
  }
  while (pOut->m_nNum < OUTPARAM_MAX_COUNT) {
    const int nGot = ReceivePacket(pOut);
    if (nGot < 0) {
      AbandonDrain();
      return -1;
    }
    if (nGot == 0) {
      if (LeaveDrain() != 0) return -1;
      break;
    }
  }
  return pOut->m_nNum > nBefore ? pOut->m_nNum : 0;
}

int AudioEncoder::EncodePaddedTail(CAudioEncodeOutParam* pOut) {
  const int nHeld = m_pEncodeFifo != nullptr ? av_audio_fifo_size(m_pEncodeFifo.get()) : 0;
  const int nFrameSize = m_pCodecCtx->frame_size;
  if (nHeld <= 0 || nFrameSize <= 0) return 0;
  // An encoder that takes a short last frame pads it itself and knows the stream's true end
  // (its delay flushed no further than needed); any other gets silence up to a whole frame.
  const bool bShortLast = (m_facts.pCodec->capabilities & AV_CODEC_CAP_SMALL_LAST_FRAME) != 0;
  if (PrepareWorkFrame(bShortLast ? nHeld : nFrameSize) != 0) {
    CODEC_LOG(kLogError, "audio drain could not prepare the last frame");
    return -1;
  }
  AVFrame* frame = m_pWorkFrame.get();
  auto** ppPlanes = reinterpret_cast<void**>(frame->extended_data);
  const int nRead = av_audio_fifo_read(m_pEncodeFifo.get(), ppPlanes, nHeld);
  if (nRead != nHeld) {
    CODEC_LOG(kLogError, "av_audio_fifo_read failed[%d] frame_size[%d]", nRead, nFrameSize);
    return -1;
  }
  av_samples_set_silence(frame->extended_data, nHeld, frame->nb_samples - nHeld,
                         frame->ch_layout.nb_channels, static_cast<AVSampleFormat>(frame->format));
  return EncodeFrame(frame, pOut) < 0 ? -1 : 0;
}

int AudioEncoder::LeaveDrain() {
  if (!m_bDraining) return 0;
  m_bDraining = false;
  // An encoder told the end of its stream takes no frame until it is opened anew; what the
  // FIFOs and the resampler kept belongs to the stream that ended.
  m_pEncodeFifo.reset();
  m_pRateFifo.reset();
  m_pCodecCtx.reset(avcodec_alloc_context3(m_facts.pCodec));
  if (m_pCodecCtx == nullptr) {
    CODEC_LOG(kLogError, "audio drain could not allocate the encoder again");
    return -1;
  }
  const int nOpened = OpenCodec();
  if (nOpened < 0) {
    CODEC_LOG(kLogError, "audio drain could not open the encoder again:[%d][%s]", nOpened,
              AvErrorText(nOpened).c_str());
    return -1;
  }
  const AudioFormats& f = m_formats;
  if (m_resampler.Get() != nullptr &&
      m_resampler.BuildFor(f.nSrcChannels, f.nSrcRate, f.eSrc) != 0) {
    CODEC_LOG(kLogError, "SwrEncResamplingInit failed");
    return -1;
  }
  return 0;
}

}  // namespace codec_interface
