// Reading the compressed streams of a file the way a host does: through the library's file
// parser, or, for a raw H.264/HEVC elementary stream (which the parser does not open: it
// requires a sound stream), by splitting the stream into pictures here.
#pragma once

#include <deque>
#include <memory>
#include <string>

#include "annexb.h"
#include "codec_interface.h"

namespace codec_tool {

// Fails with one line when the file is missing or unreadable.
void CheckReadable(const std::string& path);

class VideoInput {
 public:
  explicit VideoInput(const std::string& path);  // throws Failure
  VideoKind Kind() const { return m_eKind; }
  bool FromParser() const { return m_pParser != nullptr; }
  // The next access unit in Annex B; false at the end.
  bool Next(Bytes& unit);

 private:
  std::string m_strPath;
  std::shared_ptr<codec_interface::IFileParseInterface> m_pParser;
  VideoKind m_eKind = VideoKind::kH264;
  Bytes m_parameterSets;  // put in front of the first unit when it lacks them
  bool m_bFirst = true;
  std::deque<Bytes> m_units;  // raw elementary stream
};

struct AudioFormat {
  codec_interface::FileAudioCodec codec = codec_interface::FILE_AUDIO_CODEC_NONE;
  int sampleRate = 0;
  int channels = 0;
};

const char* AudioCodecName(codec_interface::FileAudioCodec codec);

class AudioInput {
 public:
  explicit AudioInput(const std::string& path);  // throws Failure
  const AudioFormat& Format() const { return m_format; }
  // The next packet and its duration; false at the end.
  bool Next(Bytes& packet, int& durationMs);
  // Samples per channel that the packet decodes to, when the codec says (0: unknown).
  int PacketSamples(const Bytes& packet) const;

 private:
  struct Packet {
    Bytes data;
    int durationMs;
  };
  bool Read(Packet& packet);
  void LearnFormat();

  std::shared_ptr<codec_interface::IFileParseInterface> m_pParser;
  AudioFormat m_format;
  std::deque<Packet> m_read;  // read while learning the format, handed out first
};

}  // namespace codec_tool
