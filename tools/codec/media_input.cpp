#include "media_input.h"

#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "failure.h"

namespace codec_tool {
using namespace codec_interface;

namespace {

constexpr int kAacRates[] = {96000, 88200, 64000, 48000, 44100, 32000, 24000,
                             22050, 16000, 12000, 11025, 8000,  7350};
constexpr int kAacFrameSamples = 1024;
constexpr size_t kPacketsToLearnFrom = 8;
constexpr size_t kSniffBytes = 64;  // enough for a start code and the first NAL header

bool IsAdts(const Bytes& p) { return p.size() >= 7 && p[0] == 0xFF && (p[1] & 0xF6) == 0xF0; }

// Raw AAC (as MP4 and Matroska store it) says neither rate nor channels: the rate follows from
// the packet durations (1024 samples each, and the rounded milliseconds of the rates differ),
// the channels from the first element of the first packet (a single or a channel pair).
AudioFormat RawAacFormat(const Bytes& first, double averageMs) {
  AudioFormat format{FILE_AUDIO_CODEC_AAC, kAacRates[0], 2};
  for (int rate : kAacRates) {
    double ms = 1000.0 * kAacFrameSamples / rate;
    if (std::fabs(ms - averageMs) < std::fabs(1000.0 * kAacFrameSamples / format.sampleRate -
                                              averageMs)) {
      format.sampleRate = rate;
    }
  }
  format.channels = !first.empty() && (first[0] >> 5) == 0 ? 1 : 2;
  return format;
}

// Samples per channel at 48000 Hz in an Opus packet, from its table-of-contents byte.
int OpusPacketSamples(const Bytes& p) {
  if (p.empty()) return 0;
  int config = p[0] >> 3;
  int frame = 0;
  if (config < 12) {
    static constexpr int kSilk[] = {480, 960, 1920, 2880};
    frame = kSilk[config & 3];
  } else if (config < 16) {
    frame = (config & 1) ? 960 : 480;
  } else {
    frame = 120 << (config & 3);
  }
  int code = p[0] & 3;
  int frames = code == 0 ? 1 : code < 3 ? 2 : (p.size() > 1 ? (p[1] & 0x3F) : 0);
  return frame * frames;
}

}  // namespace

void CheckReadable(const std::string& path) {
  std::error_code error;
  if (std::filesystem::is_directory(path, error)) throw Failure("cannot read " + path + ": a folder", kExitFailure, true);
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    throw Failure("cannot read " + path + ": " + std::strerror(errno), kExitFailure, true);
  }
}

VideoInput::VideoInput(const std::string& path) : m_strPath(path) {
  CheckReadable(path);
  // A raw stream is split here; the parser would refuse it for want of a sound stream.
  std::ifstream file(path, std::ios::binary);
  Bytes head(kSniffBytes);
  file.read(reinterpret_cast<char*>(head.data()), std::streamsize(head.size()));
  head.resize(size_t(file.gcount()));
  if (SniffVideoKind(head.data(), head.size(), m_eKind)) {
    Bytes stream(head);
    stream.insert(stream.end(), std::istreambuf_iterator<char>(file),
                  std::istreambuf_iterator<char>());
    for (Bytes& unit : SplitAccessUnits(stream, m_eKind)) m_units.push_back(std::move(unit));
    return;
  }
  auto parser = IFileParseInterface::Create();
  if (parser->Open(path.c_str()) != 0) {
    throw Failure(path + ": the library's file parser does not open it (it needs a sound "
                  "stream) and it is no raw H.264 or HEVC stream");
  }
  switch (parser->GetVideoCodec()) {
    case FILE_VIDEO_CODEC_H264:
      m_eKind = VideoKind::kH264;
      break;
    case FILE_VIDEO_CODEC_HEVC:
      m_eKind = VideoKind::kHevc;
      break;
    default:
      throw Failure(path + ": no H.264 or HEVC video stream", kExitFailure, true);
  }
  m_pParser = parser;
}

bool VideoInput::Next(Bytes& unit) {
  if (!m_pParser) {
    if (m_units.empty()) return false;
    unit = std::move(m_units.front());
    m_units.pop_front();
    return true;
  }
  unsigned char* data = nullptr;
  int size = 0;
  if (m_pParser->ReadVideoPacket(&data, &size) != 0) return false;
  unit = ToAnnexB(data, size);
  if (m_bFirst && !HasSequenceParameterSet(unit, m_eKind)) {
    Bytes sets = ParameterSetsFromFile(m_strPath, m_eKind);
    unit.insert(unit.begin(), sets.begin(), sets.end());
  }
  m_bFirst = false;
  return true;
}

const char* AudioCodecName(FileAudioCodec codec) {
  switch (codec) {
    case FILE_AUDIO_CODEC_AAC: return "AAC";
    case FILE_AUDIO_CODEC_G711A: return "G.711 A-law";
    case FILE_AUDIO_CODEC_G711U: return "G.711 mu-law";
    case FILE_AUDIO_CODEC_OPUS: return "Opus";
    case FILE_AUDIO_CODEC_SPEEX: return "Speex";
    default: return "other";
  }
}

AudioInput::AudioInput(const std::string& path) {
  CheckReadable(path);
  m_pParser = IFileParseInterface::Create();
  if (m_pParser->Open(path.c_str()) != 0) {
    throw Failure(path + ": not a media file with a sound stream that the library reads");
  }
  m_format.codec = m_pParser->GetAudioCodec();
  LearnFormat();
}

bool AudioInput::Read(Packet& packet) {
  unsigned char* data = nullptr;
  int size = 0;
  if (m_pParser->ReadAudioPacket(&data, &size, &packet.durationMs) != 0) return false;
  packet.data.assign(data, data + size);
  return true;
}

void AudioInput::LearnFormat() {
  double totalMs = 0;
  for (Packet packet; m_read.size() < kPacketsToLearnFrom && Read(packet);) {
    totalMs += packet.durationMs;
    m_read.push_back(std::move(packet));
  }
  if (m_read.empty()) throw Failure("the sound stream holds no packets");
  const Bytes& first = m_read.front().data;
  switch (m_format.codec) {
    case FILE_AUDIO_CODEC_AAC:
      if (IsAdts(first)) {
        m_format.sampleRate = kAacRates[std::min(12, (first[2] >> 2) & 0xF)];
        m_format.channels = ((first[2] & 1) << 2) | (first[3] >> 6);
      } else {
        m_format = RawAacFormat(first, totalMs / m_read.size());
      }
      break;
    case FILE_AUDIO_CODEC_OPUS:
      m_format.sampleRate = 48000;
      m_format.channels = (first[0] & 0x04) ? 2 : 1;
      break;
    case FILE_AUDIO_CODEC_G711A:
    case FILE_AUDIO_CODEC_G711U:
      m_format.sampleRate = 8000;
      m_format.channels = 1;
      break;
    default:
      throw Failure(std::string("the sound stream's codec (") + AudioCodecName(m_format.codec) +
                        ") is not one this program decodes: AAC, Opus, G.711",
                    kExitFailure, true);
  }
  if (m_format.channels < 1) throw Failure("the sound stream's channel count is not known");
}

bool AudioInput::Next(Bytes& packet, int& durationMs) {
  Packet next;
  if (!m_read.empty()) {
    next = std::move(m_read.front());
    m_read.pop_front();
  } else if (!Read(next)) {
    return false;
  }
  packet = std::move(next.data);
  durationMs = next.durationMs;
  return true;
}

int AudioInput::PacketSamples(const Bytes& packet) const {
  switch (m_format.codec) {
    case FILE_AUDIO_CODEC_AAC:
      return IsAdts(packet) ? ((packet[6] & 3) + 1) * kAacFrameSamples : kAacFrameSamples;
    case FILE_AUDIO_CODEC_OPUS:
      return OpusPacketSamples(packet);
    default:
      return static_cast<int>(packet.size()) / m_format.channels;
  }
}

}  // namespace codec_tool
