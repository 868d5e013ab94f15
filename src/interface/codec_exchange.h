// FFmpeg's send/receive exchange with a codec, one helper per direction and step, each answering
// with a status its caller must look at: what a result code means is decided here only.
#pragma once

#include "interface/ffmpeg.h"

namespace codec_interface {

class [[nodiscard]] ExchangeStatus {
 public:
  explicit ExchangeStatus(int nCode) : m_nCode(nCode) {}

  // The codec took the input, or handed out one output.
  bool Passed() const { return m_nCode >= 0; }
  // The codec must hand out what it holds before it takes more (EAGAIN).
  bool Waits() const { return m_nCode == AVERROR(EAGAIN); }
  // The stream has ended: nothing more goes in or comes out until a flush (EOF).
  bool Ended() const { return m_nCode == AVERROR_EOF; }
  // Neither an output nor a fault: the codec has nothing for this step right now.
  bool Idle() const { return Waits() || Ended(); }
  bool Failed() const { return m_nCode < 0 && !Idle(); }
  // A decoder found the packet's data invalid and dropped it (AVERROR_INVALIDDATA).
  bool Corrupt() const { return m_nCode == AVERROR_INVALIDDATA; }
  // FFmpeg's own code, for the caller's line.
  int Code() const { return m_nCode; }

 private:
  int m_nCode;
};

// Decoding: one packet in (nullptr tells the end of the stream), then its frames out one by one.
[[nodiscard]] inline ExchangeStatus DecoderSend(AVCodecContext* pCtx, const AVPacket* pPacket) {
  return ExchangeStatus(avcodec_send_packet(pCtx, pPacket));
}
[[nodiscard]] inline ExchangeStatus DecoderReceive(AVCodecContext* pCtx, AVFrame* pFrame) {
  return ExchangeStatus(avcodec_receive_frame(pCtx, pFrame));
}

// Encoding: one frame in (nullptr tells the end of the stream), then its packets out one by one.
[[nodiscard]] inline ExchangeStatus EncoderSend(AVCodecContext* pCtx, const AVFrame* pFrame) {
  return ExchangeStatus(avcodec_send_frame(pCtx, pFrame));
}
[[nodiscard]] inline ExchangeStatus EncoderReceive(AVCodecContext* pCtx, AVPacket* pPacket) {
  return ExchangeStatus(avcodec_receive_packet(pCtx, pPacket));
}

}  // namespace codec_interface
