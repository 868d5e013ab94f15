/// @file base/system.h
/// @brief Facts about the running process: thread id and processor count.
#ifndef BASE_SYSTEM_H
#define BASE_SYSTEM_H

#include "base/base_export.h"

namespace base {

/// @return The operating system's id of the calling thread.
BASE_API long GetTid();

/// @return The number of processors this process may run on (at least 1).
BASE_API int GetCpuCount();

}  // namespace base

#endif  // BASE_SYSTEM_H
