// Captures the lines the library writes to the base logger, for exact assertions on text and
// level. Installing a capture makes it the process logger until it is destroyed.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "base/log.h"

namespace codec_test {

struct LogLine {
  int level;
  std::string text;
  bool operator==(const LogLine& other) const {
    return level == other.level && text == other.text;
  }
};

std::ostream& operator<<(std::ostream& os, const LogLine& line);

class CaptureLogger : public base::IBaseLogInterface {
 public:
  void PrintLog(const int& level, const int& tid, const char* format, ...) override
      BASE_PRINTF_LIKE(4, 5);
  void VPrintLog(const int& level, const int& tid, const char* format, va_list args) override
      BASE_PRINTF_LIKE(4, 0);

  std::vector<LogLine> Lines() const;
  // The lines printed through PrintLog (the library's own) / VPrintLog (forwarded FFmpeg lines).
  std::vector<LogLine> OwnLines() const;
  std::vector<LogLine> ForwardedLines() const;
  std::vector<std::string> Formats() const;  // the literal formats given to PrintLog
  std::vector<int> Tids() const;
  void Clear();

 private:
  enum { kAll, kOwn, kForwarded };
  std::vector<LogLine> Select(int which) const;
  void Add(int level, int tid, const char* format, bool own, const std::string& text);

  struct Entry {
    LogLine line;
    int tid;
    bool own;
    std::string format;
  };
  mutable std::mutex mutex_;
  std::vector<Entry> entries_;
};

// Installs a CaptureLogger as the process logger for its lifetime, then restores the previous.
class ScopedLogCapture {
 public:
  ScopedLogCapture();
  ~ScopedLogCapture();
  ScopedLogCapture(const ScopedLogCapture&) = delete;
  ScopedLogCapture& operator=(const ScopedLogCapture&) = delete;

  CaptureLogger& operator*() const { return *capture_; }
  CaptureLogger* operator->() const { return capture_.get(); }

 private:
  std::shared_ptr<CaptureLogger> capture_;
  std::shared_ptr<base::IBaseLogInterface> previous_;
};

}  // namespace codec_test
