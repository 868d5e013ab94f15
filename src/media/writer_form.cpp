#include "media/writer_form.h"

#include <cstring>
#include <vector>

#include "interface/annexb.h"
#include "media/aac_adts_config.h"
#include "media/pack_extradata.h"

namespace codec_interface {

namespace {

// FFmpeg's "extract_extradata" filter finds the parameter sets of one Annex B packet; they come
// back as the filtered packet's new-extradata side data.
std::vector<uint8_t> ParameterSets(const AVCodecParameters* pParams, const uint8_t* pData,
                                   int nSize) {
  AVBSFContext* pRaw = nullptr;
  if (av_bsf_alloc(av_bsf_get_by_name("extract_extradata"), &pRaw) < 0) return {};
  BsfCtxPtr pBsf(pRaw);
  PacketPtr pPacket(av_packet_alloc());
  if (pPacket == nullptr || avcodec_parameters_copy(pBsf->par_in, pParams) < 0 ||
      av_bsf_init(pBsf.get()) < 0 || av_new_packet(pPacket.get(), nSize) < 0) {
    return {};
  }
  std::memcpy(pPacket->data, pData, static_cast<size_t>(nSize));
  if (av_bsf_send_packet(pBsf.get(), pPacket.get()) < 0 ||
      av_bsf_receive_packet(pBsf.get(), pPacket.get()) < 0) {
    return {};
  }
  size_t nSets = 0;
  const uint8_t* pSets = av_packet_get_side_data(pPacket.get(), AV_PKT_DATA_NEW_EXTRADATA, &nSets);
  return pSets != nullptr ? std::vector<uint8_t>(pSets, pSets + nSets) : std::vector<uint8_t>{};
}

// MPEG-TS and the raw AAC muxer carry ADTS frames as they are.
bool KeepsAdts(const char* pMuxer) {
  return std::strcmp(pMuxer, "adts") == 0 || std::strcmp(pMuxer, "mpegts") == 0;
}

int AdtsHeaderSize(const uint8_t* pData) { return (pData[1] & 1) != 0 ? 7 : 9; }

}  // namespace

const char* CWriterForm::Learn(AVCodecParameters* pParams, const char* pMuxer, const uint8_t* pData,
                               int nSize) {
  switch (pParams->codec_id) {
    case AV_CODEC_ID_H264:
    case AV_CODEC_ID_HEVC:
      return LearnVideo(pParams, pData, nSize);
    case AV_CODEC_ID_AAC:
      return LearnAac(pParams, pMuxer, pData, nSize);
    case AV_CODEC_ID_OPUS:
      if (pParams->extradata_size == 0) {
        std::vector<uint8_t> head =
            MakeOpusHead(pParams->sample_rate, pParams->ch_layout.nb_channels);
        // The pre-skip counts 48 kHz samples, as the padding of every Opus encoder does.
        head[10] = static_cast<uint8_t>(pParams->initial_padding);
        head[11] = static_cast<uint8_t>(pParams->initial_padding >> 8);
        if (!SetExtradata(pParams, head.data(), head.size())) return "out of memory";
      }
      return nullptr;
    default:
      return nullptr;
  }
}

const char* CWriterForm::LearnVideo(AVCodecParameters* pParams, const uint8_t* pData, int nSize) {
  if (LeadingStartCode(pData, nSize) == 0) {
    // Length-prefixed packets are copies of a file's: their set-up must come with them.
    return pParams->extradata_size > 0 ? nullptr
                                       : "length-prefixed packets need the stream's extradata";
  }
  // The containers convert Annex B packets only with Annex B parameter sets beside them.
  const std::vector<uint8_t> sets = ParameterSets(pParams, pData, nSize);
  if (!sets.empty()) {
    return SetExtradata(pParams, sets.data(), sets.size()) ? nullptr : "out of memory";
  }
  const bool bAnnexBGiven = LeadingStartCode(pParams->extradata, pParams->extradata_size) != 0;
  return bAnnexBGiven ? nullptr : "the first packet carries no parameter sets";
}

const char* CWriterForm::LearnAac(AVCodecParameters* pParams, const char* pMuxer,
                                  const uint8_t* pData, int nSize) {
  if (!StartsWithAdtsSync(pData, nSize) || nSize < 9) {
    return pParams->extradata_size > 0 || KeepsAdts(pMuxer)
               ? nullptr
               : "raw AAC packets need the stream's AudioSpecificConfig";
  }
  if (KeepsAdts(pMuxer)) {
    // With a configuration the raw AAC muxer would put a second header before each frame.
    av_freep(&pParams->extradata);
    pParams->extradata_size = 0;
    return nullptr;
  }
  m_bStripAdts = true;
  if (pParams->extradata_size > 0) return nullptr;
  const unsigned nObjectType = (pData[2] >> 6) + 1u;
  if (nObjectType != 2) return "ADTS headers of an AAC profile other than LC";
  const std::vector<uint8_t> config =
      MakeAacSpecificConfig(pParams->sample_rate, pParams->ch_layout.nb_channels);
  return SetExtradata(pParams, config.data(), config.size()) ? nullptr : "out of memory";
}

void CWriterForm::Payload(const uint8_t** ppData, int* pSize) const {
  if (!m_bStripAdts || !StartsWithAdtsSync(*ppData, *pSize) || *pSize < 9) return;
  const int nHeader = AdtsHeaderSize(*ppData);
  *ppData += nHeader;
  *pSize -= nHeader;
}

}  // namespace codec_interface
