// One stream's packets turned into the form the library's decoders take: H.264 and HEVC through
// FFmpeg's Annex B filters (parameter sets in band at key frames), raw AAC behind an ADTS header
// built from the stream's AudioSpecificConfig, everything else as stored.
#pragma once

#include <cstdint>
#include <vector>

#include "interface/av_ptr.h"
#include "media/aac_adts_config.h"

namespace codec_interface {

class CDecoderForm {
 public:
  // Converts the packet just read from pStream. On 1, *ppData and *pSize give the result, valid
  // until the next Convert or Flush or until pIn is refilled (a packet kept as stored points into
  // pIn); pIn may have been emptied. 0: nothing to hand out for it; -1 after a log line.
  int Convert(const AVStream* pStream, AVPacket* pIn, const uint8_t** ppData, int* pSize);
  // Forgets what the filter holds (after a seek).
  void Flush();

 private:
  // Annex B parameter sets beside the stream (AVI; MPEG-TS and raw streams as FFmpeg's parser
  // found them) stay there with FFmpeg's Annex B filters: a key frame without its own gets
  // them in front.
  void WithParameterSets(const AVCodecParameters* pParams, const AVPacket* pIn,
                         const uint8_t** ppData, int* pSize);
  int ThroughFilter(const AVStream* pStream, const char* pName, AVPacket* pIn);
  int AsAdts(const AVStream* pStream, const AVPacket* pIn);

  // Made on the stream's first packet; FFmpeg's Annex B filters give one packet per packet.
  BsfCtxPtr m_pBsf;
  PacketPtr m_pFiltered;
  // AAC: the configuration in force (from the stream, or from a packet that changes it).
  bool m_bAacKnown = false;
  AacAdtsConfig m_stAac;
  std::vector<uint8_t> m_vecFrame;  // a packet rebuilt: ADTS header or parameter sets in front
};

}  // namespace codec_interface
