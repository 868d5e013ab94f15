#include "audio_codec.h"

#include <algorithm>

#include "failure.h"

namespace codec_tool {
using namespace codec_interface;

namespace {

CodecType DecoderFor(FileAudioCodec codec) {
  switch (codec) {
    case FILE_AUDIO_CODEC_AAC: return AV_CODEC_TYPE_AACDEC;
    case FILE_AUDIO_CODEC_OPUS: return AV_CODEC_TYPE_OPUSDEC;
    case FILE_AUDIO_CODEC_G711A: return AV_CODEC_TYPE_G711ADEC;
    case FILE_AUDIO_CODEC_G711U: return AV_CODEC_TYPE_G711UDEC;
    default: throw Failure(std::string("sound in ") + AudioCodecName(codec) + " is not supported");
  }
}

// Opus packets last 20 ms; the Ogg and MP4 timestamps of Opus always count at 48000 Hz.
constexpr int kOpusFrameMs = 20;
constexpr int kOpusClockRate = 48000;
constexpr int kAacFrameSamples = 1024;

}  // namespace

AudioDecoder::AudioDecoder(const AudioFormat& format)
    : m_pCodec(ICodecInterface::Create(DecoderFor(format.codec))), m_nChannels(format.channels) {
  CodecParam param{};
  AudioCodecParam& audio = param.stAudio;
  audio.nSrcSampleRate = audio.nDstSampleRate = format.sampleRate;
  audio.nSrcChannels = audio.nDstChannels = format.channels;
  audio.eSrcSampleFormat = SAMPLE_FMT_NONE;
  audio.eDstSampleFormat = SAMPLE_FMT_S16;
  if (m_pCodec->Init(DecoderFor(format.codec), param) != 0) {
    throw Failure("the sound decoder did not open");
  }
}

AudioDecoder::~AudioDecoder() { m_out.Clear(); }

void AudioDecoder::Decode(Bytes& packet, int samples, Pcm& pcm) {
  m_out.Clear();
  int result = m_pCodec->Decode(packet.data(), static_cast<int>(packet.size()), &m_out);
  if (result < 0) {
    ++m_nRejected;
    return;
  }
  size_t wanted = samples > 0 ? size_t(samples) * m_nChannels : SIZE_MAX;
  for (int i = 0; i < result && wanted > 0; ++i) {
    const AudioDecOutData& data = m_out.m_outData[i];
    size_t count = std::min<size_t>(data.nSize / sizeof(int16_t), wanted);
    const int16_t* first = reinterpret_cast<const int16_t*>(data.pData);
    pcm.samples.insert(pcm.samples.end(), first, first + count);
    if (samples > 0) wanted -= count;
  }
}

Pcm DecodeAudioFile(const std::string& path) {
  AudioInput input(path);
  AudioDecoder decoder(input.Format());
  Pcm pcm;
  pcm.sampleRate = input.Format().sampleRate;
  pcm.channels = input.Format().channels;
  Bytes packet;
  for (int durationMs = 0; input.Next(packet, durationMs);) {
    decoder.Decode(packet, input.PacketSamples(packet), pcm);
  }
  if (pcm.samples.empty()) throw Failure(path + ": no sound could be decoded");
  return pcm;
}

AudioEncoder::AudioEncoder(const AudioEncodeSettings& settings)
    : m_nChannels(settings.srcChannels) {
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
  m_out.Clear();
  int bytes = count * m_nChannels * static_cast<int>(sizeof(int16_t));
  auto* data = reinterpret_cast<unsigned char*>(const_cast<int16_t*>(samples));
  int result = m_pCodec->Encode(data, bytes, &m_out);
  if (result < 0) throw Failure("sound could not be encoded");
  for (int i = 0; i < result; ++i) sink(m_out.m_outData[i]);
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
  bool opus = settings.codec == SoundCodec::kOpus;
  int rate = opus ? kOpusClockRate : settings.dstRate;
  int frameSamples = opus ? kOpusClockRate * kOpusFrameMs / 1000 : kAacFrameSamples;
  if (m_pPacker->Init(m_file.TempPath().c_str(), rate, settings.dstChannels, frameSamples) != 0) {
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
  m_file.Commit();
}

}  // namespace codec_tool
