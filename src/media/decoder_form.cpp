#include "media/decoder_form.h"

#include "interface/annexb.h"
#include "interface/log.h"

namespace codec_interface {

int CDecoderForm::Convert(const AVStream* pStream, AVPacket* pIn, const uint8_t** ppData,
                          int* pSize) {
  // An empty packet would drain the library's audio decoders.
  if (pIn->size == 0) return 0;
  int result = 1;
  *ppData = pIn->data;
  *pSize = pIn->size;
  const AVCodecParameters* par = pStream->codecpar;
  switch (par->codec_id) {
    case AV_CODEC_ID_H264:
    case AV_CODEC_ID_HEVC:
      if (LeadingStartCode(par->extradata, par->extradata_size) != 0) {
        WithParameterSets(par, pIn, ppData, pSize);
        break;
      }
      result = ThroughFilter(
          pStream, par->codec_id == AV_CODEC_ID_H264 ? "h264_mp4toannexb" : "hevc_mp4toannexb",
          pIn);
      if (result == 1) *ppData = m_pFiltered->data, *pSize = m_pFiltered->size;
      break;
    case AV_CODEC_ID_AAC:
      // Packets that already are ADTS frames (MPEG-TS, .aac files) stay as they are.
      if (StartsWithAdtsSync(pIn->data, pIn->size)) break;
      result = AsAdts(pStream, pIn);
      if (result == 1) *ppData = m_vecFrame.data(), *pSize = static_cast<int>(m_vecFrame.size());
      break;
    default:
      break;
  }
  return (result == 1 && *pSize == 0) ? 0 : result;
}

void CDecoderForm::WithParameterSets(const AVCodecParameters* pParams, const AVPacket* pIn,
                                     const uint8_t** ppData, int* pSize) {
  if ((pIn->flags & AV_PKT_FLAG_KEY) == 0 ||
      CarriesSequenceParameters(pIn->data, pIn->size, pParams->codec_id == AV_CODEC_ID_HEVC)) {
    return;
  }
  m_vecFrame.assign(pParams->extradata, pParams->extradata + pParams->extradata_size);
  m_vecFrame.insert(m_vecFrame.end(), pIn->data, pIn->data + pIn->size);
  *ppData = m_vecFrame.data();
  *pSize = static_cast<int>(m_vecFrame.size());
}

void CDecoderForm::Flush() {
  if (m_pBsf != nullptr) av_bsf_flush(m_pBsf.get());
}

int CDecoderForm::ThroughFilter(const AVStream* pStream, const char* pName, AVPacket* pIn) {
  const int index = pStream->index;
  auto fail = [&](int nError) {
    CODEC_LOG(kLogError, "MediaReader stream %d: %s failed: %s", index, pName,
              AvErrorText(nError).c_str());
    return -1;
  };
  if (m_pBsf == nullptr) {
    AVBSFContext* raw = nullptr;
    int err = av_bsf_alloc(av_bsf_get_by_name(pName), &raw);
    BsfCtxPtr bsf(raw);
    if (err >= 0) err = avcodec_parameters_copy(bsf->par_in, pStream->codecpar);
    if (err >= 0) {
      bsf->time_base_in = pStream->time_base;
      err = av_bsf_init(bsf.get());
    }
    if (err >= 0 && m_pFiltered == nullptr) {
      m_pFiltered.reset(av_packet_alloc());
      if (m_pFiltered == nullptr) err = AVERROR(ENOMEM);
    }
    if (err < 0) return fail(err);
    m_pBsf = std::move(bsf);
  }
  // The filter's output must start blank: it allocates a new packet into it.
  av_packet_unref(m_pFiltered.get());
  int err = av_bsf_send_packet(m_pBsf.get(), pIn);
  if (err >= 0) err = av_bsf_receive_packet(m_pBsf.get(), m_pFiltered.get());
  if (err == AVERROR(EAGAIN)) return 0;
  return err < 0 ? fail(err) : 1;
}

int CDecoderForm::AsAdts(const AVStream* pStream, const AVPacket* pIn) {
  const int index = pStream->index;
  size_t newSize = 0;
  const uint8_t* newConfig = av_packet_get_side_data(pIn, AV_PKT_DATA_NEW_EXTRADATA, &newSize);
  if (newConfig != nullptr || !m_bAacKnown) {
    const AVCodecParameters* par = pStream->codecpar;
    const uint8_t* asc = newConfig != nullptr ? newConfig : par->extradata;
    const int size = newConfig != nullptr ? static_cast<int>(newSize) : par->extradata_size;
    if (asc == nullptr || size <= 0) {
      CODEC_LOG(kLogError, "MediaReader stream %d: raw AAC without an AudioSpecificConfig", index);
      return -1;
    }
    if (const char* refusal = ParseAacAdtsConfig(asc, size, &m_stAac)) {
      CODEC_LOG(kLogError, "MediaReader stream %d: ADTS cannot carry %s", index, refusal);
      m_bAacKnown = false;
      return -1;
    }
    m_bAacKnown = true;
  }
  if (!FrameAacAsAdts(m_stAac, pIn->data, pIn->size, &m_vecFrame)) {
    CODEC_LOG(kLogError,
              "MediaReader stream %d: an AAC frame of %d bytes is too long for "
              "ADTS",
              index, pIn->size);
    return -1;
  }
  return 1;
}

}  // namespace codec_interface
