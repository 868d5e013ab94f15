// The ADTS header and the AAC encoder's packet filter.
#include <cstring>

#include "audio/aac_config.h"
#include "audio/aac_packet_filter.h"
#include "audio/adts_header.h"
#include "interface/log.h"

namespace codec_interface {

namespace {

constexpr const char* kAdtsToAsc = "aac_adtstoasc";

}  // namespace

void WriteAdtsHeader(uint8_t* pOut, const AdtsFields& fields, unsigned nFrameLength) {
  const unsigned profile = (fields.nObjectType - 1) & 3;
  const unsigned s = fields.nFreqIndex & 0xF;
  const unsigned config = fields.nChannelConfig & 7;
  const unsigned length = nFrameLength & 0x1FFF;
  pOut[0] = 0xFF;
  pOut[1] = 0xF1;  // MPEG-4, layer 0, no CRC
  pOut[2] = static_cast<uint8_t>((profile << 6) | (s << 2) | (config >> 2));
  pOut[3] = static_cast<uint8_t>(((config & 3) << 6) | (length >> 11));
  pOut[4] = static_cast<uint8_t>((length >> 3) & 0xFF);
  pOut[5] = static_cast<uint8_t>(((length & 7) << 5) | 0x1F);  // buffer fullness 0x7FF
  pOut[6] = 0xFC;
}

int WriteAdtsHeaderFor(const AVCodecContext* pCtx, uint8_t* pOut, int nOutSize,
                       const AVPacket* pPacket) {
  if (pOut == nullptr || nOutSize < kAdtsHeaderSize) {
    CODEC_LOG(kLogError, "ADTS Outbuf is full");
    return 0;
  }
  std::memset(pOut, 0, kAdtsHeaderSize);
  const int index = pCtx != nullptr ? AacFrequencyIndex(pCtx->sample_rate) : -1;
  if (index < 0 || pPacket == nullptr) {
    CODEC_LOG(kLogError, "WriteADTSHeader failed");
    return 0;
  }
  const auto config = static_cast<unsigned>(AacChannelConfiguration(pCtx->ch_layout.nb_channels));
  // AAC LC; the frame length field has 13 bits, larger frames keep only the low bits.
  WriteAdtsHeader(pOut, {2, static_cast<unsigned>(index), config},
                  static_cast<unsigned>(pPacket->size + kAdtsHeaderSize));
  return kAdtsHeaderSize;
}

int AacPacketFilter::Create() {
  const AVBitStreamFilter* filter = av_bsf_get_by_name(kAdtsToAsc);
  if (filter == nullptr) {
    CODEC_LOG(kLogError, "av_bsf_get_by_name [%s] failed", kAdtsToAsc);
    return -1;
  }
  AVBSFContext* ctx = nullptr;
  if (av_bsf_alloc(filter, &ctx) != 0) {
    CODEC_LOG(kLogError, "av_bsf_alloc [%s] failed", kAdtsToAsc);
    return -1;
  }
  m_pBsfCtx.reset(ctx);
  return 0;
}

int AacPacketFilter::Start(const AVCodecContext* pCtx) {
  if (m_pBsfCtx == nullptr) return 0;
  if (avcodec_parameters_from_context(m_pBsfCtx->par_in, pCtx) < 0) {
    CODEC_LOG(kLogError, "avcodec_parameters_from_context failed");
    return -1;
  }
  m_pBsfCtx->time_base_in = pCtx->time_base;
  if (av_bsf_init(m_pBsfCtx.get()) != 0) {
    CODEC_LOG(kLogError, "av_bsf_init failed");
    return -1;
  }
  return 0;
}

int AacPacketFilter::Filter(AVPacket* pPacket) {
  if (m_pBsfCtx == nullptr) return 0;
  if (av_bsf_send_packet(m_pBsfCtx.get(), pPacket) != 0) {
    CODEC_LOG(kLogError, "av_bsf_send_packet failed");
    CODEC_LOG(kLogError, "AvpktBsf failed");
    return -1;
  }
  if (av_bsf_receive_packet(m_pBsfCtx.get(), pPacket) != 0) {
    CODEC_LOG(kLogError, "av_bsf_receive_packet failed");
    CODEC_LOG(kLogError, "AvpktBsf failed");
    return -1;
  }
  return 0;
}

}  // namespace codec_interface
