// codec audio IN OUT: decode IN's sound and encode it again into OUT, through the library's
// decoders, encoders (which also change rate and channels) and file packer.
#include <algorithm>
#include <cstdio>

#include "audio_codec.h"
#include "commands.h"
#include "failure.h"
#include "media_source.h"
#include "progress.h"

namespace codec_tool {
using namespace codec_interface;

namespace {

constexpr int kOpusRates[] = {8000, 12000, 16000, 24000, 48000};
constexpr int kPackedChannels[] = {1, 2, 6, 8};  // what the file packer writes

SoundCodec ChooseCodec(const AudioOptions& options) {
  if (!options.codec.empty()) return options.codec == "opus" ? SoundCodec::kOpus : SoundCodec::kAac;
  return PackTypeFor(options.output, SoundCodec::kAac) ? SoundCodec::kAac : SoundCodec::kOpus;
}

bool Listed(const auto& list, int value) {
  return std::find(std::begin(list), std::end(list), value) != std::end(list);
}

// IN's channel count when the packer writes it, else stereo.
int OutputChannels(const AudioOptions& options, int input) {
  if (options.channels > 0) return options.channels;
  return Listed(kPackedChannels, input) ? input : 2;
}

AudioEncodeSettings Settings(const AudioOptions& options, const MediaStreamInfo& input) {
  AudioEncodeSettings settings;
  settings.codec = ChooseCodec(options);
  bool opus = settings.codec == SoundCodec::kOpus;
  settings.srcRate = input.nSampleRate;
  settings.srcChannels = input.nChannels;
  settings.dstRate = options.rate > 0 ? options.rate : (opus ? 48000 : input.nSampleRate);
  settings.dstChannels = OutputChannels(options, input.nChannels);
  settings.bitRate = options.bitRate > 0 ? options.bitRate
                                         : (opus ? 48000 : 64000) * settings.dstChannels;
  if (opus && !Listed(kOpusRates, settings.dstRate)) {
    throw Failure("Opus takes 8000, 12000, 16000, 24000 or 48000 Hz, not " +
                      std::to_string(settings.dstRate),
                  kExitUsage);
  }
  return settings;
}

}  // namespace

AudioResult ReencodeAudio(const AudioOptions& options, const Global& global) {
  SoundCodec codec = ChooseCodec(options);
  auto type = PackTypeFor(options.output, codec);
  if (!type) {
    throw Failure(options.output + ": the name must end in .ogg or .opus (Opus), .m4a or .mp4 "
                                   "(AAC or Opus) or .aac (AAC)",
                  kExitUsage);
  }
  MediaSource source(options.input);
  SoundStream sound(source);
  AudioEncodeSettings settings = Settings(options, sound.Stream());
  AudioEncoder encoder(settings);
  AudioFileWriter writer(options.output, *type, settings);
  Progress progress("sound", 0, "pieces", global.quiet);
  AudioResult result;
  auto write = [&writer](const AudioEncOutData& out) { writer.Write(out); };
  for (Pcm pcm; sound.Next(pcm);) {
    int count = static_cast<int>(pcm.samples.size()) / pcm.channels;
    result.soundSeconds += double(count) / pcm.sampleRate;
    encoder.Encode(pcm.samples.data(), count, write);
    progress.Advance();
  }
  encoder.Drain(write);
  if (writer.Packets() == 0) throw Failure(options.input + ": no sound could be encoded");
  writer.Finish();
  result.packets = writer.Packets();
  result.seconds = progress.Seconds();
  return result;
}

void AddAudioCommand(CLI::App& app, Global& global) {
  static AudioOptions options;
  CLI::App* command = app.add_subcommand(
      "audio", "Decode IN's sound stream and encode it again into OUT; the container follows "
               "OUT's name: .ogg Ogg Opus, .m4a/.mp4 MP4 with AAC or Opus, .aac ADTS.");
  command->footer("Example: codec audio movie.mp4 speech.ogg --rate 16000 --channels 1");
  command->add_option("IN", options.input, "the media file to read")->required();
  command->add_option("OUT", options.output, "the sound file to write")->required();
  command->add_option("--codec", options.codec, "aac or opus (default: by OUT's name)")
      ->check(CLI::IsMember({"aac", "opus"}));
  command->add_option("--rate", options.rate, "sample rate in Hz (default: IN's; Opus 48000)")
      ->check(CLI::Range(8000, 96000));
  command->add_option("--channels", options.channels,
                      "1, 2, 6 or 8 (default: IN's, stereo for other counts)")
      ->check(CLI::IsMember({1, 2, 6, 8}));
  command->add_option("--bitrate", options.bitRate, "bits per second")
      ->check(CLI::Range(6000, 1000000));
  command->callback([&global] {
    AudioResult result = ReencodeAudio(options, global);
    if (!global.quiet) {
      std::printf("%s: %ld packets, %.2f s of sound\n", options.output.c_str(), result.packets,
                  result.soundSeconds);
    }
  });
}

}  // namespace codec_tool
