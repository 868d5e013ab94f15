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
  // A key picture came out at the size the decoder already had. When it is the kept key
  // packet's own, nothing will be replayed; an earlier key packet's (reordering and frame
  // threads hand pictures out several packets late) leaves the kept packets.
  void KeyPictureOut();
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
  int m_nKeysInFlight = 0;  // key packets sent whose pictures have not come out
  int m_nEarlierKeys = 0;   // of those, the ones sent before the kept key packet
  std::deque<FramePtr> m_waiting;
};

}  // namespace codec_interface
