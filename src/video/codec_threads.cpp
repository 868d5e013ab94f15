// Thread settings of video codec contexts, and the process-wide defaults behind them.
#include "video/codec_threads.h"

#include <cstring>
#include <mutex>
#include <string>

#include "base/system.h"
#include "codec_interface.h"
#include "interface/log.h"

namespace codec_interface {

namespace {

constexpr int kAllKinds = CODEC_THREAD_FRAME | CODEC_THREAD_SLICE;

// The one piece of process-wide state the library keeps: what hosts chose for every object.
struct DefaultThreadStore {
  std::mutex mtx;
  ThreadChoice decoder{1, CODEC_THREAD_FRAME};
  ThreadChoice encoder{0, CODEC_THREAD_SLICE};
};

DefaultThreadStore& Defaults() {
  static DefaultThreadStore store;
  return store;
}

int FfmpegThreadType(int nKinds) {
  return ((nKinds & CODEC_THREAD_FRAME) != 0 ? FF_THREAD_FRAME : 0) |
         ((nKinds & CODEC_THREAD_SLICE) != 0 ? FF_THREAD_SLICE : 0);
}

}  // namespace

bool AcceptThreads(const char* pCaller, int nCount, int nKinds) {
  if (nCount < 0) {
    CODEC_LOG(kLogError, "%s refuses %d threads", pCaller, nCount);
    return false;
  }
  if (nKinds < 1 || nKinds > kAllKinds) {
    CODEC_LOG(kLogError, "%s refuses thread kinds %d", pCaller, nKinds);
    return false;
  }
  return true;
}

int StoreDefaultThreads(int nDecoderCount, int nDecoderKinds, int nEncoderCount) {
  constexpr const char* kCaller = "SetDefaultThreads";
  if (!AcceptThreads(kCaller, nDecoderCount, nDecoderKinds) ||
      !AcceptThreads(kCaller, nEncoderCount, CODEC_THREAD_SLICE)) {
    return -1;
  }
  DefaultThreadStore& store = Defaults();
  std::lock_guard<std::mutex> lock(store.mtx);
  store.decoder = ThreadChoice{nDecoderCount, nDecoderKinds};
  store.encoder.nCount = nEncoderCount;
  return 0;
}

ThreadChoice DefaultThreads(bool bDecoder) {
  DefaultThreadStore& store = Defaults();
  std::lock_guard<std::mutex> lock(store.mtx);
  return bDecoder ? store.decoder : store.encoder;
}

void ApplyDecoderThreads(const ThreadChoice& choice, AVCodecContext* pCtx) {
  if (choice.nCount == 1) return;
  pCtx->thread_count = choice.nCount > 0 ? choice.nCount : base::GetCpuCount();
  pCtx->thread_type = FfmpegThreadType(choice.nKinds);
}

void ApplyEncoderThreads(const ThreadChoice& choice, AVCodecContext* pCtx, AvOptions& options) {
  if (choice.nCount == 0) return;
  // libx265 reads the context's count as frame threads, which delay packets; its pool of
  // wavefront threads gives the same cores without that.
  if (std::strcmp(pCtx->codec->name, "libx265") == 0) {
    options.Set("x265-params", ("pools=" + std::to_string(choice.nCount)).c_str());
    return;
  }
  pCtx->thread_count = choice.nCount;
  pCtx->thread_type = FF_THREAD_SLICE;
}

}  // namespace codec_interface
