#include "video_codec.h"

#include <cstring>

#include "failure.h"
#include "library_log.h"

namespace codec_tool {
using namespace codec_interface;

VideoDecoder::VideoDecoder(const DecodeSettings& settings)
    : m_pCodec(ICodecInterface::Create(settings.type.value_or(AV_CODEC_TYPE_H264DEC))) {
  CodecParam param{};
  VideoCodecParam& video = param.stVideo;
  video.ePixelFormat = settings.convertWhenTaken ? PIX_FMT_NONE : settings.format;
  if (settings.convertWhenTaken) m_convertTo = settings.format;
  video.nDstWidth = settings.width;
  video.nDstHeight = settings.height;
  video.bKeepAspectRatio = settings.keepAspect;
  if (settings.filter.size() >= sizeof video.szFilterDesc) {
    throw Failure("the filter description is longer than " +
                      std::to_string(sizeof video.szFilterDesc - 1) + " characters",
                  kExitUsage);
  }
  std::strncpy(video.szFilterDesc, settings.filter.c_str(), sizeof video.szFilterDesc - 1);
  if (m_pCodec->Init(settings.type.value_or(AV_CODEC_TYPE_H264DEC), param) != 0) {
    throw Failure("the video decoder did not open");
  }
}

VideoDecoder::~VideoDecoder() {
  m_out.Clear();
  m_converted.Clear();
}

bool VideoDecoder::Decode(const MediaPacket& packet, Picture& picture, bool pixels) {
  m_out.Clear();
  // The decoder only reads the bytes.
  int result = ICodecInterface::DecodeTimed(*m_pCodec, const_cast<unsigned char*>(packet.pData),
                                            packet.nSize, packet.nPtsUs, &m_out);
  if (result == -2) return false;
  return TakePicture(result, picture, pixels);
}

bool VideoDecoder::Drain(Picture& picture, bool pixels) {
  m_out.Clear();
  return TakePicture(ICodecInterface::Drain(*m_pCodec, &m_out), picture, pixels);
}

bool VideoDecoder::TakePicture(int result, Picture& picture, bool pixels) {
  if (result < 0) throw Failure("a picture could not be decoded");
  if (result == 0) return false;
  picture.timeUs = ICodecInterface::GetPictureTime(m_out, 0);
  if (!pixels) {
    picture.width = m_out.m_nWidth;
    picture.height = m_out.m_nHeight;
    return true;
  }
  CVideoDecodeOutParam& out = Converted();
  PixelFormat format = PIX_FMT_NONE;
  int size =
      ICodecInterface::ImageGetBufferSize(out.m_ePixelFormat, format, out.m_nWidth, out.m_nHeight);
  if (size <= 0) throw Failure("the decoded pictures come in a pixel format not handled here");
  picture.data.resize(size);
  if (ICodecInterface::ImageCopyToBuffer(picture.data.data(), size, out, 0) != size) {
    throw Failure("a decoded picture could not be copied out");
  }
  picture.width = out.m_nWidth;
  picture.height = out.m_nHeight;
  picture.format = format;
  return true;
}

CVideoDecodeOutParam& VideoDecoder::Converted() {
  if (!m_convertTo || m_out.m_ePixelFormat == *m_convertTo) return m_out;
  TransCoderParam param{};
  param.eSrcPixelFormat = m_out.m_ePixelFormat;
  param.nSrcWidth = param.nDstWidth = m_out.m_nWidth;
  param.nSrcHeight = param.nDstHeight = m_out.m_nHeight;
  param.eDstPixelFormat = *m_convertTo;
  // A stream that changes its size or layout gets a converter made for it.
  if (m_pConverter == nullptr || std::memcmp(&param, &m_converterParam, sizeof param) != 0) {
    m_pConverter = ITransCoder::Create();
    if (m_pConverter->Init(0, param) != 0) throw Failure("the picture converter did not start");
    m_converterParam = param;
  }
  m_converted.Clear();
  if (m_pConverter->Transcode(&m_out, 0, &m_converted) != 0) {
    throw Failure("a decoded picture could not be converted");
  }
  return m_converted;
}

PictureStream::PictureStream(MediaSource& source, DecodeSettings settings)
    : m_source(source),
      m_stream(source.Choose(MEDIA_STREAM_VIDEO)),
      m_settings(std::move(settings)) {
  if (!m_settings.type) m_settings.type = m_stream.eDecoderType;
  m_decoder.emplace(m_settings);
}

bool PictureStream::Next(Picture& picture, bool pixels) {
  MediaPacket packet{};
  while (!m_bEnded && m_source.Next(packet)) {
    if (packet.nSize > 0 && m_decoder->Decode(packet, picture, pixels)) return true;
  }
  m_bEnded = true;
  return m_decoder->Drain(picture, pixels);
}

bool PictureStream::Seek(int64_t timeUs) {
  if (!m_source.Seek(timeUs)) return false;
  NewDecoder();
  return true;
}

void PictureStream::Restart() {
  m_source.Rewind();
  NewDecoder();
}

void PictureStream::NewDecoder() {
  // A new decoder is cheaper than draining pictures that are not wanted.
  m_decoder.reset();
  m_decoder.emplace(m_settings);
  m_bEnded = false;
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
  if (settings.rateNum > 0 && settings.rateDen > 0) {
    ICodecInterface::SetEncoderFrameRate(*m_pCodec, settings.rateNum, settings.rateDen);
  }
  const Colour& colour = settings.colour;
  if (ICodecInterface::SetEncoderColour(*m_pCodec, colour.matrix, colour.range, colour.primaries,
                                        colour.transfer) != 0) {
    throw Failure("the video encoder refused the pictures' colours");
  }
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
  return TakePacket(m_pCodec->Encode(picture.data.data(), static_cast<int>(picture.data.size()),
                                     &m_out),
                    packet);
}

bool VideoEncoder::Drain(Bytes& packet) {
  m_out.Clear();
  MuteForeignPrints mute;  // the drained encoder opens again, and x265 says so
  return TakePacket(ICodecInterface::Drain(*m_pCodec, &m_out), packet);
}

bool VideoEncoder::TakePacket(int result, Bytes& packet) {
  if (result < 0) throw Failure("a picture could not be encoded");
  packet.clear();
  for (int i = 0; i < result; ++i) {
    const VideoEncOutData& data = m_out.m_outData[i];
    packet.insert(packet.end(), data.pData, data.pData + data.nSize);
  }
  return result > 0;
}

}  // namespace codec_tool
