// Decoding: one compressed packet in, its PCM frames out in the host's format, through frames
// the codec keeps and reuses from call to call.
#include <algorithm>
#include <cstring>

#include "audio/ffmpeg_audio_codec.h"
#include "interface/log.h"
#include "interface/no_throw.h"
#include "interface/out_entries.h"

namespace codec_interface {

namespace {

bool SameShape(const AVFrame* a, const AVFrame* b) {
  return a->format == b->format && a->nb_samples == b->nb_samples &&
         a->sample_rate == b->sample_rate && a->ch_layout.nb_channels == b->ch_layout.nb_channels &&
         a->ch_layout.order == b->ch_layout.order;
}

// The frame in slot nIndex of the cache, created on first use.
AVFrame* CacheSlot(std::vector<FramePtr>& cache, int nIndex) {
  if (nIndex < 0) return nullptr;
  const auto index = static_cast<size_t>(nIndex);
  if (index >= cache.size()) cache.resize(index + 1);
  if (cache[index] == nullptr) cache[index].reset(av_frame_alloc());
  return cache[index].get();
}

}  // namespace

int CFFMpegAudioCodec::GetFrameBuffer(AVFrame* pFrame) {
  const auto format = static_cast<AVSampleFormat>(pFrame->format);
  const int channels = pFrame->ch_layout.nb_channels;
  // Plane pointers beyond the frame's own array need an allocation of their own anyway.
  if (av_sample_fmt_is_planar(format) != 0 && channels > AV_NUM_DATA_POINTERS) {
    return av_frame_get_buffer(pFrame, 0);
  }
  const int size = av_samples_get_buffer_size(nullptr, channels, pFrame->nb_samples, format, 0);
  if (size < 0) return size;
  if (m_pFramePool == nullptr || m_nFramePoolSize != size) {
    m_pFramePool.reset(av_buffer_pool_init(static_cast<size_t>(size), nullptr));
    m_nFramePoolSize = m_pFramePool != nullptr ? size : 0;
    if (m_pFramePool == nullptr) return AVERROR(ENOMEM);
  }
  // One buffer holds every plane, laid out as av_frame_get_buffer would.
  pFrame->buf[0] = av_buffer_pool_get(m_pFramePool.get());
  if (pFrame->buf[0] == nullptr) return AVERROR(ENOMEM);
  pFrame->extended_data = pFrame->data;
  return av_samples_fill_arrays(pFrame->data, &pFrame->linesize[0], pFrame->buf[0]->data,
                                channels, pFrame->nb_samples, format, 0);
}

int CFFMpegAudioCodec::CopyFrameWithReuse(int nIndex, std::vector<FramePtr>& cache,
                                          const AVFrame* pSource) {
  AVFrame* frame = CacheSlot(cache, nIndex);
  if (frame == nullptr) return -1;
  // A buffer that a host's owning entry still references is left to that entry: writing into
  // it would change samples the host was given earlier.
  const bool reuse =
      frame->buf[0] != nullptr && SameShape(frame, pSource) && av_frame_is_writable(frame) != 0;
  if (!reuse) {
    av_frame_unref(frame);
    frame->nb_samples = pSource->nb_samples;
    frame->format = pSource->format;
    frame->sample_rate = pSource->sample_rate;
    if (av_channel_layout_copy(&frame->ch_layout, &pSource->ch_layout) < 0 ||
        GetFrameBuffer(frame) < 0) {
      av_frame_unref(frame);
      return -1;
    }
  }
  return av_frame_copy(frame, pSource) < 0 ? -1 : 0;
}

int CFFMpegAudioCodec::HandOverDecoded(int nIndex) {
  AVFrame* frame = CacheSlot(m_vecFrameCache, nIndex);
  if (frame == nullptr) return -1;
  av_frame_unref(frame);
  av_frame_move_ref(frame, m_pAudioFrame.get());
  return 0;
}

void CFFMpegAudioCodec::FillInputPacket(uint8_t* pData, int nSize) {
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

bool CFFMpegAudioCodec::NeedsConversion(const AVFrame& frame) const {
  // Frames that differ from the declared source (a mono stream declared as stereo, another
  // rate) are converted to the destination too: they are what the resampler must read.
  return frame.format != m_eDstSampleFormat || m_nSrcChannels != m_nDstChannels ||
         m_nSrcSampleRate != m_nDstSampleRate ||
         (m_nSrcChannels > 0 && frame.ch_layout.nb_channels != m_nSrcChannels) ||
         (m_nSrcSampleRate > 0 && frame.sample_rate != m_nSrcSampleRate);
}

int CFFMpegAudioCodec::Decode(unsigned char* pData, int nSize, COutParam* pOut) {
  auto* out = dynamic_cast<CAudioDecodeOutParam*>(pOut);
  // Bytes that are not there, or a count before the entry arrays, are refused outright.
  if (out == nullptr || nSize < 0 || (pData == nullptr && nSize > 0) || out->m_nNum < 0) {
    return -1;
  }
  return WithoutThrowing(-1, [&] { return DecodeLocked(pData, nSize, out); });
}

int CFFMpegAudioCodec::DecodeLocked(uint8_t* pData, int nSize, CAudioDecodeOutParam* out) {
  std::lock_guard<std::mutex> lock(m_mtxCodec);
  if (!m_bDecoder || m_pPacket == nullptr || LeaveDrain() != 0) return -1;

  FillInputPacket(pData, nSize);
  int r = avcodec_send_packet(m_pCodecCtx.get(), m_pPacket.get());
  if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) return 0;
  if (r < 0) {
    CODEC_LOG(kLogError, "[CODE]audio avcodec_send_packet failed:%d", r);
    avcodec_flush_buffers(m_pCodecCtx.get());
    return -2;
  }

  // Slots are numbered by the frames handed over in this call.
  for (int slot = 0;;) {
    const int got = ReceiveFrame(out, slot);
    if (got == 0) return out->m_nNum;
    if (got == kOutFull) return OUTPARAM_MAX_COUNT;
    if (got < 0) return got;
    if (got == 1) ++slot;
  }
}

int CFFMpegAudioCodec::ReceiveFrame(CAudioDecodeOutParam* out, int slot) {
  int r = avcodec_receive_frame(m_pCodecCtx.get(), m_pAudioFrame.get());
  if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) return 0;
  if (r < 0) {
    CODEC_LOG(kLogError, "[CODE]audio avcodec_receive_frame failed:%d", r);
    avcodec_flush_buffers(m_pCodecCtx.get());
    return -2;
  }

  const AVFrame& decoded = *m_pAudioFrame;
  if (!NeedsConversion(decoded)) {
    // A frame already in the host's shape is handed over as decoded, without a copy: the
    // decoder takes a fresh buffer for its next frame, so the samples handed out stay put.
    if (HandOverDecoded(slot) < 0) {
      CODEC_LOG(kLogError, "[CODE]CopyFrameWithReuse failed");
      return -1;
    }
  } else {
    if (SwrResamplingInit(decoded) != 0) {
      CODEC_LOG(kLogError, "[CODE]SwrResamplingInit failed");
      return -1;
    }
    const int room = swr_get_out_samples(m_pSwrCtx.get(), decoded.nb_samples);
    if (room < 0 || PrepareSwrFrame(std::max(room, 1)) != 0) {
      CODEC_LOG(kLogError, "[CODE]m_pSwrFrame is null");
      return -1;
    }
    const int converted =
        swr_convert(m_pSwrCtx.get(), m_pSwrFrame->extended_data, m_nSwrOutSamples,
                    const_cast<const uint8_t**>(decoded.extended_data), decoded.nb_samples);
    if (converted < 0) {
      CODEC_LOG(kLogError, "[CODE]swr_convert failed");
      return -1;
    }
    // The resampler may hold everything back at first; nothing to hand over then.
    if (converted == 0) return kHeldBack;
    m_pSwrFrame->nb_samples = converted;
    if (CopyFrameWithReuse(slot, m_vecFrameCache, m_pSwrFrame.get()) < 0) {
      CODEC_LOG(kLogError, "[CODE]CopyFrameWithReuse failed");
      return -1;
    }
  }

  if (out->m_nNum >= OUTPARAM_MAX_COUNT) return kOutFull;
  if (AppendEntry(*out, m_vecFrameCache[static_cast<size_t>(slot)].get()) < 0) return -1;
  return 1;
}

}  // namespace codec_interface
