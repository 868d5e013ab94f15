#ifndef BASE_SYSTEM_H
#define BASE_SYSTEM_H

#include "base/base_export.h"

namespace base {

// The operating system's id of the calling thread.
BASE_API long GetTid();

// Number of processors this process may run on (at least 1).
BASE_API int GetCpuCount();

}  // namespace base

#endif  // BASE_SYSTEM_H
