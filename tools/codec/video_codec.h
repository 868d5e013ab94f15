// The library's video decoders and encoders as this program uses them: whole pictures in and
// out as packed buffers (planes one after another, rows without gaps).
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "codec_interface.h"
#include "media_source.h"

namespace codec_tool {

struct Picture {
  Bytes data;  // packed
  int width = 0;
  int height = 0;
  codec_interface::PixelFormat format = codec_interface::PIX_FMT_NONE;
  int64_t timeUs = codec_interface::MEDIA_NO_TIMESTAMP;  // when it is shown
};

struct DecodeSettings {
  codec_interface::PixelFormat format = codec_interface::PIX_FMT_YUV420P;
  int width = 0;  // 0 x 0: the stream's size
  int height = 0;
  bool keepAspect = false;
  std::string filter;  // FFmpeg filter description, applied after scaling
  // The decoder; none: the stream's own software decoder.
  std::optional<codec_interface::CodecType> type;
  // Pictures leave the decoder as they are and only those whose pixels are taken are
  // converted to `format`: for pictures at their own size and unfiltered, of a stream whose
  // layout the library names.
  bool convertWhenTaken = false;
};

class VideoDecoder {
 public:
  explicit VideoDecoder(const DecodeSettings& settings);  // throws Failure
  ~VideoDecoder();
  // Decodes one packet; true when a picture came out, with the time of the packet it came
  // from. A packet the decoder rejects (damaged, or before the first key frame) is skipped.
  // Without `pixels` only the picture's size and time are filled in: a picture nobody looks
  // at is not copied.
  bool Decode(const codec_interface::MediaPacket& packet, Picture& picture, bool pixels = true);
  // The pictures still held back for reordering, one a call; false when none is left.
  bool Drain(Picture& picture, bool pixels = true);
  // The latest picture as the library holds it, for the raw transcoder.
  codec_interface::CVideoDecodeOutParam& Latest() { return m_out; }

 private:
  bool TakePicture(int result, Picture& picture, bool pixels);
  // The latest picture in the format asked for: itself, or converted into m_converted.
  codec_interface::CVideoDecodeOutParam& Converted();

  std::shared_ptr<codec_interface::ICodecInterface> m_pCodec;
  codec_interface::CVideoDecodeOutParam m_out;
  std::optional<codec_interface::PixelFormat> m_convertTo;  // with convertWhenTaken
  std::shared_ptr<codec_interface::ITransCoder> m_pConverter;
  codec_interface::TransCoderParam m_converterParam{};
  codec_interface::CVideoDecodeOutParam m_converted{codec_interface::OUTPARAM_FLAG_NOT_USE_CACHE};
};

// The pictures of a file's video stream, decoded in presentation order; the decoder follows
// each seek.
class PictureStream {
 public:
  // Chooses the source's video stream.
  PictureStream(MediaSource& source, DecodeSettings settings);
  const codec_interface::MediaStreamInfo& Stream() const { return m_stream; }
  // The next picture, its pixels only when asked for; false at the end of the stream.
  bool Next(Picture& picture, bool pixels = true);
  // Continues from the key frame at or before `timeUs`; false when the container refuses.
  bool Seek(int64_t timeUs);
  // Continues from the first picture.
  void Restart();
  VideoDecoder& Decoder() { return *m_decoder; }

 private:
  void NewDecoder();

  MediaSource& m_source;
  codec_interface::MediaStreamInfo m_stream;
  DecodeSettings m_settings;
  std::optional<VideoDecoder> m_decoder;
  bool m_bEnded = false;
};

// How pictures are coloured, in H.273's codes as the reader reports them; all unspecified
// for untagged pictures.
struct Colour {
  int matrix = 2;
  int range = 0;
  int primaries = 2;
  int transfer = 2;
};

struct EncodeSettings {
  codec_interface::CodecType type = codec_interface::AV_CODEC_TYPE_H264ENC;
  codec_interface::PixelFormat format = codec_interface::PIX_FMT_YUV420P;  // of the pictures given
  int width = 0;
  int height = 0;
  int bitRate = 4000000;
  int frameRate = 25;  // whole pictures a second, for the rate control
  int gopSize = 50;
  int rateNum = 0;  // the exact rate, 60000/1001 for 59.94; 0: frameRate
  int rateDen = 0;
  Colour colour{};  // declared in the stream
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
  // The packets the encoder still holds, one a call; false when none is left.
  bool Drain(Bytes& packet);

 private:
  bool TakePacket(int result, Bytes& packet);

  std::shared_ptr<codec_interface::ICodecInterface> m_pCodec;
  codec_interface::CVideoEncodeOutParam m_out;
};

}  // namespace codec_tool
