// Encoding, first half: host PCM of any length is held back until it converts to a whole number
// of destination samples, then converted to the encoder's format, rate and channel count.
#include <array>
#include <cstring>

#include "audio/ffmpeg_audio_codec.h"
#include "interface/log.h"

namespace codec_interface {

namespace {

// swresample handles at most this many channels, so no conversion needs more planes.
constexpr int kMaxPlanes = 64;

}  // namespace

int CFFMpegAudioCodec::Encode(unsigned char* pData, int nSize, COutParam* pOut) {
  std::lock_guard<std::mutex> lock(m_mtxCodec);
  if (m_bDecoder || !m_bInit || pOut == nullptr) return -1;
  auto* out = static_cast<CAudioEncodeOutParam*>(pOut);

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

int CFFMpegAudioCodec::HoldBackForRate(uint8_t*& pChunk, int& nbSamples) {
  // A chunk that converts to a whole number of samples goes on, even past held-back samples.
  if ((static_cast<int64_t>(nbSamples) * m_nDstSampleRate) % m_nSrcSampleRate == 0) return 0;

  uint8_t* const source[1] = {pChunk};
  if (FillAVAudioFifo(&m_pRateFifo, m_eSrcSampleFormat, m_nSrcChannels, nbSamples, source) != 0) {
    CODEC_LOG(kLogError, "[CODE]FillAVAudioFifo failed");
    return -1;
  }
  const int64_t held = av_audio_fifo_size(m_pRateFifo.get());
  const int64_t whole = held * m_nDstSampleRate / m_nSrcSampleRate;
  const int take =
      static_cast<int>(av_rescale_rnd(whole, m_nSrcSampleRate, m_nDstSampleRate, AV_ROUND_UP));
  nbSamples = take;
  if (take == 0) return 0;

  const size_t bytes = static_cast<size_t>(take) * static_cast<size_t>(m_nSrcChannels) *
                       static_cast<size_t>(av_get_bytes_per_sample(m_eSrcSampleFormat));
  m_vecRateBuffer.resize(bytes);  // filled completely by the read below
  void* target[1] = {m_vecRateBuffer.data()};
  const int read = av_audio_fifo_read(m_pRateFifo.get(), target, take);
  if (read != take) {
    CODEC_LOG(kLogError, "[CODE]av_audio_fifo_read failed[%d] get_samples_nums[%d]", read, take);
    return -1;
  }
  pChunk = m_vecRateBuffer.data();
  return 0;
}

int CFFMpegAudioCodec::ConvertSamples(uint8_t* pChunk, int nbSamples, uint8_t** ppPlanes) {
  if (m_pSwrCtx == nullptr) {
    ppPlanes[0] = pChunk;
    return nbSamples;
  }
  const int capacity = static_cast<int>(
      av_rescale_rnd(nbSamples, m_nDstSampleRate, m_nSrcSampleRate, AV_ROUND_UP));
  const int bytes =
      av_samples_get_buffer_size(nullptr, m_nDstChannels, capacity, m_eDstSampleFormat, 1);
  if (bytes < 0 || m_nDstChannels > kMaxPlanes) return -1;
  // resize keeps the storage, so steady-state calls do not allocate.
  m_vecSwrBuffer.resize(static_cast<size_t>(bytes));
  uint8_t* base = m_vecSwrBuffer.data();
  if (av_sample_fmt_is_planar(m_eDstSampleFormat) != 0) {
    const int planeBytes = bytes / m_nDstChannels;
    for (int c = 0; c < m_nDstChannels; ++c) ppPlanes[c] = base + c * planeBytes;
  } else {
    ppPlanes[0] = base;
  }
  const uint8_t* source[1] = {pChunk};
  const int converted = swr_convert(m_pSwrCtx.get(), ppPlanes, capacity, source, nbSamples);
  if (converted < 0) {
    CODEC_LOG(kLogError, "[CODE]swr_convert failed");
    return -1;
  }
  return converted;
}

}  // namespace codec_interface
