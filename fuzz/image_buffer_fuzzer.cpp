// ImageGetBufferSize and ImageCopyToBuffer as a careless host calls them: a picture of one size
// and layout, measured with another, copied into a buffer of any size from any entry index.
#include "fuzz_input.h"

using namespace codec_interface;

namespace {

constexpr AVPixelFormat kPictures[] = {AV_PIX_FMT_BGRA,    AV_PIX_FMT_RGB24,   AV_PIX_FMT_RGBA,
                                       AV_PIX_FMT_YUV420P, AV_PIX_FMT_NV12,    AV_PIX_FMT_YUVJ420P,
                                       AV_PIX_FMT_YUYV422, AV_PIX_FMT_YUV444P, AV_PIX_FMT_GRAY8};
constexpr int kMostBytes = 1 << 22;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  codec_fuzz::QuietLogs();  // FFmpeg's lines about refused sizes too
  codec_fuzz::FuzzInput in(data, size);
  CVideoDecodeOutParam picture(OUTPARAM_FLAG_NOT_USE_CACHE);
  const AVPixelFormat format = in.Pick(kPictures);
  const int width = in.Word() % 600;
  codec_fuzz::PutFrame(picture, codec_fuzz::MakeFrame(format, width, in.Word() % 600));

  PixelFormat layout = PIX_FMT_NONE;
  const auto measured = static_cast<PixelFormat>(in.Int());
  const int measuredWidth = in.Int();
  const int wanted = ICodecInterface::ImageGetBufferSize(measured, layout, measuredWidth, in.Int());
  const int given = (in.Byte() & 1) != 0 ? wanted : in.Int();
  std::vector<uint8_t> buffer(given > 0 && given <= kMostBytes ? given : 0);
  const int index = static_cast<int8_t>(in.Byte());
  const int count = picture.m_nNum;
  picture.m_nNum = (in.Byte() & 1) != 0 ? count : in.Int();
  ICodecInterface::ImageCopyToBuffer(buffer.empty() ? nullptr : buffer.data(),
                                     static_cast<int>(buffer.size()), picture, index);
  picture.m_nNum = count;
  return 0;
}
