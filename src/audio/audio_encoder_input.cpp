// The encoder's input: host PCM held back for the rate, converted, and cut into the frames the
// encoder demands; every packet the encoder returns is handed to the host.
#include <algorithm>
#include <array>

#include "audio/audio_encoder.h"
#include "audio/audio_fifo.h"
#include "interface/codec_exchange.h"
#include "interface/log.h"
#include "interface/out_entries.h"

namespace codec_interface {

int AudioEncoder::Encode(uint8_t* pData, int nSize, CAudioEncodeOutParam* pOut) {
  if (!Ready() || LeaveDrain() != 0) return -1;
  const AudioFormats& f = m_formats;
  const int sampleBytes = av_get_bytes_per_sample(f.eSrc) * f.nSrcChannels;
  int nbSamples = (sampleBytes > 0 && nSize > 0) ? nSize / sampleBytes : 0;
  // Less than one sample of all channels: nothing to take, FIFOs and encoder stay as they are.
  if (nbSamples <= 0 || pData == nullptr) return pOut->m_nNum;

  uint8_t* chunk = pData;
  if (f.nSrcRate != f.nDstRate) {
    if (HoldBackForRate(chunk, nbSamples) != 0) return -1;
    if (nbSamples == 0) return pOut->m_nNum;  // everything waits for the next chunk
  }

  std::array<uint8_t*, kMaxPlanes> planes;  // filled by ConvertSamples as far as used
  const int converted = ConvertSamples(chunk, nbSamples, planes.data());
  if (converted < 0) return -1;
  if (converted == 0) return pOut->m_nNum;  // the resampler holds it all back for now

  // A whole frame goes straight in only while no older samples wait in the encode FIFO;
  // otherwise it would overtake them.
  const bool anySize = (m_facts.pCodec->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE) != 0;
  const bool fifoEmpty = m_pEncodeFifo == nullptr || av_audio_fifo_size(m_pEncodeFifo.get()) == 0;
  if (anySize || (converted == m_pCodecCtx->frame_size && fifoEmpty)) {
    return EncodeDirect(planes.data(), converted, pOut);
  }
  return EncodeThroughFifo(planes.data(), converted, pOut);
}

int AudioEncoder::HoldBackForRate(uint8_t*& pChunk, int& nbSamples) {
  const AudioFormats& f = m_formats;
  // A chunk that converts to a whole number of samples goes on, even past held-back samples.
  if ((static_cast<int64_t>(nbSamples) * f.nDstRate) % f.nSrcRate == 0) return 0;

  uint8_t* const source[1] = {pChunk};
  if (FillAudioFifo(m_pRateFifo, f.eSrc, f.nSrcChannels, nbSamples, source) != 0) {
    CODEC_LOG(kLogError, "FillAVAudioFifo failed");
    return -1;
  }
  const int64_t held = av_audio_fifo_size(m_pRateFifo.get());
  const int64_t whole = held * f.nDstRate / f.nSrcRate;
  const int take = static_cast<int>(av_rescale_rnd(whole, f.nSrcRate, f.nDstRate, AV_ROUND_UP));
  nbSamples = take;
  if (take == 0) return 0;

  const size_t bytes = static_cast<size_t>(take) * static_cast<size_t>(f.nSrcChannels) *
                       static_cast<size_t>(av_get_bytes_per_sample(f.eSrc));
  m_vecRateBuffer.resize(bytes);  // filled completely by the read below
  void* target[1] = {m_vecRateBuffer.data()};
  const int read = av_audio_fifo_read(m_pRateFifo.get(), target, take);
  if (read != take) {
    CODEC_LOG(kLogError, "av_audio_fifo_read failed[%d] get_samples_nums[%d]", read, take);
    return -1;
  }
  pChunk = m_vecRateBuffer.data();
  return 0;
}

int AudioEncoder::ConvertSamples(uint8_t* pChunk, int nbSamples, uint8_t** ppPlanes) {
  if (m_resampler.Get() == nullptr) {
    ppPlanes[0] = pChunk;
    return nbSamples;
  }
  const AudioFormats& f = m_formats;
  const int capacity =
      static_cast<int>(av_rescale_rnd(nbSamples, f.nDstRate, f.nSrcRate, AV_ROUND_UP));
  const int bytes = av_samples_get_buffer_size(nullptr, f.nDstChannels, capacity, f.eDst, 1);
  if (bytes < 0 || f.nDstChannels > kMaxPlanes) return -1;
  // resize keeps the storage, so steady-state calls do not allocate.
  m_vecSwrBuffer.resize(static_cast<size_t>(bytes));
  uint8_t* base = m_vecSwrBuffer.data();
  if (av_sample_fmt_is_planar(f.eDst) != 0) {
    const int planeBytes = bytes / f.nDstChannels;
    for (int c = 0; c < f.nDstChannels; ++c) ppPlanes[c] = base + c * planeBytes;
  } else {
    ppPlanes[0] = base;
  }
  const uint8_t* source[1] = {pChunk};
  const int converted = swr_convert(m_resampler.Get(), ppPlanes, capacity, source, nbSamples);
  if (converted < 0) {
    CODEC_LOG(kLogError, "swr_convert failed");
    return -1;
  }
  return converted;
}

int AudioEncoder::PrepareWorkFrame(int nbSamples) {
  AVFrame* frame = m_pWorkFrame.get();
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

// An encoder of any frame size, or a chunk of exactly one frame: straight into the work frame.
int AudioEncoder::EncodeDirect(uint8_t* const* ppPlanes, int nConverted,
                               CAudioEncodeOutParam* pOut) {
  if (PrepareWorkFrame(nConverted) != 0) return -1;
  AVFrame* frame = m_pWorkFrame.get();
  av_samples_copy(frame->extended_data, ppPlanes, 0, 0, nConverted, frame->ch_layout.nb_channels,
                  static_cast<AVSampleFormat>(frame->format));
  return EncodeFrame(frame, pOut);
}

int AudioEncoder::EncodeThroughFifo(uint8_t* const* ppPlanes, int nConverted,
                                    CAudioEncodeOutParam* pOut) {
  if (FillAudioFifo(m_pEncodeFifo, m_formats.eDst, m_pCodecCtx->ch_layout.nb_channels, nConverted,
                    ppPlanes) != 0) {
    CODEC_LOG(kLogError, "FillAVAudioFifo failed");
    return -1;
  }
  for (;;) {
    const int frameSize = m_pCodecCtx->frame_size;
    if (frameSize <= 0 || av_audio_fifo_size(m_pEncodeFifo.get()) < frameSize) break;
    if (PrepareWorkFrame(frameSize) != 0) break;
    const int read = av_audio_fifo_read(
        m_pEncodeFifo.get(), reinterpret_cast<void**>(m_pWorkFrame->extended_data), frameSize);
    if (read != frameSize) {
      CODEC_LOG(kLogError, "av_audio_fifo_read failed[%d] frame_size[%d]", read, frameSize);
      break;
    }
    // A frame the encoder refuses has had its line; the call still hands out what the frames
    // before it gave, and the FIFO goes on with the next frame.
    (void)EncodeFrame(m_pWorkFrame.get(), pOut);
  }
  return pOut->m_nNum;
}

int AudioEncoder::EncodeFrame(AVFrame* pFrame, CAudioEncodeOutParam* pOut) {
  const ExchangeStatus sent = EncoderSend(m_pCodecCtx.get(), pFrame);
  if (sent.Idle()) return 0;
  if (sent.Failed()) {
    CODEC_LOG(kLogError, "audio avcodec_send_frame failed:%d", sent.Code());
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

int AudioEncoder::ReceivePacket(CAudioEncodeOutParam* pOut) {
  // The slot is the entry the packet becomes. Slots numbered per frame would let the next
  // frame of the same call overwrite a packet already handed over; a full out-param drains
  // into the one slot past the last entry.
  const auto slot = static_cast<size_t>(std::min(pOut->m_nNum, OUTPARAM_MAX_COUNT));
  while (slot >= m_vecPackets.size()) {
    m_vecPackets.emplace_back(av_packet_alloc());
    if (m_vecPackets.back() == nullptr) {
      m_vecPackets.pop_back();
      return -1;
    }
  }
  AVPacket* packet = m_vecPackets[slot].get();
  const ExchangeStatus got = EncoderReceive(m_pCodecCtx.get(), packet);
  if (got.Idle()) return 0;
  if (got.Failed()) {
    CODEC_LOG(kLogError, "audio avcodec_receive_packet failed:%d", got.Code());
    return -1;
  }
  if (m_aacFilter.Filter(packet) != 0) return -1;
  if (pOut->m_nNum >= OUTPARAM_MAX_COUNT) return kOutFull;

  const int k = AppendEntry(*pOut, packet);
  if (k < 0) return -1;
  AudioEncOutData& record = pOut->m_outData[k];
  if (m_facts.bAdts) {
    record.nHeaderSize =
        WriteAdtsHeaderFor(m_pCodecCtx.get(), record.byHeader, 8, pOut->m_pPacket[k]);
  }
  return 1;
}

}  // namespace codec_interface
