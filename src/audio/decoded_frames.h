// The frames an audio decoder hands out, one slot per entry of a call, kept and reused from call
// to call; their sample buffers come from a pool, so that a buffer a host's Clear releases comes
// back without a new allocation.
#pragma once

#include <vector>

#include "interface/av_ptr.h"

namespace codec_interface {

class DecodedFrames {
 public:
  // The frame in slot nIndex, created on first use; null when it cannot be.
  AVFrame* Slot(int nIndex);
  // Moves the decoder's frame into slot nIndex. 0 or -1.
  int HandOver(int nIndex, AVFrame* pDecoded);
  // Copies source's samples into slot nIndex, reusing that frame's buffer while its shape stays
  // and nobody else references it. 0 or -1.
  int CopyWithReuse(int nIndex, const AVFrame* pSource);

 private:
  int GetFrameBuffer(AVFrame* pFrame);

  BufferPoolPtr m_pPool;  // buffers still out with a host's entries outlive the pool itself
  int m_nPoolSize = 0;
  std::vector<FramePtr> m_vecFrames;
};

}  // namespace codec_interface
