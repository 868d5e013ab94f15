// The few POSIX descriptor and process calls the program makes; on Windows they come from the C
// runtime's own headers under the same names.
#pragma once

#if defined(_WIN32)
#include <io.h>
#include <process.h>
#ifndef STDERR_FILENO
#define STDERR_FILENO 2
#endif
#else
#include <unistd.h>
#endif

namespace codec_tool {

#if defined(_WIN32)
inline constexpr const char* kNullDevice = "NUL";
#else
inline constexpr const char* kNullDevice = "/dev/null";
#endif

}  // namespace codec_tool
