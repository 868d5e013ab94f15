// The transcoder with every parameter from the input, handed pictures or sound of the shape it
// was set up for or of another, into a destination of either class; every result is read whole.
#include "fuzz_input.h"

using namespace codec_interface;

namespace {

// FFmpeg's formats by the library's PixelFormat values; sample formats have FFmpeg's values.
constexpr AVPixelFormat kPictures[] = {AV_PIX_FMT_GRAY8,    AV_PIX_FMT_BGRA,    AV_PIX_FMT_RGB24,
                                       AV_PIX_FMT_RGBA,     AV_PIX_FMT_YUV420P, AV_PIX_FMT_NV12,
                                       AV_PIX_FMT_YUVJ420P, AV_PIX_FMT_YUYV422};
constexpr int kRates[] = {8000, 16000, 44100, 48000, 96000, 11025};
// Field values at the edges: negative, zero, tiny, and sizes that overflow when multiplied.
// (Huge sizes FFmpeg accepts, up to 2^28 wide, only cost libswscale seconds: the host's choice.)
constexpr int kMostCalls = 8;
constexpr int32_t kEdges[] = {-1, 0, 1, 2, 3, 7, INT32_MAX, INT32_MIN};

// A record field: mostly small, sometimes at an edge.
int32_t Field(codec_fuzz::FuzzInput& in) {
  const uint8_t kind = in.Byte();
  return kind < 0xf0 ? kind % 80 : in.Pick(kEdges);
}

AVFrame* SourceFrame(codec_fuzz::FuzzInput& in, const TransCoderParam& param, bool pictures) {
  const bool asSetUp = (in.Byte() & 3) != 0;
  if (pictures) {
    const int format = param.eSrcPixelFormat;
    if (asSetUp && format >= 0 && format < 8) {
      return codec_fuzz::MakeFrame(kPictures[format], param.nSrcWidth, param.nSrcHeight);
    }
    const AVPixelFormat other = in.Pick(kPictures);
    const int width = Field(in);
    return codec_fuzz::MakeFrame(other, width, Field(in));
  }
  const int samples = in.Word() % 4000;
  if (asSetUp) {
    return codec_fuzz::MakeFrame(param.eSrcSampleFormat, 0, 0, samples, param.nSrcSampleRate,
                                 param.nSrcChannels);
  }
  const int format = in.Byte() % 12;
  const int rate = in.Pick(kRates);
  return codec_fuzz::MakeFrame(format, 0, 0, samples, rate, in.Byte() % 9);
}

void ReadResult(CVideoDecodeOutParam& pictures, const CAudioDecodeOutParam& sound) {
  if (pictures.m_nNum == 1) codec_fuzz::CopyPicture(pictures, 0);
  if (sound.m_nNum == 1) codec_fuzz::ReadAll(sound.m_outData[0].pData, sound.m_outData[0].nSize);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  codec_fuzz::QuietLogs();
  codec_fuzz::FuzzInput in(data, size);
  const int kind = in.Byte() % 3;
  const bool pictures = kind == 0;
  TransCoderParam param{};
  param.eSrcPixelFormat = static_cast<PixelFormat>(Field(in));
  param.nSrcWidth = pictures ? Field(in) : in.Pick(kRates);
  param.nSrcHeight = Field(in);
  param.eDstPixelFormat = static_cast<PixelFormat>(Field(in));
  param.nDstWidth = pictures ? Field(in) : in.Pick(kRates);
  param.nDstHeight = Field(in);
  const auto coder = ITransCoder::Create();
  if (coder->Init(kind, param) != 0) return 0;

  CVideoDecodeOutParam videoIn(OUTPARAM_FLAG_NOT_USE_CACHE), videoOut(OUTPARAM_FLAG_NOT_USE_CACHE);
  CAudioDecodeOutParam audioIn(OUTPARAM_FLAG_NOT_USE_CACHE), audioOut(OUTPARAM_FLAG_NOT_USE_CACHE);
  COutParam& source = pictures ? static_cast<COutParam&>(videoIn) : audioIn;
  // Calls are capped: many conversions into a 16385-wide picture are slow, not wrong.
  for (int call = 0; call < kMostCalls && !in.Empty(); ++call) {
    codec_fuzz::PutFrame(source, SourceFrame(in, param, pictures));
    videoOut.Clear();
    audioOut.Clear();
    COutParam& target = (in.Byte() & 1) != 0 ? static_cast<COutParam&>(videoOut) : audioOut;
    if (coder->Transcode(&source, static_cast<int8_t>(in.Byte()) % 2, &target) == 0) {
      ReadResult(videoOut, audioOut);
    }
  }
  return 0;
}
