// Video Decode of one codec type (CODEC_FUZZ_TYPE) driven as a host drives it: the output layout,
// size and filter from the first bytes, then packets, with size and filter changes in between.
// Every picture handed out is read whole, and its record must describe the frame it points into.
#include <cstdlib>
#include <cstring>

#include "fuzz_input.h"

using namespace codec_interface;

namespace {

// Filters that keep, shrink, grow, turn or re-format the picture, and one FFmpeg refuses.
constexpr const char* kFilters[] = {"",      "scale=40:30", "pad=iw+8:ih+6",  "transpose=1",
                                    "hflip", "format=gray", "crop=iw/2:ih/2", "no_such_filter"};
constexpr PixelFormat kLayouts[] = {PIX_FMT_NONE,  PIX_FMT_BGRA,    PIX_FMT_YUV420P, PIX_FMT_NV12,
                                    PIX_FMT_RGB24, PIX_FMT_YUYV422, PIX_FMT_D3D11VA};
// Control bytes from here on change the output; those below start a packet.
constexpr uint8_t kChangeOutput = 0xf0;

template <class Record>
void TakeOutput(codec_fuzz::FuzzInput& in, Record& record) {
  record.nDstWidth = in.Byte();
  record.nDstHeight = in.Byte();
  std::strcpy(record.szFilterDesc, in.Pick(kFilters));
}

void ReadPictures(CVideoDecodeOutParam& out) {
  for (int k = 0; k < out.m_nNum; ++k) {
    const AVFrame* frame = out.m_pFrame[k];
    if (frame->width != out.m_nWidth || frame->height != out.m_nHeight ||
        frame->data[0] != out.m_outData[k].pData[0]) {
      std::abort();
    }
    codec_fuzz::CopyPicture(out, k);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  codec_fuzz::QuietLogs();
  codec_fuzz::FuzzInput in(data, size);
  CodecParam param{};
  param.stVideo.ePixelFormat = in.Pick(kLayouts);
  param.stVideo.bKeepAspectRatio = in.Byte() & 1;
  TakeOutput(in, param.stVideo);
  const auto codec = ICodecInterface::Create(CODEC_FUZZ_TYPE);
  if (codec->Init(CODEC_FUZZ_TYPE, param) != 0) return 0;

  CVideoDecodeOutParam out;
  while (!in.Empty()) {
    if (in.Byte() >= kChangeOutput) {
      VideoEasyParam easy{};
      TakeOutput(in, easy);
      codec->SetEasyParam(easy);
      continue;
    }
    std::vector<uint8_t> packet = in.Chunk();
    if (codec->Decode(packet.data(), static_cast<int>(packet.size()), &out) > 0) {
      ReadPictures(out);
    }
    out.Clear();
  }
  return 0;
}
