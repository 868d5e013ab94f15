// Packets a media reader has handed out, whose bytes a media writer may keep instead of copying
// them. A demuxer never changes a packet's bytes once it has handed them out, so a remux from
// reader to writer copies nothing per packet, as FFmpeg's own remux loop.
//
// It allocates nothing either: a writer claims the bytes, and when the reader moves on (its next
// read, seek or close) it hands its own reference over to the claim instead of releasing it.
// Only a claim still waiting when the writer needs the bytes takes a reference of its own.
#pragma once

#include <atomic>
#include <cstdint>

#include "interface/av_ptr.h"

namespace codec_interface {

// Ends the loan of pEnding's bytes and starts the loan of pStarting's (either may be null) in one
// step. Claims on pEnding receive its reference, so its owner releases it only afterwards; the
// owner changes or releases a lent packet only after ending its loan.
void MoveLoan(AVPacket* pEnding, const AVPacket* pStarting);

// One writer packet's claim on the bytes of a lent packet. Lives at a fixed address (the registry
// keeps a pointer to it) and cancels itself when destroyed.
class CPacketClaim {
 public:
  CPacketClaim() = default;
  ~CPacketClaim();
  CPacketClaim(const CPacketClaim&) = delete;
  CPacketClaim& operator=(const CPacketClaim&) = delete;

  // Claims the lent packet whose bytes end with these for pDest, which has no reference yet;
  // false when the bytes are no lent packet's. Bytes that stop short of a packet's end are not
  // claimed: FFmpeg expects zeroed padding after a packet's last byte.
  bool Claim(AVPacket* pDest, const uint8_t* pData, int nSize);
  // pDest holds its reference from here on: the lender's own if it moved on, else a new one.
  // False when out of memory (pDest is then without a reference).
  bool Settle();
  // Gives up a claim still waiting; pDest keeps a reference already handed over.
  void Cancel();
  bool Waiting() const { return m_eState.load(std::memory_order_relaxed) != kNone; }

  // For the registry, under its lock: whether this claims pLender's bytes, and the arrival of
  // the claim's reference (null when out of memory).
  bool Of(const AVPacket* pLender) const { return m_pLender == pLender; }
  void HandOver(AVBufferRef* pBuffer);

 private:
  enum State { kNone, kWaiting, kHandedOver, kFailed };

  AVPacket* m_pDest = nullptr;
  const AVPacket* m_pLender = nullptr;  // read and written under the registry's lock
  // Becomes kHandedOver or kFailed (release) once the lender has filled m_pDest.
  std::atomic<State> m_eState{kNone};
};

}  // namespace codec_interface
