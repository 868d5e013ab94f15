/// @file codec_interface.h
/// @brief The one exported header of the codec library: decoders and encoders for video and
/// audio, media file reading and writing, and raw picture and sound conversion over FFmpeg 7.
///
/// Hosts are compiled against this file: enumeration values, record layouts, the order of the
/// virtual operations and the exported symbols are a binary contract. The header checks values and
/// layouts at compile time; the repository's ABI baseline guards the rest. The header needs C++17
/// and no FFmpeg header: FFmpeg's types are seen only as pointers.
///
/// @par Results
/// Operations return a 32-bit int: 0, or a count of results, on success and a negative value on
/// failure (as a rule -1; the decoders return -2 when FFmpeg's decoding calls fail). Failures are
/// reported by the result and a log line through the `base` logger; no operation throws on bad
/// input. Only a factory can throw, and only `std::bad_alloc` when memory runs out.
///
/// @par Threading
/// The library starts no thread: every operation runs on the caller's thread.
/// - Different objects share no state, except the hardware probe's cache (which has its own lock)
///   and the forwarding of FFmpeg's log (installed once by the first video `Init`): any calls on
///   different objects may run at the same time.
/// - One ICodecInterface object serialises `Init`, `Uninit`, `Decode`, `Encode` and `Reset` with
///   a lock of its own, so those calls may come from several threads and run one after another.
///   `SetEasyParam` of a video decoder takes only a lock of its own and may run while another
///   thread is inside `Decode`. `GetCodecType` takes no lock.
/// - IFileParseInterface, IPackAudio, ITransCoder and the output-parameter objects take no locks:
///   each is used by one thread at a time. While a codec call fills an output-parameter object,
///   no other thread may read or clear it.
/// - The static functions of ICodecInterface may run on any thread at any time, except that the
///   image functions must not run at the same time as a `Decode`, `Reset` or `Uninit` of the codec
///   whose pictures they read.
/// - The factories keep no shared state and may run on any thread at once.
///
/// @par Ownership of results
/// Results land in output-parameter objects that the host owns (COutParam and its four derived
/// classes). Whether an entry is borrowed from the codec (cache mode) or owned by the object
/// (owning mode, OUTPARAM_FLAG_NOT_USE_CACHE) is described at COutParam.
#ifndef CODEC_INTERFACE_H
#define CODEC_INTERFACE_H

#include <cstddef>
#include <cstdint>
#include <memory>

/// Major version: changes with every change that breaks compiled hosts, together with the
/// shared libraries' SONAMEs (libcodec.so.N and libcodec_base.so.N for major version N).
#define CODEC_VERSION_MAJOR 1
/// Minor version: changes with every compatible addition to the interface.
#define CODEC_VERSION_MINOR 4
/// Patch version: changes that leave the interface as it is.
#define CODEC_VERSION_PATCH 0
/// The three version numbers as text, "major.minor.patch".
#define CODEC_VERSION_STRING "1.4.0"

/// @def CODEC_API
/// Marks what the shared library exports: default visibility with GCC and Clang, dllexport while
/// the library itself is built on Windows and dllimport in hosts there.

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

/// Everything the library exports.
namespace codec_interface {

// ---------------------------------------------------------------------------------------------
// Enumerations. Plain enumerations with a fixed 32-bit signed underlying type; hosts store and
// pass the numbers, so every value is fixed.

/// Selects the implementation that ICodecInterface::Create builds (video below 15, negative
/// values included; audio from 15 on) and, at ICodecInterface::Init, the FFmpeg codec it opens.
/// A video object accepts 0 to 14 and an audio object 16 to 25; any other value makes `Init` fail.
enum CodecType : int32_t {
  AV_CODEC_TYPE_H264ENC = 0,                ///< H.264 encoder.
  AV_CODEC_TYPE_H264DEC = 1,                ///< H.264 decoder, software.
  AV_CODEC_TYPE_HEVCENC = 2,                ///< HEVC encoder.
  AV_CODEC_TYPE_HEVCDEC = 3,                ///< HEVC decoder, software.
  AV_CODEC_TYPE_HEVCDEC_DXVA2 = 4,          ///< HEVC decoder on a DXVA2 device.
  AV_CODEC_TYPE_HEVCDEC_D3D12VA = 5,        ///< HEVC decoder on a D3D12VA device.
  AV_CODEC_TYPE_HEVCDEC_D3D11VA = 6,        ///< HEVC decoder on a D3D11VA device.
  AV_CODEC_TYPE_H264DEC_DXVA2 = 7,          ///< H.264 decoder on a DXVA2 device.
  AV_CODEC_TYPE_H264DEC_D3D12VA = 8,        ///< H.264 decoder on a D3D12VA device.
  AV_CODEC_TYPE_H264DEC_D3D11VA = 9,        ///< H.264 decoder on a D3D11VA device.
  AV_CODEC_TYPE_MJPEGDEC = 10,              ///< Motion JPEG decoder, software.
  /// H.264 decoder "h264_mediacodec" (Android); opened by the first packet that starts with a
  /// sequence parameter set. Not accepted by the hardware probe or CreateVideoHwDeviceCtx.
  AV_CODEC_TYPE_H264DEC_MEDIACODEC = 11,
  AV_CODEC_TYPE_H264DEC_VIDEOTOOLBOX = 12,  ///< H.264 decoder on a VideoToolbox device.
  AV_CODEC_TYPE_HEVCDEC_VIDEOTOOLBOX = 13,  ///< HEVC decoder on a VideoToolbox device.
  AV_CODEC_TYPE_BMPENC = 14,                ///< BMP encoder: one picture a packet.
  /// First audio value; not a codec: an audio object's `Init` refuses it.
  AV_CODEC_TYPE_AUDIO_BEGIN = 15,
  AV_CODEC_TYPE_G711AENC = 16,   ///< G.711 A-law encoder.
  AV_CODEC_TYPE_G711ADEC = 17,   ///< G.711 A-law decoder.
  AV_CODEC_TYPE_G711UENC = 18,   ///< G.711 µ-law encoder.
  AV_CODEC_TYPE_G711UDEC = 19,   ///< G.711 µ-law decoder.
  AV_CODEC_TYPE_OPUSENC = 20,    ///< Opus encoder ("libopus" where FFmpeg has it).
  AV_CODEC_TYPE_OPUSDEC = 21,    ///< Opus decoder ("libopus" where FFmpeg has it).
  AV_CODEC_TYPE_SPEEXENC = 22,   ///< Speex encoder.
  AV_CODEC_TYPE_SPEEXDEC = 23,   ///< Speex decoder.
  AV_CODEC_TYPE_AACENC = 24,     ///< AAC encoder; every packet comes with a 7-byte ADTS header.
  AV_CODEC_TYPE_AACDEC = 25,     ///< AAC decoder.
};

/// A picture layout; each value stands for one FFmpeg pixel format of the same name.
enum PixelFormat : int32_t {
  PIX_FMT_NONE = 0,  ///< No format (unlike FFmpeg, where 0 is YUV420P).
  PIX_FMT_BGRA = 1,      ///< Packed 32-bit B, G, R, A.
  PIX_FMT_RGB24 = 2,     ///< Packed 24-bit R, G, B.
  PIX_FMT_RGBA = 3,      ///< Packed 32-bit R, G, B, A.
  PIX_FMT_YUV420P = 4,   ///< Planar Y, U, V 4:2:0.
  PIX_FMT_NV12 = 5,      ///< Y plane, then interleaved U and V, 4:2:0.
  PIX_FMT_YUVJ420P = 6,  ///< Planar Y, U, V 4:2:0, full range.
  PIX_FMT_YUYV422 = 7,   ///< Packed Y, U, Y, V 4:2:2.
  /// DXVA2 surface; only for decoders of type 7 or 4 with no output size.
  PIX_FMT_DXVA2 = 8,
  /// D3D12 surface; only for decoders of type 8 or 5 with no output size.
  PIX_FMT_D3D12VA = 9,
  /// D3D11 surface; only for decoders of type 9 or 6 with no output size.
  PIX_FMT_D3D11VA = 10,
  /// VideoToolbox surface; only for decoders of type 12 or 13 with no output size.
  PIX_FMT_VIDEOTOOLBOX = 11,
};

/// Sample format of interleaved PCM. Equal to FFmpeg's packed sample formats, one for one; any
/// other number counts as SAMPLE_FMT_NONE.
enum SampleFormat : int32_t {
  SAMPLE_FMT_NONE = -1,  ///< No format: the codec's default where the record allows it.
  SAMPLE_FMT_U8 = 0,     ///< Unsigned 8-bit.
  SAMPLE_FMT_S16 = 1,    ///< Signed 16-bit.
  SAMPLE_FMT_S32 = 2,    ///< Signed 32-bit.
  SAMPLE_FMT_FLT = 3,    ///< 32-bit float.
  SAMPLE_FMT_DBL = 4,    ///< 64-bit float.
};

/// A hardware decoder family for ICodecInterface::Prepare, which probes the family's H.264
/// decoder, then its HEVC decoder. Other values probe nothing.
enum HardwareDecoderType : int32_t {
  HARDWARE_DECODER_DXVA2 = 0,         ///< Probes types 7, then 4.
  HARDWARE_DECODER_D3D12VA = 1,       ///< Probes types 8, then 5.
  HARDWARE_DECODER_D3D11VA = 2,       ///< Probes types 9, then 6.
  HARDWARE_DECODER_VIDEOTOOLBOX = 3,  ///< Probes types 12, then 13.
};

/// The kind of file an IPackAudio object writes.
enum AudioFilePackType : int32_t {
  AUDIO_FILE_PACK_OGG_OPUS = 0,  ///< Ogg with Opus.
  AUDIO_FILE_PACK_MP4_OPUS = 1,  ///< MP4 with Opus.
  AUDIO_FILE_PACK_MP4_AAC = 2,   ///< MP4 with AAC.
  AUDIO_FILE_PACK_AAC = 3,       ///< Raw AAC (ADTS).
  AUDIO_FILE_PACK_MP3 = 4,       ///< MP3.
};

/// Codec of a media file's audio stream, as IFileParseInterface::GetAudioCodec names it.
enum FileAudioCodec : int32_t {
  FILE_AUDIO_CODEC_NONE = -1,  ///< No such stream, no file open, or a codec not listed.
  FILE_AUDIO_CODEC_AAC = 0,    ///< AAC.
  FILE_AUDIO_CODEC_G711A = 1,  ///< G.711 A-law.
  FILE_AUDIO_CODEC_G711U = 2,  ///< G.711 µ-law.
  FILE_AUDIO_CODEC_OPUS = 3,   ///< Opus.
  FILE_AUDIO_CODEC_SPEEX = 4,  ///< Speex.
};

/// Codec of a media file's video stream, as IFileParseInterface::GetVideoCodec names it.
enum FileVideoCodec : int32_t {
  FILE_VIDEO_CODEC_NONE = -1,  ///< No such stream, no file open, or a codec not listed.
  FILE_VIDEO_CODEC_H264 = 0,   ///< H.264.
  FILE_VIDEO_CODEC_HEVC = 1,   ///< HEVC.
};

// ---------------------------------------------------------------------------------------------
// Parameter records. Plain data; fields the chosen codec does not read may hold anything.

/// The video view of CodecParam, read by the video codec objects (types 0 to 14). In the field
/// notes, encoders are types 0, 2 and 14 and decoders all other video types.
struct VideoCodecParam {
  /// Encoders: layout of the raw pictures given to `Encode` (PIX_FMT_NONE is refused).
  /// Decoders: layout of the pictures handed out; PIX_FMT_NONE keeps the decoder's own layout,
  /// a hardware value keeps the pictures on the device.
  PixelFormat ePixelFormat;
  /// Encoders: coded width, 0 meaning nSrcWidth. Decoders: width of the pictures handed out;
  /// when either output dimension is 0 the pictures keep their decoded size.
  int32_t nDstWidth;
  /// As nDstWidth, for the height (encoders: 0 meaning nSrcHeight).
  int32_t nDstHeight;
  /// Decoders: with both output dimensions set, fit the picture into them keeping its aspect
  /// ratio.
  bool bKeepAspectRatio;
  int32_t nBitRate;           ///< Encoders: target bit rate in bits per second.
  int32_t nFrameRate;         ///< Encoders: frames per second.
  int32_t nGopSize;           ///< Encoders: distance between key frames.
  /// Encoders: width of the raw pictures given to `Encode`. Decoders: expected width of the
  /// coded pictures, 0 letting the stream decide; when set, a later size change is an error.
  int32_t nSrcWidth;
  int32_t nSrcHeight;         ///< As nSrcWidth, for the height.
  /// FFmpeg filter-graph description applied to the pictures, NUL-terminated; an empty string
  /// means no filtering.
  char szFilterDesc[256];
  /// Encoders: width of the pictures leaving the filter graph. Used only when it and
  /// nFilterOutHeight are both nonzero; otherwise nSrcWidth by nSrcHeight.
  int32_t nFilterOutWidth;
  int32_t nFilterOutHeight;   ///< As nFilterOutWidth, for the height.
  /// Hardware decoders: an FFmpeg device context reference (`AVBufferRef*`) to share, such as
  /// one from ICodecInterface::CreateVideoHwDeviceCtx; null lets the codec create its own
  /// device. The codec takes references of its own; the host keeps and later releases its own.
  void* pHwDeviceCtx;
  /// D3D12VA decoders: the device option "command_queue_count"; values outside 1 to 50 become 5.
  int32_t nCommandQueueCount;
  uint32_t nAdapterIndex;     ///< DXVA2, D3D11VA and D3D12VA decoders: the adapter number.
};

/// The audio view of CodecParam, read by the audio codec objects (types 16 to 25). Input is what
/// goes into the codec object, output what comes out: for an encoder the host's sound and the
/// coded stream, for a decoder the coded stream and the host's sound. When input and output
/// agree in sample format, rate and channel count, nothing is resampled.
struct AudioCodecParam {
  int32_t nSrcSampleRate;        ///< Input sample rate in Hz.
  int32_t nDstSampleRate;        ///< Output sample rate in Hz; an encoder codes at this rate.
  int32_t nSrcChannels;          ///< Input channel count (the default layout of that count).
  int32_t nDstChannels;          ///< Output channel count; an encoder codes with this count.
  int32_t nReserved;             ///< Not read.
  int32_t nBitRate;              ///< Encoders: bit rate in bits per second.
  /// Input sample format. Encoders must set it (SAMPLE_FMT_NONE makes `Init` fail); for
  /// decoders SAMPLE_FMT_NONE selects the decoder's default.
  SampleFormat eSrcSampleFormat;
  /// Output sample format. Decoders must set it (SAMPLE_FMT_NONE makes `Init` fail); for
  /// encoders SAMPLE_FMT_NONE selects the encoder's default.
  SampleFormat eDstSampleFormat;
  /// Encoders: the encoder option "frame_duration" in milliseconds; 0 gives 20.
  int32_t nFrameDuration;
};

/// The record of ICodecInterface::Init and ICodecInterface::Reset, passed by value: fill the
/// view that matches the CodecType. Fields the chosen codec does not read may hold anything.
union CodecParam {
  VideoCodecParam stVideo;  ///< View for video types (0 to 14).
  AudioCodecParam stAudio;  ///< View for audio types (16 to 25).
};

/// The record of ICodecInterface::SetEasyParam: a running video decoder's new output size and
/// filter, with the meanings of the VideoCodecParam fields of the same names.
struct VideoEasyParam {
  int32_t nDstWidth;        ///< Width of the pictures handed out; 0 with nDstHeight: decoded size.
  int32_t nDstHeight;       ///< Height of the pictures handed out.
  char szFilterDesc[256];   ///< Filter-graph description, NUL-terminated; empty: no filtering.
};

/// The record of ITransCoder::Init: six 32-bit fields read according to the kind given with it
/// (0 pictures, 1 sound).
struct TransCoderParam {
  /// Field 1: source format.
  union {
    PixelFormat eSrcPixelFormat;    ///< Pictures: source format.
    SampleFormat eSrcSampleFormat;  ///< Sound: source sample format.
  };
  /// Field 2: source width or sample rate.
  union {
    int32_t nSrcWidth;       ///< Pictures: source width.
    int32_t nSrcSampleRate;  ///< Sound: source sample rate in Hz.
  };
  /// Field 3: source height or channel count.
  union {
    int32_t nSrcHeight;    ///< Pictures: source height.
    int32_t nSrcChannels;  ///< Sound: source channel count.
  };
  /// Field 4: destination format.
  union {
    PixelFormat eDstPixelFormat;    ///< Pictures: destination format.
    SampleFormat eDstSampleFormat;  ///< Sound: destination sample format.
  };
  /// Field 5: destination width or sample rate.
  union {
    int32_t nDstWidth;       ///< Pictures: destination width.
    int32_t nDstSampleRate;  ///< Sound: destination sample rate in Hz.
  };
  /// Field 6: destination height or channel count.
  union {
    int32_t nDstHeight;    ///< Pictures: destination height.
    int32_t nDstChannels;  ///< Sound: destination channel count.
  };
};

// ---------------------------------------------------------------------------------------------
// Output records: pointers and sizes into frames or packets held by an output-parameter object.
// The default constructor zeroes every field; copy and move assignment copy the fields (never
// the bytes pointed to) and leave the source unchanged.

/// One decoded picture of a CVideoDecodeOutParam: its first four planes. The pointers refer into
/// the entry's frame and are valid as long as that entry is (see COutParam). For a picture on a
/// hardware device they are FFmpeg's fields of the hardware frame, not pixel memory.
struct CODEC_API VideoDecOutData {
  unsigned char* pData[4];  ///< Plane pointers.
  int32_t nLinesize[4];     ///< Bytes per line of each plane, as FFmpeg gives them.

  /// All pointers null, all line sizes 0.
  VideoDecOutData();
  /// Copies the fields.
  VideoDecOutData(const VideoDecOutData&) = default;
  /// Copies the fields, not the bytes they point to; returns this record.
  VideoDecOutData& operator=(const VideoDecOutData& other);
  /// Copies the fields as copy assignment does and leaves @p other unchanged.
  VideoDecOutData& operator=(VideoDecOutData&& other);
};

/// One encoded video packet of a CVideoEncodeOutParam, valid as long as its entry is.
struct CODEC_API VideoEncOutData {
  unsigned char* pData;  ///< The packet's bytes.
  int32_t nSize;         ///< Their count.

  /// Null pointer, size 0.
  VideoEncOutData();
  /// Copies the fields.
  VideoEncOutData(const VideoEncOutData&) = default;
  /// Copies the fields, not the bytes they point to; returns this record.
  VideoEncOutData& operator=(const VideoEncOutData& other);
  /// Copies the fields as copy assignment does and leaves @p other unchanged.
  VideoEncOutData& operator=(VideoEncOutData&& other);
};

/// One decoded block of sound of a CAudioDecodeOutParam, valid as long as its entry is.
struct CODEC_API AudioDecOutData {
  /// Plane 0 of one decoded frame in the output format (resampled where input and output
  /// differ); for the packed formats of SampleFormat that is every channel, interleaved.
  unsigned char* pData;
  int32_t nSize;         ///< Line size of plane 0 in bytes.

  /// Null pointer, size 0.
  AudioDecOutData();
  /// Copies the fields.
  AudioDecOutData(const AudioDecOutData&) = default;
  /// Copies the fields, not the bytes they point to; returns this record.
  AudioDecOutData& operator=(const AudioDecOutData& other);
  /// Copies the fields as copy assignment does and leaves @p other unchanged.
  AudioDecOutData& operator=(AudioDecOutData&& other);
};

/// One encoded audio packet of a CAudioEncodeOutParam, valid as long as its entry is. A stream
/// or file takes the nHeaderSize bytes of byHeader followed by the nSize bytes at pData.
struct CODEC_API AudioEncOutData {
  unsigned char byHeader[8];  ///< Header to write before the packet: ADTS (7 bytes) for AAC.
  int32_t nHeaderSize;        ///< Bytes of byHeader in use; 0 when the encoder writes no header.
  unsigned char* pData;       ///< The packet's bytes.
  int32_t nSize;              ///< Their count.

  /// Zero header bytes, null pointer, sizes 0.
  AudioEncOutData();
  /// Copies the fields.
  AudioEncOutData(const AudioEncOutData&) = default;
  /// Copies the fields, not the bytes they point to; returns this record.
  AudioEncOutData& operator=(const AudioEncOutData& other);
  /// Copies the fields as copy assignment does and leaves @p other unchanged.
  AudioEncOutData& operator=(AudioEncOutData&& other);
};

// ---------------------------------------------------------------------------------------------
// Output-parameter objects. Ownership and copying are described at COutParam.

/// Capacity of every output-parameter object: at most 20 results.
constexpr int OUTPARAM_MAX_COUNT = 20;
/// Constructor flag selecting owning mode: the object's entries are its own references, which
/// survive later calls on the codec and which Clear frees. Without it (cache mode) entries are
/// borrowed from the producing codec.
constexpr int OUTPARAM_FLAG_NOT_USE_CACHE = 1;

/// The abstract base of the output-parameter objects: the container, owned by the host, into
/// which `Decode`, `Encode`, ITransCoder::Transcode and ICodecInterface::ImageHwCopyToMemory put
/// their results. Entry k of a result is `m_pFrame[k]` (decoders, converters) or `m_pPacket[k]`
/// (encoders) together with `m_outData[k]` of the derived class.
///
/// @par Cache mode (flags without OUTPARAM_FLAG_NOT_USE_CACHE, the default)
/// An entry is the producing codec's own reused frame or packet: the object borrows it. It stays
/// valid until that codec object's next call and until Clear, which only unreferences its data.
/// Clear (or destroy) the object before the codec's `Uninit`, destruction or, for an audio codec,
/// `Reset`: those free the borrowed frames and packets that Clear would otherwise touch.
///
/// @par Owning mode (OUTPARAM_FLAG_NOT_USE_CACHE)
/// An entry is a new reference that the object owns. It survives later calls on the codec and
/// the codec's destruction; Clear and the destructor free it. ITransCoder::Transcode and
/// ICodecInterface::ImageHwCopyToMemory accept only a destination in owning mode.
///
/// @par Between calls
/// Call Clear before passing the object again: the video codec, Transcode and
/// ImageHwCopyToMemory start again at entry 0 without releasing what was there, and the audio
/// codec appends after the entries already held (up to OUTPARAM_MAX_COUNT). Without Clear, owned
/// entries of the earlier call are lost and borrowed ones are overwritten.
///
/// @par Threading
/// No locks: one thread at a time. A codec fills the object while holding its own lock; no other
/// thread may read or clear the object during that call.
class CODEC_API COutParam {
 public:
  /// An empty object (all pointers null, all counts 0) with the given flags in m_nFlag; only bit 0
  /// (OUTPARAM_FLAG_NOT_USE_CACHE) has a meaning, other bits are kept without effect.
  explicit COutParam(int nFlag = 0);
  /// Copies every member and leaves @p other unchanged. In cache mode the entry pointers are
  /// copied as they are (both objects borrow the same codec objects); in owning mode each entry
  /// of the copy is a new reference to the same data, so each object frees only its own, and an
  /// entry whose reference cannot be made is null.
  COutParam(const COutParam& other);
  /// Frees (owning mode) or unreferences (cache mode) the entries, as COutParam::Clear does.
  virtual ~COutParam() = 0;
  /// Releases the entries 0 to m_nNum - 1 of both arrays (frees them in owning mode, only
  /// unreferences their data in cache mode), nulls them and sets m_nNum to 0, which marks the
  /// m_outData records of the derived classes invalid.
  virtual void Clear();

  AVPacket* m_pPacket[OUTPARAM_MAX_COUNT];  ///< Encoders' results, entry k for result k.
  AVFrame* m_pFrame[OUTPARAM_MAX_COUNT];    ///< Decoders' and converters' results.
  int32_t m_nNum;                           ///< Entries 0 to m_nNum - 1 are valid.
  int32_t m_nFlag;                          ///< Bit 0: OUTPARAM_FLAG_NOT_USE_CACHE.

  /// Not assignable.
  COutParam& operator=(const COutParam&) = delete;
};

/// Results of a video encoder's `Encode`: at most one packet a call.
class CODEC_API CVideoEncodeOutParam : public COutParam {
 public:
  /// An empty object in cache mode.
  CVideoEncodeOutParam();
  /// An empty object with the given flags (see COutParam::COutParam).
  explicit CVideoEncodeOutParam(int nFlag);
  /// Copies every member (see COutParam::COutParam(const COutParam&)).
  CVideoEncodeOutParam(const CVideoEncodeOutParam& other);
  /// Does what the copy constructor does; @p other is left unchanged.
  CVideoEncodeOutParam(CVideoEncodeOutParam&& other);
  /// Releases the entries as COutParam::Clear does.
  ~CVideoEncodeOutParam() override;

  int32_t m_nWidth;   ///< Width of the coded pictures of the last call.
  int32_t m_nHeight;  ///< Height of the coded pictures of the last call.
  VideoEncOutData m_outData[OUTPARAM_MAX_COUNT];  ///< Packet k's bytes.
};

/// Results of a video decoder's `Decode` (at most one picture a call), of a picture
/// ITransCoder::Transcode and of ICodecInterface::ImageHwCopyToMemory.
class CODEC_API CVideoDecodeOutParam : public COutParam {
 public:
  /// An empty object in cache mode.
  CVideoDecodeOutParam();
  /// An empty object with the given flags (see COutParam::COutParam).
  explicit CVideoDecodeOutParam(int nFlag);
  /// Copies every member (see COutParam::COutParam(const COutParam&)).
  CVideoDecodeOutParam(const CVideoDecodeOutParam& other);
  /// Does what the copy constructor does; @p other is left unchanged.
  CVideoDecodeOutParam(CVideoDecodeOutParam&& other);
  /// Releases the entries as COutParam::Clear does.
  ~CVideoDecodeOutParam() override;
  /// COutParam::Clear, then resets m_bDecodeError.
  void Clear() override;

  int32_t m_nWidth;             ///< Width of the pictures of the last call.
  int32_t m_nHeight;            ///< Height of the pictures of the last call.
  PixelFormat m_ePixelFormat;   ///< Layout of those pictures; PIX_FMT_NONE for one not listed.
  bool m_bDecodeError;  ///< A picture of the last call carried decode errors.
  VideoDecOutData m_outData[OUTPARAM_MAX_COUNT];  ///< Picture k's planes.
};

/// Results of an audio encoder's `Encode`.
class CODEC_API CAudioEncodeOutParam : public COutParam {
 public:
  /// An empty object in cache mode.
  CAudioEncodeOutParam();
  /// An empty object with the given flags (see COutParam::COutParam).
  explicit CAudioEncodeOutParam(int nFlag);
  /// Copies every member (see COutParam::COutParam(const COutParam&)).
  CAudioEncodeOutParam(const CAudioEncodeOutParam& other);
  /// Does what the copy constructor does; @p other is left unchanged.
  CAudioEncodeOutParam(CAudioEncodeOutParam&& other);
  /// Releases the entries as COutParam::Clear does.
  ~CAudioEncodeOutParam() override;

  AudioEncOutData m_outData[OUTPARAM_MAX_COUNT];  ///< Packet k's header and bytes.
};

/// Results of an audio decoder's `Decode` and of a sound ITransCoder::Transcode.
class CODEC_API CAudioDecodeOutParam : public COutParam {
 public:
  /// An empty object in cache mode.
  CAudioDecodeOutParam();
  /// An empty object with the given flags (see COutParam::COutParam).
  explicit CAudioDecodeOutParam(int nFlag);
  /// Copies every member (see COutParam::COutParam(const COutParam&)).
  CAudioDecodeOutParam(const CAudioDecodeOutParam& other);
  /// Does what the copy constructor does; @p other is left unchanged.
  CAudioDecodeOutParam(CAudioDecodeOutParam&& other);
  /// Releases the entries as COutParam::Clear does.
  ~CAudioDecodeOutParam() override;

  AudioDecOutData m_outData[OUTPARAM_MAX_COUNT];  ///< Block k's samples.
};

// ---------------------------------------------------------------------------------------------
// Since 1.3: threads of software decoders and encoders (ICodecInterface::SetThreads).

/// How a software decoder spreads its work over threads; the values may be or-ed together.
enum CodecThreadKind : int32_t {
  /// Consecutive pictures are decoded on different threads at once. Each thread past the first
  /// holds one more picture back before the first comes out: N frame threads cost N - 1 pictures
  /// of delay, which a drain hands out at the end of the stream.
  CODEC_THREAD_FRAME = 1,
  /// The parts (slices) of one picture are decoded on different threads; no delay, but only
  /// streams made of several slices gain.
  CODEC_THREAD_SLICE = 2,
};

// ---------------------------------------------------------------------------------------------
// Interfaces. The declaration order of the virtual operations is fixed.

/// An audio or video encoder or decoder, made by Create and set up by Init; also the home of
/// the library's free-standing functions (hardware probe, device contexts, picture buffers).
///
/// A codec object is closed after Create, open after a successful Init, closed again after
/// Uninit, and may be opened again. Init, Uninit, Decode, Encode and Reset of one object are
/// serialised by the object's own lock; SetEasyParam and GetCodecType take none of it (see the
/// file's threading notes).
class CODEC_API ICodecInterface {
 public:
  /// Touches nothing but the interface's own table pointer.
  ICodecInterface();
  /// Touches nothing but the interface's own table pointer.
  ICodecInterface(const ICodecInterface& other);
  /// Returns this object unchanged.
  ICodecInterface& operator=(const ICodecInterface& other);

  /// Opens the codec that @p eCodecType names, configured by the matching view of @p param.
  /// @return 0 on success, and also 0 without any effect when the object is already open (the
  ///         new type and record are ignored); -1 on failure, after a log line, leaving the
  ///         object closed with everything it had set up released. A video object accepts
  ///         types 0 to 14, an audio object 16 to 25.
  virtual int Init(CodecType eCodecType, CodecParam param) = 0;
  /// Closes the object and frees every FFmpeg object it holds. May be called in any state and
  /// repeatedly; Init may follow. Clear cache-mode output-parameter objects first.
  virtual void Uninit() = 0;
  /// Decodes one compressed packet into @p pOut: a CVideoDecodeOutParam for a video decoder, a
  /// CAudioDecodeOutParam for an audio decoder. The bytes are not kept after the call.
  ///
  /// A video decoder starts @p pOut again at entry 0 and yields at most one picture a call; a
  /// packet that holds more leaves the rest for later calls. An audio decoder appends after the
  /// entries already held, up to OUTPARAM_MAX_COUNT; an empty packet (null data, size 0) drains
  /// it, after which every call returns 0 until Reset, or Uninit and Init.
  /// @return The number of results @p pOut now holds (0: more input needed, or the audio decoder
  ///         did not take the packet); -1 when the call is refused (object not open or not a
  ///         decoder, null @p pOut; video also null data or size below 1) or a result cannot be
  ///         produced (conversion, resampling or copy failed; a video size change with
  ///         nSrcWidth / nSrcHeight fixed at Init); -2 when FFmpeg's decoding calls fail, after
  ///         which the decoder has been flushed and its buffered pictures or sound are lost.
  virtual int Decode(unsigned char* pData, int nSize, COutParam* pOut) = 0;
  /// Encodes raw input into @p pOut: a CVideoEncodeOutParam for a video encoder, a
  /// CAudioEncodeOutParam for an audio encoder.
  ///
  /// Video: @p pData holds one picture in the ePixelFormat of Init at nSrcWidth by nSrcHeight,
  /// planes one after another without gaps; @p nSize is the number of bytes there. @p pOut starts
  /// again at entry 0 and receives at most one packet. Audio: @p pData holds interleaved samples
  /// in eSrcSampleFormat with nSrcChannels channels; samples short of a whole encoder frame wait
  /// for the next call, and @p pOut receives packets after the entries already held (for AAC
  /// each with its ADTS header). Neither drains the encoder: what it still holds at Uninit or
  /// Reset is dropped.
  /// @return The number of results @p pOut now holds (0: the encoder needs more input or would
  ///         not take the input now); -1 when the call is refused (object not open or not an
  ///         encoder, null @p pOut; video also null data, or @p nSize below 1 or short of one
  ///         picture) or encoding, filtering, scaling or resampling failed, after a log line.
  ///         The object stays open after a failure.
  virtual int Encode(unsigned char* pData, int nSize, COutParam* pOut) = 0;
  /// Re-opens the codec with a new record and the type of the last successful Init.
  ///
  /// Audio: Uninit, then Init with the stored type (clear cache-mode output-parameter objects
  /// first); it works after Uninit too, once a type is stored. Video: rebuilds the codec context
  /// in place; it needs an existing context (so not after Uninit), takes a new ePixelFormat only
  /// for values 0 to 7 (a hardware format from Init stays), and keeps the filter graph. A failed
  /// video Reset leaves the object as far as it got; Uninit and Init set it up again.
  /// @return 0 on success; -1 on failure, after a log line.
  virtual int Reset(CodecParam param) = 0;
  /// Video decoders: sets a new output size and filter description, applied to the next picture
  /// that Decode produces. May be called from any thread at any time, also while another thread
  /// is inside Decode. Video encoders store it and never apply it; audio codecs ignore it.
  virtual void SetEasyParam(VideoEasyParam param) = 0;
  /// @return The type of the last successful Init, also after Uninit; -1 before the first one.
  ///         Takes no lock.
  virtual CodecType GetCodecType() = 0;
  /// Closes the object as Uninit does. Clear cache-mode output-parameter objects first.
  virtual ~ICodecInterface();

  /// Builds a closed codec object: a video one for values below 15 (negative values too), an
  /// audio one otherwise. The codec itself is chosen by Init, so no value makes Create fail.
  /// @return The object; it lives until the last shared pointer to it goes. Only running out of
  ///         memory escapes, as std::bad_alloc. Any thread.
  static std::shared_ptr<ICodecInterface> Create(CodecType eCodecType);

  /// Probes a hardware family's H.264 and then its HEVC decoder on adapter @p nAdapterIndex (one
  /// test picture each) and caches both answers for CheckHardwareDecode. Other values of
  /// @p eType do nothing. Any thread; the cache lock is never held during a probe.
  static void Prepare(HardwareDecoderType eType, unsigned int nAdapterIndex);
  /// Tells whether the hardware decoder @p eCodecType really hands out device surfaces on adapter
  /// @p nAdapterIndex: answered from a process-wide cache, probed on the first question.
  /// @return true when a test picture came out as a device surface of the expected kind. false
  ///         for types other than 4 to 9, 12 and 13 (not cached), and when the decoder cannot be
  ///         opened, fails to decode or hands out another format; such a false answer stays
  ///         cached for the life of the process, also when its cause was passing. Any thread;
  ///         two threads asking the same new question may both probe.
  static bool CheckHardwareDecode(CodecType eCodecType, unsigned int nAdapterIndex);

  /// Creates a hardware device context for the hardware decoder type @p eCodecType (4 to 9, 12,
  /// 13), to share between decoders through VideoCodecParam::pHwDeviceCtx.
  /// @param eCodecType         The decoder type whose device type is wanted.
  /// @param nCommandQueueCount D3D12VA: the device option "command_queue_count"; values outside
  ///                           1 to 50 become 5.
  /// @param nAdapterIndex      DXVA2, D3D11VA, D3D12VA: the adapter number.
  /// @param ppNativeDevice     Null, or where to store the API's own device pointer.
  /// @return A new `AVBufferRef*` that the host owns and releases with ReleaseVideoHwDeviceCtx;
  ///         null for any other type (MediaCodec included) or when the device cannot be made
  ///         (after a log line). Any thread.
  static void* CreateVideoHwDeviceCtx(CodecType eCodecType, unsigned int nCommandQueueCount,
                                      unsigned int nAdapterIndex, void** ppNativeDevice);
  /// Releases the host's reference to a device context and nulls @p *ppHwDeviceCtx. A null
  /// @p ppHwDeviceCtx is ignored; a pointer to a null handle is not allowed. Codec objects that
  /// took the device keep their own references until their Uninit or Reset. Any thread.
  static void ReleaseVideoHwDeviceCtx(void** ppHwDeviceCtx);

  /// Bytes that one picture of @p eFormat at @p nWidth by @p nHeight takes in the packed layout
  /// of ImageCopyToBuffer (planes one after another, rows without gaps).
  /// @param eFormat    Usually CVideoDecodeOutParam::m_ePixelFormat of the picture.
  /// @param eOutFormat Receives the layout the copy will have: @p eFormat, or PIX_FMT_NV12 for
  ///                   the four hardware formats, which are measured as NV12.
  /// @param nWidth     Picture width.
  /// @param nHeight    Picture height.
  /// @return The byte count; 0 for PIX_FMT_NONE or a value not listed; FFmpeg's negative error
  ///         code for an invalid size. No state, any thread.
  static int ImageGetBufferSize(PixelFormat eFormat, PixelFormat& eOutFormat, int nWidth,
                                int nHeight);
  /// Copies picture @p nIndex of @p src into @p pBuffer in the packed layout, first downloading a
  /// DXVA2, D3D12 or VideoToolbox surface (delivered as NV12). Size the buffer with
  /// ImageGetBufferSize.
  /// @return The number of bytes written; -1 for an index outside the entries, a format it
  ///         cannot copy (D3D11 surfaces included) or a failed download; FFmpeg's negative error
  ///         code when @p nSize is too small. Not while the codec that filled @p src runs
  ///         Decode, Reset or Uninit.
  static int ImageCopyToBuffer(unsigned char* pBuffer, int nSize, CVideoDecodeOutParam& src,
                               int nIndex);
  /// Downloads the DXVA2, D3D12 or VideoToolbox surface of picture @p nIndex of @p src into
  /// system memory as entry 0 of @p dst (m_nNum 1, size and PixelFormat of the download). @p dst
  /// must be in owning mode and owns the new picture; clear it before, as its earlier entries are
  /// not released.
  /// @return 0 on success; -1 when @p dst is in cache mode (after a log line), the index is
  ///         outside the entries, the picture is no such surface, or the download fails. Not
  ///         while the codec that filled @p src runs Decode, Reset or Uninit, nor together with
  ///         anything else on @p dst.
  static int ImageHwCopyToMemory(CVideoDecodeOutParam& dst, CVideoDecodeOutParam& src,
                                 int nIndex);

  // ----- Since 1.1: static additions; the table of virtual operations is unchanged. -----

  /// Drains @p codec at the end of a stream: hands out what the decoder or encoder still holds
  /// (pictures kept back for reordering, packets the encoder delays, the audio encoder's last
  /// partial frame, padded with silence to a whole frame). Call it until it returns 0; the object
  /// is then ready for a new stream with the same settings (no Uninit or Reset needed).
  ///
  /// @p pOut is of the kind Decode or Encode of @p codec takes and is filled as they fill it: a
  /// video object starts it again at entry 0 and puts at most one result in it a call, an audio
  /// object appends after the entries already held, up to OUTPARAM_MAX_COUNT. A Decode or Encode
  /// before the drain has returned 0 drops what it had not yet handed out. The library's video
  /// encoders are set up without delay (no B-frames, zero latency) and usually hold nothing:
  /// their drain then returns 0 at once.
  /// @return The number of results @p pOut now holds; 0 when nothing is left (the drain is over);
  ///         -1 when @p codec is not open or @p pOut is null or of the wrong kind, or, after a log
  ///         line, when FFmpeg's draining calls fail (the codec is flushed and ready again).
  ///         Takes the object's lock, as Decode and Encode do.
  static int Drain(ICodecInterface& codec, COutParam* pOut);

  /// Gives a video encoder a frame rate that is not a whole number (60000/1001 for 59.94), used
  /// by every later Init and Reset of @p codec instead of VideoCodecParam::nFrameRate; the
  /// stream's own timing information carries it. 0/0 goes back to nFrameRate.
  /// @return 0; -1 for an object that is not a video object, a negative or zero part (other
  ///         than 0/0), after a log line. Call it before Init; takes the object's lock.
  static int SetEncoderFrameRate(ICodecInterface& codec, int nNum, int nDen);

  /// As @p codec's Decode, with the presentation time of the packet in microseconds (a
  /// MediaPacket's nPtsUs, or MEDIA_NO_TIMESTAMP). A video decoder hands each picture out with
  /// the time of the packet it came from, read with GetPictureTime; an audio decoder ignores it.
  /// @return As Decode.
  static int DecodeTimed(ICodecInterface& codec, unsigned char* pData, int nSize,
                         int64_t nTimeUs, COutParam* pOut);

  /// @return The presentation time in microseconds of picture @p nIndex of @p out, as given to
  ///         DecodeTimed (FFmpeg's best estimate where packets came without one);
  ///         MEDIA_NO_TIMESTAMP for an index outside the entries or a picture without a time.
  static int64_t GetPictureTime(const CVideoDecodeOutParam& out, int nIndex);

  // ----- Since 1.3: thread settings; the table of virtual operations is unchanged. -----

  /// Chooses the threads of video object @p codec, used by its next Init and every later Reset
  /// instead of the process-wide defaults (SetDefaultThreads). Call it before Init.
  ///
  /// A software decoder runs @p nCount threads (0: one per CPU core) of the kinds @p nKinds
  /// (CodecThreadKind bits, at least one); 1 is the default and decodes on the caller's thread,
  /// each picture coming out with its own packet. Frame threads cost one picture of delay per
  /// thread past the first (see CODEC_THREAD_FRAME); Decode still hands out at most one picture a
  /// call, and Drain the ones held at the end. Hardware decoders keep their own thread settings.
  /// An encoder runs @p nCount threads, 0 (the default) leaving the choice to the encoder; it
  /// ignores @p nKinds. Audio objects have no thread settings.
  /// @return 0; -1 for an object that is not a video object, a negative @p nCount, or kinds
  ///         other than 1 to 3, after a log line. Takes the object's lock.
  static int SetThreads(ICodecInterface& codec, int nCount, int nKinds);

  /// Sets the process-wide thread defaults of video objects that were given none by SetThreads,
  /// read by their Init: @p nDecoderCount threads of the kinds @p nDecoderKinds for software
  /// decoders and @p nEncoderCount for encoders, with the meanings of SetThreads. Until the first
  /// call: 1 thread for decoders, the encoder's own choice for encoders. Objects already open
  /// keep their settings until their next Init.
  /// @return 0; -1 for values SetThreads refuses, after a log line (the defaults stay). Any
  ///         thread.
  static int SetDefaultThreads(int nDecoderCount, int nDecoderKinds, int nEncoderCount);

  // ----- Since 1.4: colours; the table of virtual operations is unchanged. -----

  /// Tells video encoder @p codec how the YUV pictures it will be given are coloured, for its
  /// next Init and every later Reset; the stream then declares it, so that players show the
  /// colours the pictures were made with (a BT.709 picture read as BT.601 comes out green-tinged).
  /// The codes are H.273's, as MediaStreamInfo reports them: @p nMatrix, @p nPrimaries and
  /// @p nTransfer (2 each: unspecified), @p nRange (0 unspecified, 1 limited, 2 full). All
  /// unspecified, as before the first call, leaves the stream untagged. Pictures given as RGB
  /// are converted by the encoder, which declares its own conversion (BT.601) instead.
  /// @return 0; -1 for an object that is not a video object or a code FFmpeg does not know,
  ///         after a log line. Call it before Init; takes the object's lock.
  static int SetEncoderColour(ICodecInterface& codec, int nMatrix, int nRange, int nPrimaries,
                              int nTransfer);
};

/// Reads the compressed packets of a media file (any container FFmpeg opens), ready for
/// ICodecInterface::Decode. Closed after Create; no locks: one thread at a time.
class CODEC_API IFileParseInterface {
 public:
  /// Touches nothing but the interface's own table pointer.
  IFileParseInterface();
  /// Touches nothing but the interface's own table pointer.
  IFileParseInterface(const IFileParseInterface& other);
  /// Returns this object unchanged.
  IFileParseInterface& operator=(const IFileParseInterface& other);

  /// Opens the file and picks its audio stream (required) and its video stream (optional).
  /// @return 0 on success; -1 for a null path or an object already open (the open file stays),
  ///         or, after a log line, a file that cannot be opened or recognised, whose stream
  ///         information cannot be read, or that has no audio stream. A failed Open leaves the
  ///         object closed.
  virtual int Open(const char* pPath) = 0;
  /// Closes the open file; does nothing on a closed object. Open may follow.
  virtual void Close() = 0;
  /// @return The codec of the audio stream; FILE_AUDIO_CODEC_NONE when nothing is open or the
  ///         codec is not listed.
  virtual FileAudioCodec GetAudioCodec() = 0;
  /// @return The codec of the video stream; FILE_VIDEO_CODEC_NONE when nothing is open, the
  ///         file has no video or the codec is not listed.
  virtual FileVideoCodec GetVideoCodec() = 0;
  /// Reads the next packet of the audio stream; packets of other streams read on the way are
  /// dropped (a later ReadVideoPacket does not see them).
  /// @param ppData      Receives a pointer to the packet's bytes, owned by the parser and valid
  ///                    until the next read of either kind, Close or destruction.
  /// @param pSize       Receives their count.
  /// @param pDurationMs Receives the packet's duration in milliseconds, truncated.
  /// @return 0 with a packet; -1 at end of file, on a read error, or when nothing is open.
  virtual int ReadAudioPacket(unsigned char** ppData, int* pSize, int* pDurationMs) = 0;
  /// Reads the next packet of the video stream as ReadAudioPacket does, without a duration.
  /// @return 0 with a packet; -1 at end of file, on a read error, when nothing is open or the
  ///         file has no video.
  virtual int ReadVideoPacket(unsigned char** ppData, int* pSize) = 0;
  /// Closes an open file as Close does.
  virtual ~IFileParseInterface();

  /// Builds a closed parser. @return The object; only running out of memory escapes, as
  /// std::bad_alloc. Any thread.
  static std::shared_ptr<IFileParseInterface> Create();
};

// IPackAudio and ITransCoder have no virtual destructor: the factory's shared pointer destroys
// the implementation through its own type. Do not delete through an interface pointer.
#if defined(__GNUC__) || defined(__clang__)
#  pragma GCC diagnostic push
#  pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
#endif
/// Writes encoded audio packets (from an audio encoder) into a file of the AudioFilePackType
/// given to Create, each packet stamped with a running timestamp. Has no virtual destructor:
/// only the shared pointer from Create may destroy it. No locks: one thread at a time.
class CODEC_API IPackAudio {
 public:
  /// Touches nothing but the interface's own table pointer.
  IPackAudio();
  /// Touches nothing but the interface's own table pointer.
  IPackAudio(const IPackAudio& other);
  /// Touches nothing but the interface's own table pointer.
  IPackAudio(IPackAudio&& other);
  /// Returns this object unchanged.
  IPackAudio& operator=(const IPackAudio& other);
  /// Returns this object unchanged.
  IPackAudio& operator=(IPackAudio&& other);

  /// Creates the file and writes its header. Call it on a closed object.
  /// @param pPath         The file to write.
  /// @param nSampleRate   Sample rate in Hz; also the timestamps' unit.
  /// @param nChannels     Channel count: 1, 2, 6 or 8.
  /// @param nFrameSamples Duration of every packet in samples.
  /// @return 0 when the file is open and its header written; -1 for a null path (nothing
  ///         changes) or, after a log line, when the container, the stream, the channel count,
  ///         the file or the header fails.
  virtual int Init(const char* pPath, int nSampleRate, int nChannels, int nFrameSamples) = 0;
  /// Writes the trailer and closes the file. Call it before dropping the object: destruction
  /// does not finish the file. Timestamps of a later file continue where this one ended.
  virtual void Close() = 0;
  /// Adds one encoded packet; the bytes are copied, so the buffer may be reused at once.
  /// @return 0 on success; -1 when no file is open, or the muxer refuses the packet (after a
  ///         log line).
  virtual int WritePacket(unsigned char* pData, int nSize) = 0;

  /// Builds a closed packer for @p eType (not checked: an unknown kind makes Init fail), with
  /// 48000 Hz, 2 channels and 1920 samples a packet until Init sets them.
  /// @return The object; only running out of memory escapes, as std::bad_alloc. Any thread.
  static std::shared_ptr<IPackAudio> Create(AudioFilePackType eType);

  /// Since 1.2: how the last Close of @p pack ended, since Close itself returns nothing.
  /// @return 0 when the trailer was written and every byte reached the file (and before any
  ///         Close); -1 when the trailer or the final flush failed (a full disk, a file size
  ///         limit), after a log line naming the cause, or for an object not made by Create.
  static int LastCloseResult(const IPackAudio& pack);
};

/// Converts raw pictures (pixel format and size) or raw sound (sample format, rate and channels)
/// without a codec, one decoded entry at a time. Has no virtual destructor: only the shared
/// pointer from Create may destroy it. No locks: one thread at a time.
class CODEC_API ITransCoder {
 public:
  /// Touches nothing but the interface's own table pointer.
  ITransCoder();
  /// Touches nothing but the interface's own table pointer.
  ITransCoder(const ITransCoder& other);
  /// Touches nothing but the interface's own table pointer.
  ITransCoder(ITransCoder&& other);
  /// Returns this object unchanged.
  ITransCoder& operator=(const ITransCoder& other);
  /// Returns this object unchanged.
  ITransCoder& operator=(ITransCoder&& other);

  /// Sets up one conversion.
  /// @param nKind 0: pictures, 1: sound; any other kind fails.
  /// @param param The formats and sizes, read according to @p nKind.
  /// @return 0 on success; -1 for another kind, or, after a log line, a picture format without
  ///         mapping or a scaler or resampler that cannot be made.
  virtual int Init(int nKind, const TransCoderParam& param) = 0;
  /// Converts entry @p nIndex of @p pSrc into a new entry 0 of @p pDst (m_nNum 1), which owns it.
  /// Both are CVideoDecodeOutParam objects for pictures and CAudioDecodeOutParam objects for
  /// sound; @p pDst must be in owning mode and is not cleared first, so clear it before. Sound
  /// forms one continuous stream across calls (the resampler keeps what did not fit).
  /// @return 0 on success; -1 for a null @p pSrc or @p pDst, before a successful Init, or, after
  ///         a log line, for a cache-mode @p pDst or a failed conversion; @p pDst is then
  ///         unchanged.
  virtual int Transcode(COutParam* pSrc, int nIndex, COutParam* pDst) = 0;

  /// Builds a transcoder with no conversion set up.
  /// @return The object; only running out of memory escapes, as std::bad_alloc. Any thread.
  static std::shared_ptr<ITransCoder> Create();
};
#if defined(__GNUC__) || defined(__clang__)
#  pragma GCC diagnostic pop
#endif

// ---------------------------------------------------------------------------------------------
// Since 1.1: reading media files with every stream's facts and timestamps.

/// A timestamp that is not known (FFmpeg's AV_NOPTS_VALUE).
constexpr int64_t MEDIA_NO_TIMESTAMP = INT64_MIN;

/// What a stream of a media file carries.
enum MediaStreamKind : int32_t {
  MEDIA_STREAM_OTHER = 0,     ///< Anything else (data, attachments).
  MEDIA_STREAM_VIDEO = 1,     ///< Pictures (cover art too: see MEDIA_DISPOSITION_ATTACHED_PIC).
  MEDIA_STREAM_AUDIO = 2,     ///< Sound.
  MEDIA_STREAM_SUBTITLE = 3,  ///< Subtitles.
};

/// Bits of MediaStreamInfo::nDisposition.
constexpr int32_t MEDIA_DISPOSITION_DEFAULT = 1;       ///< The stream to play by default.
constexpr int32_t MEDIA_DISPOSITION_ATTACHED_PIC = 2;  ///< Cover art: one picture, not a video.

/// Bits of MediaPacket::nFlags.
constexpr int32_t MEDIA_PACKET_KEY = 1;      ///< A key frame: decoding may start here.
constexpr int32_t MEDIA_PACKET_CORRUPT = 2;  ///< The container marked the packet as damaged.

/// The form in which IMediaReader::ReadPacket hands packets out.
enum MediaPacketForm : int32_t {
  /// What the library's decoders take: H.264 and HEVC as Annex B with the parameter sets in
  /// band at every key frame, AAC with an ADTS header that carries the stream's real
  /// configuration (any channel count it allows), every other codec as stored.
  MEDIA_PACKET_FORM_DECODER = 0,
  /// Exactly as stored in the file, for copying into another file together with the stream's
  /// extradata (MediaStreamInfo::pExtradata).
  MEDIA_PACKET_FORM_STORED = 1,
};

/// The facts of an open media file, from IMediaReader::GetFileInfo.
struct MediaFileInfo {
  int64_t nStartTimeUs;   ///< First timestamp of the file in microseconds, or MEDIA_NO_TIMESTAMP.
  int64_t nDurationUs;    ///< Duration in microseconds, or MEDIA_NO_TIMESTAMP when not known.
  int64_t nBitRate;       ///< Bits per second over the whole file; 0 when not known.
  int32_t nStreamCount;   ///< Streams 0 to nStreamCount - 1.
  int32_t nReserved;      ///< 0.
  char szFormatName[64];  ///< FFmpeg's name of the demuxer ("mov,mp4,m4a,3gp,3g2,mj2"), NUL-ended.
};

/// What a host needs to decode and present one stream, from IMediaReader::GetStreamInfo. Text
/// fields are NUL-terminated (cut to fit); numbers the stream does not have are 0. Colour fields
/// hold the ITU-T H.273 code points FFmpeg uses (matrix 1 BT.709, 5 and 6 BT.601, 9 BT.2020;
/// 2 unspecified); the range is 0 unspecified, 1 limited (video) range, 2 full range.
struct MediaStreamInfo {
  int32_t nIndex;               ///< The stream's index, as MediaPacket::nStreamIndex gives it.
  MediaStreamKind eKind;        ///< What it carries.
  int32_t nDisposition;         ///< MEDIA_DISPOSITION_* bits.
  /// The library's software decoder for it (AV_CODEC_TYPE_H264DEC, ..._HEVCDEC, ..._MJPEGDEC,
  /// ..._AACDEC, ..._OPUSDEC, ..._SPEEXDEC, ..._G711ADEC, ..._G711UDEC), or -1 when the library
  /// has none: szCodecName then names the codec for the message.
  CodecType eDecoderType;
  char szCodecName[32];         ///< FFmpeg's name of the codec ("h264", "aac", "pcm_mulaw").
  int64_t nStartTimeUs;         ///< First timestamp in microseconds, or MEDIA_NO_TIMESTAMP.
  int64_t nDurationUs;          ///< Duration in microseconds, or MEDIA_NO_TIMESTAMP.
  int64_t nBitRate;             ///< Bits per second; 0 when not known.
  int32_t nTimeBaseNum;         ///< Unit of MediaPacket::nPts, nDts and nDuration: a fraction of
  int32_t nTimeBaseDen;         ///< a second, nTimeBaseNum / nTimeBaseDen.
  char szLanguage[8];           ///< ISO 639-2 language ("eng"), empty when not tagged.
  int32_t nWidth;               ///< Video: coded picture width.
  int32_t nHeight;              ///< Video: coded picture height.
  int32_t nSarNum;              ///< Video: sample (pixel) aspect ratio, 0/1 when not known.
  int32_t nSarDen;              ///< Video: see nSarNum.
  int32_t nFrameRateNum;        ///< Video: frame rate nFrameRateNum / nFrameRateDen per second
  int32_t nFrameRateDen;        ///< (60000/1001 for 59.94); 0/1 when not known.
  /// Video: clockwise rotation in degrees (0, 90, 180 or 270) that turns the decoded picture
  /// upright, from the file's display matrix.
  int32_t nRotation;
  int32_t nBitDepth;            ///< Video: bits per sample of the luma (8, 10, 12).
  char szPixelFormat[32];       ///< Video: FFmpeg's name of the decoded layout ("yuv420p10le").
  int32_t nColorMatrix;         ///< Video: matrix coefficients (H.273).
  int32_t nColorRange;          ///< Video: 0 unspecified, 1 limited, 2 full.
  int32_t nColorPrimaries;      ///< Video: colour primaries (H.273).
  int32_t nColorTransfer;       ///< Video: transfer characteristics (H.273).
  int32_t nSampleRate;          ///< Audio: samples per second.
  int32_t nChannels;            ///< Audio: channel count.
  char szSampleFormat[16];      ///< Audio: FFmpeg's name of the decoded sample format ("fltp").
  int32_t nFrameSamples;        ///< Audio: samples per channel in each packet when fixed, else 0.
  int32_t nInitialPadding;      ///< Audio: samples of encoder delay at the start to drop.
  int32_t nExtradataSize;       ///< Bytes at pExtradata.
  int32_t nReserved;            ///< 0.
  /// The codec's stored set-up (avcC, hvcC, AudioSpecificConfig, OpusHead), owned by the reader
  /// and valid until Close or destruction; null when the stream has none.
  const unsigned char* pExtradata;
};

/// One packet from IMediaReader::ReadPacket. The bytes belong to the reader and stay valid until
/// the next ReadPacket, Seek, Close or destruction.
struct MediaPacket {
  int64_t nPtsUs;        ///< Presentation time in microseconds, or MEDIA_NO_TIMESTAMP.
  int64_t nDtsUs;        ///< Decoding time in microseconds, or MEDIA_NO_TIMESTAMP.
  int64_t nDurationUs;   ///< Duration in microseconds; 0 when not known.
  int64_t nPts;          ///< nPtsUs in the stream's time base, as stored (for copying).
  int64_t nDts;          ///< nDtsUs in the stream's time base, as stored.
  int64_t nDuration;     ///< nDurationUs in the stream's time base.
  int32_t nStreamIndex;  ///< The stream it belongs to.
  int32_t nSize;         ///< Bytes at pData.
  int32_t nFlags;        ///< MEDIA_PACKET_* bits.
  int32_t nReserved;     ///< 0.
  const unsigned char* pData;  ///< The packet's bytes.
};

/// Reads a media file (any container FFmpeg's demuxers open: video only, audio only, several
/// tracks; the path is UTF-8): lists every stream with its facts, hands out every packet in file
/// order with its stream and timestamps, and seeks. Closed after Create; no locks: one thread
/// at a time.
class CODEC_API IMediaReader {
 public:
  /// Touches nothing but the interface's own table pointer.
  IMediaReader();
  /// Touches nothing but the interface's own table pointer.
  IMediaReader(const IMediaReader& other);
  /// Returns this object unchanged.
  IMediaReader& operator=(const IMediaReader& other);

  /// Opens the file and reads its stream information.
  /// @return 0 on success; -1 for a null path or an object already open (the open file stays),
  ///         or, after one log line naming the cause (missing, a folder, unreadable, empty, not a
  ///         media file, no index), when it cannot be opened. A failed Open leaves it closed.
  virtual int Open(const char* pPath) = 0;
  /// Closes the open file; does nothing on a closed object. Open may follow.
  virtual void Close() = 0;
  /// Fills @p pInfo with the file's facts. @return 0; -1 when nothing is open or @p pInfo is null.
  virtual int GetFileInfo(MediaFileInfo* pInfo) = 0;
  /// Fills @p pInfo with the facts of stream @p nIndex.
  /// @return 0; -1 when nothing is open, @p pInfo is null or the index is outside the streams.
  virtual int GetStreamInfo(int nIndex, MediaStreamInfo* pInfo) = 0;
  /// The stream of @p eKind a player would pick: the library decodes it, the default one first,
  /// cover art never taken for video.
  /// @return Its index; -1 when nothing is open or the file has none the library decodes.
  virtual int FindBestStream(MediaStreamKind eKind) = 0;
  /// Sets whether packets of stream @p nIndex are handed out (all are after Open); the
  /// container skips disabled streams' data where it can.
  /// @return 0; -1 when nothing is open or the index is outside the streams.
  virtual int SetStreamEnabled(int nIndex, bool bEnabled) = 0;
  /// Chooses the form of the packets that later reads hand out (MEDIA_PACKET_FORM_DECODER after
  /// Create). @return 0; -1 for a value not listed.
  virtual int SetPacketForm(MediaPacketForm eForm) = 0;
  /// Reads the next packet of an enabled stream, in file order.
  /// @return 1 with a packet in @p pPacket; 0 at the end of the file; -1 when nothing is open,
  ///         @p pPacket is null, or, after a log line naming the cause, the file cannot be read
  ///         on (cut short, read error).
  virtual int ReadPacket(MediaPacket* pPacket) = 0;
  /// Moves reading to the key frame at or before @p nTimeUs (microseconds from the file's
  /// start time) of the best video stream, or of the first enabled stream when there is none;
  /// every stream continues from there.
  /// @return 0; -1 when nothing is open, or, after a log line, for a time past the end of the
  ///         file or a seek the container refuses (reading then goes on where it was).
  virtual int Seek(int64_t nTimeUs) = 0;
  /// Closes an open file as Close does.
  virtual ~IMediaReader();

  /// Builds a closed reader. @return The object; only running out of memory escapes, as
  /// std::bad_alloc. Any thread.
  static std::shared_ptr<IMediaReader> Create();
};

// ---------------------------------------------------------------------------------------------
// Since 1.2: writing media files from encoded packets.

/// Bits of MediaWriterOptions::nFlags.
/// Crash-safe MP4 or MOV: the file is written in fragments (a moov without samples first, then a
/// fragment at every video key frame, or every nFragmentMs), each flushed to the operating
/// system as soon as it is complete, so that a process killed at any moment leaves a file that
/// plays up to its last complete fragment. A clean Close leaves the file fragmented (with its
/// fragment index), which players and browsers play as they play a plain MP4. Refused by Open
/// for any other container.
constexpr int32_t MEDIA_WRITER_CRASH_SAFE = 1;

/// How IMediaWriter::Open writes the file. All zero is a valid choice: a 10-second window and
/// no fragments.
struct MediaWriterOptions {
  /// How far (in microseconds of decoding time) a packet may lag behind the newest packet of
  /// any stream and still be interleaved; a later one is refused. 0 means 10 seconds.
  int64_t nInterleaveWindowUs;
  int32_t nFlags;       ///< MEDIA_WRITER_* bits.
  /// Crash-safe mode: a new fragment once this many milliseconds have been written; 0 means a
  /// fragment at every video key frame (and every second of sound without video).
  int32_t nFragmentMs;
};

/// A video stream for IMediaWriter::AddVideoStream.
struct MediaVideoStreamParam {
  /// FFmpeg's codec name: "h264" or "hevc" (as MediaStreamInfo::szCodecName names it).
  char szCodecName[32];
  int32_t nWidth;          ///< Coded picture width.
  int32_t nHeight;         ///< Coded picture height.
  int32_t nFrameRateNum;   ///< Frame rate nFrameRateNum / nFrameRateDen per second; 0/0 when
  int32_t nFrameRateDen;   ///< not known.
  int32_t nTimeBaseNum;    ///< The unit the file stores timestamps in, nTimeBaseNum /
  int32_t nTimeBaseDen;    ///< nTimeBaseDen seconds (0/0: 1/90000); the container may refine it.
  /// Clockwise rotation in degrees (0, 90, 180 or 270) that turns the decoded picture upright,
  /// recorded as the stream's display matrix (as MediaStreamInfo::nRotation reads it back).
  int32_t nRotation;
  int32_t nExtradataSize;  ///< Bytes at pExtradata.
  /// The stored set-up (avcC, hvcC) of length-prefixed packets, as the reader hands it out with
  /// MEDIA_PACKET_FORM_STORED; null for Annex B packets (the library's encoders, the reader's
  /// decoder form), whose parameter sets the writer takes from the stream's first packet.
  const unsigned char* pExtradata;
};

/// A sound stream for IMediaWriter::AddAudioStream.
struct MediaAudioStreamParam {
  /// FFmpeg's codec name: "aac", "opus", "pcm_alaw", "pcm_mulaw", or any other the reader names
  /// and the container holds.
  char szCodecName[32];
  int32_t nSampleRate;      ///< Samples per second.
  int32_t nChannels;        ///< Channel count.
  int32_t nFrameSamples;    ///< Samples per channel in each packet when fixed, else 0.
  /// Samples of encoder delay at the start: timestamps then count them too (the first packet
  /// starts at minus this many samples), and the container records them to be dropped (MP4 and
  /// MOV edit list, Ogg pre-skip, Matroska codec delay).
  int32_t nInitialPadding;
  int32_t nTimeBaseNum;     ///< Unit of the stored timestamps; 0/0: 1/nSampleRate.
  int32_t nTimeBaseDen;     ///< See nTimeBaseNum.
  int32_t nExtradataSize;   ///< Bytes at pExtradata.
  int32_t nReserved;        ///< 0.
  /// The stored set-up (AudioSpecificConfig, OpusHead) or null: AAC packets with ADTS headers
  /// (the library's encoder, the reader's decoder form) are stripped where the container needs
  /// raw frames and the set-up is built from the first header; Opus gets a standard OpusHead.
  const unsigned char* pExtradata;
};

/// Writes a media file (MP4, MOV, Matroska, MPEG-TS, Ogg, ADTS AAC, raw H.264 and HEVC; the
/// path is UTF-8) from encoded packets of several streams. Streams are added after Open; the
/// file's header is written once every stream has had its first packet (its form and
/// parameter sets come from it), once packets have waited a whole interleave window for a
/// silent stream (which is then written as set up), or at Close. Packets of different streams
/// may arrive in any order within the interleave window; the writer puts them in time order.
/// No locks: one thread at a time.
class CODEC_API IMediaWriter {
 public:
  /// Touches nothing but the interface's own table pointer.
  IMediaWriter();
  /// Touches nothing but the interface's own table pointer.
  IMediaWriter(const IMediaWriter& other);
  /// Returns this object unchanged.
  IMediaWriter& operator=(const IMediaWriter& other);

  /// Creates the file.
  /// @param pPath    The file to write.
  /// @param pFormat  FFmpeg's muxer name ("mp4", "mov", "matroska", "mpegts", "ogg", "adts",
  ///                 "h264", "hevc"), or null to choose it by the path's ending.
  /// @param options  Crash-safe mode, fragment interval and interleave window.
  /// @return 0; -1 for a null path or an object already open, or, after one log line naming the
  ///         cause, for an unknown container, crash-safe mode outside MP4 and MOV, or a file that
  ///         cannot be created (missing or unwritable folder).
  virtual int Open(const char* pPath, const char* pFormat, const MediaWriterOptions& options) = 0;
  /// Adds a video stream before the first packet.
  /// @return The stream's index (0, 1, ... in the order of adding); -1 when nothing is open,
  ///         packets were already written, or, after a log line, for a codec that is not video
  ///         or that the container cannot hold.
  virtual int AddVideoStream(const MediaVideoStreamParam& param) = 0;
  /// Adds a sound stream before the first packet.
  /// @return As AddVideoStream; also -1 after a log line without a sample rate or channels.
  virtual int AddAudioStream(const MediaAudioStreamParam& param) = 0;
  /// Adds one packet of stream @p nStream; the bytes are copied.
  /// @param nStream        The index AddVideoStream or AddAudioStream returned.
  /// @param pData          The packet's bytes: Annex B for H.264 and HEVC, AAC with or without
  ///                       its ADTS header, others as their encoders hand them out.
  /// @param nSize          Their count.
  /// @param nPtsUs, nDtsUs Presentation and decoding time in microseconds (nDtsUs may be
  ///                       MEDIA_NO_TIMESTAMP when it equals nPtsUs).
  /// @param nDurationUs    Duration in microseconds, 0 when not known.
  /// @param bKey           A key frame.
  /// @return 0; -1 when nothing is open or for a bad stream or null data, or, after one log line
  ///         naming the cause, for a decoding time not after the stream's previous one, a packet
  ///         further behind the newest than the window, a first video packet without parameter
  ///         sets, a refused header, or a write that failed (full disk, closed pipe, size limit).
  ///         After a failed write the file stays broken: Close it.
  virtual int WritePacket(int nStream, const unsigned char* pData, int nSize, int64_t nPtsUs,
                          int64_t nDtsUs, int64_t nDurationUs, bool bKey) = 0;
  /// Writes what is still queued and the trailer and closes the file; does nothing on a closed
  /// object. Open may follow.
  /// @return 0 when every byte reached the file; -1 after a log line naming the cause when the
  ///         header, a queued packet, the trailer or the final flush failed.
  virtual int Close() = 0;
  /// Finishes an open file as Close does.
  virtual ~IMediaWriter();

  /// Builds a closed writer. @return The object; only running out of memory escapes, as
  /// std::bad_alloc. Any thread.
  static std::shared_ptr<IMediaWriter> Create();
};

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
static_assert(CODEC_THREAD_FRAME == 1 && CODEC_THREAD_SLICE == 2, "thread kinds are fixed");
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

static_assert(sizeof(MediaStreamKind) == 4 && sizeof(MediaPacketForm) == 4 &&
                  MEDIA_STREAM_SUBTITLE == 3 && MEDIA_PACKET_FORM_STORED == 1,
              "media enumerations are fixed");
static_assert(offsetof(MediaFileInfo, nStreamCount) == 24 &&
                  offsetof(MediaFileInfo, szFormatName) == 32 && sizeof(MediaFileInfo) == 96,
              "MediaFileInfo layout is fixed");
static_assert(offsetof(MediaStreamInfo, szCodecName) == 16 &&
                  offsetof(MediaStreamInfo, nStartTimeUs) == 48 &&
                  offsetof(MediaStreamInfo, szLanguage) == 80 &&
                  offsetof(MediaStreamInfo, nWidth) == 88 &&
                  offsetof(MediaStreamInfo, szPixelFormat) == 120 &&
                  offsetof(MediaStreamInfo, nColorMatrix) == 152 &&
                  offsetof(MediaStreamInfo, nSampleRate) == 168 &&
                  offsetof(MediaStreamInfo, szSampleFormat) == 176 &&
                  offsetof(MediaStreamInfo, nExtradataSize) == 200 &&
                  offsetof(MediaStreamInfo, pExtradata) == 208,
              "MediaStreamInfo layout is fixed");
static_assert(offsetof(MediaPacket, nStreamIndex) == 48 && offsetof(MediaPacket, nFlags) == 56 &&
                  offsetof(MediaPacket, pData) == 64,
              "MediaPacket layout is fixed");

static_assert(MEDIA_WRITER_CRASH_SAFE == 1 && sizeof(MediaWriterOptions) == 16 &&
                  offsetof(MediaWriterOptions, nFragmentMs) == 12,
              "MediaWriterOptions layout is fixed");
static_assert(offsetof(MediaVideoStreamParam, nWidth) == 32 &&
                  offsetof(MediaVideoStreamParam, nRotation) == 56 &&
                  offsetof(MediaVideoStreamParam, pExtradata) == 64,
              "MediaVideoStreamParam layout is fixed");
static_assert(offsetof(MediaAudioStreamParam, nSampleRate) == 32 &&
                  offsetof(MediaAudioStreamParam, nInitialPadding) == 44 &&
                  offsetof(MediaAudioStreamParam, pExtradata) == 64,
              "MediaAudioStreamParam layout is fixed");

}  // namespace codec_interface

#endif  // CODEC_INTERFACE_H
