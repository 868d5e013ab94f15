// codec probe FILE: what the file parser reports of a file, and the first picture's size.
#include <algorithm>
#include <cstdio>

#include "audio_codec.h"
#include "commands.h"
#include "failure.h"
#include "json.h"
#include "media_input.h"
#include "video_codec.h"

namespace codec_tool {
using namespace codec_interface;

namespace {

void Count(ProbeResult::Stream& stream, long size) {
  ++stream.packets;
  stream.bytes += size;
  stream.largest = std::max(stream.largest, size);
}

void ProbeAudio(IFileParseInterface& parser, const std::string& path, ProbeResult& result) {
  result.audio.codec = AudioCodecName(parser.GetAudioCodec());
  unsigned char* data = nullptr;
  int size = 0;
  for (int durationMs = 0; parser.ReadAudioPacket(&data, &size, &durationMs) == 0;) {
    Count(result.audio, size);
    result.durationMs += durationMs;
  }
  try {
    AudioInput input(path);
    result.sampleRate = input.Format().sampleRate;
    result.channels = input.Format().channels;
  } catch (const Failure&) {
    // A codec this program does not decode: its rate and channels stay unknown.
  }
}

void ProbeVideo(const std::string& path, ProbeResult& result) {
  VideoInput input(path);
  result.video.codec = VideoKindName(input.Kind());
  DecodeSettings settings;
  settings.type = SoftwareDecoder(input.Kind());
  VideoDecoder decoder(settings);
  Bytes unit;
  Picture picture;
  while (input.Next(unit)) {
    Count(result.video, static_cast<long>(unit.size()));
    if (result.width == 0 && decoder.Decode(unit, picture)) {
      result.width = picture.width;
      result.height = picture.height;
    }
  }
}

void PrintStream(const char* label, const ProbeResult::Stream& stream, const std::string& more) {
  if (stream.codec.empty()) {
    std::printf("%-6s none\n", label);
    return;
  }
  std::printf("%-6s %s%s: %ld packets, %lld bytes (largest %ld)\n", label, stream.codec.c_str(),
              more.c_str(), stream.packets, stream.bytes, stream.largest);
}

void AddStream(JsonWriter& out, const char* key, const ProbeResult::Stream& stream) {
  if (stream.codec.empty()) {
    out.Null(key);
    return;
  }
  out.Open(key).Field("codec", stream.codec).Field("packets", stream.packets);
  out.Field("bytes", stream.bytes).Field("largest_packet", stream.largest);
}

void Print(const ProbeResult& result, bool json) {
  if (json) {
    JsonWriter out;
    out.Open().Field("file", result.path);
    AddStream(out, "audio", result.audio);
    if (!result.audio.codec.empty()) {
      out.Field("sample_rate", result.sampleRate).Field("channels", result.channels);
      out.Field("duration_ms", result.durationMs).Close();
    }
    AddStream(out, "video", result.video);
    if (!result.video.codec.empty()) {
      out.Field("width", result.width).Field("height", result.height).Close();
    }
    std::printf("%s\n", out.Close().Text().c_str());
    return;
  }
  std::printf("file   %s\n", result.path.c_str());
  char more[96] = "";
  if (result.sampleRate > 0) {
    std::snprintf(more, sizeof more, ", %d Hz, %d channel%s", result.sampleRate, result.channels,
                  result.channels == 1 ? "" : "s");
  }
  PrintStream("sound", result.audio, more);
  if (!result.audio.codec.empty()) {
    std::printf("       %lld ms in all\n", result.durationMs);
  }
  PrintStream("video", result.video, "");
  if (!result.video.codec.empty()) {
    std::printf("       first picture %dx%d\n", result.width, result.height);
  }
}

}  // namespace

ProbeResult Probe(const std::string& path) {
  CheckReadable(path);
  ProbeResult result;
  result.path = path;
  // The parser opens only files with sound; anything else may still be a raw video stream.
  auto parser = IFileParseInterface::Create();
  bool parsed = parser->Open(path.c_str()) == 0;
  if (parsed) ProbeAudio(*parser, path, result);
  if (!parsed || parser->GetVideoCodec() != FILE_VIDEO_CODEC_NONE) ProbeVideo(path, result);
  if (!result.video.codec.empty() && result.width == 0) {
    throw Failure(path + ": no picture of the video stream could be decoded");
  }
  return result;
}

void AddProbeCommand(CLI::App& app, Global&) {
  static std::string path;
  static bool json = false;
  CLI::App* command = app.add_subcommand(
      "probe", "The sound and video streams of a file as the library's parser reads them: "
               "codecs, packet counts and sizes, summed sound duration, first picture size.");
  command->footer("Example: codec probe movie.mp4 --json");
  command->add_option("FILE", path, "the media file")->required();
  command->add_flag("--json", json, "one JSON object for scripts");
  command->callback([] { Print(Probe(path), json); });
}

}  // namespace codec_tool
