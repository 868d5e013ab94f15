// What a stream's packets need before a container takes them, learnt from the stream's first
// packet: the parameter sets of Annex B video, the AudioSpecificConfig behind ADTS headers (and
// whether to strip them), a standard OpusHead.
#pragma once

#include <cstdint>

#include "interface/av_ptr.h"

namespace codec_interface {

class CWriterForm {
 public:
  // Sets the stream's extradata from the first packet where it needs it, for the muxer named.
  // Returns null, or the reason the stream cannot be written.
  const char* Learn(AVCodecParameters* pParams, const char* pMuxer, const uint8_t* pData,
                    int nSize);
  // The bytes of a packet as the container takes them: a view into pData.
  void Payload(const uint8_t** ppData, int* pSize) const;

 private:
  const char* LearnVideo(AVCodecParameters* pParams, const uint8_t* pData, int nSize);
  const char* LearnAac(AVCodecParameters* pParams, const char* pMuxer, const uint8_t* pData,
                       int nSize);

  bool m_bStripAdts = false;
};

}  // namespace codec_interface
