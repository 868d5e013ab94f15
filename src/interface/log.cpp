// FFmpeg's side of the library's logging: its own lines passed on, its error codes as text.
#include "interface/log.h"

#include <cstdarg>
#include <mutex>

#include "interface/ffmpeg.h"

namespace codec_interface {

namespace {

int BaseLevelOf(int nFfmpegLevel) {
  if (nFfmpegLevel == AV_LOG_PANIC || nFfmpegLevel == AV_LOG_FATAL) return kLogFatal;
  if (nFfmpegLevel == AV_LOG_ERROR) return kLogError;
  if (nFfmpegLevel == AV_LOG_WARNING) return kLogWarning;
  return kLogDebug;
}

void FFmpegLogCallback(void*, int nLevel, const char* pFormat, va_list args) {
  if (nLevel > AV_LOG_WARNING) return;
  base::IBaseLogInterface::GetLogInstance(nullptr)->VPrintLog(
      BaseLevelOf(nLevel), static_cast<int>(base::GetTid()), pFormat, args);
}

}  // namespace

void InstallFFmpegLogBridge() {
  static std::once_flag s_logBridge;
  std::call_once(s_logBridge, [] { av_log_set_callback(FFmpegLogCallback); });
}

std::string AvErrorText(int err) {
  char text[1024] = {};
  av_strerror(err, text, sizeof text);
  return text;
}

}  // namespace codec_interface
