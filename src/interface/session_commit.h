// How a codec object's Init keeps the session of its role: built and opened as a whole, kept
// only when it opened.
#pragma once

#include <memory>
#include <utility>

namespace codec_interface {

// Opens the session with args and moves it into slot; a session that fails is released at once
// (with whatever it had set up), then onFailed runs (the object's uninit line). 0 or -1.
template <class Session, class OnFailed, class... Args>
int CommitSession(std::unique_ptr<Session>& slot, std::unique_ptr<Session> session,
                  OnFailed onFailed, const Args&... args) {
  if (session->Open(args...) != 0) {
    session.reset();
    onFailed();
    return -1;
  }
  slot = std::move(session);
  return 0;
}

}  // namespace codec_interface
