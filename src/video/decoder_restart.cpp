#include "video/decoder_restart.h"

#include "interface/annexb.h"

namespace codec_interface {

namespace {

// Whether an Annex B access unit is a point a decoder can start from: an IDR picture (H.264) or
// an intra random access point (HEVC). Only the NAL headers up to the first slice are read.
bool IsKeyPacket(AVCodecID eCodec, const uint8_t* pData, int nSize) {
  for (int i = FindStartCode(pData, nSize, 0, 3); i >= 0 && i + 3 < nSize;
       i = FindStartCode(pData, nSize, i + 3, 3)) {
    const int type = NalUnitType(pData[i + 3], eCodec == AV_CODEC_ID_HEVC);
    if (eCodec == AV_CODEC_ID_H264) {
      if (type == 5) return true;
      if (type >= 1 && type <= 4) return false;  // the first slice is no IDR slice
    } else {
      if (type >= 16 && type <= 23) return true;
      if (type < 16) return false;
    }
  }
  return false;
}

}  // namespace

void DecoderRestart::Keep(AVCodecID eCodec, const AVPacket& packet) {
  if (eCodec != AV_CODEC_ID_H264 && eCodec != AV_CODEC_ID_HEVC) return;
  if (IsKeyPacket(eCodec, packet.data, packet.size)) {
    m_vecPackets.clear();
    m_bOverflow = false;
    m_nEarlierKeys = m_nKeysInFlight++;
  } else if (m_vecPackets.empty() || m_bOverflow) {
    return;  // no key packet to start from
  }
  if (m_vecPackets.size() == kMaxPackets) {
    // The key picture never came out: nothing bounded is left to replay, and the count of
    // key pictures to come starts afresh.
    m_vecPackets.clear();
    m_bOverflow = true;
    m_nKeysInFlight = m_nEarlierKeys = 0;
    return;
  }
  PacketPtr pCopy(av_packet_alloc());
  if (pCopy == nullptr || av_packet_ref(pCopy.get(), &packet) < 0) {
    m_vecPackets.clear();  // a replay without this packet would lose its picture
    m_bOverflow = true;
    return;
  }
  m_vecPackets.push_back(std::move(pCopy));
}

void DecoderRestart::KeyPictureOut() {
  if (m_nKeysInFlight > 0) --m_nKeysInFlight;
  if (m_nEarlierKeys > 0) {
    --m_nEarlierKeys;
    return;
  }
  m_vecPackets.clear();
}

ExchangeStatus DecoderRestart::Replay(AVCodecContext* pCtx) {
  m_waiting.clear();  // the old decoder's, which the replay makes again
  // The new decoder has seen only the kept key packet.
  m_nKeysInFlight = 1;
  m_nEarlierKeys = 0;
  ExchangeStatus sent(0);
  for (const PacketPtr& pPacket : m_vecPackets) {
    sent = DecoderSend(pCtx, pPacket.get());
    if (sent.Waits()) {
      // The decoder holds a finished picture and a packet: take the picture, then send again.
      const ExchangeStatus ready = ReceiveReady(pCtx);
      sent = ready.Failed() ? ready : DecoderSend(pCtx, pPacket.get());
    }
    if (!sent.Passed() && !sent.Corrupt()) return sent;
    const ExchangeStatus ready = ReceiveReady(pCtx);
    if (ready.Failed()) return ready;
  }
  return sent;
}

ExchangeStatus DecoderRestart::ReceiveReady(AVCodecContext* pCtx) {
  for (;;) {
    FramePtr pFrame(av_frame_alloc());
    if (pFrame == nullptr) return ExchangeStatus(AVERROR(ENOMEM));
    const ExchangeStatus got = DecoderReceive(pCtx, pFrame.get());
    if (!got.Passed()) return got;
    m_waiting.push_back(std::move(pFrame));
  }
}

ExchangeStatus DecoderRestart::Receive(AVCodecContext* pCtx, AVFrame* pFrame) {
  if (m_waiting.empty()) return DecoderReceive(pCtx, pFrame);
  FramePtr pBehind(av_frame_alloc());
  if (pBehind == nullptr) return ExchangeStatus(AVERROR(ENOMEM));
  const ExchangeStatus got = DecoderReceive(pCtx, pBehind.get());
  if (got.Failed()) return got;
  if (got.Passed()) m_waiting.push_back(std::move(pBehind));
  av_frame_unref(pFrame);
  av_frame_move_ref(pFrame, m_waiting.front().get());
  m_waiting.pop_front();
  return ExchangeStatus(0);
}

void DecoderRestart::Clear() {
  m_vecPackets.clear();
  m_bOverflow = false;
  m_waiting.clear();
  m_nKeysInFlight = m_nEarlierKeys = 0;
}

}  // namespace codec_interface
