#include "base/log.h"

#include <cstdio>
#include <cstring>
#include <mutex>

namespace base {

namespace {

std::mutex g_loggerMutex;

std::shared_ptr<IBaseLogInterface>& ProcessLogger() {
  static std::shared_ptr<IBaseLogInterface> logger = std::make_shared<CStderrLog>();
  return logger;
}

}  // namespace

IBaseLogInterface::~IBaseLogInterface() = default;

std::shared_ptr<IBaseLogInterface> IBaseLogInterface::GetLogInstance(
    std::shared_ptr<IBaseLogInterface> logger) {
  std::lock_guard<std::mutex> lock(g_loggerMutex);
  auto& current = ProcessLogger();
  if (logger) current = std::move(logger);
  return current;
}

void CStderrLog::PrintLog(const int& level, const int& tid, const char* format, ...) {
  va_list args;
  va_start(args, format);
  VPrintLog(level, tid, format, args);
  va_end(args);
}

void CStderrLog::VPrintLog(const int& level, const int& tid, const char* format, va_list args) {
  if (level < LOG_LEVEL_INFO) return;
  char text[2048];
  std::vsnprintf(text, sizeof text, format, args);
  // One fprintf per line keeps lines from different threads whole.
  const char* newline = (text[0] != '\0' && text[std::strlen(text) - 1] == '\n') ? "" : "\n";
  std::fprintf(stderr, "[%d][%d] %s%s", level, tid, text, newline);
}

}  // namespace base
