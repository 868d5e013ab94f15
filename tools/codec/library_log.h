// The program's logger for the library: hides the library's lines unless --verbose, and keeps
// the latest ones so that a failure can be explained with them.
#pragma once

#include <cstdarg>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "base/log.h"

namespace codec_tool {

class LibraryLog : public base::IBaseLogInterface {
 public:
  // Installs a new logger as the process logger and routes FFmpeg's own lines through it.
  static std::shared_ptr<LibraryLog> Install(bool verbose);
  // Whether the library's lines are shown (--verbose).
  static bool Verbose();

  void PrintLog(const int& level, const int& tid, const char* format, ...) override
      BASE_PRINTF_LIKE(4, 5);
  void VPrintLog(const int& level, const int& tid, const char* format, va_list args) override
      BASE_PRINTF_LIKE(4, 0);

  // Forgets the kept lines: what a failure shows afterwards belongs to the step that follows.
  void StartStep();
  // The latest kept lines that can explain a failure (not the routine information lines).
  std::vector<std::string> Explaining(size_t count) const;

 private:
  explicit LibraryLog(bool verbose) : m_bVerbose(verbose) {}
  void Add(int level, std::string text);

  bool m_bVerbose;
  mutable std::mutex m_mtx;
  std::deque<std::pair<int, std::string>> m_lines;
};

// Some encoders FFmpeg wraps (x265) print to standard error themselves, beside the library's
// log. While an object of this class lives, those prints go nowhere unless --verbose.
class MuteForeignPrints {
 public:
  MuteForeignPrints();
  ~MuteForeignPrints();
  MuteForeignPrints(const MuteForeignPrints&) = delete;
  MuteForeignPrints& operator=(const MuteForeignPrints&) = delete;

 private:
  int m_nSaved = -1;
};

}  // namespace codec_tool
