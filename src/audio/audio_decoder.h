// The decoding role of an audio codec object: everything FFmpeg one decoder needs, built by Open
// and released with the object.
#pragma once

#include <cstdint>

#include "audio/audio_codec_facts.h"
#include "audio/decoded_frames.h"
#include "audio/resampler.h"

namespace codec_interface {

class AudioDecoder {
 public:
  explicit AudioDecoder(const AudioCodecFacts& facts);

  // Makes and opens the decoder. 0, or -1 after the failing step's line.
  int Open();
  // One packet in, its frames in the host's format out as pOut's next entries. The entry
  // count, 0 when the decoder takes no packet now, or -1 / -2 after the failure line.
  int Decode(uint8_t* pData, int nSize, CAudioDecodeOutParam* pOut);
  // The frames the decoder still holds at the end of the stream, appended to pOut.
  int Drain(CAudioDecodeOutParam* pOut);

 private:
  void FillInputPacket(uint8_t* pData, int nSize);
  bool NeedsConversion(const AVFrame& frame) const;
  int PrepareSwrFrame(int nSamples);
  // Results of taking one frame out of the decoder, besides 1 (handed out), 0 (none ready) and
  // the failure values.
  static constexpr int kOutFull = 2;   // the out-param was full: the frame is dropped
  static constexpr int kHeldBack = 3;  // the resampler kept every sample back for now
  // One frame from the decoder, in the host's format, into slot nSlot and pOut's next entry;
  // Decode's failure values after their line.
  [[nodiscard]] int ReceiveFrame(CAudioDecodeOutParam* pOut, int nSlot);
  // The decoded frame converted into slot nSlot; kHeldBack, or -1 after the line.
  int ConvertInto(int nSlot);
  // Ends a drain, finished or not: the decoder is flushed.
  void LeaveDrain();

  const AudioCodecFacts m_facts;
  const AudioFormats& m_formats = m_facts.formats;
  CodecCtxPtr m_pCodecCtx;
  PacketPtr m_pPacket;
  FramePtr m_pDecoded;
  AudioResampler m_resampler;
  FramePtr m_pSwrFrame;
  int m_nSwrOutSamples = 0;
  DecodedFrames m_frames;
  bool m_bDraining = false;  // the codec context has been told the stream ended
};

}  // namespace codec_interface
