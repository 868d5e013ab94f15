// Entries of the output-parameter objects, put there by the codecs and converters.
#pragma once

#include "codec_interface.h"
#include "interface/av_ptr.h"

namespace codec_interface {

// Whether an out-param of these flags owns its entries (OUTPARAM_FLAG_NOT_USE_CACHE) rather
// than lending the producer's.
inline bool OwnsEntries(int nFlag) { return (nFlag & OUTPARAM_FLAG_NOT_USE_CACHE) != 0; }

// Appends the codec's own frame or packet as the next entry and fills the entry's record:
// lent (valid until the codec's next call), or a clone when the out-param owns its entries
// (OUTPARAM_FLAG_NOT_USE_CACHE). The caller checks that a slot is free. Returns the entry's
// index, or -1 with nothing changed when the clone cannot be made.
int AppendEntry(CVideoDecodeOutParam& out, AVFrame* pFrame);
int AppendEntry(CAudioDecodeOutParam& out, AVFrame* pFrame);
int AppendEntry(CVideoEncodeOutParam& out, AVPacket* pPacket);
int AppendEntry(CAudioEncodeOutParam& out, AVPacket* pPacket);

// Makes a new frame the first entry, which the out-param owns from then on. Entries beyond it
// are left alone; the caller clears what it must first.
void PutOwnedFirstEntry(CVideoDecodeOutParam& out, FramePtr pFrame);
void PutOwnedFirstEntry(CAudioDecodeOutParam& out, FramePtr pFrame);

}  // namespace codec_interface
