// Sample FIFOs that carry PCM between Encode calls: the rate FIFO holds back what does not yet
// convert to whole destination samples, the encode FIFO what does not yet fill an encoder
// frame.
#include "audio/ffmpeg_audio_codec.h"
#include "interface/log.h"

namespace codec_interface {

int CFFMpegAudioCodec::FillAVAudioFifo(AudioFifoPtr* ppFifo, AVSampleFormat eFormat,
                                       int nChannels, int nbSamples, uint8_t* const* ppPlanes) {
  if (ppFifo == nullptr) return -1;
  if (*ppFifo == nullptr) {
    // Room for exactly this write: a FIFO grows only to the largest backlog it meets.
    ppFifo->reset(av_audio_fifo_alloc(eFormat, nChannels, nbSamples));
    if (*ppFifo == nullptr) {
      CODEC_LOG(kLogError, "[CODE]av_audio_fifo_alloc failed");
      return -1;
    }
  } else if (av_audio_fifo_space(ppFifo->get()) < nbSamples) {
    const int r = av_audio_fifo_realloc(ppFifo->get(), av_audio_fifo_size(ppFifo->get()) + nbSamples);
    if (r != 0) {
      CODEC_LOG(kLogError, "[CODE]av_audio_fifo_realloc failed[%d]", r);
      return -1;
    }
  }
  const int written =
      av_audio_fifo_write(ppFifo->get(), reinterpret_cast<void* const*>(ppPlanes), nbSamples);
  if (written != nbSamples) {
    CODEC_LOG(kLogError, "[CODE]av_audio_fifo_write failed[%d] samples_nums[%d]", written,
              nbSamples);
    return -1;
  }
  return 0;
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

int CFFMpegAudioCodec::EncodeThroughFifo(uint8_t* const* ppPlanes, int nConverted,
                                         CAudioEncodeOutParam* pOut) {
  if (FillAVAudioFifo(&m_pEncodeFifo, m_eDstSampleFormat, m_pCodecCtx->ch_layout.nb_channels,
                      nConverted, ppPlanes) != 0) {
    CODEC_LOG(kLogError, "[CODE]FillAVAudioFifo failed");
    return -1;
  }
  for (;;) {
    const int frameSize = m_pCodecCtx->frame_size;
    if (frameSize <= 0 || av_audio_fifo_size(m_pEncodeFifo.get()) < frameSize) break;
    if (PrepareWorkFrame(frameSize) != 0) break;
    const int read = av_audio_fifo_read(
        m_pEncodeFifo.get(), reinterpret_cast<void**>(m_pAudioFrame->extended_data), frameSize);
    if (read != frameSize) {
      CODEC_LOG(kLogError, "[CODE]av_audio_fifo_read failed[%d] frame_size[%d]", read, frameSize);
      break;
    }
    EncodeFrame(m_pAudioFrame.get(), pOut);
  }
  return pOut->m_nNum;
}

}  // namespace codec_interface
