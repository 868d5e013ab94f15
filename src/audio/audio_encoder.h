// The encoding role of an audio codec object: everything FFmpeg one encoder needs, built by Open
// and released with the object. Host PCM of any length is held back until it converts to a
// whole number of destination samples, converted to the encoder's format, rate and channel
// count, and cut into the frames the encoder demands.
#pragma once

#include <cstdint>
#include <vector>

#include "audio/aac_packet_filter.h"
#include "audio/audio_codec_facts.h"
#include "audio/resampler.h"

namespace codec_interface {

class AudioEncoder {
 public:
  AudioEncoder(const AudioCodecFacts& facts, const AudioCodecParam& param);

  // Makes and opens the encoder. 0, or -1 after the failing step's line.
  int Open();
  // Host PCM in, the packets the encoder returns appended to pOut. The entry count, or -1.
  int Encode(uint8_t* pData, int nSize, CAudioEncodeOutParam* pOut);
  // The last partial frame and the packets the encoder delays, appended to pOut; then the
  // encoder is opened anew for a new stream.
  int Drain(CAudioEncodeOutParam* pOut);
  // False once a re-opening after a drain could not even allocate the encoder.
  bool Ready() const { return m_pCodecCtx != nullptr; }

 private:
  int OpenCodec();
  // Ends a drain, finished or not: the encoder opened anew with the stored settings and
  // emptied FIFOs. 0, or -1 after the failing step's line.
  [[nodiscard]] int LeaveDrain();
  // A drain that failed still ends the stream: the re-opening's own failure has had its line,
  // and the caller gets the drain's failure either way, so its result is not needed.
  void AbandonDrain() { (void)LeaveDrain(); }
  // The encode FIFO's last partial frame into the encoder: as it is for an encoder that pads a
  // short last frame itself, else padded with silence to a whole frame.
  int EncodePaddedTail(CAudioEncodeOutParam* pOut);

  // Input (audio_encoder_input.cpp).
  // swresample handles at most this many channels, so no conversion needs more planes.
  static constexpr int kMaxPlanes = 64;
  int HoldBackForRate(uint8_t*& pChunk, int& nbSamples);
  int ConvertSamples(uint8_t* pChunk, int nbSamples, uint8_t** ppPlanes);
  int EncodeDirect(uint8_t* const* ppPlanes, int nConverted, CAudioEncodeOutParam* pOut);
  int EncodeThroughFifo(uint8_t* const* ppPlanes, int nConverted, CAudioEncodeOutParam* pOut);
  int PrepareWorkFrame(int nbSamples);
  // The frame into the encoder and every packet it returns into pOut; the entry count, or -1.
  [[nodiscard]] int EncodeFrame(AVFrame* pFrame, CAudioEncodeOutParam* pOut);
  static constexpr int kOutFull = 2;  // the out-param was full: the packet is dropped
  // One packet from the encoder as pOut's next entry, with its header: 1, 0 when none is ready,
  // kOutFull, or -1.
  [[nodiscard]] int ReceivePacket(CAudioEncodeOutParam* pOut);

  const AudioCodecFacts m_facts;
  const AudioFormats& m_formats = m_facts.formats;
  const AudioCodecParam m_stParam;  // for opening the encoder anew after a drain
  CodecCtxPtr m_pCodecCtx;
  AacPacketFilter m_aacFilter;
  FramePtr m_pWorkFrame;
  std::vector<PacketPtr> m_vecPackets;
  AudioResampler m_resampler;           // built when the host's PCM is not the encoder's
  std::vector<uint8_t> m_vecSwrBuffer;  // converted samples of one call
  AudioFifoPtr m_pEncodeFifo;           // what does not yet fill an encoder frame
  AudioFifoPtr m_pRateFifo;             // what does not yet convert to whole destination samples
  // Source samples taken from m_pRateFifo; kept between calls so the rate step does not
  // allocate in steady state.
  std::vector<uint8_t> m_vecRateBuffer;
  bool m_bDraining = false;  // the codec context has been told the stream ended
};

}  // namespace codec_interface
