// Times between a stream's time base and the interface's microseconds. A copy converts every
// packet both ways, so this is inline: six calls into libavutil per packet were a measurable part
// of a remux. The rounding is av_rescale_q's exactly (to nearest, halves away from zero), and the
// overflow result too (INT64_MIN).
#pragma once

#include <algorithm>
#include <climits>
#include <cstdint>

#include "codec_interface.h"
#include "interface/av_ptr.h"

namespace codec_interface {

// a * b / c as av_rescale_rnd(a, b, c, AV_ROUND_NEAR_INF) gives it, for b, c > 0.
inline int64_t RescaleNear(int64_t a, int64_t b, int64_t c) {
  if (b > INT_MAX || c > INT_MAX) return av_rescale_rnd(a, b, c, AV_ROUND_NEAR_INF);
  if (a < 0) {
    return static_cast<int64_t>(
        -static_cast<uint64_t>(RescaleNear(-std::max(a, -INT64_MAX), b, c)));
  }
  const int64_t r = c / 2;
  if (a <= INT_MAX) return (a * b + r) / c;
  const int64_t whole = a / c, part = (a % c * b + r) / c;
  if (whole >= INT32_MAX && whole > (INT64_MAX - part) / b) return INT64_MIN;
  return whole * b + part;
}

// Microseconds for a time in `timeBase`, or MEDIA_NO_TIMESTAMP.
inline int64_t ToMicroseconds(int64_t nTime, AVRational timeBase) {
  if (nTime == AV_NOPTS_VALUE || timeBase.num <= 0 || timeBase.den <= 0) return MEDIA_NO_TIMESTAMP;
  return RescaleNear(nTime, int64_t{timeBase.num} * 1000000, timeBase.den);
}

// A packet's times, in microseconds, into `timeBase` (a valid one), as av_packet_rescale_ts.
inline void PacketFromMicroseconds(AVPacket* pPacket, AVRational timeBase) {
  const int64_t nMul = timeBase.den, nDiv = int64_t{timeBase.num} * 1000000;
  if (pPacket->pts != AV_NOPTS_VALUE) pPacket->pts = RescaleNear(pPacket->pts, nMul, nDiv);
  if (pPacket->dts != AV_NOPTS_VALUE) pPacket->dts = RescaleNear(pPacket->dts, nMul, nDiv);
  if (pPacket->duration > 0) pPacket->duration = RescaleNear(pPacket->duration, nMul, nDiv);
}

}  // namespace codec_interface
