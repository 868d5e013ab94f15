#include "interface/out_entries.h"

namespace codec_interface {

namespace {

AVFrame* CloneOf(AVFrame* pFrame) { return av_frame_clone(pFrame); }
AVPacket* CloneOf(AVPacket* pPacket) { return av_packet_clone(pPacket); }

AVFrame*& SlotOf(COutParam& out, int k, AVFrame*) { return out.m_pFrame[k]; }
AVPacket*& SlotOf(COutParam& out, int k, AVPacket*) { return out.m_pPacket[k]; }

void Describe(CVideoDecodeOutParam& out, int k, const AVFrame* pFrame) {
  for (int plane = 0; plane < 4; ++plane) {
    out.m_outData[k].pData[plane] = pFrame->data[plane];
    out.m_outData[k].nLinesize[plane] = pFrame->linesize[plane];
  }
  out.m_nWidth = pFrame->width;
  out.m_nHeight = pFrame->height;
}

void Describe(CAudioDecodeOutParam& out, int k, const AVFrame* pFrame) {
  out.m_outData[k].pData = pFrame->data[0];
  out.m_outData[k].nSize = pFrame->linesize[0];
}

template <class Out>
void Describe(Out& out, int k, const AVPacket* pPacket) {
  out.m_outData[k].pData = pPacket->data;
  out.m_outData[k].nSize = pPacket->size;
}

template <class Out, class T>
int Put(Out& out, int k, T* pEntry) {
  if (pEntry == nullptr) return -1;
  SlotOf(out, k, pEntry) = pEntry;
  out.m_nNum = k + 1;
  Describe(out, k, pEntry);
  return k;
}

template <class Out, class T>
int Append(Out& out, T* pItem) {
  return Put(out, out.m_nNum, OwnsEntries(out.m_nFlag) ? CloneOf(pItem) : pItem);
}

}  // namespace

int AppendEntry(CVideoDecodeOutParam& out, AVFrame* pFrame) { return Append(out, pFrame); }
int AppendEntry(CAudioDecodeOutParam& out, AVFrame* pFrame) { return Append(out, pFrame); }
int AppendEntry(CVideoEncodeOutParam& out, AVPacket* pPacket) { return Append(out, pPacket); }
int AppendEntry(CAudioEncodeOutParam& out, AVPacket* pPacket) { return Append(out, pPacket); }

void PutOwnedFirstEntry(CVideoDecodeOutParam& out, FramePtr pFrame) {
  Put(out, 0, pFrame.release());
}

void PutOwnedFirstEntry(CAudioDecodeOutParam& out, FramePtr pFrame) {
  Put(out, 0, pFrame.release());
}

}  // namespace codec_interface
