#include <algorithm>

#include "codec_interface.h"
#include "interface/ffmpeg.h"
#include "interface/out_entries.h"

namespace codec_interface {

namespace {

// A copy in owning mode holds its own references, so each object frees only what it holds.
void CopyEntries(COutParam& target, const COutParam& source) {
  const bool owning = OwnsEntries(source.m_nFlag);
  const int count = std::clamp(source.m_nNum, 0, OUTPARAM_MAX_COUNT);
  for (int k = 0; k < OUTPARAM_MAX_COUNT; ++k) {
    AVFrame* frame = source.m_pFrame[k];
    AVPacket* packet = source.m_pPacket[k];
    if (owning) {
      frame = (k < count && frame != nullptr) ? av_frame_clone(frame) : nullptr;
      packet = (k < count && packet != nullptr) ? av_packet_clone(packet) : nullptr;
    }
    target.m_pFrame[k] = frame;
    target.m_pPacket[k] = packet;
  }
}

// Owned entries are freed, borrowed ones only lose their data; every slot ends up null.
template <class T>
void ReleaseEntries(T* (&entries)[OUTPARAM_MAX_COUNT], int count, bool owning, void (*freeFn)(T**),
                    void (*unrefFn)(T*)) {
  for (int k = 0; k < count && k < OUTPARAM_MAX_COUNT; ++k) {
    if (entries[k] == nullptr) continue;
    if (owning) {
      freeFn(&entries[k]);
    } else {
      unrefFn(entries[k]);
    }
    entries[k] = nullptr;
  }
}

}  // namespace

COutParam::COutParam(int nFlag) : m_pPacket{}, m_pFrame{}, m_nNum(0), m_nFlag(nFlag) {}

COutParam::COutParam(const COutParam& other)
    : m_pPacket{}, m_pFrame{}, m_nNum(other.m_nNum), m_nFlag(other.m_nFlag) {
  CopyEntries(*this, other);
}

COutParam::~COutParam() { COutParam::Clear(); }

void COutParam::Clear() {
  const bool owning = OwnsEntries(m_nFlag);
  ReleaseEntries(m_pFrame, m_nNum, owning, av_frame_free, av_frame_unref);
  ReleaseEntries(m_pPacket, m_nNum, owning, av_packet_free, av_packet_unref);
  m_nNum = 0;
}

CVideoEncodeOutParam::CVideoEncodeOutParam() : CVideoEncodeOutParam(0) {}
CVideoEncodeOutParam::CVideoEncodeOutParam(int nFlag)
    : COutParam(nFlag), m_nWidth(0), m_nHeight(0) {}
CVideoEncodeOutParam::CVideoEncodeOutParam(const CVideoEncodeOutParam& other)
    : COutParam(other), m_nWidth(other.m_nWidth), m_nHeight(other.m_nHeight) {
  std::copy(std::begin(other.m_outData), std::end(other.m_outData), m_outData);
}
CVideoEncodeOutParam::CVideoEncodeOutParam(CVideoEncodeOutParam&& other)
    : CVideoEncodeOutParam(static_cast<const CVideoEncodeOutParam&>(other)) {}
CVideoEncodeOutParam::~CVideoEncodeOutParam() = default;

CVideoDecodeOutParam::CVideoDecodeOutParam() : CVideoDecodeOutParam(0) {}
CVideoDecodeOutParam::CVideoDecodeOutParam(int nFlag)
    : COutParam(nFlag),
      m_nWidth(0),
      m_nHeight(0),
      m_ePixelFormat(PIX_FMT_NONE),
      m_bDecodeError(false) {}
CVideoDecodeOutParam::CVideoDecodeOutParam(const CVideoDecodeOutParam& other)
    : COutParam(other),
      m_nWidth(other.m_nWidth),
      m_nHeight(other.m_nHeight),
      m_ePixelFormat(other.m_ePixelFormat),
      m_bDecodeError(other.m_bDecodeError) {
  std::copy(std::begin(other.m_outData), std::end(other.m_outData), m_outData);
}
CVideoDecodeOutParam::CVideoDecodeOutParam(CVideoDecodeOutParam&& other)
    : CVideoDecodeOutParam(static_cast<const CVideoDecodeOutParam&>(other)) {}
CVideoDecodeOutParam::~CVideoDecodeOutParam() = default;

void CVideoDecodeOutParam::Clear() {
  COutParam::Clear();
  m_bDecodeError = false;
}

CAudioEncodeOutParam::CAudioEncodeOutParam() : CAudioEncodeOutParam(0) {}
CAudioEncodeOutParam::CAudioEncodeOutParam(int nFlag) : COutParam(nFlag) {}
CAudioEncodeOutParam::CAudioEncodeOutParam(const CAudioEncodeOutParam& other) : COutParam(other) {
  std::copy(std::begin(other.m_outData), std::end(other.m_outData), m_outData);
}
CAudioEncodeOutParam::CAudioEncodeOutParam(CAudioEncodeOutParam&& other)
    : CAudioEncodeOutParam(static_cast<const CAudioEncodeOutParam&>(other)) {}
CAudioEncodeOutParam::~CAudioEncodeOutParam() = default;

CAudioDecodeOutParam::CAudioDecodeOutParam() : CAudioDecodeOutParam(0) {}
CAudioDecodeOutParam::CAudioDecodeOutParam(int nFlag) : COutParam(nFlag) {}
CAudioDecodeOutParam::CAudioDecodeOutParam(const CAudioDecodeOutParam& other) : COutParam(other) {
  std::copy(std::begin(other.m_outData), std::end(other.m_outData), m_outData);
}
CAudioDecodeOutParam::CAudioDecodeOutParam(CAudioDecodeOutParam&& other)
    : CAudioDecodeOutParam(static_cast<const CAudioDecodeOutParam&>(other)) {}
CAudioDecodeOutParam::~CAudioDecodeOutParam() = default;

}  // namespace codec_interface
