// Interface calls return their failure value instead of letting an exception (an allocation
// that fails for a huge size, say) reach a host that cannot catch it.
#pragma once

#include <utility>

namespace codec_interface {

template <class Body>
int WithoutThrowing(int nFailure, Body&& body) noexcept {
  try {
    return std::forward<Body>(body)();
  } catch (...) {
    return nFailure;
  }
}

}  // namespace codec_interface
