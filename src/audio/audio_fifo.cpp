#include "audio/audio_fifo.h"

#include "interface/log.h"

namespace codec_interface {

int FillAudioFifo(AudioFifoPtr& fifo, AVSampleFormat eFormat, int nChannels, int nbSamples,
                  uint8_t* const* ppPlanes) {
  if (fifo == nullptr) {
    // Room for exactly this write: a FIFO grows only to the largest backlog it meets.
    fifo.reset(av_audio_fifo_alloc(eFormat, nChannels, nbSamples));
    if (fifo == nullptr) {
      CODEC_LOG(kLogError, "av_audio_fifo_alloc failed");
      return -1;
    }
  } else if (av_audio_fifo_space(fifo.get()) < nbSamples) {
    const int r = av_audio_fifo_realloc(fifo.get(), av_audio_fifo_size(fifo.get()) + nbSamples);
    if (r != 0) {
      CODEC_LOG(kLogError, "av_audio_fifo_realloc failed[%d]", r);
      return -1;
    }
  }
  const int written =
      av_audio_fifo_write(fifo.get(), reinterpret_cast<void* const*>(ppPlanes), nbSamples);
  if (written != nbSamples) {
    CODEC_LOG(kLogError, "av_audio_fifo_write failed[%d] samples_nums[%d]", written, nbSamples);
    return -1;
  }
  return 0;
}

}  // namespace codec_interface
