#include "media/lent_packets.h"

#include <algorithm>
#include <chrono>
#include <functional>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace codec_interface {

namespace {

// The loans' lock, taken twice per copied packet and held for a few dozen instructions (one
// allocation at most). std::mutex cost a remux half a percent of its time in two calls and four
// atomic read-modify-writes per packet; this is one exchange and a plain store. A waiter yields
// at first and then sleeps, so that a holder of lower priority still gets the processor.
class CLoanLock {
 public:
  void lock() noexcept {
    for (int nTries = 0; m_bHeld.test_and_set(std::memory_order_acquire); ++nTries) {
      if (nTries < kYields) {
        std::this_thread::yield();
      } else {
        std::this_thread::sleep_for(std::chrono::microseconds(50));
      }
    }
  }
  void unlock() noexcept { m_bHeld.clear(std::memory_order_release); }

 private:
  static constexpr int kYields = 64;
  std::atomic_flag m_bHeld;  // clear from the start
};

// Readers and writers may live on different threads; a lent packet's fields and the claims are
// touched only under this lock, and a packet's owner ends its loan under the same lock before
// changing it.
struct Loans {
  CLoanLock lock;
  std::vector<const AVPacket*> packets;
  std::vector<CPacketClaim*> claims;
  // The size of packets, read without the lock so that writers fed by encoders never take it.
  // A loan missed through a stale read costs only a copy.
  std::atomic<size_t> count{0};
};

// Built when the library loads (before its hosts' own statics, and gone after them), so that
// no call pays for a first-use check.
Loans g_loans;

Loans& TheLoans() { return g_loans; }

bool EndsWith(const AVPacket* pPacket, const uint8_t* pData, int nSize) {
  return pPacket->buf != nullptr && std::less_equal<const uint8_t*>()(pPacket->data, pData) &&
         pData + nSize == pPacket->data + pPacket->size;
}

// Every claim on pEnding but one gets a reference of its own; the one left gets the lender's.
void HandOverClaims(std::vector<CPacketClaim*>& claims, AVPacket* pEnding) {
  CPacketClaim* pLast = nullptr;
  for (CPacketClaim* pClaim : claims) {
    if (!pClaim->Of(pEnding)) continue;
    if (pLast != nullptr) pLast->HandOver(av_buffer_ref(pEnding->buf));
    pLast = pClaim;
  }
  if (pLast == nullptr) return;
  pLast->HandOver(std::exchange(pEnding->buf, nullptr));
  std::erase_if(claims, [&](const CPacketClaim* c) { return c->Of(pEnding); });
}

}  // namespace

void MoveLoan(AVPacket* pEnding, const AVPacket* pStarting) {
  const bool bStarts = pStarting != nullptr && pStarting->buf != nullptr;
  Loans& loans = TheLoans();
  if (!bStarts && (pEnding == nullptr || loans.count.load(std::memory_order_relaxed) == 0)) return;
  const std::lock_guard<CLoanLock> held(loans.lock);
  // The starting packet takes the ending one's place in the list.
  const auto ending =
      pEnding != nullptr ? std::ranges::find(loans.packets, pEnding) : loans.packets.end();
  if (ending != loans.packets.end()) {
    HandOverClaims(loans.claims, pEnding);
    if (bStarts) {
      *ending = pStarting;
      return;
    }
    loans.packets.erase(ending);
  } else if (bStarts) {
    loans.packets.push_back(pStarting);
  }
  loans.count.store(loans.packets.size(), std::memory_order_relaxed);
}

CPacketClaim::~CPacketClaim() { Cancel(); }

void CPacketClaim::Cancel() {
  if (m_eState.load(std::memory_order_acquire) == kWaiting) {
    Loans& loans = TheLoans();
    const std::lock_guard<CLoanLock> held(loans.lock);
    std::erase(loans.claims, this);
  }
  m_eState.store(kNone, std::memory_order_relaxed);
}

bool CPacketClaim::Claim(AVPacket* pDest, const uint8_t* pData, int nSize) {
  Loans& loans = TheLoans();
  if (loans.count.load(std::memory_order_relaxed) == 0) return false;
  const std::lock_guard<CLoanLock> held(loans.lock);
  const auto lent = std::find_if(loans.packets.begin(), loans.packets.end(),
                                 [&](const AVPacket* p) { return EndsWith(p, pData, nSize); });
  if (lent == loans.packets.end()) return false;
  m_pDest = pDest;
  m_pLender = *lent;
  m_eState.store(kWaiting, std::memory_order_relaxed);
  loans.claims.push_back(this);
  return true;
}

void CPacketClaim::HandOver(AVBufferRef* pBuffer) {
  m_pDest->buf = pBuffer;
  m_eState.store(pBuffer != nullptr ? kHandedOver : kFailed, std::memory_order_release);
}

bool CPacketClaim::Settle() {
  State eState = m_eState.load(std::memory_order_acquire);
  if (eState == kWaiting) {
    // The lender has not moved on: a reference of our own, while its bytes are still lent.
    Loans& loans = TheLoans();
    const std::lock_guard<CLoanLock> held(loans.lock);
    eState = m_eState.load(std::memory_order_relaxed);
    if (eState == kWaiting) {
      std::erase(loans.claims, this);
      m_pDest->buf = av_buffer_ref(m_pLender->buf);
      eState = m_pDest->buf != nullptr ? kHandedOver : kFailed;
    }
  }
  m_eState.store(kNone, std::memory_order_relaxed);
  return eState != kFailed;
}

}  // namespace codec_interface
