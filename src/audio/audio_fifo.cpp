// Sample FIFOs that carry PCM between Encode calls.
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

}  // namespace codec_interface
