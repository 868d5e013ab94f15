// codec_interface.h: the one exported header of the codec library.
//
// Hosts are compiled against this file: enumeration values, record layouts and the order of the
// virtual operations are a binary contract and are checked below at compile time. The header needs
// C++17 and no FFmpeg header: FFmpeg's types are seen only as pointers.
#ifndef CODEC_INTERFACE_H
#define CODEC_INTERFACE_H

#include <cstddef>
#include <cstdint>
#include <memory>

#define CODEC_VERSION_MAJOR 1
#define CODEC_VERSION_MINOR 0
#define CODEC_VERSION_PATCH 0
#define CODEC_VERSION_STRING "1.0.0"

#if defined(_WIN32)
#  if defined(CODEC_BUILDING_LIBRARY)
#    define CODEC_API __declspec(dllexport)
#  else
#    define CODEC_API __declspec(dllimport)
#  endif
#elif defined(__GNUC__) || defined(__clang__)
#  define CODEC_API __attribute__((visibility("default")))
#else
#  define CODEC_API
#endif

struct AVFrame;
struct AVPacket;

namespace codec_interface {

// ---------------------------------------------------------------------------------------------
// Enumerations. Plain enumerations with a fixed 32-bit signed underlying type; hosts store and
// pass the numbers, so every value is fixed.

enum CodecType : int32_t {
  AV_CODEC_TYPE_H264ENC = 0,
  AV_CODEC_TYPE_H264DEC = 1,
  AV_CODEC_TYPE_HEVCENC = 2,
  AV_CODEC_TYPE_HEVCDEC = 3,
  AV_CODEC_TYPE_HEVCDEC_DXVA2 = 4,
  AV_CODEC_TYPE_HEVCDEC_D3D12VA = 5,
  AV_CODEC_TYPE_HEVCDEC_D3D11VA = 6,
  AV_CODEC_TYPE_H264DEC_DXVA2 = 7,
  AV_CODEC_TYPE_H264DEC_D3D12VA = 8,
  AV_CODEC_TYPE_H264DEC_D3D11VA = 9,
  AV_CODEC_TYPE_MJPEGDEC = 10,
  AV_CODEC_TYPE_H264DEC_MEDIACODEC = 11,
  AV_CODEC_TYPE_H264DEC_VIDEOTOOLBOX = 12,
  AV_CODEC_TYPE_HEVCDEC_VIDEOTOOLBOX = 13,
  AV_CODEC_TYPE_BMPENC = 14,
  AV_CODEC_TYPE_AUDIO_BEGIN = 15,
  AV_CODEC_TYPE_G711AENC = 16,
  AV_CODEC_TYPE_G711ADEC = 17,
  AV_CODEC_TYPE_G711UENC = 18,
  AV_CODEC_TYPE_G711UDEC = 19,
  AV_CODEC_TYPE_OPUSENC = 20,
  AV_CODEC_TYPE_OPUSDEC = 21,
  AV_CODEC_TYPE_SPEEXENC = 22,
  AV_CODEC_TYPE_SPEEXDEC = 23,
  AV_CODEC_TYPE_AACENC = 24,
  AV_CODEC_TYPE_AACDEC = 25,
};

enum PixelFormat : int32_t {
  PIX_FMT_NONE = 0,  // no format (unlike FFmpeg, where 0 is YUV420P)
  PIX_FMT_BGRA = 1,
  PIX_FMT_RGB24 = 2,
  PIX_FMT_RGBA = 3,
  PIX_FMT_YUV420P = 4,
  PIX_FMT_NV12 = 5,
  PIX_FMT_YUVJ420P = 6,
  PIX_FMT_YUYV422 = 7,
  PIX_FMT_DXVA2 = 8,
  PIX_FMT_D3D12VA = 9,
  PIX_FMT_D3D11VA = 10,
  PIX_FMT_VIDEOTOOLBOX = 11,
};

// Equal to FFmpeg's packed sample formats, one for one.
enum SampleFormat : int32_t {
  SAMPLE_FMT_NONE = -1,
  SAMPLE_FMT_U8 = 0,
  SAMPLE_FMT_S16 = 1,
  SAMPLE_FMT_S32 = 2,
  SAMPLE_FMT_FLT = 3,
  SAMPLE_FMT_DBL = 4,
};

enum HardwareDecoderType : int32_t {
  HARDWARE_DECODER_DXVA2 = 0,
  HARDWARE_DECODER_D3D12VA = 1,
  HARDWARE_DECODER_D3D11VA = 2,
  HARDWARE_DECODER_VIDEOTOOLBOX = 3,
};

enum AudioFilePackType : int32_t {
  AUDIO_FILE_PACK_OGG_OPUS = 0,
  AUDIO_FILE_PACK_MP4_OPUS = 1,
  AUDIO_FILE_PACK_MP4_AAC = 2,
  AUDIO_FILE_PACK_AAC = 3,
  AUDIO_FILE_PACK_MP3 = 4,
};

// -1: no such stream, or a codec not listed.
enum FileAudioCodec : int32_t {
  FILE_AUDIO_CODEC_NONE = -1,
  FILE_AUDIO_CODEC_AAC = 0,
  FILE_AUDIO_CODEC_G711A = 1,
  FILE_AUDIO_CODEC_G711U = 2,
  FILE_AUDIO_CODEC_OPUS = 3,
  FILE_AUDIO_CODEC_SPEEX = 4,
};

enum FileVideoCodec : int32_t {
  FILE_VIDEO_CODEC_NONE = -1,
  FILE_VIDEO_CODEC_H264 = 0,
  FILE_VIDEO_CODEC_HEVC = 1,
};

// ---------------------------------------------------------------------------------------------
// Parameter records. Plain data; fields the chosen codec does not read may hold anything.

struct VideoCodecParam {
  PixelFormat ePixelFormat;   // encoders: layout given to Encode; decoders: layout handed out
  int32_t nDstWidth;          // encoders: coded width (0: nSrcWidth); decoders: output width
  int32_t nDstHeight;
  bool bKeepAspectRatio;      // decoders: fit into nDstWidth x nDstHeight keeping the aspect ratio
  int32_t nBitRate;           // bits per second
  int32_t nFrameRate;         // frames per second
  int32_t nGopSize;           // distance between key frames
  int32_t nSrcWidth;          // encoders: raw picture width; decoders: expected width, 0 = stream's
  int32_t nSrcHeight;
  char szFilterDesc[256];     // FFmpeg filter-graph text, NUL-terminated; empty: no filtering
  int32_t nFilterOutWidth;    // encoders: size leaving the filter graph (both nonzero to apply)
  int32_t nFilterOutHeight;
  void* pHwDeviceCtx;         // AVBufferRef* of a device context to share, or null
  int32_t nCommandQueueCount; // D3D12VA "command_queue_count"; outside 1..50 becomes 5
  uint32_t nAdapterIndex;     // DXVA2, D3D11VA, D3D12VA adapter number
};

struct AudioCodecParam {
  int32_t nSrcSampleRate;        // input rate in Hz
  int32_t nDstSampleRate;        // output rate in Hz
  int32_t nSrcChannels;          // input channel count
  int32_t nDstChannels;          // output channel count
  int32_t nReserved;             // not read
  int32_t nBitRate;              // encoders: bits per second
  SampleFormat eSrcSampleFormat; // encoders must set it; decoders: NONE = decoder's default
  SampleFormat eDstSampleFormat; // decoders must set it; encoders: NONE = encoder's default
  int32_t nFrameDuration;        // encoders: "frame_duration" in ms, 0 gives "20"
};

// The record of Init and Reset: fill the view that matches the CodecType.
union CodecParam {
  VideoCodecParam stVideo;
  AudioCodecParam stAudio;
};

struct VideoEasyParam {
  int32_t nDstWidth;
  int32_t nDstHeight;
  char szFilterDesc[256];
};

// The record of ITransCoder::Init: six 32-bit fields read according to the kind (0 pictures,
// 1 sound) given with it.
struct TransCoderParam {
  union { PixelFormat eSrcPixelFormat; SampleFormat eSrcSampleFormat; };
  union { int32_t nSrcWidth; int32_t nSrcSampleRate; };
  union { int32_t nSrcHeight; int32_t nSrcChannels; };
  union { PixelFormat eDstPixelFormat; SampleFormat eDstSampleFormat; };
  union { int32_t nDstWidth; int32_t nDstSampleRate; };
  union { int32_t nDstHeight; int32_t nDstChannels; };
};

// ---------------------------------------------------------------------------------------------
// Output records: pointers and sizes into frames or packets held by an output-parameter object.
// The default constructor zeroes every field; copy and move assignment copy the fields (never
// the bytes pointed to) and leave the source unchanged.

struct CODEC_API VideoDecOutData {
  unsigned char* pData[4];
  int32_t nLinesize[4];

  VideoDecOutData();
  VideoDecOutData(const VideoDecOutData&) = default;
  VideoDecOutData& operator=(const VideoDecOutData& other);
  VideoDecOutData& operator=(VideoDecOutData&& other);
};

struct CODEC_API VideoEncOutData {
  unsigned char* pData;
  int32_t nSize;

  VideoEncOutData();
  VideoEncOutData(const VideoEncOutData&) = default;
  VideoEncOutData& operator=(const VideoEncOutData& other);
  VideoEncOutData& operator=(VideoEncOutData&& other);
};

struct CODEC_API AudioDecOutData {
  unsigned char* pData;  // plane 0 of one decoded frame in the output format
  int32_t nSize;         // line size of plane 0 in bytes

  AudioDecOutData();
  AudioDecOutData(const AudioDecOutData&) = default;
  AudioDecOutData& operator=(const AudioDecOutData& other);
  AudioDecOutData& operator=(AudioDecOutData&& other);
};

struct CODEC_API AudioEncOutData {
  unsigned char byHeader[8];  // header to write before the packet (ADTS for AAC)
  int32_t nHeaderSize;        // 0 when the encoder writes no header
  unsigned char* pData;
  int32_t nSize;

  AudioEncOutData();
  AudioEncOutData(const AudioEncOutData&) = default;
  AudioEncOutData& operator=(const AudioEncOutData& other);
  AudioEncOutData& operator=(AudioEncOutData&& other);
};

// ---------------------------------------------------------------------------------------------
// Output-parameter objects.
//
// Cache mode (flags without OUTPARAM_FLAG_NOT_USE_CACHE): entries borrow the producing codec's
// reused frame or packet, valid until that codec's next call; Clear only unreferences them.
// Clear (or destroy) the object before the codec's Uninit or destruction.
// Owning mode (OUTPARAM_FLAG_NOT_USE_CACHE): entries are the object's own references; Clear and
// the destructor free them; they survive later calls on the codec.
//
// Copying: the copy and move constructors copy every member and leave the source unchanged. In
// cache mode the entry pointers are copied as they are (both objects borrow the same codec
// objects). In owning mode each copied entry is a new reference (av_frame_clone /
// av_packet_clone) to the same data, so each object frees only its own references and no entry
// is freed twice; if a new reference cannot be made, that entry of the copy is null.

constexpr int OUTPARAM_MAX_COUNT = 20;
constexpr int OUTPARAM_FLAG_NOT_USE_CACHE = 1;

class CODEC_API COutParam {
 public:
  explicit COutParam(int nFlag = 0);
  COutParam(const COutParam& other);
  virtual ~COutParam() = 0;
  virtual void Clear();

  AVPacket* m_pPacket[OUTPARAM_MAX_COUNT];  // encoders' results
  AVFrame* m_pFrame[OUTPARAM_MAX_COUNT];    // decoders' and converters' results
  int32_t m_nNum;                           // entries 0 .. m_nNum - 1 are valid
  int32_t m_nFlag;                          // bit 0: OUTPARAM_FLAG_NOT_USE_CACHE

  COutParam& operator=(const COutParam&) = delete;
};

class CODEC_API CVideoEncodeOutParam : public COutParam {
 public:
  CVideoEncodeOutParam();
  explicit CVideoEncodeOutParam(int nFlag);
  CVideoEncodeOutParam(const CVideoEncodeOutParam& other);
  CVideoEncodeOutParam(CVideoEncodeOutParam&& other);
  ~CVideoEncodeOutParam() override;

  int32_t m_nWidth;
  int32_t m_nHeight;
  VideoEncOutData m_outData[OUTPARAM_MAX_COUNT];
};

class CODEC_API CVideoDecodeOutParam : public COutParam {
 public:
  CVideoDecodeOutParam();
  explicit CVideoDecodeOutParam(int nFlag);
  CVideoDecodeOutParam(const CVideoDecodeOutParam& other);
  CVideoDecodeOutParam(CVideoDecodeOutParam&& other);
  ~CVideoDecodeOutParam() override;
  void Clear() override;  // also resets m_bDecodeError

  int32_t m_nWidth;
  int32_t m_nHeight;
  PixelFormat m_ePixelFormat;
  bool m_bDecodeError;  // a picture of the last call carried decode errors
  VideoDecOutData m_outData[OUTPARAM_MAX_COUNT];
};

class CODEC_API CAudioEncodeOutParam : public COutParam {
 public:
  CAudioEncodeOutParam();
  explicit CAudioEncodeOutParam(int nFlag);
  CAudioEncodeOutParam(const CAudioEncodeOutParam& other);
  CAudioEncodeOutParam(CAudioEncodeOutParam&& other);
  ~CAudioEncodeOutParam() override;

  AudioEncOutData m_outData[OUTPARAM_MAX_COUNT];
};

class CODEC_API CAudioDecodeOutParam : public COutParam {
 public:
  CAudioDecodeOutParam();
  explicit CAudioDecodeOutParam(int nFlag);
  CAudioDecodeOutParam(const CAudioDecodeOutParam& other);
  CAudioDecodeOutParam(CAudioDecodeOutParam&& other);
  ~CAudioDecodeOutParam() override;

  AudioDecOutData m_outData[OUTPARAM_MAX_COUNT];
};

// ---------------------------------------------------------------------------------------------
// Interfaces. The declaration order of the virtual operations is fixed.

class CODEC_API ICodecInterface {
 public:
  ICodecInterface();
  ICodecInterface(const ICodecInterface& other);
  ICodecInterface& operator=(const ICodecInterface& other);

  // 0 on success, -1 on failure; a second Init on an open object returns 0 and changes nothing.
  virtual int Init(CodecType eCodecType, CodecParam param) = 0;
  virtual void Uninit() = 0;
  // Number of results the out-param now holds (0: more input needed), negative on failure.
  virtual int Decode(unsigned char* pData, int nSize, COutParam* pOut) = 0;
  virtual int Encode(unsigned char* pData, int nSize, COutParam* pOut) = 0;
  virtual int Reset(CodecParam param) = 0;
  virtual void SetEasyParam(VideoEasyParam param) = 0;
  virtual CodecType GetCodecType() = 0;  // -1 before the first successful Init
  virtual ~ICodecInterface();

  // A video codec object for values below 15 (negative ones too), an audio one otherwise.
  static std::shared_ptr<ICodecInterface> Create(CodecType eCodecType);

  // Hardware decode probe: Prepare probes a family's two decoders once per adapter and caches
  // the answers that CheckHardwareDecode gives.
  static void Prepare(HardwareDecoderType eType, unsigned int nAdapterIndex);
  static bool CheckHardwareDecode(CodecType eCodecType, unsigned int nAdapterIndex);

  // A new hardware device context reference (AVBufferRef*) to share between decoders, or null.
  static void* CreateVideoHwDeviceCtx(CodecType eCodecType, unsigned int nCommandQueueCount,
                                      unsigned int nAdapterIndex, void** ppNativeDevice);
  static void ReleaseVideoHwDeviceCtx(void** ppHwDeviceCtx);

  // Picture buffers: size a picture, copy one into a host buffer, copy a device surface into
  // memory (the destination must be in owning mode).
  static int ImageGetBufferSize(PixelFormat eFormat, PixelFormat& eOutFormat, int nWidth,
                                int nHeight);
  static int ImageCopyToBuffer(unsigned char* pBuffer, int nSize, CVideoDecodeOutParam& src,
                               int nIndex);
  static int ImageHwCopyToMemory(CVideoDecodeOutParam& dst, CVideoDecodeOutParam& src,
                                 int nIndex);
};

class CODEC_API IFileParseInterface {
 public:
  IFileParseInterface();
  IFileParseInterface(const IFileParseInterface& other);
  IFileParseInterface& operator=(const IFileParseInterface& other);

  virtual int Open(const char* pPath) = 0;
  virtual void Close() = 0;
  virtual FileAudioCodec GetAudioCodec() = 0;
  virtual FileVideoCodec GetVideoCodec() = 0;
  // 0 on success, -1 at end of file or on failure.
  virtual int ReadAudioPacket(unsigned char** ppData, int* pSize, int* pDurationMs) = 0;
  virtual int ReadVideoPacket(unsigned char** ppData, int* pSize) = 0;
  virtual ~IFileParseInterface();

  static std::shared_ptr<IFileParseInterface> Create();
};

// IPackAudio and ITransCoder have no virtual destructor: the factory's shared pointer destroys
// the implementation through its own type. Do not delete through an interface pointer.
#if defined(__GNUC__) || defined(__clang__)
#  pragma GCC diagnostic push
#  pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
#endif
class CODEC_API IPackAudio {
 public:
  IPackAudio();
  IPackAudio(const IPackAudio& other);
  IPackAudio(IPackAudio&& other);
  IPackAudio& operator=(const IPackAudio& other);
  IPackAudio& operator=(IPackAudio&& other);

  virtual int Init(const char* pPath, int nSampleRate, int nChannels, int nFrameSamples) = 0;
  virtual void Close() = 0;  // finishes and closes the file; call it before dropping the object
  virtual int WritePacket(unsigned char* pData, int nSize) = 0;

  static std::shared_ptr<IPackAudio> Create(AudioFilePackType eType);
};

class CODEC_API ITransCoder {
 public:
  ITransCoder();
  ITransCoder(const ITransCoder& other);
  ITransCoder(ITransCoder&& other);
  ITransCoder& operator=(const ITransCoder& other);
  ITransCoder& operator=(ITransCoder&& other);

  // nKind 0: pictures, 1: sound; any other kind fails.
  virtual int Init(int nKind, const TransCoderParam& param) = 0;
  // Converts entry nIndex of pSrc into a new entry 0 of pDst (owning mode only).
  virtual int Transcode(COutParam* pSrc, int nIndex, COutParam* pDst) = 0;

  static std::shared_ptr<ITransCoder> Create();
};
#if defined(__GNUC__) || defined(__clang__)
#  pragma GCC diagnostic pop
#endif

// ---------------------------------------------------------------------------------------------
// What compiled hosts depend on, checked at compile time.

static_assert(sizeof(CodecType) == 4 && sizeof(PixelFormat) == 4 && sizeof(SampleFormat) == 4 &&
                  sizeof(HardwareDecoderType) == 4 && sizeof(AudioFilePackType) == 4 &&
                  sizeof(FileAudioCodec) == 4 && sizeof(FileVideoCodec) == 4,
              "enumerations are 32-bit");
static_assert(static_cast<CodecType>(-1) < 0, "enumerations are signed");
static_assert(AV_CODEC_TYPE_BMPENC == 14 && AV_CODEC_TYPE_AUDIO_BEGIN == 15 &&
                  AV_CODEC_TYPE_AACDEC == 25 && AV_CODEC_TYPE_H264DEC_MEDIACODEC == 11,
              "CodecType values are fixed");
static_assert(PIX_FMT_NONE == 0 && PIX_FMT_YUYV422 == 7 && PIX_FMT_VIDEOTOOLBOX == 11,
              "PixelFormat values are fixed");
static_assert(SAMPLE_FMT_NONE == -1 && SAMPLE_FMT_DBL == 4, "SampleFormat values are fixed");
static_assert(HARDWARE_DECODER_VIDEOTOOLBOX == 3 && AUDIO_FILE_PACK_MP3 == 4,
              "family and file kinds are fixed");
static_assert(FILE_AUDIO_CODEC_SPEEX == 4 && FILE_VIDEO_CODEC_HEVC == 1,
              "file codec values are fixed");
static_assert(OUTPARAM_MAX_COUNT == 20 && OUTPARAM_FLAG_NOT_USE_CACHE == 1,
              "out-param capacity and flag are fixed");

static_assert(sizeof(bool) == 1, "8-bit booleans");
static_assert(offsetof(VideoCodecParam, bKeepAspectRatio) == 12 &&
                  offsetof(VideoCodecParam, nBitRate) == 16 &&
                  offsetof(VideoCodecParam, nSrcHeight) == 32 &&
                  offsetof(VideoCodecParam, szFilterDesc) == 36 &&
                  offsetof(VideoCodecParam, nFilterOutWidth) == 292 &&
                  offsetof(VideoCodecParam, nFilterOutHeight) == 296,
              "VideoCodecParam layout is fixed");
static_assert(offsetof(VideoCodecParam, pHwDeviceCtx) ==
                  (sizeof(void*) == 8 ? 304 : 300) &&
                  offsetof(VideoCodecParam, nAdapterIndex) ==
                      offsetof(VideoCodecParam, pHwDeviceCtx) + sizeof(void*) + 4 &&
                  sizeof(VideoCodecParam) == (sizeof(void*) == 8 ? 320 : 312),
              "VideoCodecParam layout is fixed");
static_assert(offsetof(AudioCodecParam, nBitRate) == 20 &&
                  offsetof(AudioCodecParam, eSrcSampleFormat) == 24 &&
                  offsetof(AudioCodecParam, nFrameDuration) == 32 &&
                  sizeof(AudioCodecParam) == 36,
              "AudioCodecParam layout is fixed");
static_assert(sizeof(CodecParam) == sizeof(VideoCodecParam), "CodecParam is the larger view");
static_assert(offsetof(VideoEasyParam, szFilterDesc) == 8 && sizeof(VideoEasyParam) == 264,
              "VideoEasyParam layout is fixed");
static_assert(sizeof(TransCoderParam) == 24 && offsetof(TransCoderParam, nDstHeight) == 20,
              "TransCoderParam layout is fixed");
static_assert(offsetof(VideoDecOutData, nLinesize) == 4 * sizeof(void*) &&
                  sizeof(VideoDecOutData) == 4 * sizeof(void*) + 16,
              "VideoDecOutData layout is fixed");
static_assert(offsetof(VideoEncOutData, nSize) == sizeof(void*) &&
                  sizeof(VideoEncOutData) == 2 * sizeof(void*),
              "VideoEncOutData layout is fixed");
static_assert(sizeof(AudioDecOutData) == sizeof(VideoEncOutData) &&
                  offsetof(AudioDecOutData, nSize) == offsetof(VideoEncOutData, nSize),
              "AudioDecOutData has VideoEncOutData's layout");
static_assert(offsetof(AudioEncOutData, nHeaderSize) == 8 &&
                  offsetof(AudioEncOutData, pData) == (sizeof(void*) == 8 ? 16 : 12) &&
                  sizeof(AudioEncOutData) == (sizeof(void*) == 8 ? 32 : 20),
              "AudioEncOutData layout is fixed");

}  // namespace codec_interface

#endif  // CODEC_INTERFACE_H
