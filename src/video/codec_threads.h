// The threads a video codec object's FFmpeg context runs: chosen per object or taken from the
// process-wide defaults when the object opens, and applied to every context its session makes.
#pragma once

#include "interface/av_ptr.h"

namespace codec_interface {

struct ThreadChoice {
  int nCount = 1;  // 0: one per core for decoders, the encoder's own choice for encoders
  int nKinds = 1;  // CodecThreadKind bits; decoders only
};

// Whether a count and kinds can be used; false after the line naming pCaller and the values.
bool AcceptThreads(const char* pCaller, int nCount, int nKinds);
// Replaces the process-wide defaults; -1 after the line when a value is refused.
int StoreDefaultThreads(int nDecoderCount, int nDecoderKinds, int nEncoderCount);
// The defaults for a decoder or an encoder as they are now.
ThreadChoice DefaultThreads(bool bDecoder);

// A software decoder's count and kinds onto an unopened context; one thread leaves FFmpeg's
// own default (one thread, no delay) untouched.
void ApplyDecoderThreads(const ThreadChoice& choice, AVCodecContext* pCtx);
// An encoder's count onto an unopened context, always as slice threads (or libx265's pool),
// which add no delay; 0 leaves the encoder's own choice.
void ApplyEncoderThreads(const ThreadChoice& choice, AVCodecContext* pCtx, AvOptions& options);

}  // namespace codec_interface
