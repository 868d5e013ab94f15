// Captures the lines written to the base logger, for exact assertions on level and text: the
// process logger while a ScopedLogCapture lives. PrintLog carries the library's own lines,
// VPrintLog the FFmpeg lines it forwards.
#pragma once

#include <cstdarg>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "base/log.h"

namespace codec_test {

using LogLine = std::pair<int, std::string>;  // level, text

class CaptureLogger : public base::IBaseLogInterface {
 public:
  void PrintLog(const int& level, const int&, const char* format, ...) override BASE_PRINTF_LIKE(4, 5) {
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
  std::vector<LogLine> Get(const std::vector<LogLine>& lines) const {
    std::lock_guard lock(mutex_);
    return lines;
  }
  void Add(std::vector<LogLine>& lines, int level, const char* format, va_list args) {
    char text[4096];
    std::vsnprintf(text, sizeof text, format, args);
    std::lock_guard lock(mutex_);
    lines.emplace_back(level, text);
  }
  mutable std::mutex mutex_;
  std::vector<LogLine> own_, forwarded_;
};

class ScopedLogCapture {
 public:
  ScopedLogCapture() { base::IBaseLogInterface::GetLogInstance(capture_); }
  ~ScopedLogCapture() { base::IBaseLogInterface::GetLogInstance(previous_); }
  CaptureLogger* operator->() const { return capture_.get(); }

 private:
  std::shared_ptr<base::IBaseLogInterface> previous_ = base::IBaseLogInterface::GetLogInstance(nullptr);
  std::shared_ptr<CaptureLogger> capture_ = std::make_shared<CaptureLogger>();
};

}  // namespace codec_test
