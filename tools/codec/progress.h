// Progress of a long step on standard error: a bar redrawn in place when standard error is a
// terminal (done/total, rate, time left), a plain line now and then otherwise, nothing with
// --quiet. Steps that end within about a second show nothing.
#pragma once

#include <chrono>
#include <string>

namespace codec_tool {

class Progress {
 public:
  // total 0: unknown (no bar, no time left).
  Progress(std::string label, long total, std::string unit, bool quiet);
  ~Progress();
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;

  void Advance(long count = 1);
  double Seconds() const;  // since the step began
  long Done() const { return m_nDone; }

 private:
  void Draw(bool final);

  std::string m_strLabel;
  std::string m_strUnit;
  long m_nTotal;
  long m_nDone = 0;
  long m_nDrawn = -1;  // m_nDone at the last drawing
  bool m_bQuiet;
  bool m_bTerminal;
  bool m_bShown = false;
  std::chrono::steady_clock::time_point m_start;
  std::chrono::steady_clock::time_point m_lastDraw;
};

}  // namespace codec_tool
