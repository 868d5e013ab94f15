// codec video IN OUT: decode IN's video, optionally filter and scale it, and encode it into a
// raw H.264 or HEVC elementary stream, all through the library.
#include <algorithm>
#include <cstdio>
#include <optional>

#include "commands.h"
#include "failure.h"
#include "media_input.h"
#include "output_file.h"
#include "progress.h"
#include "video_codec.h"

namespace codec_tool {
using namespace codec_interface;

namespace {

constexpr int kFrameRate = 25;
constexpr int kGopSize = 50;
constexpr int kMinBitRate = 200000;

std::optional<CodecType> EncoderFor(const std::string& path) {
  std::string ending = Ending(path);
  if (ending == ".h264" || ending == ".264") return AV_CODEC_TYPE_H264ENC;
  if (ending == ".hevc" || ending == ".h265" || ending == ".265") return AV_CODEC_TYPE_HEVCENC;
  return std::nullopt;
}

// The size of the pictures the filter gets: the asked size, else the stream's, learned by
// decoding its first picture.
void CheckFilterOn(const VideoOptions& options, const DecodeSettings& settings) {
  int width = settings.width;
  int height = settings.height;
  if (width == 0) {
    VideoInput input(options.input);
    DecodeSettings plain;
    plain.type = settings.type;
    VideoDecoder decoder(plain);
    Bytes unit;
    Picture picture;
    while (picture.width == 0 && input.Next(unit)) decoder.Decode(unit, picture);
    if (picture.width == 0) throw Failure(options.input + ": no picture could be decoded");
    width = picture.width;
    height = picture.height;
  }
  CheckFilter(options.filter, width, height);
}

}  // namespace

VideoResult ReencodeVideo(const VideoOptions& options, const Global& global) {
  auto type = EncoderFor(options.output);
  if (!type) throw Failure(options.output + ": the name must end in .h264 or .hevc", kExitUsage);
  VideoInput input(options.input);
  DecodeSettings settings;
  if (!options.size.empty()) ParseSize(options.size, settings.width, settings.height);
  settings.filter = options.filter;
  settings.type = SoftwareDecoder(input.Kind());
  if (!options.filter.empty()) CheckFilterOn(options, settings);
  VideoDecoder decoder(settings);
  OutputFile out(options.output);
  std::optional<VideoEncoder> encoder;
  VideoResult result;
  Progress progress("video", 0, "pictures", global.quiet);
  Bytes unit;
  Bytes packet;
  Picture picture;
  while (input.Next(unit)) {
    if (!decoder.Decode(unit, picture)) continue;
    if (picture.format != PIX_FMT_YUV420P) {
      throw Failure("the filter hands out pictures in another pixel format than YUV 4:2:0; "
                    "end it with format=yuv420p");
    }
    if (!encoder) {
      int bitRate = options.bitRate > 0
                        ? options.bitRate
                        : std::max(kMinBitRate, picture.width * picture.height * kFrameRate / 10);
      encoder.emplace(EncodeSettings{*type, PIX_FMT_YUV420P, picture.width, picture.height,
                                     bitRate, kFrameRate, kGopSize});
      result.width = picture.width;
      result.height = picture.height;
    } else if (picture.width != result.width || picture.height != result.height) {
      throw Failure("the picture size changed within the stream");
    }
    if (encoder->Encode(picture, packet)) out.Write(packet.data(), packet.size());
    ++result.pictures;
    progress.Advance();
  }
  if (result.pictures == 0) throw Failure(options.input + ": no picture could be decoded");
  out.Commit();
  result.seconds = progress.Seconds();
  return result;
}

void AddVideoCommand(CLI::App& app, Global& global) {
  static VideoOptions options;
  CLI::App* command = app.add_subcommand(
      "video", "Decode IN's video, optionally filter and scale it, and encode it into a raw "
               "H.264 (.h264) or HEVC (.hevc) stream.");
  command->footer("Example: codec video movie.mp4 small.hevc --size 640x360 --filter hflip");
  command->add_option("IN", options.input, "the media file to read")->required();
  command->add_option("OUT", options.output, "the .h264 or .hevc file to write")->required();
  AddSizeOption(*command, options.size, "picture size (default: IN's)");
  command->add_option("--bitrate", options.bitRate, "bits per second")
      ->check(CLI::Range(10000, 100000000));
  command->add_option("--filter", options.filter,
                      "FFmpeg filter description applied after scaling, as hflip");
  command->callback([&global] {
    VideoResult result = ReencodeVideo(options, global);
    if (!global.quiet) {
      std::printf("%s: %ld pictures of %dx%d\n", options.output.c_str(), result.pictures,
                  result.width, result.height);
    }
  });
}

}  // namespace codec_tool
