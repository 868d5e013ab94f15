// Video codec setup and teardown, easy parameters and the bridge from FFmpeg's log.
#include "video/ffmpeg_video_codec.h"

#include <cstring>
#include <string>

#include "interface/log.h"
#include "interface/pixel_formats.h"
#include "video/codec_table.h"

namespace codec_interface {

CFFMpegVideoCodec::CFFMpegVideoCodec()
    : m_bKeepAspect(false),
      m_nRealDstWidth(0),
      m_nRealDstHeight(0),
      m_nDstWidth(0),
      m_nDstHeight(0),
      m_nSrcWidth(0),
      m_nSrcHeight(0),
      m_nCommandQueueCount(0),
      m_nDeviceIndex(0),
      m_bSrcSizeFixed(false),
      m_eCodecType(static_cast<CodecType>(-1)),
      m_bDecoder(true),
      m_ePixFmt(AV_PIX_FMT_NONE),
      m_eHwPixFmt(AV_PIX_FMT_NONE),
      m_pCodec(nullptr),
      m_nImageBufSize(0),
      m_nFrameIndex(0),
      m_bEasyParamPending(false),
      m_bInit(false) {
  std::memset(&m_stEasyParam, 0, sizeof m_stEasyParam);
}

CFFMpegVideoCodec::~CFFMpegVideoCodec() { CFFMpegVideoCodec::Uninit(); }

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

const AVCodec* FindCodec(const VideoCodecEntry& entry) {
  if (entry.pName != nullptr) return avcodec_find_decoder_by_name(entry.pName);
  return entry.bEncoder ? avcodec_find_encoder(entry.eCodecId)
                        : avcodec_find_decoder(entry.eCodecId);
}

// A fixed character array taken up to its terminating zero, or whole when it has none.
template <size_t N>
std::string TextOf(const char (&text)[N]) {
  return std::string(text, strnlen(text, N));
}

int BaseLevelOf(int nFfmpegLevel) {
  if (nFfmpegLevel == AV_LOG_PANIC || nFfmpegLevel == AV_LOG_FATAL) return kLogFatal;
  if (nFfmpegLevel == AV_LOG_ERROR) return kLogError;
  if (nFfmpegLevel == AV_LOG_WARNING) return kLogWarning;
  return kLogDebug;
}

}  // namespace

int CFFMpegVideoCodec::Init(CodecType eCodecType, CodecParam param) {
  const VideoCodecParam& video = param.stVideo;
  std::unique_lock<std::mutex> lock(m_mtxCodec);
  InstallFFmpegLogBridge();
  if (m_bInit) return 0;
  if (TakeRequestedFormat(video, eCodecType) != 0 || !FindVideoCodec(eCodecType)) return -1;

  // From here on a failure unlocks before its line, since Uninit takes the lock again.
  auto fail = [&](auto logLine) {
    lock.unlock();
    logLine();
    Uninit();
    return -1;
  };
  if (m_pCodec == nullptr) {
    return fail([&] {
      CODEC_LOG(kLogError, "[CODE]Codec not found for AVCodecType:%d",
                static_cast<int>(eCodecType));
    });
  }
  const int created = CreateCodecContext(eCodecType, video.pHwDeviceCtx, video.nCommandQueueCount,
                                         video.nAdapterIndex);
  if (created == -1) {
    return fail([] { CODEC_LOG(kLogError, "[CODE]Could not allocate video codec context"); });
  }
  if (created == kDeviceFailed) {
    return fail([] { CODEC_LOG(kLogError, "[CODE]hw_decoder_init failed"); });
  }
  // Only a new codec chooses its D3D11 surfaces itself; a re-created context keeps FFmpeg's.
  if (VideoHwDeviceType(eCodecType) == AV_HWDEVICE_TYPE_D3D11VA) {
    m_pCodecCtx->get_format = GetHwFormat;
  }
  if (m_pPacket == nullptr) m_pPacket.reset(av_packet_alloc());
  m_pVideoFrame.reset(av_frame_alloc());
  if (m_pVideoFrame == nullptr) {
    return fail([] { CODEC_LOG(kLogDebug, "[CODE]Could not allocate video frame"); });
  }
  m_pTempFrame.reset(av_frame_alloc());
  if (m_pTempFrame == nullptr) {
    return fail([] { CODEC_LOG(kLogDebug, "[CODE]Could not allocate temp video frame"); });
  }
  if (PrepareRole(video) != 0) {
    return fail([] { CODEC_LOG(kLogDebug, "[CODE]InitEncode failed"); });
  }

  const int opened = OpenNewCodec(eCodecType, video.pHwDeviceCtx);
  if (opened < 0) {
    return fail([&] {
      CODEC_LOG(kLogError, "[CODE]Could not open codec:[%d][%s]", opened,
                AvErrorText(opened).c_str());
    });
  }

  const std::string filterDesc = TextOf(video.szFilterDesc);
  if (!m_bDecoder && !filterDesc.empty() &&
      InitFilter(m_pCodecCtx.get(), video.nSrcWidth, video.nSrcHeight, m_ePixFmt,
                 filterDesc.c_str()) != 0) {
    return fail([] { CODEC_LOG(kLogError, "[CODE]InitFilter failed"); });
  }
  KeepParams(eCodecType, video, filterDesc);
  CODEC_LOG(kLogInfo, "[CODE]video codec init succ; Using codec: %s (ID: %d)", m_pCodec->name,
            static_cast<int>(m_pCodec->id));
  return 0;
}

int CFFMpegVideoCodec::OpenNewCodec(CodecType eType, void* pHwDeviceCtx) {
  if (eType != AV_CODEC_TYPE_H264DEC_MEDIACODEC) {
    const HwFamily* family = HwFamilyOfCodec(eType);
    return OpenCodecContext(family != nullptr && family->bAdapterDevice);
  }
  // MediaCodec opens with the first packet that gives the picture size; the device waits.
  if (pHwDeviceCtx != nullptr) {
    m_pHwDeviceRef.reset(av_buffer_ref(static_cast<AVBufferRef*>(pHwDeviceCtx)));
  }
  return 0;
}

int CFFMpegVideoCodec::TakeRequestedFormat(const VideoCodecParam& param, CodecType eType) {
  AVPixelFormat mapped = AV_PIX_FMT_NONE;
  if (!PixelFormatToAv(param.ePixelFormat, &mapped)) return 0;
  if (const char* refusal = SurfaceFormatRefusal(param, eType)) {
    // The refusals are fixed texts without conversions.
    CodecLog(kLogError, refusal);
    return -1;
  }
  m_ePixFmt = mapped;
  return 0;
}

bool CFFMpegVideoCodec::FindVideoCodec(CodecType eType) {
  const VideoCodecEntry* entry = FindVideoCodecEntry(eType);
  m_pCodec = entry != nullptr ? FindCodec(*entry) : nullptr;
  const HwFamily* family = HwFamilyOfCodec(eType);
  if (entry != nullptr && family == nullptr) {
    m_bDecoder = !entry->bEncoder;
  } else if (m_pCodec != nullptr) {
    if (!GetHwPixelFormat(m_pCodec, family->eDevice, &m_eHwPixFmt)) return false;
    m_bDecoder = true;
  }
  return true;
}

int CFFMpegVideoCodec::PrepareRole(const VideoCodecParam& param) {
  if (m_bDecoder) {
    KeepSourceSize(param);
    return 0;
  }
  if (m_ePixFmt == AV_PIX_FMT_NONE) {
    CODEC_LOG(kLogError, "[CODE]Encode can not set PIX_FMT_NONE");
    return -1;
  }
  return InitEncode(m_pCodecCtx.get(), param);
}

void CFFMpegVideoCodec::KeepSourceSize(const VideoCodecParam& param) {
  m_nSrcWidth = param.nSrcWidth;
  m_nSrcHeight = param.nSrcHeight;
  m_bSrcSizeFixed = param.nSrcWidth != 0 || param.nSrcHeight != 0;
}

void CFFMpegVideoCodec::KeepParams(CodecType eType, const VideoCodecParam& param,
                                   const std::string& strFilterDesc) {
  m_eCodecType = eType;
  m_nDstWidth = param.nDstWidth;
  m_nDstHeight = param.nDstHeight;
  m_bKeepAspect = param.bKeepAspectRatio;
  m_nCommandQueueCount = param.nCommandQueueCount;
  m_nDeviceIndex = param.nAdapterIndex;
  m_strFilterDesc = strFilterDesc;
  m_stParam = param;
  m_bInit = true;
}

void CFFMpegVideoCodec::Uninit() {
  std::lock_guard<std::mutex> lock(m_mtxCodec);
  ReleaseCodecContext(true);
  m_pHwDeviceRef.reset();
  m_pVideoFrame.reset();
  m_pImageBuf.reset();
  m_nImageBufSize = 0;
  m_scaler = Scaler();
  m_pPacket.reset();
  m_filterGraph.Reset();
  m_pFilterFrame.reset();
  m_pSwFrame.reset();
  m_pTempFrame.reset();
  m_encodeOptions.Clear();  // left over when an encoder set-up stopped before opening
  m_pCodec = nullptr;
  m_bInit = false;
  CODEC_LOG(kLogDebug, "[CODE]video codec uninit");
}

int CFFMpegVideoCodec::Reset(CodecParam param) {
  const VideoCodecParam& video = param.stVideo;
  std::lock_guard<std::mutex> lock(m_mtxCodec);
  m_stParam = video;
  // Only memory formats (or none): a surface format chosen at Init survives.
  if (video.ePixelFormat == PIX_FMT_NONE || IsMemoryPixelFormat(video.ePixelFormat)) {
    PixelFormatToAv(video.ePixelFormat, &m_ePixFmt);
  }
  m_nDstWidth = video.nDstWidth;
  m_nDstHeight = video.nDstHeight;
  m_bKeepAspect = video.bKeepAspectRatio;
  m_scaler.Reset();
  m_pHwDeviceRef.reset();
  if (m_pCodecCtx == nullptr) {
    CODEC_LOG(kLogError, "[CODE]AVCodecContext is null");
    return -1;
  }
  const int recreated = RecreateCodecContext(true, video.pHwDeviceCtx);
  if (recreated == kDeviceFailed) CODEC_LOG(kLogError, "[CODE]hw_decoder_init failed");
  if (recreated != 0) return -1;
  if (m_bDecoder) {
    KeepSourceSize(video);
  } else {
    m_pImageBuf.reset();
    m_nImageBufSize = 0;
    if (InitEncode(m_pCodecCtx.get(), video) != 0) {
      CODEC_LOG(kLogError, "[CODE]InitEncode failed");
      return -1;
    }
  }
  if (OpenCodecContext(false) < 0) {
    CODEC_LOG(kLogError, "[CODE]Could not open codec");
    return -1;
  }
  return 0;
}

void CFFMpegVideoCodec::SetEasyParam(VideoEasyParam param) {
  std::lock_guard<std::mutex> lock(m_mtxEasyParam);
  m_bEasyParamPending = true;
  m_stEasyParam = param;
}

CodecType CFFMpegVideoCodec::GetCodecType() { return m_eCodecType; }

void CFFMpegVideoCodec::FFmpegLogCallback(void*, int nLevel, const char* pFormat,
                                          va_list args) {
  if (nLevel > AV_LOG_WARNING) return;
  base::IBaseLogInterface::GetLogInstance(nullptr)->VPrintLog(
      BaseLevelOf(nLevel), static_cast<int>(base::GetTid()), pFormat, args);
}

void CFFMpegVideoCodec::InstallFFmpegLogBridge() {
  static std::once_flag s_logBridge;
  std::call_once(s_logBridge, [] { av_log_set_callback(FFmpegLogCallback); });
}

void CFFMpegVideoCodec::ReleaseCodecContext(bool bLogDeviceRef) {
  m_bDraining = false;  // a new context starts a new stream
  if (m_pCodecCtx == nullptr) return;
  AVCodecContext* ctx = m_pCodecCtx.get();
  if (ctx->codec != nullptr && av_codec_is_decoder(ctx->codec) && ctx->extradata != nullptr) {
    av_freep(&ctx->extradata);
    ctx->extradata_size = 0;
  }
  if (ctx->hw_device_ctx != nullptr && bLogDeviceRef) {
    CODEC_LOG(kLogDebug, "[CODE]hw_device_ctx [%d]", av_buffer_get_ref_count(ctx->hw_device_ctx));
  }
  m_pCodecCtx.reset();  // releases the context's device reference with it
}

int CFFMpegVideoCodec::RecreateCodecContext(bool bLogDeviceRef, void* pNewDevice) {
  ReleaseCodecContext(bLogDeviceRef);
  return CreateCodecContext(m_eCodecType, pNewDevice, m_nCommandQueueCount, m_nDeviceIndex);
}

int CFFMpegVideoCodec::CreateCodecContext(CodecType eType, void* pNewDevice,
                                          int nCommandQueueCount, unsigned int nAdapterIndex) {
  m_pCodecCtx.reset(avcodec_alloc_context3(m_pCodec));
  if (m_pCodecCtx == nullptr) return -1;
  if (!MakesDeviceWithCodec(eType)) return 0;
  m_pCodecCtx->pix_fmt = m_eHwPixFmt;
  if (pNewDevice != nullptr) {
    m_pHwDeviceRef.reset(av_buffer_ref(static_cast<AVBufferRef*>(pNewDevice)));
  }
  if (m_pHwDeviceRef != nullptr) {
    m_pCodecCtx->hw_device_ctx = av_buffer_ref(m_pHwDeviceRef.get());
    return 0;
  }
  // The context holds the only reference to a device made for it.
  AVBufferRef* created = nullptr;
  if (hw_decoder_init(&created, nullptr, VideoHwDeviceType(eType), nCommandQueueCount,
                      nAdapterIndex) < 0) {
    return kDeviceFailed;
  }
  const BufferRefPtr device(created);
  m_pCodecCtx->hw_device_ctx = av_buffer_ref(device.get());
  return 0;
}

int CFFMpegVideoCodec::OpenCodecContext(bool bSingleThread) {
  AvOptions decoderOptions;
  if (bSingleThread) decoderOptions.Set("threads", "1");
  AvOptions& options = m_bDecoder ? decoderOptions : m_encodeOptions;
  const int ret = avcodec_open2(m_pCodecCtx.get(), m_pCodec, options.Slot());
  m_encodeOptions.Clear();
  return ret;
}

}  // namespace codec_interface
