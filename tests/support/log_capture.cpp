#include "support/log_capture.h"

#include <cstdarg>
#include <cstdio>
#include <ostream>

namespace codec_test {

namespace {

std::string Format(const char* format, va_list args) {
  char text[4096];
  std::vsnprintf(text, sizeof text, format, args);
  return text;
}

}  // namespace

std::ostream& operator<<(std::ostream& os, const LogLine& line) {
  return os << "{" << line.level << ", \"" << line.text << "\"}";
}

void CaptureLogger::PrintLog(const int& level, const int& tid, const char* format, ...) {
  va_list args;
  va_start(args, format);
  const std::string text = Format(format, args);
  va_end(args);
  Add(level, tid, format, true, text);
}

void CaptureLogger::VPrintLog(const int& level, const int& tid, const char* format,
                              va_list args) {
  va_list copy;
  va_copy(copy, args);
  const std::string text = Format(format, copy);
  va_end(copy);
  Add(level, tid, format, false, text);
}

void CaptureLogger::Add(int level, int tid, const char* format, bool own,
                        const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex_);
  entries_.push_back(Entry{LogLine{level, text}, tid, own, format});
}

std::vector<LogLine> CaptureLogger::Select(int which) const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<LogLine> lines;
  for (const auto& e : entries_) {
    if (which == kAll || (which == kOwn) == e.own) lines.push_back(e.line);
  }
  return lines;
}

std::vector<LogLine> CaptureLogger::Lines() const { return Select(kAll); }
std::vector<LogLine> CaptureLogger::OwnLines() const { return Select(kOwn); }
std::vector<LogLine> CaptureLogger::ForwardedLines() const { return Select(kForwarded); }

std::vector<std::string> CaptureLogger::Formats() const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<std::string> formats;
  for (const auto& e : entries_) {
    if (e.own) formats.push_back(e.format);
  }
  return formats;
}

std::vector<int> CaptureLogger::Tids() const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<int> tids;
  for (const auto& e : entries_) tids.push_back(e.tid);
  return tids;
}

void CaptureLogger::Clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  entries_.clear();
}

ScopedLogCapture::ScopedLogCapture()
    : capture_(std::make_shared<CaptureLogger>()),
      previous_(base::IBaseLogInterface::GetLogInstance(nullptr)) {
  base::IBaseLogInterface::GetLogInstance(capture_);
}

ScopedLogCapture::~ScopedLogCapture() { base::IBaseLogInterface::GetLogInstance(previous_); }

}  // namespace codec_test
