// How one stream of the input becomes one stream of the output file: copied as stored, or
// decoded and encoded again through the library's codecs. Each is handed its input stream's
// packets in order and writes its own stream of the sink, times moved by the input's origin.
#pragma once

#include <deque>
#include <optional>
#include <string>

#include "audio_codec.h"
#include "media_sink.h"
#include "video_codec.h"

namespace codec_tool {

// Where a track writes: its stream of the sink, and the input time that becomes 0.
struct TrackPlace {
  MediaSink* sink;
  int slot;
  int64_t originUs;
};

class Track {
 public:
  virtual ~Track() = default;
  virtual void Take(const codec_interface::MediaPacket& packet) = 0;
  // Hands out what the codecs still hold at the end of the input.
  virtual void Finish() {}
  // What it wrote, for the summary line ("video H.264, 25 pictures of 320x240").
  virtual std::string Summary() const = 0;
};

// The packets as stored (MEDIA_PACKET_FORM_STORED), with the stream's set-up.
class CopyTrack : public Track {
 public:
  CopyTrack(const codec_interface::MediaStreamInfo& stream, TrackPlace place);
  void Take(const codec_interface::MediaPacket& packet) override;
  std::string Summary() const override;

 private:
  codec_interface::MediaStreamInfo m_stream;
  TrackPlace m_place;
  long m_nPackets = 0;
};

// What the encoded pictures are: the encoder, and the timing and turn of the stream.
struct PictureOutputSettings {
  codec_interface::CodecType encoder = codec_interface::AV_CODEC_TYPE_H264ENC;
  int bitRate = 0;  // 0: about 0.1 bit per pixel and picture
  int rateNum = 0;  // frame rate; 0/0: 25 a second
  int rateDen = 0;
  int timeBaseNum = 0;  // of the stored times; 0/0: the writer's choice
  int timeBaseDen = 0;
  int rotation = 0;
  Colour colour{};  // of the decoded pictures, declared in the stream
};

// Pictures encoded into one stream of the sink, which is declared once the first picture
// gives the size. Each packet is stamped with its picture's time.
class PictureOutput {
 public:
  PictureOutput(const PictureOutputSettings& settings, TrackPlace place);
  // `timeUs` in the input's time, MEDIA_NO_TIMESTAMP when not known.
  void Encode(Picture& picture, int64_t timeUs);
  void Drain();  // fails when no picture came
  std::string Summary() const;
  long Pictures() const { return m_nPictures; }
  int Width() const { return m_nWidth; }
  int Height() const { return m_nHeight; }

 private:
  void Start(const Picture& first);
  void Put(const Bytes& packet);

  PictureOutputSettings m_settings;
  TrackPlace m_place;
  std::optional<VideoEncoder> m_encoder;
  std::deque<int64_t> m_times;  // of the pictures given to the encoder, not yet out
  int64_t m_nFrameUs;
  int64_t m_nLastUs = codec_interface::MEDIA_NO_TIMESTAMP;
  long m_nPictures = 0;
  int m_nWidth = 0;
  int m_nHeight = 0;
  Bytes m_packet;
};

// Sound encoded into one stream of the sink; the packets are stamped from the count of
// samples since the first, with the encoder's delay recorded for players to drop, and the last
// one as long as the sound it still holds (where the container records it).
class SoundOutput {
 public:
  SoundOutput(const AudioEncodeSettings& settings, TrackPlace place);
  // `startUs`: when the first sample given is heard, in the input's time.
  void Encode(const Pcm& pcm, int64_t startUs);
  void Drain();  // fails when no packet came
  std::string Summary() const;
  long Packets() const { return m_nPackets; }
  double SoundSeconds() const { return m_dSoundSeconds; }

 private:
  void Put(const codec_interface::AudioEncOutData& out);

  AudioEncodeSettings m_settings;
  TrackPlace m_place;
  AudioEncoder m_encoder;
  AudioEncoder::Sink m_sink;
  int64_t m_nStartUs = 0;
  int64_t m_nSamples = 0;                                  // given, per channel at the source rate
  int64_t m_nEndUs = codec_interface::MEDIA_NO_TIMESTAMP;  // known once draining
  Bytes m_frame;
  long m_nPackets = 0;
  double m_dSoundSeconds = 0;
};

// Pictures decoded (sized and filtered) and encoded again, each at its packet's time.
class VideoTrack : public Track {
 public:
  VideoTrack(const codec_interface::MediaStreamInfo& stream, const DecodeSettings& decode,
             const PictureOutputSettings& settings, TrackPlace place);
  void Take(const codec_interface::MediaPacket& packet) override;
  void Finish() override;
  std::string Summary() const override { return m_output.Summary(); }
  const PictureOutput& Output() const { return m_output; }

 private:
  VideoDecoder m_decoder;
  PictureOutput m_output;
  Picture m_picture;
};

// Sound decoded and encoded again.
class AudioTrack : public Track {
 public:
  AudioTrack(const codec_interface::MediaStreamInfo& stream, const AudioEncodeSettings& settings,
             TrackPlace place);
  void Take(const codec_interface::MediaPacket& packet) override;
  void Finish() override;
  std::string Summary() const override { return m_output.Summary(); }
  const SoundOutput& Output() const { return m_output; }

 private:
  SoundDecoder m_decoder;
  SoundOutput m_output;
  Pcm m_pcm;
};

// Whether an Annex B packet of the library's encoders starts a picture decoding may begin at.
bool IsKeyPicture(const Bytes& packet, bool hevc);

}  // namespace codec_tool
