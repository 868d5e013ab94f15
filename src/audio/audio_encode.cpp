// Encoding: host PCM of any length is held back until it converts to a whole number of
// destination samples, converted to the encoder's format, rate and channel count, cut into the
// frames the encoder demands, and every packet the encoder returns is handed to the host.
#include <algorithm>
#include <array>

#include "audio/ffmpeg_audio_codec.h"
#include "interface/log.h"
#include "interface/no_throw.h"
#include "interface/out_entries.h"

namespace codec_interface {

int CFFMpegAudioCodec::Encode(unsigned char* pData, int nSize, COutParam* pOut) {
  auto* out = dynamic_cast<CAudioEncodeOutParam*>(pOut);
  // A count before the entry arrays is refused outright.
  if (out == nullptr || out->m_nNum < 0) return -1;
  return WithoutThrowing(-1, [&] { return EncodeLocked(pData, nSize, out); });
}

int CFFMpegAudioCodec::EncodeLocked(uint8_t* pData, int nSize, CAudioEncodeOutParam* out) {
  std::lock_guard<std::mutex> lock(m_mtxCodec);
  if (m_bDecoder || !m_bInit || LeaveDrain() != 0) return -1;

  const int sampleBytes = av_get_bytes_per_sample(m_eSrcSampleFormat) * m_nSrcChannels;
  int nbSamples = (sampleBytes > 0 && nSize > 0) ? nSize / sampleBytes : 0;
  // Less than one sample of all channels: nothing to take, FIFOs and encoder stay as they are.
  if (nbSamples <= 0 || pData == nullptr) return out->m_nNum;

  uint8_t* chunk = pData;
  if (m_nSrcSampleRate != m_nDstSampleRate) {
    if (HoldBackForRate(chunk, nbSamples) != 0) return -1;
    if (nbSamples == 0) return out->m_nNum;  // everything waits for the next chunk
  }

  std::array<uint8_t*, kMaxPlanes> planes;  // filled by ConvertSamples as far as used
  const int converted = ConvertSamples(chunk, nbSamples, planes.data());
  if (converted < 0) return -1;
  if (converted == 0) return out->m_nNum;  // the resampler holds it all back for now

  // A whole frame goes straight in only while no older samples wait in the encode FIFO;
  // otherwise it would overtake them.
  const bool anySize = (m_pCodec->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE) != 0;
  const bool fifoEmpty = m_pEncodeFifo == nullptr || av_audio_fifo_size(m_pEncodeFifo.get()) == 0;
  if (anySize || (converted == m_pCodecCtx->frame_size && fifoEmpty)) {
    return EncodeDirect(planes.data(), converted, out);
  }
  return EncodeThroughFifo(planes.data(), converted, out);
}

int CFFMpegAudioCodec::PrepareWorkFrame(int nbSamples) {
  AVFrame* frame = m_pAudioFrame.get();
  if (frame->buf[0] != nullptr && frame->nb_samples == nbSamples) {
    return av_frame_make_writable(frame) < 0 ? -1 : 0;
  }
  // The work frame always carries its own buffers: samples are copied in, never pointed at, so
  // a frame the encoder still holds never refers to the host's earlier input. Buffers large
  // enough stay (chunks of varying size do not reallocate); a buffer the encoder still
  // references is replaced rather than overwritten.
  const auto format = static_cast<AVSampleFormat>(m_pCodecCtx->sample_fmt);
  const int channels = m_pCodecCtx->ch_layout.nb_channels;
  const int planeBytes = av_samples_get_buffer_size(
      nullptr, av_sample_fmt_is_planar(format) != 0 ? 1 : channels, nbSamples, format, 1);
  if (frame->buf[0] != nullptr && frame->format == format && planeBytes > 0 &&
      frame->linesize[0] >= planeBytes) {
    frame->nb_samples = nbSamples;
    return av_frame_make_writable(frame) < 0 ? -1 : 0;
  }
  av_frame_unref(frame);
  frame->nb_samples = nbSamples;
  frame->format = format;
  if (av_channel_layout_copy(&frame->ch_layout, &m_pCodecCtx->ch_layout) < 0 ||
      av_frame_get_buffer(frame, 0) < 0) {
    av_frame_unref(frame);
    return -1;
  }
  return 0;
}

void CFFMpegAudioCodec::CopyIntoWorkFrame(uint8_t* const* ppPlanes, int nSamples) {
  AVFrame* frame = m_pAudioFrame.get();
  const auto format = static_cast<AVSampleFormat>(frame->format);
  const int channels = frame->ch_layout.nb_channels;
  av_samples_copy(frame->extended_data, ppPlanes, 0, 0, nSamples, channels, format);
}

// An encoder of any frame size, or a chunk of exactly one frame: straight into the work frame.
int CFFMpegAudioCodec::EncodeDirect(uint8_t* const* ppPlanes, int nConverted,
                                    CAudioEncodeOutParam* pOut) {
  if (PrepareWorkFrame(nConverted) != 0) return -1;
  CopyIntoWorkFrame(ppPlanes, nConverted);
  return EncodeFrame(m_pAudioFrame.get(), pOut);
}

int CFFMpegAudioCodec::EncodeFrame(AVFrame* pFrame, CAudioEncodeOutParam* pOut) {
  if (pOut == nullptr) return -1;
  const int r = avcodec_send_frame(m_pCodecCtx.get(), pFrame);
  if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) return 0;
  if (r < 0) {
    CODEC_LOG(kLogError, "[CODE]audio avcodec_send_frame failed:%d", r);
    return -1;
  }
  for (;;) {
    const int got = ReceivePacket(pOut);
    if (got == 0) return pOut->m_nNum;
    // A full out-param takes nothing more; later packets wait inside the encoder.
    if (got == kOutFull) return OUTPARAM_MAX_COUNT;
    if (got < 0) return -1;
  }
}

int CFFMpegAudioCodec::ReceivePacket(CAudioEncodeOutParam* pOut) {
  // The slot is the entry the packet becomes. Slots numbered per frame would let the next
  // frame of the same call overwrite a packet already handed over; a full out-param drains
  // into the one slot past the last entry.
  const auto slot = static_cast<size_t>(std::min(pOut->m_nNum, OUTPARAM_MAX_COUNT));
  while (slot >= m_vecPacketCache.size()) {
    m_vecPacketCache.emplace_back(av_packet_alloc());
    if (m_vecPacketCache.back() == nullptr) {
      m_vecPacketCache.pop_back();
      return -1;
    }
  }
  AVPacket* packet = m_vecPacketCache[slot].get();
  const int r = avcodec_receive_packet(m_pCodecCtx.get(), packet);
  if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) return 0;
  if (r < 0) {
    CODEC_LOG(kLogError, "[CODE]audio avcodec_receive_packet failed:%d", r);
    return -1;
  }
  if (m_pBsfCtx != nullptr && AvpktBsf(packet) != 0) return -1;
  if (pOut->m_nNum >= OUTPARAM_MAX_COUNT) return kOutFull;

  const int k = AppendEntry(*pOut, packet);
  if (k < 0) return -1;
  AudioEncOutData& record = pOut->m_outData[k];
  if (m_pfnWriteHeader != nullptr) {
    record.nHeaderSize = m_pfnWriteHeader(this, record.byHeader, 8, pOut->m_pPacket[k]);
  }
  return 1;
}

}  // namespace codec_interface
