// The video codec object: its lock and public operations over the session Init made.
#include "video/ffmpeg_video_codec.h"

#include "interface/log.h"
#include "interface/no_throw.h"
#include "interface/pixel_formats.h"
#include "interface/session_commit.h"

namespace codec_interface {

// Packet times go to FFmpeg as given: MEDIA_NO_TIMESTAMP is its AV_NOPTS_VALUE.
static_assert(MEDIA_NO_TIMESTAMP == AV_NOPTS_VALUE, "no timestamp is FFmpeg's");

namespace {

// The line refusing a hardware surface format for this type or size, or null when it fits
// (memory formats always fit).
const char* SurfaceFormatRefusal(const VideoCodecParam& param, CodecType eType) {
  for (const HwFamily& family : kHwFamilies) {
    if (!family.bProbed || family.eRequest != param.ePixelFormat) continue;
    if (eType != family.eH264 && eType != family.eHevc) return family.pWrongType;
    if (param.nDstWidth != 0 || param.nDstHeight != 0) return family.pSized;
  }
  return nullptr;
}

// The requested format in FFmpeg's terms into *pFormat; -1 after the refusal of a surface
// format that does not fit the type or the size.
int TakeRequestedFormat(const VideoCodecParam& param, CodecType eType, AVPixelFormat* pFormat) {
  AVPixelFormat mapped = AV_PIX_FMT_NONE;
  if (!PixelFormatToAv(param.ePixelFormat, &mapped)) return 0;
  if (const char* refusal = SurfaceFormatRefusal(param, eType)) {
    // The refusals are fixed texts without conversions.
    CodecLog(kLogError, refusal);
    return -1;
  }
  *pFormat = mapped;
  return 0;
}

void LogUninit() { CODEC_LOG(kLogDebug, "video codec uninit"); }

}  // namespace

CFFMpegVideoCodec::~CFFMpegVideoCodec() { CFFMpegVideoCodec::Uninit(); }

int CFFMpegVideoCodec::Init(CodecType eCodecType, CodecParam param) {
  const VideoCodecParam& video = param.stVideo;
  std::lock_guard<std::mutex> lock(m_mtxCodec);
  InstallFFmpegLogBridge();
  if (m_pDecoder != nullptr || m_pEncoder != nullptr) return 0;
  AVPixelFormat eFormat = AV_PIX_FMT_NONE;
  VideoCodecFacts facts;
  if (TakeRequestedFormat(video, eCodecType, &eFormat) != 0 ||
      !ResolveVideoCodec(eCodecType, &facts)) {
    return -1;
  }
  if (facts.pCodec == nullptr) {
    CODEC_LOG(kLogError, "Codec not found for AVCodecType:%d", static_cast<int>(eCodecType));
    LogUninit();
    return -1;
  }
  const int opened =
      facts.bDecoder ? CommitSession(m_pDecoder,
                                     std::make_unique<VideoDecoder>(facts, video, eFormat,
                                                                    ChosenThreads(true)),
                                     LogUninit, video)
                     : CommitSession(m_pEncoder,
                                     std::make_unique<VideoEncoder>(
                                         facts, video, eFormat, &m_stChoices, ChosenThreads(false)),
                                     LogUninit, video);
  if (opened != 0) return -1;
  m_eCodecType = eCodecType;
  CODEC_LOG(kLogInfo, "video codec init succ; Using codec: %s (ID: %d)", facts.pCodec->name,
            static_cast<int>(facts.pCodec->id));
  return 0;
}

void CFFMpegVideoCodec::Uninit() {
  std::lock_guard<std::mutex> lock(m_mtxCodec);
  m_pDecoder.reset();
  m_pEncoder.reset();
  LogUninit();
}

int CFFMpegVideoCodec::Reset(CodecParam param) {
  std::lock_guard<std::mutex> lock(m_mtxCodec);
  if (m_pDecoder != nullptr) return m_pDecoder->Reset(param.stVideo);
  if (m_pEncoder != nullptr) return m_pEncoder->Reset(param.stVideo);
  CODEC_LOG(kLogError, "AVCodecContext is null");
  return -1;
}

int CFFMpegVideoCodec::Decode(unsigned char* pData, int nSize, COutParam* pOutParam) {
  return WithoutThrowing(-1, [&] { return DecodeLocked(pData, nSize, pOutParam, AV_NOPTS_VALUE); });
}

int CFFMpegVideoCodec::DecodeTimed(unsigned char* pData, int nSize, int64_t nTimeUs,
                                   COutParam* pOut) {
  return WithoutThrowing(-1, [&] { return DecodeLocked(pData, nSize, pOut, nTimeUs); });
}

int CFFMpegVideoCodec::DecodeLocked(unsigned char* pData, int nSize, COutParam* pOutParam,
                                    int64_t nPts) {
  std::lock_guard<std::mutex> lock(m_mtxCodec);
  auto* pOut = dynamic_cast<CVideoDecodeOutParam*>(pOutParam);
  if (m_pDecoder == nullptr || nSize < 1 || pData == nullptr || pOut == nullptr) return -1;
  return m_pDecoder->Decode(pData, nSize, nPts, pOut, m_easyParam);
}

int CFFMpegVideoCodec::Encode(unsigned char* pData, int nSize, COutParam* pOut) {
  return WithoutThrowing(-1, [&] {
    std::lock_guard<std::mutex> lock(m_mtxCodec);
    auto* pEncOut = dynamic_cast<CVideoEncodeOutParam*>(pOut);
    if (m_pEncoder == nullptr || nSize < 1 || pData == nullptr || pEncOut == nullptr) return -1;
    return m_pEncoder->Encode(pData, nSize, m_nFrameIndex, pEncOut);
  });
}

int CFFMpegVideoCodec::Drain(COutParam* pOut) {
  return WithoutThrowing(-1, [&] {
    std::lock_guard<std::mutex> lock(m_mtxCodec);
    if (m_pDecoder != nullptr) {
      auto* pDecOut = dynamic_cast<CVideoDecodeOutParam*>(pOut);
      return pDecOut != nullptr ? m_pDecoder->Drain(pDecOut, m_easyParam) : -1;
    }
    auto* pEncOut = dynamic_cast<CVideoEncodeOutParam*>(pOut);
    return m_pEncoder != nullptr && pEncOut != nullptr ? m_pEncoder->Drain(pEncOut) : -1;
  });
}

int CFFMpegVideoCodec::SetEncoderFrameRate(int nNum, int nDen) {
  const bool bCleared = nNum == 0 && nDen == 0;
  if (!bCleared && (nNum <= 0 || nDen <= 0)) {
    CODEC_LOG(kLogError, "SetEncoderFrameRate refuses %d/%d", nNum, nDen);
    return -1;
  }
  std::lock_guard<std::mutex> lock(m_mtxCodec);
  m_stChoices.frameRate = AVRational{nNum, nDen};
  return 0;
}

namespace {

// Whether FFmpeg knows the code: it names every one it knows, the others being H.273's reserved
// ones. Checked before the cast, as no enumeration holds every int.
template <typename Enum>
bool KnownCode(int nCode, int nCount, const char* (*pName)(Enum)) {
  return nCode >= 0 && nCode < nCount && pName(static_cast<Enum>(nCode)) != nullptr;
}

}  // namespace

int CFFMpegVideoCodec::SetEncoderColour(int nMatrix, int nRange, int nPrimaries, int nTransfer) {
  const char* pRefused = !KnownCode(nMatrix, AVCOL_SPC_NB, av_color_space_name)    ? "matrix"
                         : !KnownCode(nRange, AVCOL_RANGE_NB, av_color_range_name) ? "range"
                         : !KnownCode(nPrimaries, AVCOL_PRI_NB, av_color_primaries_name)
                             ? "primaries"
                         : !KnownCode(nTransfer, AVCOL_TRC_NB, av_color_transfer_name) ? "transfer"
                                                                                       : nullptr;
  if (pRefused != nullptr) {
    CODEC_LOG(kLogError, "SetEncoderColour refuses %s %d/%d/%d/%d", pRefused, nMatrix, nRange,
              nPrimaries, nTransfer);
    return -1;
  }
  std::lock_guard<std::mutex> lock(m_mtxCodec);
  m_stChoices.colour = {static_cast<AVColorSpace>(nMatrix), static_cast<AVColorRange>(nRange),
                        static_cast<AVColorPrimaries>(nPrimaries),
                        static_cast<AVColorTransferCharacteristic>(nTransfer)};
  return 0;
}

int CFFMpegVideoCodec::SetThreads(int nCount, int nKinds) {
  if (!AcceptThreads("SetThreads", nCount, nKinds)) return -1;
  std::lock_guard<std::mutex> lock(m_mtxCodec);
  m_threads = ThreadChoice{nCount, nKinds};
  return 0;
}

ThreadChoice CFFMpegVideoCodec::ChosenThreads(bool bDecoder) const {
  return m_threads.value_or(DefaultThreads(bDecoder));
}

void CFFMpegVideoCodec::SetEasyParam(VideoEasyParam param) { m_easyParam.Post(param); }

CodecType CFFMpegVideoCodec::GetCodecType() { return m_eCodecType; }

}  // namespace codec_interface
