// The audio decoder: one compressed packet in, its PCM frames out in the host's format, through
// frames it keeps and reuses from call to call; and the end of a stream.
#include "audio/audio_decoder.h"

#include <algorithm>
#include <cstring>

#include "interface/codec_exchange.h"
#include "interface/log.h"
#include "interface/out_entries.h"

namespace codec_interface {

AudioDecoder::AudioDecoder(const AudioCodecFacts& facts)
    : m_facts(facts),
      m_resampler(facts.formats.nDstChannels, facts.formats.nDstRate, facts.formats.eDst) {}

int AudioDecoder::Open() {
  m_pCodecCtx = AllocateAudioContext(m_facts);
  if (m_pCodecCtx == nullptr) {
    CODEC_LOG(kLogError, "InitCodec failed");
    return -1;
  }
  AVCodecContext* ctx = m_pCodecCtx.get();
  ctx->codec_type = AVMEDIA_TYPE_AUDIO;
  ctx->sample_fmt = m_formats.eDst;
  ctx->sample_rate = m_formats.nSrcRate;
  av_channel_layout_uninit(&ctx->ch_layout);
  ctx->ch_layout.order = AV_CHANNEL_ORDER_UNSPEC;
  ctx->ch_layout.nb_channels = m_formats.nSrcChannels;
  if (avcodec_open2(ctx, m_facts.pCodec, nullptr) < 0) {
    CODEC_LOG(kLogDebug, "Could not open codec");
    return -1;
  }
  m_pDecoded.reset(av_frame_alloc());
  if (m_pDecoded == nullptr) {
    CODEC_LOG(kLogDebug, "Could not allocate audio frame");
    return -1;
  }
  // Decode never sends through a missing packet: it checks m_pPacket itself.
  m_pPacket.reset(av_packet_alloc());
  return 0;
}

void AudioDecoder::FillInputPacket(uint8_t* pData, int nSize) {
  AVPacket* packet = m_pPacket.get();
  if (pData == nullptr || nSize <= 0) {
    // An empty packet drains the decoder and a packet without size is refused by it: both go
    // on exactly as given.
    av_packet_unref(packet);
    packet->data = pData;
    packet->size = nSize;
    return;
  }
  // FFmpeg copies a packet that has no buffer of its own on every send. The bytes go into a
  // buffer of ours instead, kept from call to call while the decoder holds no reference to it;
  // the caller's bytes are not kept.
  const size_t needed = static_cast<size_t>(nSize) + AV_INPUT_BUFFER_PADDING_SIZE;
  if (packet->buf == nullptr || packet->buf->size < needed ||
      av_buffer_is_writable(packet->buf) == 0) {
    av_buffer_unref(&packet->buf);
    packet->buf = av_buffer_alloc(needed);
    if (packet->buf == nullptr) {
      packet->data = pData;  // FFmpeg copies it then
      packet->size = nSize;
      return;
    }
  }
  std::memcpy(packet->buf->data, pData, static_cast<size_t>(nSize));
  std::memset(packet->buf->data + nSize, 0, AV_INPUT_BUFFER_PADDING_SIZE);
  packet->data = packet->buf->data;
  packet->size = nSize;
}

bool AudioDecoder::NeedsConversion(const AVFrame& frame) const {
  // Frames that differ from the declared source (a mono stream declared as stereo, another
  // rate) are converted to the destination too: they are what the resampler must read.
  const AudioFormats& f = m_formats;
  return frame.format != f.eDst || f.nSrcChannels != f.nDstChannels || f.nSrcRate != f.nDstRate ||
         (f.nSrcChannels > 0 && frame.ch_layout.nb_channels != f.nSrcChannels) ||
         (f.nSrcRate > 0 && frame.sample_rate != f.nSrcRate);
}

int AudioDecoder::Decode(uint8_t* pData, int nSize, CAudioDecodeOutParam* pOut) {
  if (m_pPacket == nullptr) return -1;
  LeaveDrain();
  FillInputPacket(pData, nSize);
  const ExchangeStatus sent = DecoderSend(m_pCodecCtx.get(), m_pPacket.get());
  if (sent.Idle()) return 0;
  if (sent.Failed()) {
    CODEC_LOG(kLogError, "audio avcodec_send_packet failed:%d", sent.Code());
    avcodec_flush_buffers(m_pCodecCtx.get());
    return -2;
  }
  // Slots are numbered by the frames handed over in this call.
  for (int slot = 0;;) {
    const int got = ReceiveFrame(pOut, slot);
    if (got == 0) return pOut->m_nNum;
    if (got == kOutFull) return OUTPARAM_MAX_COUNT;
    if (got < 0) return got;
    if (got == 1) ++slot;
  }
}

int AudioDecoder::ReceiveFrame(CAudioDecodeOutParam* pOut, int nSlot) {
  const ExchangeStatus got = DecoderReceive(m_pCodecCtx.get(), m_pDecoded.get());
  if (got.Idle()) return 0;
  if (got.Failed()) {
    CODEC_LOG(kLogError, "audio avcodec_receive_frame failed:%d", got.Code());
    avcodec_flush_buffers(m_pCodecCtx.get());
    return -2;
  }
  if (!NeedsConversion(*m_pDecoded)) {
    // A frame already in the host's shape is handed over as decoded, without a copy: the
    // decoder takes a fresh buffer for its next frame, so the samples handed out stay put.
    if (m_frames.HandOver(nSlot, m_pDecoded.get()) < 0) {
      CODEC_LOG(kLogError, "CopyFrameWithReuse failed");
      return -1;
    }
  } else if (const int converted = ConvertInto(nSlot); converted != 0) {
    return converted;
  }
  if (pOut->m_nNum >= OUTPARAM_MAX_COUNT) return kOutFull;
  if (AppendEntry(*pOut, m_frames.Slot(nSlot)) < 0) return -1;
  return 1;
}

int AudioDecoder::ConvertInto(int nSlot) {
  const AVFrame& decoded = *m_pDecoded;
  if (m_resampler.Fit(decoded) != 0) {
    CODEC_LOG(kLogError, "SwrResamplingInit failed");
    return -1;
  }
  const int room = swr_get_out_samples(m_resampler.Get(), decoded.nb_samples);
  if (room < 0 || PrepareSwrFrame(std::max(room, 1)) != 0) {
    CODEC_LOG(kLogError, "m_pSwrFrame is null");
    return -1;
  }
  const int converted =
      swr_convert(m_resampler.Get(), m_pSwrFrame->extended_data, m_nSwrOutSamples,
                  const_cast<const uint8_t**>(decoded.extended_data), decoded.nb_samples);
  if (converted < 0) {
    CODEC_LOG(kLogError, "swr_convert failed");
    return -1;
  }
  // The resampler may hold everything back at first; nothing to hand over then.
  if (converted == 0) return kHeldBack;
  m_pSwrFrame->nb_samples = converted;
  if (m_frames.CopyWithReuse(nSlot, m_pSwrFrame.get()) < 0) {
    CODEC_LOG(kLogError, "CopyFrameWithReuse failed");
    return -1;
  }
  return 0;
}

int AudioDecoder::PrepareSwrFrame(int nSamples) {
  if (m_pSwrFrame != nullptr && m_nSwrOutSamples >= nSamples) return 0;
  // Room for every sample this frame can yield, what the resampler holds back included, so
  // nothing piles up inside it.
  m_pSwrFrame.reset();
  m_nSwrOutSamples = 0;
  FramePtr frame(av_frame_alloc());
  if (frame == nullptr) return -1;
  frame->nb_samples = nSamples;
  frame->format = m_formats.eDst;
  frame->sample_rate = m_formats.nDstRate;
  if (av_channel_layout_copy(&frame->ch_layout, &m_resampler.OutLayout()) < 0 ||
      av_frame_get_buffer(frame.get(), 0) < 0) {
    return -1;
  }
  m_pSwrFrame = std::move(frame);
  m_nSwrOutSamples = nSamples;
  return 0;
}

int AudioDecoder::Drain(CAudioDecodeOutParam* pOut) {
  // A full out-param takes nothing: the drain goes on once the host has cleared it.
  if (pOut->m_nNum >= OUTPARAM_MAX_COUNT) return OUTPARAM_MAX_COUNT;
  const int nBefore = pOut->m_nNum;
  if (!m_bDraining) {
    // EOF: an empty packet given to Decode has ended the stream already.
    const ExchangeStatus sent = DecoderSend(m_pCodecCtx.get(), nullptr);
    if (!sent.Passed() && !sent.Ended()) {
      CODEC_LOG(kLogError, "audio drain avcodec_send_packet failed:%d", sent.Code());
      avcodec_flush_buffers(m_pCodecCtx.get());
      return -1;
    }
    m_bDraining = true;
  }
  while (pOut->m_nNum < OUTPARAM_MAX_COUNT) {
    // Each frame its own slot: entries the host still holds keep their samples.
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

void AudioDecoder::LeaveDrain() {
  if (!m_bDraining) return;
  m_bDraining = false;
  avcodec_flush_buffers(m_pCodecCtx.get());
}

}  // namespace codec_interface
