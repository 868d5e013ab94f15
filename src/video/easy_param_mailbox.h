// Easy parameters a host sets from any thread; the decoder takes them with its next picture.
#pragma once

#include <mutex>

#include "codec_interface.h"

namespace codec_interface {

class EasyParamMailbox {
 public:
  void Post(const VideoEasyParam& param) {
    std::lock_guard<std::mutex> lock(m_mtx);
    m_bPending = true;
    m_stParam = param;
  }
  // The parameters posted since the last call, if any.
  bool Take(VideoEasyParam* pParam) {
    std::lock_guard<std::mutex> lock(m_mtx);
    if (!m_bPending) return false;
    *pParam = m_stParam;
    m_bPending = false;
    return true;
  }

 private:
  std::mutex m_mtx;
  bool m_bPending = false;
  VideoEasyParam m_stParam{};
};

}  // namespace codec_interface
