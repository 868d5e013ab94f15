#pragma once

#include <atomic>
#include <cstdarg>
#include <cstdint>
#include <mutex>
#include <string>

#include "codec_interface.h"
#include "interface/av_ptr.h"
#include "video/filter_graph.h"
#include "video/scaler.h"

namespace codec_interface {

// Video encoders and decoders behind ICodecInterface: one object is either a decoder (H.264,
// HEVC, MJPEG, in software or on a hardware device) or an encoder (H.264, HEVC, BMP), as the
// CodecType given to Init decides.
class CFFMpegVideoCodec : public ICodecInterface {
 public:
  CFFMpegVideoCodec();
  ~CFFMpegVideoCodec() override;

  int Init(CodecType eCodecType, CodecParam param) override;
  void Uninit() override;
  int Decode(unsigned char* pData, int nSize, COutParam* pOut) override;
  int Encode(unsigned char* pData, int nSize, COutParam* pOut) override;
  int Reset(CodecParam param) override;
  void SetEasyParam(VideoEasyParam param) override;
  CodecType GetCodecType() override;

  // Reached from ICodecInterface's static additions, under m_mtxCodec as Decode and Encode.
  int Drain(COutParam* pOut);
  int SetEncoderFrameRate(int nNum, int nDen);
  int DecodeTimed(unsigned char* pData, int nSize, int64_t nTimeUs, COutParam* pOut);

  // Forwards FFmpeg's own log lines (warning and above) to the base logger; installed once per
  // process by the first video Init.
  static void FFmpegLogCallback(void* pAvcl, int nLevel, const char* pFormat, va_list args);
  // Installs FFmpegLogCallback, once per process (also for a media reader's Open).
  static void InstallFFmpegLogBridge();

  // Creates a hardware device context into *ppDeviceRef; ppNative, when given, receives the
  // device's API-specific context. Returns FFmpeg's result (negative on failure).
  static int hw_decoder_init(AVBufferRef** ppDeviceRef, void** ppNative, AVHWDeviceType eType,
                             int nCommandQueueCount, unsigned int nAdapterIndex);
  // get_format callback of D3D11VA decoders: picks the surface format of the context's device.
  static AVPixelFormat GetHwFormat(AVCodecContext* pCtx, const AVPixelFormat* pFormats);

 private:
  friend struct VideoCodecTestPeer;  // tests reach the private steps through it

  // Setup steps.
  // Maps the requested pixel format into m_ePixFmt; -1 after the refusal of a surface format
  // that does not fit the type or the size.
  int TakeRequestedFormat(const VideoCodecParam& param, CodecType eType);
  // Looks the codec up into m_pCodec and settles the role; false when a hardware decoder has no
  // configuration for its device (logged).
  bool FindVideoCodec(CodecType eType);
  // Decoder: keeps the source size; encoder: InitEncode, after refusing PIX_FMT_NONE.
  int PrepareRole(const VideoCodecParam& param);
  void KeepSourceSize(const VideoCodecParam& param);
  void KeepParams(CodecType eType, const VideoCodecParam& param, const std::string& strFilterDesc);
  bool GetHwPixelFormat(const AVCodec* pCodec, AVHWDeviceType eType, AVPixelFormat* pHwPixFmt);
  int InitMediaCodec(const uint8_t* pData, int nSize, AVCodecContext* pCtx);
  // Frees the codec context with its extradata and device reference; Uninit and Reset log the
  // device's reference count first, DecodeChangeSize does not.
  void ReleaseCodecContext(bool bLogDeviceRef);
  // A new, unopened m_pCodecCtx for m_pCodec; a hardware type that makes its device with the
  // codec gets its surface format and device: pNewDevice (a caller's AVBufferRef, which then
  // becomes m_pHwDeviceRef), else m_pHwDeviceRef, else a new device. Logs nothing; returns 0,
  // -1 when the context cannot be allocated, or kDeviceFailed.
  static constexpr int kDeviceFailed = -2;
  int CreateCodecContext(CodecType eType, void* pNewDevice, int nCommandQueueCount,
                         unsigned int nAdapterIndex);
  // Replaces the codec context by a new one for the stored type and device parameters.
  int RecreateCodecContext(bool bLogDeviceRef, void* pNewDevice);
  // Opens the new codec (Direct3D decoders on one thread); MediaCodec waits for its first packet,
  // keeping the caller's device. FFmpeg's result.
  int OpenNewCodec(CodecType eType, void* pHwDeviceCtx);
  // avcodec_open2 with the encoder's prepared options, or for a decoder "threads" 1 when asked.
  int OpenCodecContext(bool bSingleThread);

  // Decoding and output.
  int OutPutFrame(CVideoDecodeOutParam* pOut);
  // Sends the packet and receives at most one picture into m_pVideoFrame: 1 with a picture, 0
  // without, or Decode's failure result after its line.
  int DecodePacket(CVideoDecodeOutParam* pOut);
  int DecodeLocked(unsigned char* pData, int nSize, COutParam* pOutParam,
                   int64_t nPts = AV_NOPTS_VALUE);
  int EncodeLocked(unsigned char* pData, int nSize, COutParam* pOut);
  // Follows the size of the picture just decoded: 0 to hand it out, 1 to decode the packet again
  // with a re-created decoder, -1 after the failure line.
  int FollowPictureSize();
  int DecodeChangeSize();
  void ApplyEasyParam();
  // Copies a device surface into memory when the output needs other pixels; the picture to go
  // on with, or null after the failure line.
  AVFrame* TransferSurface(bool bUntouched);

  // Pixel conversion.
  int SwsCtxInit(int nSrcWidth, int nSrcHeight, AVPixelFormat eSrcFmt, int nDstWidth,
                 int nDstHeight, AVPixelFormat eDstFmt);
  void FillOutPixelFormat(AVPixelFormat eFormat, CVideoDecodeOutParam& out);
  int ScaleTempFrame(AVPixelFormat eDstFmt);  // the decoder's scaling of m_pTempFrame

  // Encoding.
  int InitEncode(AVCodecContext* pCtx, const VideoCodecParam& param);
  // The scaler from the caller's pictures to the encoder's, with the buffer m_pVideoFrame's
  // planes point into.
  int PrepareEncodeScaler(const AVCodecContext* pCtx, int nSrcWidth, int nSrcHeight);
  int FillAVFrame(uint8_t* pData, int nSize);
  // The raw picture in m_pTempFrame through the filter graph, the scaler following the format
  // the graph delivers.
  int FilterEncodeInput();
  // m_pTempFrame scaled, or copied, into m_pVideoFrame for the encoder.
  int ScaleEncodeInput();
  // At most one packet from the encoder into the out-param.
  int ReceivePacket(CVideoEncodeOutParam* pOut);

  // Draining.
  int DrainDecoder(CVideoDecodeOutParam* pOut);
  int DrainEncoder(CVideoEncodeOutParam* pOut);
  // Ends a drain, finished or not: the decoder is flushed, the encoder flushed or re-opened
  // with the stored settings. 0, or -1 after the failing step's line.
  int LeaveDrain();
  int ReopenEncoder();
  // The encoder's frame rate and time base: the rational rate when one was given, else
  // nFrameRate.
  void SetEncoderTiming(AVCodecContext* pCtx, int nFrameRate) const;

  // Filter graph.
  int InitFilter(AVCodecContext* pCtx, int nWidth, int nHeight, AVPixelFormat eFormat,
                 const char* pFilterDesc);
  AVFrame* FilterDecodeFrame(AVFrame* pFrame);
  FramePtr FilterEncodeFrame(AVFrame* pFrame);

  bool m_bKeepAspect;
  int32_t m_nRealDstWidth;
  int32_t m_nRealDstHeight;
  int32_t m_nDstWidth;
  int32_t m_nDstHeight;
  int32_t m_nSrcWidth;
  int32_t m_nSrcHeight;
  int32_t m_nCommandQueueCount;
  uint32_t m_nDeviceIndex;
  bool m_bSrcSizeFixed;
  std::string m_strFilterDesc;
  CodecType m_eCodecType;
  bool m_bDecoder;
  AVPixelFormat m_ePixFmt;
  AVPixelFormat m_eHwPixFmt;
  BufferRefPtr m_pHwDeviceRef;
  const AVCodec* m_pCodec;
  CodecCtxPtr m_pCodecCtx;
  Scaler m_scaler;  // with the frame it writes and, for the encoder, the source it was built for
  FilterGraph m_filterGraph;
  FramePtr m_pVideoFrame;
  FramePtr m_pFilterFrame;
  FramePtr m_pSwFrame;
  FramePtr m_pTempFrame;
  AvBytesPtr m_pImageBuf;
  int32_t m_nImageBufSize;
  std::atomic<int64_t> m_nFrameIndex;
  PacketPtr m_pPacket;
  AvOptions m_encodeOptions;  // prepared by InitEncode for avcodec_open2

  std::mutex m_mtxEasyParam;
  bool m_bEasyParamPending;
  VideoEasyParam m_stEasyParam;

  std::mutex m_mtxCodec;
  bool m_bInit;

  VideoCodecParam m_stParam{};        // of the last Init or Reset, for re-opening an encoder
  AVRational m_stFrameRate{0, 0};     // from SetEncoderFrameRate; 0/0 when not given
  bool m_bDraining = false;           // the codec context has been told the stream ended
};

}  // namespace codec_interface
