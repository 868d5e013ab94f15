/// @file base/log.h
/// @brief The process logger: one sink for every log line of a process, replaceable by the host.
///
/// The codec library writes each of its lines through the process logger, with a level of the
/// LogLevel scale and the calling thread's id (base::GetTid), from whichever thread calls into
/// it. FFmpeg's own lines of warning severity and above are forwarded through VPrintLog.
#ifndef BASE_LOG_H
#define BASE_LOG_H

#include <cstdarg>
#include <memory>

#include "base/base_export.h"

/// The companion library of codec: logger, thread id, CPU count, H.264 SPS parser.
namespace base {

/// Severity scale of the level argument.
enum LogLevel : int {
  LOG_LEVEL_DEBUG = 0,     ///< Debugging detail, probe results.
  LOG_LEVEL_INFO = 20,     ///< Opening, closing, size changes.
  LOG_LEVEL_WARNING = 40,  ///< Something unexpected that the call survives.
  LOG_LEVEL_ERROR = 60,    ///< A failed operation.
  LOG_LEVEL_FATAL = 80,    ///< FFmpeg's panic and fatal lines.
};

/// A log sink. A host derives from it and installs its logger with GetLogInstance; the two log
/// operations may then be called from any thread at once, so they must be thread-safe.
class BASE_API IBaseLogInterface {
 public:
  /// Destroys the logger.
  virtual ~IBaseLogInterface();

  /// Writes one line, printf-style.
  /// @param level  A LogLevel value.
  /// @param tid    The calling thread's id (base::GetTid).
  /// @param format The printf format (the codec library's own lines begin with "[CODE]"),
  ///               followed by its arguments.
  virtual void PrintLog(const int& level, const int& tid, const char* format, ...)
      BASE_PRINTF_LIKE(4, 5) = 0;
  /// Writes one line as PrintLog does, with the arguments in @p args; used to forward FFmpeg's
  /// own lines, whose format and arguments pass unchanged.
  /// @param level  A LogLevel value.
  /// @param tid    The calling thread's id.
  /// @param format The printf format.
  /// @param args   Its arguments.
  virtual void VPrintLog(const int& level, const int& tid, const char* format, va_list args)
      BASE_PRINTF_LIKE(4, 0) = 0;

  /// With an empty pointer: returns the process logger, which is never empty (CStderrLog until
  /// a host installs its own). With a logger: installs it as the process logger and returns it.
  /// Thread-safe.
  static std::shared_ptr<IBaseLogInterface> GetLogInstance(
      std::shared_ptr<IBaseLogInterface> logger);
};

/// The logger installed until a host installs its own: writes level, thread id and text to
/// stderr, one line per call, for levels of information (20) and above.
class BASE_API CStderrLog : public IBaseLogInterface {
 public:
  /// Writes the line to stderr when @p level is 20 or above.
  void PrintLog(const int& level, const int& tid, const char* format, ...) override
      BASE_PRINTF_LIKE(4, 5);
  /// Writes the line to stderr when @p level is 20 or above.
  void VPrintLog(const int& level, const int& tid, const char* format, va_list args) override
      BASE_PRINTF_LIKE(4, 0);
};

}  // namespace base

#endif  // BASE_LOG_H
