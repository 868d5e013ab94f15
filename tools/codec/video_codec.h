// The library's video decoders and encoders as this program uses them: whole pictures in and
// out as packed buffers (planes one after another, rows without gaps).
#pragma once

#include <memory>
#include <string>

#include "annexb.h"
#include "codec_interface.h"

namespace codec_tool {

struct Picture {
  Bytes data;  // packed
  int width = 0;
  int height = 0;
  codec_interface::PixelFormat format = codec_interface::PIX_FMT_NONE;
};

struct DecodeSettings {
  codec_interface::PixelFormat format = codec_interface::PIX_FMT_YUV420P;
  int width = 0;  // 0 x 0: the stream's size
  int height = 0;
  bool keepAspect = false;
  std::string filter;  // FFmpeg filter description, applied after scaling
  codec_interface::CodecType type = codec_interface::AV_CODEC_TYPE_H264DEC;  // the decoder
};

codec_interface::CodecType SoftwareDecoder(VideoKind kind);

class VideoDecoder {
 public:
  explicit VideoDecoder(const DecodeSettings& settings);  // throws Failure
  ~VideoDecoder();
  // Decodes one access unit; true when a picture came out. A unit the decoder rejects is
  // counted in Rejected() and skipped.
  bool Decode(Bytes& unit, Picture& picture);
  // The latest picture as the library holds it, for the raw transcoder.
  codec_interface::CVideoDecodeOutParam& Latest() { return m_out; }
  int Rejected() const { return m_nRejected; }

 private:
  std::shared_ptr<codec_interface::ICodecInterface> m_pCodec;
  codec_interface::CVideoDecodeOutParam m_out;
  int m_nRejected = 0;
};

struct EncodeSettings {
  codec_interface::CodecType type = codec_interface::AV_CODEC_TYPE_H264ENC;
  codec_interface::PixelFormat format = codec_interface::PIX_FMT_YUV420P;  // of the pictures given
  int width = 0;
  int height = 0;
  int bitRate = 4000000;
  int frameRate = 25;
  int gopSize = 50;
};

// Fails with one line when the library cannot build the filter description for pictures of
// this size. A decoder would hand its pictures out unfiltered instead; an encoder refuses at
// once, so the cheapest one (BMP) is opened to ask.
void CheckFilter(const std::string& filter, int width, int height);

class VideoEncoder {
 public:
  explicit VideoEncoder(const EncodeSettings& settings);  // throws Failure
  ~VideoEncoder();
  // Encodes one picture; true when a packet came out, its bytes in `packet`.
  bool Encode(Picture& picture, Bytes& packet);

 private:
  std::shared_ptr<codec_interface::ICodecInterface> m_pCodec;
  codec_interface::CVideoEncodeOutParam m_out;
};

}  // namespace codec_tool
