#include "video_codec.h"

#include <cstring>

#include "failure.h"
#include "library_log.h"

namespace codec_tool {
using namespace codec_interface;

CodecType SoftwareDecoder(VideoKind kind) {
  return kind == VideoKind::kH264 ? AV_CODEC_TYPE_H264DEC : AV_CODEC_TYPE_HEVCDEC;
}

VideoDecoder::VideoDecoder(const DecodeSettings& settings)
    : m_pCodec(ICodecInterface::Create(settings.type)) {
  CodecParam param{};
  VideoCodecParam& video = param.stVideo;
  video.ePixelFormat = settings.format;
  video.nDstWidth = settings.width;
  video.nDstHeight = settings.height;
  video.bKeepAspectRatio = settings.keepAspect;
  if (settings.filter.size() >= sizeof video.szFilterDesc) {
    throw Failure("the filter description is longer than " +
                      std::to_string(sizeof video.szFilterDesc - 1) + " characters",
                  kExitUsage);
  }
  std::strncpy(video.szFilterDesc, settings.filter.c_str(), sizeof video.szFilterDesc - 1);
  if (m_pCodec->Init(settings.type, param) != 0) throw Failure("the video decoder did not open");
}

VideoDecoder::~VideoDecoder() { m_out.Clear(); }

bool VideoDecoder::Decode(Bytes& unit, Picture& picture) {
  m_out.Clear();
  int result = m_pCodec->Decode(unit.data(), static_cast<int>(unit.size()), &m_out);
  if (result == -2) {
    ++m_nRejected;
    return false;
  }
  if (result < 0) throw Failure("a picture could not be decoded");
  if (result == 0) return false;
  PixelFormat format = PIX_FMT_NONE;
  int size = ICodecInterface::ImageGetBufferSize(m_out.m_ePixelFormat, format, m_out.m_nWidth,
                                                 m_out.m_nHeight);
  if (size <= 0) throw Failure("the decoded pictures come in a pixel format not handled here");
  picture.data.resize(size);
  if (ICodecInterface::ImageCopyToBuffer(picture.data.data(), size, m_out, 0) != size) {
    throw Failure("a decoded picture could not be copied out");
  }
  picture.width = m_out.m_nWidth;
  picture.height = m_out.m_nHeight;
  picture.format = format;
  return true;
}

void CheckFilter(const std::string& filter, int width, int height) {
  auto codec = ICodecInterface::Create(AV_CODEC_TYPE_BMPENC);
  CodecParam param{};
  VideoCodecParam& video = param.stVideo;
  video.ePixelFormat = PIX_FMT_BGRA;
  video.nSrcWidth = width;
  video.nSrcHeight = height;
  video.nFrameRate = 25;
  std::strncpy(video.szFilterDesc, filter.c_str(), sizeof video.szFilterDesc - 1);
  if (codec->Init(AV_CODEC_TYPE_BMPENC, param) != 0) {
    throw Failure("the filter \"" + filter + "\" does not work on " + std::to_string(width) +
                  "x" + std::to_string(height) + " pictures");
  }
}

VideoEncoder::VideoEncoder(const EncodeSettings& settings)
    : m_pCodec(ICodecInterface::Create(settings.type)) {
  CodecParam param{};
  VideoCodecParam& video = param.stVideo;
  video.ePixelFormat = settings.format;
  video.nSrcWidth = settings.width;
  video.nSrcHeight = settings.height;
  video.nBitRate = settings.bitRate;
  video.nFrameRate = settings.frameRate;
  video.nGopSize = settings.gopSize;
  MuteForeignPrints mute;
  if (m_pCodec->Init(settings.type, param) != 0) throw Failure("the video encoder did not open");
}

VideoEncoder::~VideoEncoder() {
  m_out.Clear();
  MuteForeignPrints mute;
  m_pCodec.reset();
}

bool VideoEncoder::Encode(Picture& picture, Bytes& packet) {
  m_out.Clear();
  int result = m_pCodec->Encode(picture.data.data(), static_cast<int>(picture.data.size()),
                                &m_out);
  if (result < 0) throw Failure("a picture could not be encoded");
  packet.clear();
  for (int i = 0; i < result; ++i) {
    const VideoEncOutData& data = m_out.m_outData[i];
    packet.insert(packet.end(), data.pData, data.pData + data.nSize);
  }
  return result > 0;
}

}  // namespace codec_tool
