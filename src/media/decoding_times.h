// Decoding times for the first packets of a stream whose pictures are reordered. Containers that
// store presentation times only (Matroska) leave FFmpeg to derive the decoding time, which it can
// do only once it has seen as many packets as the decoder holds pictures back; the packets before
// come without one. A copy into a container that needs it (MP4) then has no rising decoding time.
// They are filled in as FFmpeg's muxers fill in a missing one: each is the smallest presentation
// time not yet used, the first packets' counted back from the first by a frame each.
#pragma once

#include <array>
#include <cstdint>

#include "interface/av_ptr.h"

namespace codec_interface {

class CDecodingTimes {
 public:
  // Nothing is filled in for a stream without reordered pictures: its decoding time is its
  // presentation time.
  explicit CDecodingTimes(const AVStream* pStream);

  // Fills in pPacket's decoding time when it has a presentation time but no decoding time.
  void Fill(AVPacket* pPacket);
  // After a seek FFmpeg starts deriving again from nothing, and so does this.
  void Restart();

 private:
  // FFmpeg's own limit for the pictures a stream may hold back.
  static constexpr int kMaxDelay = 16;
  // Longer pictures count as this long, so that counting back stays far from overflow.
  static constexpr int64_t kMaxFrame = int64_t{1} << 32;

  int m_nDelay = 0;
  int64_t m_nFrame = 1;  // a picture's duration in the stream's time base, when a packet has none
  std::array<int64_t, kMaxDelay + 1> m_times{};
};

}  // namespace codec_interface
