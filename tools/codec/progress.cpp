#include "progress.h"

#include "platform_io.h"

#include <algorithm>
#include <cstdio>

namespace codec_tool {
namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kQuietStart = std::chrono::seconds(1);  // shorter steps show nothing
constexpr auto kTerminalEvery = std::chrono::milliseconds(100);
constexpr auto kPlainEvery = std::chrono::seconds(5);
constexpr int kBarWidth = 24;

}  // namespace

Progress::Progress(std::string label, long total, std::string unit, bool quiet)
    : m_strLabel(std::move(label)),
      m_strUnit(std::move(unit)),
      m_nTotal(total),
      m_bQuiet(quiet),
      m_bTerminal(isatty(STDERR_FILENO) == 1),
      m_start(Clock::now()),
      m_lastDraw(m_start) {}

Progress::~Progress() {
  if (m_bShown && (m_bTerminal || m_nDrawn != m_nDone)) Draw(true);
}

double Progress::Seconds() const {
  return std::chrono::duration<double>(Clock::now() - m_start).count();
}

void Progress::Advance(long count) {
  m_nDone += count;
  if (m_bQuiet) return;
  auto now = Clock::now();
  if (now - m_start < kQuietStart) return;
  if (now - m_lastDraw < (m_bTerminal ? kTerminalEvery : kPlainEvery) && m_bShown) return;
  m_lastDraw = now;
  Draw(false);
}

void Progress::Draw(bool final) {
  m_bShown = true;
  m_nDrawn = m_nDone;
  double seconds = Seconds();
  double rate = seconds > 0 ? m_nDone / seconds : 0;
  std::string line = m_strLabel + ": ";
  if (m_nTotal > 0) {
    if (m_bTerminal) {
      int filled = static_cast<int>(kBarWidth * std::min(1.0, double(m_nDone) / m_nTotal));
      line += '[';
      line.append(size_t(filled), '#').append(size_t(kBarWidth - filled), '.').append("] ");
    }
    line += std::to_string(m_nDone) + "/" + std::to_string(m_nTotal);
  } else {
    line += std::to_string(m_nDone);
  }
  char tail[96];
  std::snprintf(tail, sizeof tail, " %s, %.1f/s", m_strUnit.c_str(), rate);
  line += tail;
  if (!final && m_nTotal > m_nDone && rate > 0) {
    std::snprintf(tail, sizeof tail, ", %.0f s left", (m_nTotal - m_nDone) / rate);
    line += tail;
  }
  if (m_bTerminal) {
    std::fprintf(stderr, "\r\033[K%s%s", line.c_str(), final ? "\n" : "");
  } else {
    std::fprintf(stderr, "%s\n", line.c_str());
  }
  std::fflush(stderr);
}

}  // namespace codec_tool
