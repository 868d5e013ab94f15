// codec convert IN OUT: every stream of IN the library handles, encoded again through its
// codecs or copied as stored, into the container OUT's name asks for, sound and pictures at
// the times IN gives them. codec remux IN OUT: every stream copied.
#include <algorithm>
#include <cstdio>
#include <memory>
#include <optional>

#include "commands.h"
#include "failure.h"
#include "media_sink.h"
#include "media_source.h"
#include "progress.h"
#include "tracks.h"

namespace codec_tool {
using namespace codec_interface;

namespace {

constexpr int kOpusRates[] = {8000, 12000, 16000, 24000, 48000};
constexpr int kPackedChannels[] = {1, 2, 6, 8};  // what every container takes

bool Listed(const auto& list, int value) {
  return std::find(std::begin(list), std::end(list), value) != std::end(list);
}

// What a container holds unless told: raw streams their codec, sound files their sound.
std::string DefaultVideo(const std::string& container) {
  if (container == "h264" || container == "hevc") return container;
  return container == "ogg" || container == "adts" ? "none" : "h264";
}

std::string DefaultAudio(const std::string& container) {
  if (container == "ogg") return "opus";
  return container == "h264" || container == "hevc" ? "none" : "aac";
}

AudioEncodeSettings AudioSettings(const ConvertOptions& options, const std::string& codec,
                                  const MediaStreamInfo& input) {
  AudioEncodeSettings settings;
  settings.codec = codec == "opus" ? SoundCodec::kOpus : SoundCodec::kAac;
  const bool opus = settings.codec == SoundCodec::kOpus;
  settings.srcRate = input.nSampleRate;
  settings.srcChannels = input.nChannels;
  settings.dstRate = options.rate > 0 ? options.rate : (opus ? 48000 : input.nSampleRate);
  settings.dstChannels = options.channels > 0                       ? options.channels
                         : Listed(kPackedChannels, input.nChannels) ? input.nChannels
                                                                    : 2;
  settings.bitRate = options.audioBitRate > 0 ? options.audioBitRate
                                              : (opus ? 48000 : 64000) * settings.dstChannels;
  if (opus && !Listed(kOpusRates, settings.dstRate)) {
    throw Failure(
        "Opus takes 8000, 12000, 16000, 24000 or 48000 Hz, not " + std::to_string(settings.dstRate),
        kExitUsage);
  }
  return settings;
}

// The colours of a stream's pictures as the library's decoders hand them out: the stream's
// matrix, primaries and transfer, in limited range (they convert full range). Untagged streams,
// and the RGB matrix that YUV 4:2:0 cannot carry, stay untagged.
Colour DecodedColour(const MediaStreamInfo& stream) {
  Colour colour{stream.nColorMatrix, stream.nColorRange != 0 ? 1 : 0, stream.nColorPrimaries,
                stream.nColorTransfer};
  if (colour.matrix == 0) colour.matrix = 2;
  return colour;
}

// The input stream of this kind for `mode`; -1 for "none", or when IN has none and the mode
// was not asked for.
int StreamFor(MediaSource& source, MediaStreamKind kind, const std::string& mode, bool asked) {
  if (mode == "none") return -1;
  // A copy needs no decoder: a stream the library does not decode is copied all the same.
  const int best = mode == "copy" ? source.BestStored(kind) : source.Best(kind);
  if (best < 0 && asked) source.Choose(kind);  // fails naming what IN has instead
  const int stored = source.BestStored(kind);
  if (best < 0 && stored >= 0) {
    std::fprintf(stderr,
                 "codec: %s: its %s stream is %s, which the library does not decode; left out "
                 "(--%s copy keeps it)\n",
                 source.Path().c_str(), KindLabel(kind),
                 source.Streams()[size_t(stored)].szCodecName,
                 kind == MEDIA_STREAM_VIDEO ? "video" : "audio");
  }
  return best;
}

// One reader per packet form, each reading only its streams: copies take the stored packets,
// decoders their own form.
struct Input {
  MediaSource* source = nullptr;
  MediaPacket pending{};
  bool held = false;
  bool ended = false;
};

class Conversion {
 public:
  Conversion(const ConvertOptions& options, const Global& global);
  ConvertResult Run();

 private:
  void AddTrack(int stream, const std::string& mode, int slot);
  Input& InputFor(MediaPacketForm form);
  Input* Earliest();

  const ConvertOptions& m_options;
  const Global& m_global;
  MediaSource m_probe;  // the first input too
  std::unique_ptr<MediaSource> m_pSecond;
  std::optional<MediaSink> m_sink;
  int64_t m_nOriginUs = 0;
  Input m_inputs[2];  // by form
  std::vector<int> m_streams[2];
  std::vector<std::unique_ptr<Track>> m_tracks;
  std::vector<Track*> m_byStream;
  VideoTrack* m_pVideo = nullptr;
  AudioTrack* m_pAudio = nullptr;
};

Conversion::Conversion(const ConvertOptions& options, const Global& global)
    : m_options(options), m_global(global), m_probe(options.input) {
  const std::optional<std::string> container = ContainerFor(options.output);
  if (!container) {
    throw Failure(options.output +
                      ": the name must end in .mp4, .m4a, .mov, .mkv, .ts, .ogg, "
                      ".opus, .aac, .h264 or .hevc",
                  kExitUsage);
  }
  const MediaWriterOptions writer =
      WriterOptions(*container, options.crashSafe, options.fragmentMs);
  const std::string video = options.remux           ? "copy"
                            : options.video.empty() ? DefaultVideo(*container)
                                                    : options.video;
  const std::string audio = options.remux           ? "copy"
                            : options.audio.empty() ? DefaultAudio(*container)
                                                    : options.audio;
  const bool remux = options.remux;
  const int videoStream =
      StreamFor(m_probe, MEDIA_STREAM_VIDEO, video, !remux && !options.video.empty());
  const int audioStream =
      StreamFor(m_probe, MEDIA_STREAM_AUDIO, audio, !remux && !options.audio.empty());
  if (videoStream < 0 && audioStream < 0) {
    throw Failure(options.input + ": no stream to write into " + options.output);
  }
  const MediaFileInfo& file = m_probe.File();
  if (file.nStartTimeUs != MEDIA_NO_TIMESTAMP) m_nOriginUs = file.nStartTimeUs;
  m_sink.emplace(options.output, *container, int(videoStream >= 0) + int(audioStream >= 0), writer);
  m_byStream.resize(m_probe.Streams().size());
  int slot = 0;
  if (videoStream >= 0) AddTrack(videoStream, video, slot++);
  if (audioStream >= 0) AddTrack(audioStream, audio, slot++);
}

void Conversion::AddTrack(int stream, const std::string& mode, int slot) {
  const MediaStreamInfo& info = m_probe.Streams()[size_t(stream)];
  const MediaPacketForm form =
      mode == "copy" ? MEDIA_PACKET_FORM_STORED : MEDIA_PACKET_FORM_DECODER;
  Input& input = InputFor(form);
  m_streams[form].push_back(stream);
  input.source->Use(m_streams[form], form);
  // The stream's facts from the reader that hands its packets out: the extradata is its.
  const MediaStreamInfo& own = input.source->Streams()[size_t(stream)];
  TrackPlace place{&*m_sink, slot, m_nOriginUs};
  if (mode == "copy") {
    m_tracks.push_back(std::make_unique<CopyTrack>(own, place));
  } else if (info.eKind == MEDIA_STREAM_VIDEO) {
    DecodeSettings decode;
    if (!m_options.size.empty()) ParseSize(m_options.size, decode.width, decode.height);
    decode.filter = m_options.filter;
    if (!m_options.filter.empty()) {
      const int width = decode.width > 0 ? decode.width : info.nWidth;
      const int height = decode.height > 0 ? decode.height : info.nHeight;
      if (width > 0 && height > 0) CheckFilter(m_options.filter, width, height);
    }
    PictureOutputSettings output{mode == "hevc" ? AV_CODEC_TYPE_HEVCENC : AV_CODEC_TYPE_H264ENC,
                                 m_options.bitRate,
                                 info.nFrameRateNum,
                                 info.nFrameRateDen,
                                 info.nTimeBaseNum,
                                 info.nTimeBaseDen,
                                 info.nRotation,
                                 DecodedColour(info)};
    auto track = std::make_unique<VideoTrack>(own, decode, output, place);
    m_pVideo = track.get();
    m_tracks.push_back(std::move(track));
  } else {
    auto track = std::make_unique<AudioTrack>(own, AudioSettings(m_options, mode, own), place);
    m_pAudio = track.get();
    m_tracks.push_back(std::move(track));
  }
  m_byStream[size_t(stream)] = m_tracks.back().get();
}

Input& Conversion::InputFor(MediaPacketForm form) {
  Input& input = m_inputs[form];
  if (input.source != nullptr) return input;
  const bool probeTaken = m_inputs[0].source == &m_probe || m_inputs[1].source == &m_probe;
  if (probeTaken) m_pSecond = std::make_unique<MediaSource>(m_options.input);
  input.source = probeTaken ? m_pSecond.get() : &m_probe;
  return input;
}

// The packet read next: of the two readers, the one behind in decoding time.
Input* Conversion::Earliest() {
  Input* earliest = nullptr;
  auto time = [](const MediaPacket& p) {
    return p.nDtsUs != MEDIA_NO_TIMESTAMP ? p.nDtsUs : p.nPtsUs;
  };
  for (Input& input : m_inputs) {
    if (input.source == nullptr || input.ended) continue;
    if (!input.held) {
      input.held = input.source->Next(input.pending);
      input.ended = !input.held;
    }
    if (input.held && (earliest == nullptr || time(input.pending) < time(earliest->pending))) {
      earliest = &input;
    }
  }
  return earliest;
}

ConvertResult Conversion::Run() {
  Progress progress("convert", 0, "packets", m_global.quiet);
  for (Input* input = Earliest(); input != nullptr; input = Earliest()) {
    input->held = false;
    Track* track = m_byStream[size_t(input->pending.nStreamIndex)];
    if (track != nullptr) track->Take(input->pending);
    progress.Advance();
  }
  for (auto& track : m_tracks) track->Finish();
  m_sink->Finish();
  ConvertResult result;
  for (auto& track : m_tracks) result.streams.push_back(track->Summary());
  if (m_pVideo != nullptr) {
    result.pictures = m_pVideo->Output().Pictures();
    result.width = m_pVideo->Output().Width();
    result.height = m_pVideo->Output().Height();
  }
  if (m_pAudio != nullptr) {
    result.soundPackets = m_pAudio->Output().Packets();
    result.soundSeconds = m_pAudio->Output().SoundSeconds();
  }
  result.seconds = progress.Seconds();
  return result;
}

void PrintSummary(const std::string& output, const ConvertResult& result) {
  std::string line = output + ":";
  for (const std::string& stream : result.streams)
    line += (line.back() == ':' ? " " : "; ") + stream;
  std::printf("%s\n", line.c_str());
}

}  // namespace

ConvertResult Convert(const ConvertOptions& options, const Global& global) {
  return Conversion(options, global).Run();
}

void AddConvertCommand(CLI::App& app, Global& global) {
  static ConvertOptions options;
  CLI::App* command = app.add_subcommand(
      "convert",
      "Encode IN's video and sound again (or copy them) into OUT, keeping their "
      "timing, frame rate and rotation; the container follows OUT's name: .mp4/.m4a, "
      ".mov, .mkv, .ts, .ogg/.opus, .aac, .h264, .hevc.");
  command->footer("Example: codec convert camera.mkv clip.mp4 --size 1280x720 --audio copy");
  command->add_option("IN", options.input, "the media file to read")->required();
  command->add_option("OUT", options.output, "the file to write")->required();
  command
      ->add_option("--video", options.video,
                   "h264, hevc, copy or none (default: h264; .h264/.hevc their codec; "
                   "none for .ogg and .aac)")
      ->check(CLI::IsMember({"h264", "hevc", "copy", "none"}));
  command
      ->add_option("--audio", options.audio,
                   "aac, opus, copy or none (default: aac; opus for .ogg; none for "
                   ".h264/.hevc)")
      ->check(CLI::IsMember({"aac", "opus", "copy", "none"}));
  AddSizeOption(*command, options.size, "picture size (default: IN's)");
  command->add_option("--filter", options.filter,
                      "FFmpeg filter description applied after scaling, as hflip");
  command->add_option("--bitrate", options.bitRate, "video bits per second")
      ->check(CLI::Range(10000, 100000000));
  command->add_option("--audio-bitrate", options.audioBitRate, "sound bits per second")
      ->check(CLI::Range(6000, 1000000));
  command->add_option("--rate", options.rate, "sample rate in Hz (default: IN's; Opus 48000)")
      ->check(CLI::Range(8000, 96000));
  command
      ->add_option("--channels", options.channels,
                   "1, 2, 6 or 8 (default: IN's, stereo for other counts)")
      ->check(CLI::IsMember({1, 2, 6, 8}));
  AddCrashSafeFlag(*command, options.crashSafe);
  command
      ->add_option("--fragment-ms", options.fragmentMs,
                   "crash-safe: a fragment this often, 0 at every key picture")
      ->capture_default_str()
      ->check(CLI::Range(0, 600000));
  command->callback([&global] {
    ConvertResult result = Convert(options, global);
    if (!global.quiet) PrintSummary(options.output, result);
  });
}

void AddRemuxCommand(CLI::App& app, Global& global) {
  static ConvertOptions options;
  options.remux = true;
  CLI::App* command =
      app.add_subcommand("remux",
                         "Copy IN's video and sound into another container without encoding them "
                         "again; the container follows OUT's name, as for convert.");
  command->footer("Example: codec remux recording.mkv recording.mp4");
  command->add_option("IN", options.input, "the media file to read")->required();
  command->add_option("OUT", options.output, "the file to write")->required();
  AddCrashSafeFlag(*command, options.crashSafe);
  command->callback([&global] {
    ConvertResult result = Convert(options, global);
    if (!global.quiet) PrintSummary(options.output, result);
  });
}

}  // namespace codec_tool
