// Compiled as C++17 with only include/ on the path: the header must need nothing else.
#include "codec_interface.h"

#if __cplusplus != 201703L
#error "this check must be compiled as C++17"
#endif
