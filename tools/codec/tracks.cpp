#include "tracks.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "failure.h"

namespace codec_tool {
using namespace codec_interface;

namespace {

constexpr int kDefaultRate = 25;  // for streams that do not say
constexpr int kGopSeconds = 2;
constexpr int kMinBitRate = 200000;
constexpr int64_t kRoundingUs = 1000;

int64_t Shifted(int64_t timeUs, int64_t originUs) {
  return timeUs == MEDIA_NO_TIMESTAMP ? timeUs : timeUs - originUs;
}

void CopyName(char (&to)[32], const char* name) { std::snprintf(to, sizeof to, "%s", name); }

// The encoder's settings from the first picture and the stream's frame rate, kept exact.
EncodeSettings EncoderSettings(const PictureOutputSettings& output, const Picture& first) {
  EncodeSettings settings{output.encoder, PIX_FMT_YUV420P, first.width, first.height,
                          output.bitRate};
  settings.rateNum = output.rateNum;
  settings.rateDen = output.rateDen;
  settings.colour = output.colour;
  settings.frameRate = std::max(1, int(std::lround(double(output.rateNum) / output.rateDen)));
  settings.gopSize = settings.frameRate * kGopSeconds;
  if (settings.bitRate <= 0) {
    settings.bitRate = std::max(kMinBitRate, first.width * first.height * settings.frameRate / 10);
  }
  return settings;
}

const char* EncoderName(CodecType type) { return type == AV_CODEC_TYPE_HEVCENC ? "hevc" : "h264"; }

const char* Label(CodecType type) { return type == AV_CODEC_TYPE_HEVCENC ? "HEVC" : "H.264"; }

}  // namespace

bool IsKeyPicture(const Bytes& packet, bool hevc) {
  // The first slice tells: H.264 IDR (type 5), HEVC IRAP (types 16 to 21).
  for (size_t i = 0; i + 3 < packet.size(); ++i) {
    if (packet[i] != 0 || packet[i + 1] != 0 || packet[i + 2] != 1) continue;
    const uint8_t header = packet[i + 3];
    const int type = hevc ? (header >> 1) & 0x3f : header & 0x1f;
    const bool slice = hevc ? type < 32 : type >= 1 && type <= 5;
    if (slice) return hevc ? type >= 16 && type <= 21 : type == 5;
  }
  return false;
}

CopyTrack::CopyTrack(const MediaStreamInfo& stream, TrackPlace place)
    : m_stream(stream), m_place(place) {
  if (stream.eKind == MEDIA_STREAM_VIDEO) {
    MediaVideoStreamParam param{};
    CopyName(param.szCodecName, stream.szCodecName);
    param.nWidth = stream.nWidth;
    param.nHeight = stream.nHeight;
    param.nFrameRateNum = stream.nFrameRateNum;
    param.nFrameRateDen = stream.nFrameRateDen;
    param.nTimeBaseNum = stream.nTimeBaseNum;
    param.nTimeBaseDen = stream.nTimeBaseDen;
    param.nRotation = stream.nRotation;
    param.nExtradataSize = stream.nExtradataSize;
    param.pExtradata = stream.pExtradata;
    place.sink->Declare(place.slot, param);
  } else {
    MediaAudioStreamParam param{};
    CopyName(param.szCodecName, stream.szCodecName);
    param.nSampleRate = stream.nSampleRate;
    param.nChannels = stream.nChannels;
    param.nFrameSamples = stream.nFrameSamples;
    param.nInitialPadding = stream.nInitialPadding;
    param.nTimeBaseNum = stream.nTimeBaseNum;
    param.nTimeBaseDen = stream.nTimeBaseDen;
    param.nExtradataSize = stream.nExtradataSize;
    param.pExtradata = stream.pExtradata;
    place.sink->Declare(place.slot, param);
  }
}

void CopyTrack::Take(const MediaPacket& packet) {
  if (packet.nSize <= 0) return;
  m_place.sink->Write(m_place.slot, packet.pData, size_t(packet.nSize),
                      Shifted(packet.nPtsUs, m_place.originUs),
                      Shifted(packet.nDtsUs, m_place.originUs), packet.nDurationUs,
                      (packet.nFlags & MEDIA_PACKET_KEY) != 0);
  ++m_nPackets;
}

std::string CopyTrack::Summary() const {
  return std::string(KindLabel(m_stream.eKind)) + " " + CodecLabel(m_stream) + " copied, " +
         std::to_string(m_nPackets) + " packets";
}

PictureOutput::PictureOutput(const PictureOutputSettings& settings, TrackPlace place)
    : m_settings(settings), m_place(place) {
  if (m_settings.rateNum <= 0 || m_settings.rateDen <= 0) {
    m_settings.rateNum = kDefaultRate;
    m_settings.rateDen = 1;
  }
  m_nFrameUs = int64_t(1000000) * m_settings.rateDen / m_settings.rateNum;
}

void PictureOutput::Start(const Picture& first) {
  m_encoder.emplace(EncoderSettings(m_settings, first));
  m_nWidth = first.width;
  m_nHeight = first.height;
  MediaVideoStreamParam param{};
  CopyName(param.szCodecName, EncoderName(m_settings.encoder));
  param.nWidth = m_nWidth;
  param.nHeight = m_nHeight;
  param.nFrameRateNum = m_settings.rateNum;
  param.nFrameRateDen = m_settings.rateDen;
  param.nTimeBaseNum = m_settings.timeBaseNum;
  param.nTimeBaseDen = m_settings.timeBaseDen;
  param.nRotation = m_settings.rotation;
  m_place.sink->Declare(m_place.slot, param);
}

void PictureOutput::Encode(Picture& picture, int64_t timeUs) {
  if (picture.format != PIX_FMT_YUV420P) {
    throw Failure(
        "the filter hands out pictures in another pixel format than YUV 4:2:0; "
        "end it with format=yuv420p");
  }
  if (!m_encoder) {
    Start(picture);
  } else if (picture.width != m_nWidth || picture.height != m_nHeight) {
    throw Failure(
        "the picture size changed within the stream; --size WxH makes every "
        "picture one size");
  }
  // A picture without a time, or not after the one before, follows it by a frame.
  timeUs = Shifted(timeUs, m_place.originUs);
  if (m_nLastUs != MEDIA_NO_TIMESTAMP && (timeUs == MEDIA_NO_TIMESTAMP || timeUs <= m_nLastUs)) {
    timeUs = m_nLastUs + m_nFrameUs;
  }
  m_nLastUs = timeUs == MEDIA_NO_TIMESTAMP ? 0 : timeUs;
  m_times.push_back(m_nLastUs);
  ++m_nPictures;
  if (m_encoder->Encode(picture, m_packet)) Put(m_packet);
}

void PictureOutput::Drain() {
  if (!m_encoder) throw Failure("no picture could be decoded");
  while (m_encoder->Drain(m_packet)) Put(m_packet);
}

void PictureOutput::Put(const Bytes& packet) {
  // The library's encoders keep no picture back: packets come out in the pictures' order.
  const int64_t timeUs = m_times.empty() ? m_nLastUs + m_nFrameUs : m_times.front();
  if (!m_times.empty()) m_times.pop_front();
  m_place.sink->Write(m_place.slot, packet.data(), packet.size(), timeUs, timeUs, m_nFrameUs,
                      IsKeyPicture(packet, m_settings.encoder == AV_CODEC_TYPE_HEVCENC));
}

std::string PictureOutput::Summary() const {
  return std::string("video ") + Label(m_settings.encoder) + ", " + std::to_string(m_nPictures) +
         " pictures of " + std::to_string(m_nWidth) + "x" + std::to_string(m_nHeight);
}

SoundOutput::SoundOutput(const AudioEncodeSettings& settings, TrackPlace place)
    : m_settings(settings),
      m_place(place),
      m_encoder(settings),
      m_sink([this](const AudioEncOutData& out) { Put(out); }) {
  MediaAudioStreamParam param{};
  CopyName(param.szCodecName, settings.codec == SoundCodec::kOpus ? "opus" : "aac");
  param.nSampleRate = ClockRate(settings.codec, settings.dstRate);
  param.nChannels = settings.dstChannels;
  param.nFrameSamples = PacketSamples(settings.codec);
  param.nInitialPadding = EncoderDelay(settings.codec);
  place.sink->Declare(place.slot, param);
}

void SoundOutput::Encode(const Pcm& pcm, int64_t startUs) {
  if (pcm.samples.empty()) return;
  if (m_dSoundSeconds == 0) m_nStartUs = Shifted(startUs, m_place.originUs);
  if (m_nStartUs == MEDIA_NO_TIMESTAMP) m_nStartUs = 0;
  m_dSoundSeconds += pcm.Seconds();
  const int count = int(pcm.samples.size()) / pcm.channels;
  m_nSamples += count;
  m_encoder.Encode(pcm.samples.data(), count, m_sink);
}

void SoundOutput::Drain() {
  m_nEndUs = m_nStartUs + m_nSamples * 1000000 / m_settings.srcRate;
  m_encoder.Drain(m_sink);
  if (m_nPackets == 0) throw Failure("no sound could be encoded");
}

void SoundOutput::Put(const AudioEncOutData& out) {
  // Packet k starts k frames after the first sample, less the encoder's delay.
  const int clock = ClockRate(m_settings.codec, m_settings.dstRate);
  const int64_t frame = PacketSamples(m_settings.codec);
  const int64_t samples = m_nPackets * frame - EncoderDelay(m_settings.codec);
  const int64_t timeUs = m_nStartUs + samples * 1000000 / clock;
  int64_t durationUs = frame * 1000000 / clock;
  // What the drained encoder pads the sound with is not played: packets that hold only
  // padding (or less sound than the input's timestamps round away) are dropped, and the last
  // one lasts as long as the sound it holds.
  if (m_nEndUs != MEDIA_NO_TIMESTAMP) {
    if (timeUs + kRoundingUs >= m_nEndUs) return;
    durationUs = std::min(durationUs, m_nEndUs - timeUs);
  }
  // The ADTS header tells the writer the stream's set-up; it strips it where raw frames go.
  m_frame.assign(out.byHeader, out.byHeader + out.nHeaderSize);
  m_frame.insert(m_frame.end(), out.pData, out.pData + out.nSize);
  m_place.sink->Write(m_place.slot, m_frame.data(), m_frame.size(), timeUs, timeUs, durationUs,
                      true);
  ++m_nPackets;
}

std::string SoundOutput::Summary() const {
  char text[96];
  std::snprintf(text, sizeof text, "sound %s, %d Hz, %d channel%s, %.2f s",
                m_settings.codec == SoundCodec::kOpus ? "Opus" : "AAC", m_settings.dstRate,
                m_settings.dstChannels, m_settings.dstChannels == 1 ? "" : "s", m_dSoundSeconds);
  return text;
}

VideoTrack::VideoTrack(const MediaStreamInfo& stream, const DecodeSettings& decode,
                       const PictureOutputSettings& settings, TrackPlace place)
    : m_decoder([&] {
        DecodeSettings own = decode;
        own.type = stream.eDecoderType;
        return own;
      }()),
      m_output(settings, place) {}

void VideoTrack::Take(const MediaPacket& packet) {
  if (packet.nSize > 0 && m_decoder.Decode(packet, m_picture)) {
    m_output.Encode(m_picture, m_picture.timeUs);
  }
}

void VideoTrack::Finish() {
  while (m_decoder.Drain(m_picture)) m_output.Encode(m_picture, m_picture.timeUs);
  m_output.Drain();
}

AudioTrack::AudioTrack(const MediaStreamInfo& stream, const AudioEncodeSettings& settings,
                       TrackPlace place)
    : m_decoder(stream), m_output(settings, place) {}

void AudioTrack::Take(const MediaPacket& packet) {
  m_decoder.Decode(&packet, m_pcm);
  m_output.Encode(m_pcm, m_decoder.StartUs());
}

void AudioTrack::Finish() {
  m_decoder.Decode(nullptr, m_pcm);
  m_output.Encode(m_pcm, m_decoder.StartUs());
  m_output.Drain();
}

}  // namespace codec_tool
