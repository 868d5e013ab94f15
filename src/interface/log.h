// The library's glue to the base logger.
#pragma once

#include <string>

#include "base/base_export.h"
#include "base/log.h"
#include "base/system.h"

namespace codec_interface {

// Log levels of the library's own lines.
inline constexpr int kLogFatal = 80;
inline constexpr int kLogError = 60;
inline constexpr int kLogWarning = 40;
inline constexpr int kLogInfo = 20;
inline constexpr int kLogDebug = 0;

// Every line of the library's own goes through here: fetches the process logger and the calling
// thread's id right before the line and hands the format and its arguments to PrintLog unchanged
// (a host's logger may look at the format itself). Use it through CODEC_LOG, which adds the
// prefix and has the compiler check the format against the arguments; a line chosen from a table
// of fixed texts without conversions (prefix included) comes here directly.
template <class... Args>
void CodecLog(int level, const char* format, Args... args) {
  const int tid = static_cast<int>(base::GetTid());
  // CODEC_LOG has the compiler check literal formats at their call sites.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-security"
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
  base::IBaseLogInterface::GetLogInstance(nullptr)->PrintLog(level, tid, format, args...);
#pragma GCC diagnostic pop
}

namespace detail {
inline void CheckLogFormat(const char*, ...) BASE_PRINTF_LIKE(1, 2);
inline void CheckLogFormat(const char*, ...) {}
}  // namespace detail

// Forwards FFmpeg's own log lines (warning and above) to the base logger, once per process:
// installed by the first video Init, media reader Open or media writer Open.
void InstallFFmpegLogBridge();

// FFmpeg's text for an error code (av_strerror into a 1024-byte buffer), for a line's "%s".
std::string AvErrorText(int err);

}  // namespace codec_interface

// A line of the library's own: the "[CODE]" prefix every such line carries, then the format
// (a literal) and its arguments. Several texts name steps of an earlier build (InitCodec,
// SwrEncResamplingInit, CopyFrameWithReuse, AvpktBsf, ...): hosts grep for them, so they stay.
#define CODEC_LOG(level, format, ...)                                                        \
  do {                                                                                       \
    if (false)                                                                               \
      ::codec_interface::detail::CheckLogFormat("[CODE]" format __VA_OPT__(, ) __VA_ARGS__); \
    ::codec_interface::CodecLog((level), "[CODE]" format __VA_OPT__(, ) __VA_ARGS__);        \
  } while (0)
