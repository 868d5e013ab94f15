// codec audio IN OUT: IN's sound alone, decoded and encoded again into OUT (convert with
// --video none), the encoder changing rate and channels as asked.
#include <cstdio>

#include "commands.h"
#include "failure.h"
#include "media_sink.h"

namespace codec_tool {

namespace {

// The codec OUT's container suits: Ogg takes only Opus, ADTS only AAC, the others either.
std::string ChooseCodec(const AudioOptions& options, const std::string& container) {
  if (!options.codec.empty()) return options.codec;
  return container == "ogg" ? "opus" : "aac";
}

bool Holds(const std::string& container, const std::string& codec) {
  if (container == "ogg") return codec == "opus";
  if (container == "adts") return codec == "aac";
  return container != "h264" && container != "hevc";
}

}  // namespace

AudioResult ReencodeAudio(const AudioOptions& options, const Global& global) {
  const std::optional<std::string> container = ContainerFor(options.output);
  const std::string codec = ChooseCodec(options, container.value_or(""));
  if (!container || !Holds(*container, codec)) {
    throw Failure(options.output + ": the name must end in .ogg or .opus (Opus), .m4a, .mp4, "
                                   ".mov, .mkv or .ts (AAC or Opus) or .aac (AAC)",
                  kExitUsage);
  }
  ConvertOptions convert;
  convert.input = options.input;
  convert.output = options.output;
  convert.video = "none";
  convert.audio = codec;
  convert.rate = options.rate;
  convert.channels = options.channels;
  convert.audioBitRate = options.bitRate;
  const ConvertResult done = Convert(convert, global);
  return {done.soundPackets, done.soundSeconds, done.seconds};
}

void AddAudioCommand(CLI::App& app, Global& global) {
  static AudioOptions options;
  CLI::App* command = app.add_subcommand(
      "audio", "Decode IN's sound stream and encode it again into OUT; the container follows "
               "OUT's name: .ogg Ogg Opus, .m4a/.mp4/.mov/.mkv/.ts with AAC or Opus, .aac ADTS.");
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
