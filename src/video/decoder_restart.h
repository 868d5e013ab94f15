// What a decoder re-created for a new picture size needs to start from the key frame that began
// that size: the packets since that key packet, and the pictures their replay completes beyond
// the one handed out at once.
#pragma once

#include <deque>
#include <vector>

#include "interface/av_ptr.h"
#include "interface/codec_exchange.h"

namespace codec_interface {

class DecoderRestart {
 public:
  // Keeps a copy of every packet from an H.264 IDR or HEVC random access packet on, until the
  // key picture comes out (KeyPictureOut) or kMaxPackets were kept without it. Other codecs
  // need no replay: nothing is kept for them.
  void Keep(AVCodecID eCodec, const AVPacket& packet);
  // The key picture came out at the size the decoder already had: nothing will be replayed.
  void KeyPictureOut() { m_vecPackets.clear(); }
  bool CanReplay() const { return !m_vecPackets.empty(); }
  // Sends the kept packets, the current one last, into a new decoder; the pictures they
  // complete wait in order for Receive. The status of the last send, or of a failing step.
  ExchangeStatus Replay(AVCodecContext* pCtx);
  // The next picture into pFrame: a waiting one first (the decoder's next one then waits behind
  // it, so that the decoder never fills up), else the decoder's.
  ExchangeStatus Receive(AVCodecContext* pCtx, AVFrame* pFrame);
  // Forgets packets and waiting pictures (flush, Reset, Uninit).
  void Clear();

  static constexpr size_t kMaxPackets = 32;

 private:
  // Receives every picture the decoder has ready to the back of the queue; the status that
  // ended it (idle, or failed).
  ExchangeStatus ReceiveReady(AVCodecContext* pCtx);

  std::vector<PacketPtr> m_vecPackets;
  bool m_bOverflow = false;
  std::deque<FramePtr> m_waiting;
};

}  // namespace codec_interface
