// Captures the lines written to the base logger, for exact assertions on text and level. A
// ScopedLogCapture is the process logger for its lifetime.
#pragma once

#include <cstdarg>
#include <cstdio>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <vector>

#include "base/log.h"

namespace codec_test {

struct LogLine {
  int level;
  std::string text;
  bool operator==(const LogLine&) const = default;
  friend std::ostream& operator<<(std::ostream& os, const LogLine& l) {
    return os << "{" << l.level << ", \"" << l.text << "\"}";
  }
};

// PrintLog carries the library's own lines, VPrintLog the FFmpeg lines it forwards.
class CaptureLogger : public base::IBaseLogInterface {
 public:
  void PrintLog(const int& level, const int& tid, const char* format, ...) override
      BASE_PRINTF_LIKE(4, 5) {
    va_list args;
    va_start(args, format);
    Add(level, tid, true, format, args);
    va_end(args);
  }
  void VPrintLog(const int& level, const int& tid, const char* format, va_list args) override
      BASE_PRINTF_LIKE(4, 0) {
    Add(level, tid, false, format, args);
  }
  std::vector<LogLine> OwnLines() const { return Select(true); }
  std::vector<LogLine> ForwardedLines() const { return Select(false); }
  std::vector<int> Tids() const {
    std::lock_guard lock(mutex_);
    std::vector<int> tids;
    for (const Entry& e : entries_) tids.push_back(e.tid);
    return tids;
  }
  void Clear() {
    std::lock_guard lock(mutex_);
    entries_.clear();
  }

 private:
  struct Entry {
    LogLine line;
    int tid;
    bool own;
  };
  void Add(int level, int tid, bool own, const char* format, va_list args) {
    char text[4096];
    std::vsnprintf(text, sizeof text, format, args);
    std::lock_guard lock(mutex_);
    entries_.push_back({{level, text}, tid, own});
  }
  std::vector<LogLine> Select(bool own) const {
    std::lock_guard lock(mutex_);
    std::vector<LogLine> lines;
    for (const Entry& e : entries_) {
      if (e.own == own) lines.push_back(e.line);
    }
    return lines;
  }
  mutable std::mutex mutex_;
  std::vector<Entry> entries_;
};

class ScopedLogCapture {
 public:
  ScopedLogCapture() : previous_(base::IBaseLogInterface::GetLogInstance(nullptr)) {
    base::IBaseLogInterface::GetLogInstance(capture_);
  }
  ~ScopedLogCapture() { base::IBaseLogInterface::GetLogInstance(previous_); }
  ScopedLogCapture(const ScopedLogCapture&) = delete;
  ScopedLogCapture& operator=(const ScopedLogCapture&) = delete;
  CaptureLogger* operator->() const { return capture_.get(); }

 private:
  std::shared_ptr<CaptureLogger> capture_ = std::make_shared<CaptureLogger>();
  std::shared_ptr<base::IBaseLogInterface> previous_;
};

}  // namespace codec_test
