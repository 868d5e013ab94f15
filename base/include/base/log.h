// The process logger: one sink for every log line of a process, replaceable by the host.
#ifndef BASE_LOG_H
#define BASE_LOG_H

#include <cstdarg>
#include <memory>

#include "base/base_export.h"

namespace base {

// Severity scale of the level argument.
enum LogLevel : int {
  LOG_LEVEL_DEBUG = 0,
  LOG_LEVEL_INFO = 20,
  LOG_LEVEL_WARNING = 40,
  LOG_LEVEL_ERROR = 60,
  LOG_LEVEL_FATAL = 80,
};

class BASE_API IBaseLogInterface {
 public:
  virtual ~IBaseLogInterface();

  // printf-style; the format argument is the fourth parameter counting the implicit this.
  virtual void PrintLog(const int& level, const int& tid, const char* format, ...)
      BASE_PRINTF_LIKE(4, 5) = 0;
  virtual void VPrintLog(const int& level, const int& tid, const char* format, va_list args)
      BASE_PRINTF_LIKE(4, 0) = 0;

  // With an empty pointer: the process logger (never empty). With a logger: installs it as the
  // process logger and returns it. Thread-safe.
  static std::shared_ptr<IBaseLogInterface> GetLogInstance(
      std::shared_ptr<IBaseLogInterface> logger);
};

// The logger installed until a host installs its own: writes level, thread id and text to
// stderr, one line per call, for levels of information (20) and above.
class BASE_API CStderrLog : public IBaseLogInterface {
 public:
  void PrintLog(const int& level, const int& tid, const char* format, ...) override
      BASE_PRINTF_LIKE(4, 5);
  void VPrintLog(const int& level, const int& tid, const char* format, va_list args) override
      BASE_PRINTF_LIKE(4, 0);
};

}  // namespace base

#endif  // BASE_LOG_H
