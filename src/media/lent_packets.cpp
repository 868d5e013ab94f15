#include "media/lent_packets.h"

#include <algorithm>
#include <atomic>
#include <functional>
#include <mutex>
#include <vector>

namespace codec_interface {

namespace {

// Readers and writers may live on different threads; a lent packet's fields are read only
// under this lock, and its owner withdraws it under the same lock before touching it again.
struct Loans {
  std::mutex mutex;
  std::vector<const AVPacket*> packets;
  // The size of packets, read without the lock so that writers fed by encoders never take it.
  // A loan missed through a stale read costs only a copy.
  std::atomic<size_t> count{0};
};

Loans& TheLoans() {
  static Loans loans;
  return loans;
}

}  // namespace

void LendPacket(const AVPacket* pPacket) {
  if (pPacket->buf == nullptr) return;
  Loans& loans = TheLoans();
  const std::lock_guard<std::mutex> lock(loans.mutex);
  loans.packets.push_back(pPacket);
  loans.count.store(loans.packets.size(), std::memory_order_relaxed);
}

void WithdrawPacket(const AVPacket* pPacket) {
  Loans& loans = TheLoans();
  const std::lock_guard<std::mutex> lock(loans.mutex);
  std::erase(loans.packets, pPacket);
  loans.count.store(loans.packets.size(), std::memory_order_relaxed);
}

BufferRefPtr BorrowPacketBytes(const uint8_t* pData, int nSize) {
  Loans& loans = TheLoans();
  if (loans.count.load(std::memory_order_relaxed) == 0) return nullptr;
  const std::lock_guard<std::mutex> lock(loans.mutex);
  const auto lent =
      std::find_if(loans.packets.begin(), loans.packets.end(), [&](const AVPacket* p) {
        return p->buf != nullptr && std::less_equal<const uint8_t*>()(p->data, pData) &&
               pData + nSize == p->data + p->size;
      });
  return BufferRefPtr(lent != loans.packets.end() ? av_buffer_ref((*lent)->buf) : nullptr);
}

}  // namespace codec_interface
