#include "audio_codec.h"

#include <algorithm>

extern "C" {
#include <libavutil/frame.h>
}

#include "failure.h"

namespace codec_tool {
using namespace codec_interface;

namespace {

// Opus packets last 20 ms; the Ogg and MP4 timestamps of Opus always count at 48000 Hz.
constexpr int kOpusFrameMs = 20;
constexpr int kOpusClockRate = 48000;
constexpr int kAacFrameSamples = 1024;
// The packer's Opus header tells players to skip 3840 samples (at 48000 Hz) at the start, but
// libopus delays the sound by only 312: without this much silence in front, the first 73.5 ms
// of the sound would be skipped.
constexpr int kOpusDelayAt48k = 312;
constexpr int kOpusLeadAt48k = 3840 - kOpusDelayAt48k;

}  // namespace

AudioDecoder::AudioDecoder(const MediaStreamInfo& stream)
    : m_pCodec(ICodecInterface::Create(stream.eDecoderType)), m_nChannels(stream.nChannels) {
  CodecParam param{};
  AudioCodecParam& audio = param.stAudio;
  audio.nSrcSampleRate = audio.nDstSampleRate = stream.nSampleRate;
  audio.nSrcChannels = audio.nDstChannels = stream.nChannels;
  audio.eSrcSampleFormat = SAMPLE_FMT_NONE;
  audio.eDstSampleFormat = SAMPLE_FMT_S16;
  if (stream.nSampleRate <= 0 || stream.nChannels <= 0 ||
      m_pCodec->Init(stream.eDecoderType, param) != 0) {
    throw Failure("the sound decoder did not open for " + CodecLabel(stream) + " at " +
                  std::to_string(stream.nSampleRate) + " Hz with " +
                  std::to_string(stream.nChannels) + " channel(s)");
  }
}

AudioDecoder::~AudioDecoder() { m_out.Clear(); }

void AudioDecoder::Decode(const MediaPacket& packet, Pcm& pcm) {
  m_out.Clear();
  // An empty packet would end the stream; the decoder only reads the bytes.
  if (packet.nSize <= 0) return;
  int result = m_pCodec->Decode(const_cast<unsigned char*>(packet.pData), packet.nSize, &m_out);
  if (result != -2) Append(result, pcm);
}

void AudioDecoder::Drain(Pcm& pcm) {
  for (int result = 1; result > 0;) {
    m_out.Clear();
    result = ICodecInterface::Drain(*m_pCodec, &m_out);
    Append(result, pcm);
  }
}

void AudioDecoder::Append(int result, Pcm& pcm) {
  if (result < 0) throw Failure("the sound could not be decoded");
  for (int i = 0; i < result; ++i) {
    // The entry's size is its buffer's line, padding included; the frame knows its samples.
    size_t count = size_t(m_out.m_pFrame[i]->nb_samples) * size_t(m_nChannels);
    const int16_t* first = reinterpret_cast<const int16_t*>(m_out.m_outData[i].pData);
    pcm.samples.insert(pcm.samples.end(), first, first + count);
  }
}

SoundDecoder::SoundDecoder(const MediaStreamInfo& stream)
    : m_stream(stream), m_decoder(stream), m_nSkip(size_t(std::max(0, stream.nInitialPadding))) {}

void SoundDecoder::Decode(const MediaPacket* packet, Pcm& pcm) {
  pcm.sampleRate = m_stream.nSampleRate;
  pcm.channels = m_stream.nChannels;
  pcm.samples.clear();
  if (packet != nullptr) {
    SkipBeforeStart(*packet);
    m_decoder.Decode(*packet, pcm);
  } else {
    m_decoder.Drain(pcm);
  }
  size_t frames = pcm.samples.size() / size_t(pcm.channels);
  size_t skip = std::min(m_nSkip, frames);
  m_nSkip -= skip;
  pcm.samples.erase(pcm.samples.begin(), pcm.samples.begin() + ptrdiff_t(skip * pcm.channels));
}

void SoundDecoder::SkipBeforeStart(const MediaPacket& packet) {
  if (m_nStartUs != MEDIA_NO_TIMESTAMP || packet.nPtsUs == MEDIA_NO_TIMESTAMP) return;
  // MP4 and Ogg stamp the encoder's delay before the stream's start: as many samples to drop,
  // unless the stream's declared delay already counts them.
  if (m_stream.nStartTimeUs != MEDIA_NO_TIMESTAMP && packet.nPtsUs < m_stream.nStartTimeUs) {
    int64_t early = (m_stream.nStartTimeUs - packet.nPtsUs) * m_stream.nSampleRate / 1000000;
    m_nSkip = std::max(m_nSkip, size_t(early));
  }
  m_nStartUs = packet.nPtsUs + int64_t(m_nSkip) * 1000000 / m_stream.nSampleRate;
}

SoundStream::SoundStream(MediaSource& source)
    : m_source(source), m_stream(source.Choose(MEDIA_STREAM_AUDIO)), m_decoder(m_stream) {}

bool SoundStream::Next(Pcm& pcm) {
  MediaPacket packet{};
  while (!m_bEnded) {
    m_bEnded = !m_source.Next(packet);
    m_decoder.Decode(m_bEnded ? nullptr : &packet, pcm);
    if (!pcm.samples.empty()) return true;
  }
  return false;
}

Pcm DecodeAudioFile(const std::string& path) {
  MediaSource source(path);
  SoundStream sound(source);
  Pcm pcm;
  for (Pcm piece; sound.Next(piece);) {
    pcm.samples.insert(pcm.samples.end(), piece.samples.begin(), piece.samples.end());
    pcm.sampleRate = piece.sampleRate;
    pcm.channels = piece.channels;
  }
  if (pcm.samples.empty()) throw Failure(path + ": no sound could be decoded");
  return pcm;
}

AudioEncoder::AudioEncoder(const AudioEncodeSettings& settings)
    : m_nChannels(settings.srcChannels),
      m_nRate(settings.srcRate),
      m_bOpus(settings.codec == SoundCodec::kOpus),
      m_bPackerTiming(settings.packerTiming),
      m_nLead(m_bOpus && m_bPackerTiming ? settings.srcRate * kOpusLeadAt48k / kOpusClockRate
                                          : 0) {
  CodecType type = settings.codec == SoundCodec::kAac ? AV_CODEC_TYPE_AACENC
                                                      : AV_CODEC_TYPE_OPUSENC;
  m_pCodec = ICodecInterface::Create(type);
  CodecParam param{};
  AudioCodecParam& audio = param.stAudio;
  audio.nSrcSampleRate = settings.srcRate;
  audio.nDstSampleRate = settings.dstRate;
  audio.nSrcChannels = settings.srcChannels;
  audio.nDstChannels = settings.dstChannels;
  audio.nBitRate = settings.bitRate;
  audio.eSrcSampleFormat = SAMPLE_FMT_S16;
  audio.eDstSampleFormat = SAMPLE_FMT_NONE;
  audio.nFrameDuration = kOpusFrameMs;
  if (m_pCodec->Init(type, param) != 0) throw Failure("the sound encoder did not open");
}

AudioEncoder::~AudioEncoder() { m_out.Clear(); }

void AudioEncoder::Encode(const int16_t* samples, int count, const Sink& sink) {
  if (m_nLead > 0) {
    std::vector<int16_t> silence(size_t(m_nLead) * size_t(m_nChannels));
    m_nLead = 0;
    Encode(silence.data(), int(silence.size()) / m_nChannels, sink);
  }
  m_out.Clear();
  int bytes = count * m_nChannels * static_cast<int>(sizeof(int16_t));
  auto* data = reinterpret_cast<unsigned char*>(const_cast<int16_t*>(samples));
  Hand(m_pCodec->Encode(data, bytes, &m_out), sink);
}

void AudioEncoder::Drain(const Sink& sink) {
  if (m_bOpus && m_bPackerTiming) {
    // The packer stamps each packet a whole frame, so the frame libopus adds when drained would
    // lengthen the sound by up to two frames. Silence that pushes the last samples out through
    // whole frames instead; what the encoder still holds is silence.
    const int tail = m_nRate * (kOpusDelayAt48k + kOpusClockRate * kOpusFrameMs / 1000 - 1) /
                     kOpusClockRate;
    std::vector<int16_t> silence(size_t(tail) * size_t(m_nChannels));
    Encode(silence.data(), tail, sink);
    return;
  }
  for (int result = 1; result > 0;) {
    m_out.Clear();
    result = ICodecInterface::Drain(*m_pCodec, &m_out);
    Hand(result, sink);
  }
}

void AudioEncoder::Hand(int result, const Sink& sink) {
  if (result < 0) throw Failure("sound could not be encoded");
  for (int i = 0; i < result; ++i) sink(m_out.m_outData[i]);
}

int EncoderDelay(SoundCodec codec) {
  return codec == SoundCodec::kOpus ? kOpusDelayAt48k : kAacFrameSamples;
}

int PacketSamples(SoundCodec codec) {
  return codec == SoundCodec::kOpus ? kOpusClockRate * kOpusFrameMs / 1000 : kAacFrameSamples;
}

int ClockRate(SoundCodec codec, int dstRate) {
  return codec == SoundCodec::kOpus ? kOpusClockRate : dstRate;
}

std::optional<AudioFilePackType> PackTypeFor(const std::string& path, SoundCodec codec) {
  std::string ending = Ending(path);
  bool opus = codec == SoundCodec::kOpus;
  if (ending == ".ogg" || ending == ".opus") {
    if (opus) return AUDIO_FILE_PACK_OGG_OPUS;
  } else if (ending == ".m4a" || ending == ".mp4") {
    return opus ? AUDIO_FILE_PACK_MP4_OPUS : AUDIO_FILE_PACK_MP4_AAC;
  } else if (ending == ".aac") {
    if (!opus) return AUDIO_FILE_PACK_AAC;
  }
  return std::nullopt;
}

AudioFileWriter::AudioFileWriter(const std::string& path, AudioFilePackType type,
                                 const AudioEncodeSettings& settings)
    : m_file(path), m_eType(type), m_pPacker(IPackAudio::Create(type)) {
  if (m_pPacker->Init(m_file.TempPath().c_str(), ClockRate(settings.codec, settings.dstRate),
                      settings.dstChannels, PacketSamples(settings.codec)) != 0) {
    throw Failure("cannot write " + path + ": the packer did not start the file");
  }
  m_bOpen = true;
}

AudioFileWriter::~AudioFileWriter() {
  if (m_bOpen) m_pPacker->Close();
}

void AudioFileWriter::Write(const AudioEncOutData& packet) {
  // An ADTS file is the frames themselves: each header followed by its payload.
  m_frame.clear();
  if (m_eType == AUDIO_FILE_PACK_AAC) {
    m_frame.insert(m_frame.end(), packet.byHeader, packet.byHeader + packet.nHeaderSize);
  }
  m_frame.insert(m_frame.end(), packet.pData, packet.pData + packet.nSize);
  if (m_pPacker->WritePacket(m_frame.data(), static_cast<int>(m_frame.size())) != 0) {
    throw Failure("cannot write " + m_file.Path() + ": a packet was refused");
  }
  ++m_nPackets;
}

void AudioFileWriter::Finish() {
  m_pPacker->Close();
  m_bOpen = false;
  if (IPackAudio::LastCloseResult(*m_pPacker) != 0) {
    throw Failure("cannot write " + m_file.Path() + ": the file could not be completed");
  }
  m_file.Commit();
}

}  // namespace codec_tool
