// codec video IN OUT: IN's video alone, decoded, optionally filtered and scaled, and encoded
// again into OUT: a raw H.264 or HEVC stream, or any container convert writes.
#include <cstdio>

#include "commands.h"
#include "failure.h"
#include "media_sink.h"
#include "output_file.h"

namespace codec_tool {

VideoResult ReencodeVideo(const VideoOptions& options, const Global& global) {
  const std::optional<std::string> container = ContainerFor(options.output);
  if (!container || *container == "ogg" || *container == "adts") {
    throw Failure(options.output + ": the name must end in .h264 or .hevc (raw streams), or "
                                   ".mp4, .mov, .mkv or .ts",
                  kExitUsage);
  }
  ConvertOptions convert;
  convert.input = options.input;
  convert.output = options.output;
  convert.video = options.codec.empty() ? (*container == "hevc" ? "hevc" : "h264") : options.codec;
  convert.audio = "none";
  convert.size = options.size;
  convert.filter = options.filter;
  convert.bitRate = options.bitRate;
  const ConvertResult done = Convert(convert, global);
  return {done.pictures, done.width, done.height, done.seconds};
}

void AddVideoCommand(CLI::App& app, Global& global) {
  static VideoOptions options;
  CLI::App* command = app.add_subcommand(
      "video", "Decode IN's video, optionally filter and scale it, and encode every picture "
               "at IN's frame rate into a raw H.264 (.h264) or HEVC (.hevc) stream, or into "
               "a .mp4, .mov, .mkv or .ts file (convert with --audio none).");
  command->footer("Example: codec video movie.mp4 small.hevc --size 640x360 --filter hflip");
  command->add_option("IN", options.input, "the media file to read")->required();
  command->add_option("OUT", options.output, "the file to write")->required();
  AddSizeOption(*command, options.size, "picture size (default: IN's)");
  command->add_option("--bitrate", options.bitRate, "bits per second")
      ->check(CLI::Range(10000, 100000000));
  command->add_option("--filter", options.filter,
                      "FFmpeg filter description applied after scaling, as hflip");
  command->add_option("--codec", options.codec, "h264 or hevc (default: by OUT's name, else h264)")
      ->check(CLI::IsMember({"h264", "hevc"}));
  command->callback([&global] {
    VideoResult result = ReencodeVideo(options, global);
    if (!global.quiet) {
      std::printf("%s: %ld pictures of %dx%d\n", options.output.c_str(), result.pictures,
                  result.width, result.height);
    }
  });
}

}  // namespace codec_tool
