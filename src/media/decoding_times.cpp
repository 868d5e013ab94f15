#include "media/decoding_times.h"

#include <algorithm>
#include <climits>
#include <utility>

namespace codec_interface {

CDecodingTimes::CDecodingTimes(const AVStream* pStream) {
  const AVCodecParameters* par = pStream->codecpar;
  if (par->codec_type == AVMEDIA_TYPE_VIDEO && par->video_delay > 0 &&
      par->video_delay <= kMaxDelay) {
    m_nDelay = par->video_delay;
  }
  const AVRational rate = pStream->avg_frame_rate;
  if (rate.num > 0 && rate.den > 0) {
    m_nFrame = std::max<int64_t>(av_rescale_q(1, av_inv_q(rate), pStream->time_base), 1);
  }
  Restart();
}

void CDecodingTimes::Restart() { m_times.fill(AV_NOPTS_VALUE); }

void CDecodingTimes::Fill(AVPacket* pPacket) {
  if (m_nDelay == 0 || pPacket->pts == AV_NOPTS_VALUE || pPacket->dts != AV_NOPTS_VALUE) return;
  // Times a file cannot mean (a damaged or hostile one) are left without, rather than overflow
  // when counted back.
  if (pPacket->pts < INT64_MIN / 2) return;
  const int64_t nFrame =
      std::clamp<int64_t>(pPacket->duration > 0 ? pPacket->duration : m_nFrame, 1, kMaxFrame);
  // The times are kept sorted; the newest goes in front and sinks to its place.
  m_times[0] = pPacket->pts;
  for (int i = 1; i <= m_nDelay && m_times[i] == AV_NOPTS_VALUE; ++i) {
    m_times[i] = pPacket->pts + (i - m_nDelay - 1) * nFrame;
  }
  for (int i = 0; i < m_nDelay && m_times[i] > m_times[i + 1]; ++i) {
    std::swap(m_times[i], m_times[i + 1]);
  }
  pPacket->dts = m_times[0];
}

}  // namespace codec_interface
