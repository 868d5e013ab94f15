// Audio Decode of one codec type (CODEC_FUZZ_TYPE) with resampling: the stream's assumed rate and
// channel count and the wanted rate, channels and format from the first bytes, then packets (an
// empty one drains). Every sample handed out is read.
#include "fuzz_input.h"

using namespace codec_interface;

namespace {

constexpr int kRates[] = {8000, 16000, 22050, 44100, 48000, 96000, 11025, 32000};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  codec_fuzz::QuietLogs();
  codec_fuzz::FuzzInput in(data, size);
  CodecParam param{};
  AudioCodecParam& audio = param.stAudio;
  audio.nSrcSampleRate = in.Pick(kRates);
  audio.nDstSampleRate = in.Pick(kRates);
  audio.nSrcChannels = in.Byte() % 4;
  audio.nDstChannels = in.Byte() % 9;
  audio.eSrcSampleFormat = SAMPLE_FMT_NONE;
  audio.eDstSampleFormat = static_cast<SampleFormat>(in.Byte() % 6 - 1);
  const auto codec = ICodecInterface::Create(CODEC_FUZZ_TYPE);
  if (codec->Init(CODEC_FUZZ_TYPE, param) != 0) return 0;

  CAudioDecodeOutParam out;
  while (!in.Empty()) {
    std::vector<uint8_t> packet = in.Chunk();
    const int results = codec->Decode(packet.empty() ? nullptr : packet.data(),
                                      static_cast<int>(packet.size()), &out);
    for (int k = 0; k < results; ++k) {
      codec_fuzz::ReadAll(out.m_outData[k].pData, out.m_outData[k].nSize);
    }
    out.Clear();
  }
  return 0;
}
