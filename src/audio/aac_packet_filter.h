// AAC packet framing: every packet of the AAC encoder passes "aac_adtstoasc" and gets a 7-byte
// ADTS header (no CRC, AAC LC) that the host writes before the payload.
#pragma once

#include <cstdint>

#include "interface/av_ptr.h"

namespace codec_interface {

class AacPacketFilter {
 public:
  // Allocates the filter. 0, or -1 after the failing step's line.
  int Create();
  // Starts it with the opened encoder's parameters; nothing to do without a filter. 0, or -1
  // after the line.
  int Start(const AVCodecContext* pCtx);
  // Passes one packet through; nothing to do without a filter. 0, or -1 after the lines.
  int Filter(AVPacket* pPacket);

 private:
  BsfCtxPtr m_pBsfCtx;
};

// The 7-byte ADTS header of an AAC packet into (pOut, nOutSize), from the context's rate and
// channel count; its length, or 0 after the failure line.
int WriteAdtsHeaderFor(const AVCodecContext* pCtx, uint8_t* pOut, int nOutSize,
                       const AVPacket* pPacket);

}  // namespace codec_interface
