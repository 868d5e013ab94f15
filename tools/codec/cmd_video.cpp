// codec video IN OUT: decode IN's video, optionally filter and scale it, and encode it into a
// raw H.264 or HEVC elementary stream, all through the library.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <optional>

#include "commands.h"
#include "failure.h"
#include "media_source.h"
#include "output_file.h"
#include "progress.h"
#include "video_codec.h"

namespace codec_tool {
using namespace codec_interface;

namespace {

constexpr int kDefaultRate = 25;  // for streams that do not say
constexpr int kGopSeconds = 2;
constexpr int kMinBitRate = 200000;

std::optional<CodecType> EncoderFor(const std::string& path) {
  std::string ending = Ending(path);
  if (ending == ".h264" || ending == ".264") return AV_CODEC_TYPE_H264ENC;
  if (ending == ".hevc" || ending == ".h265" || ending == ".265") return AV_CODEC_TYPE_HEVCENC;
  return std::nullopt;
}

// The pictures' size where the filter gets them: the asked size, else the stream's.
void CheckFilterOn(const VideoOptions& options, const DecodeSettings& settings,
                   const MediaStreamInfo& stream) {
  int width = settings.width > 0 ? settings.width : stream.nWidth;
  int height = settings.height > 0 ? settings.height : stream.nHeight;
  if (width > 0 && height > 0) CheckFilter(options.filter, width, height);
}

// The encoder's settings from the first picture and the stream's frame rate, kept exact.
EncodeSettings EncoderSettings(CodecType type, const VideoOptions& options,
                               const MediaStreamInfo& stream, const Picture& first) {
  EncodeSettings settings{type, PIX_FMT_YUV420P, first.width, first.height, options.bitRate};
  if (stream.nFrameRateNum > 0 && stream.nFrameRateDen > 0) {
    settings.rateNum = stream.nFrameRateNum;
    settings.rateDen = stream.nFrameRateDen;
    settings.frameRate = std::max(1, int(std::lround(double(stream.nFrameRateNum) /
                                                     stream.nFrameRateDen)));
  } else {
    settings.frameRate = kDefaultRate;
  }
  settings.gopSize = settings.frameRate * kGopSeconds;
  if (settings.bitRate <= 0) {
    settings.bitRate = std::max(kMinBitRate, first.width * first.height * settings.frameRate / 10);
  }
  return settings;
}

}  // namespace

VideoResult ReencodeVideo(const VideoOptions& options, const Global& global) {
  auto type = EncoderFor(options.output);
  if (!type) throw Failure(options.output + ": the name must end in .h264 or .hevc", kExitUsage);
  MediaSource source(options.input);
  DecodeSettings settings;
  if (!options.size.empty()) ParseSize(options.size, settings.width, settings.height);
  settings.filter = options.filter;
  PictureStream pictures(source, settings);
  if (!options.filter.empty()) CheckFilterOn(options, settings, pictures.Stream());
  OutputFile out(options.output);
  std::optional<VideoEncoder> encoder;
  VideoResult result;
  Progress progress("video", 0, "pictures", global.quiet);
  Bytes packet;
  for (Picture picture; pictures.Next(picture);) {
    if (picture.format != PIX_FMT_YUV420P) {
      throw Failure("the filter hands out pictures in another pixel format than YUV 4:2:0; "
                    "end it with format=yuv420p");
    }
    if (!encoder) {
      encoder.emplace(EncoderSettings(*type, options, pictures.Stream(), picture));
      result.width = picture.width;
      result.height = picture.height;
    } else if (picture.width != result.width || picture.height != result.height) {
      throw Failure("the picture size changed within the stream; --size WxH makes every "
                    "picture one size");
    }
    if (encoder->Encode(picture, packet)) out.Write(packet.data(), packet.size());
    ++result.pictures;
    progress.Advance();
  }
  if (result.pictures == 0) throw Failure(options.input + ": no picture could be decoded");
  while (encoder->Drain(packet)) out.Write(packet.data(), packet.size());
  out.Commit();
  result.seconds = progress.Seconds();
  return result;
}

void AddVideoCommand(CLI::App& app, Global& global) {
  static VideoOptions options;
  CLI::App* command = app.add_subcommand(
      "video", "Decode IN's video, optionally filter and scale it, and encode every picture "
               "into a raw H.264 (.h264) or HEVC (.hevc) stream at IN's frame rate.");
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
