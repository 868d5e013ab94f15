// Captures the lines written to the base logger, for exact assertions on text and level: the
// process logger while a ScopedLogCapture lives. PrintLog carries the library's own lines,
// VPrintLog the FFmpeg lines it forwards.
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

class CaptureLogger : public base::IBaseLogInterface {
 public:
  void PrintLog(const int& level, const int&, const char* format, ...) override
      BASE_PRINTF_LIKE(4, 5) {
    va_list args;
    va_start(args, format);
    Add(own_, level, format, args);
    va_end(args);
  }
  void VPrintLog(const int& level, const int&, const char* format, va_list args) override
      BASE_PRINTF_LIKE(4, 0) {
    Add(forwarded_, level, format, args);
  }
  std::vector<LogLine> OwnLines() const { return Get(own_); }
  std::vector<LogLine> ForwardedLines() const { return Get(forwarded_); }
  void Clear() {
    std::lock_guard lock(mutex_);
    own_.clear(), forwarded_.clear();
  }

 private:
  void Add(std::vector<LogLine>& lines, int level, const char* format, va_list args) {
    char text[4096];
    std::vsnprintf(text, sizeof text, format, args);
    std::lock_guard lock(mutex_);
    lines.push_back({level, text});
  }
  std::vector<LogLine> Get(const std::vector<LogLine>& lines) const {
    std::lock_guard lock(mutex_);
    return lines;
  }
  mutable std::mutex mutex_;
  std::vector<LogLine> own_, forwarded_;
};

class ScopedLogCapture {
 public:
  ScopedLogCapture() { base::IBaseLogInterface::GetLogInstance(capture_); }
  ~ScopedLogCapture() { base::IBaseLogInterface::GetLogInstance(previous_); }
  ScopedLogCapture(const ScopedLogCapture&) = delete;
  ScopedLogCapture& operator=(const ScopedLogCapture&) = delete;
  CaptureLogger* operator->() const { return capture_.get(); }

 private:
  std::shared_ptr<base::IBaseLogInterface> previous_ = base::IBaseLogInterface::GetLogInstance(nullptr);
  std::shared_ptr<CaptureLogger> capture_ = std::make_shared<CaptureLogger>();
};

}  // namespace codec_test
