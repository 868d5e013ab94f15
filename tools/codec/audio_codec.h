// The library's sound decoders, encoders and file packer as this program uses them: sound as
// interleaved 16-bit samples, packets straight into a file.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "codec_interface.h"
#include "media_source.h"
#include "output_file.h"

namespace codec_tool {

// Interleaved 16-bit sound.
struct Pcm {
  std::vector<int16_t> samples;
  int sampleRate = 0;
  int channels = 0;
  double Seconds() const {
    return channels > 0 && sampleRate > 0 ? double(samples.size()) / channels / sampleRate : 0;
  }
};

// Decodes to the stream's own rate and channel count.
class AudioDecoder {
 public:
  explicit AudioDecoder(const codec_interface::MediaStreamInfo& stream);  // throws Failure
  ~AudioDecoder();
  // Appends one packet's sound. A packet the decoder rejects is skipped.
  void Decode(const codec_interface::MediaPacket& packet, Pcm& pcm);
  // Appends what the decoder still holds at the end of the stream.
  void Drain(Pcm& pcm);

 private:
  void Append(int result, Pcm& pcm);

  std::shared_ptr<codec_interface::ICodecInterface> m_pCodec;
  codec_interface::CAudioDecodeOutParam m_out;
  int m_nChannels;
};

// A stream's sound at its own rate and channel count, packet by packet, without the encoder
// delay the stream declares at its start.
class SoundDecoder {
 public:
  explicit SoundDecoder(const codec_interface::MediaStreamInfo& stream);  // throws Failure
  // The sound of one packet, or with null what the decoder still holds, in place of pcm's.
  void Decode(const codec_interface::MediaPacket* packet, Pcm& pcm);
  // When the first sound handed out is heard, in the stream's microseconds;
  // MEDIA_NO_TIMESTAMP until a packet with a time came.
  int64_t StartUs() const { return m_nStartUs; }

 private:
  void SkipBeforeStart(const codec_interface::MediaPacket& packet);

  codec_interface::MediaStreamInfo m_stream;
  AudioDecoder m_decoder;
  size_t m_nSkip;  // samples per channel still to drop
  int64_t m_nStartUs = codec_interface::MEDIA_NO_TIMESTAMP;
};

// The sound of a file's audio stream, a piece at a time.
class SoundStream {
 public:
  explicit SoundStream(MediaSource& source);  // chooses the source's sound stream
  const codec_interface::MediaStreamInfo& Stream() const { return m_stream; }
  // The next piece, in place of what `pcm` held; false at the end.
  bool Next(Pcm& pcm);

 private:
  MediaSource& m_source;
  codec_interface::MediaStreamInfo m_stream;
  SoundDecoder m_decoder;
  bool m_bEnded = false;
};

// Reads and decodes a whole sound stream.
Pcm DecodeAudioFile(const std::string& path);

enum class SoundCodec { kAac, kOpus };

struct AudioEncodeSettings {
  SoundCodec codec = SoundCodec::kAac;
  int srcRate = 48000;  // of the samples given
  int srcChannels = 2;
  int dstRate = 48000;  // encoded; the encoder resamples
  int dstChannels = 2;
  int bitRate = 128000;
  // For the file packer, which stamps every packet a whole frame and tells players to skip
  // 3840 samples (at 48000 Hz): Opus gets silence in front and behind to match. The media
  // writer records the encoder's real delay and the last packet's length instead.
  bool packerTiming = false;
};

// Samples per channel the library's encoder puts in front of the sound: FFmpeg's AAC encoder
// 1024 at its rate, libopus 312 at Opus's 48000 Hz clock.
int EncoderDelay(SoundCodec codec);
// Samples per channel in each packet, at the rate of the packets' timestamps (Opus: 48000 Hz).
int PacketSamples(SoundCodec codec);
// The rate the packets' timestamps count at.
int ClockRate(SoundCodec codec, int dstRate);

class AudioEncoder {
 public:
  using Sink = std::function<void(const codec_interface::AudioEncOutData&)>;
  explicit AudioEncoder(const AudioEncodeSettings& settings);  // throws Failure
  ~AudioEncoder();
  // Encodes `count` samples per channel; every packet that comes out goes to the sink.
  void Encode(const int16_t* samples, int count, const Sink& sink);
  // Encodes what the encoder still holds, the last frame padded with silence, into the sink.
  void Drain(const Sink& sink);

 private:
  void Hand(int result, const Sink& sink);

  std::shared_ptr<codec_interface::ICodecInterface> m_pCodec;
  codec_interface::CAudioEncodeOutParam m_out;
  int m_nChannels;
  int m_nRate;
  bool m_bOpus;
  bool m_bPackerTiming;
  int m_nLead;  // samples per channel of silence still to put in front
};

// An encoded sound file: the container follows the name's ending (.ogg/.opus Ogg Opus,
// .m4a/.mp4 MP4, .aac ADTS). Empty when the ending names none or does not fit the codec.
std::optional<codec_interface::AudioFilePackType> PackTypeFor(const std::string& path,
                                                            SoundCodec codec);

class AudioFileWriter {
 public:
  AudioFileWriter(const std::string& path, codec_interface::AudioFilePackType type,
                  const AudioEncodeSettings& settings);  // throws Failure
  ~AudioFileWriter();
  void Write(const codec_interface::AudioEncOutData& packet);
  void Finish();  // writes the trailer and gives the file its name; fails when incomplete
  long Packets() const { return m_nPackets; }

 private:
  OutputFile m_file;
  codec_interface::AudioFilePackType m_eType;
  std::shared_ptr<codec_interface::IPackAudio> m_pPacker;
  bool m_bOpen = false;
  long m_nPackets = 0;
  Bytes m_frame;
};

}  // namespace codec_tool
