// Texts of the public records' fixed character arrays.
#pragma once

#include <cstring>
#include <string>

namespace codec_interface {

// A fixed character array taken up to its terminating zero, or whole when it has none.
template <size_t N>
std::string TextOf(const char (&text)[N]) {
  return std::string(text, strnlen(text, N));
}

}  // namespace codec_interface
