// codec probe FILE: every stream of a file with the facts the library's media reader gives, and
// its packets counted.
#include <algorithm>
#include <cstdio>
#include <string>
#include <string_view>

#include "commands.h"
#include "failure.h"
#include "json.h"
#include "media_source.h"

extern "C" {
#include <libavutil/pixdesc.h>
}

namespace codec_tool {
using namespace codec_interface;

namespace {

constexpr double kMicroseconds = 1e6;

bool Known(int64_t time) { return time != MEDIA_NO_TIMESTAMP && time > 0; }

// Packets of each stream counted, and the time they span where a stream does not say.
void CountPackets(MediaSource& source, ProbeResult& result) {
  std::vector<int64_t> first(result.streams.size(), INT64_MAX);
  std::vector<int64_t> last(result.streams.size(), INT64_MIN);
  for (MediaPacket packet{}; source.Next(packet);) {
    if (packet.nStreamIndex < 0 || size_t(packet.nStreamIndex) >= result.streams.size()) continue;
    size_t index = size_t(packet.nStreamIndex);
    ProbeResult::Stream& stream = result.streams[index];
    ++stream.packets;
    stream.bytes += packet.nSize;
    stream.largest = std::max(stream.largest, long(packet.nSize));
    if (packet.nPtsUs != MEDIA_NO_TIMESTAMP) {
      first[index] = std::min(first[index], packet.nPtsUs);
      last[index] = std::max(last[index], packet.nPtsUs + packet.nDurationUs);
    }
  }
  for (size_t i = 0; i < result.streams.size(); ++i) {
    ProbeResult::Stream& stream = result.streams[i];
    if (Known(stream.info.nDurationUs)) {
      stream.durationUs = stream.info.nDurationUs;
    } else if (last[i] > first[i]) {
      stream.durationUs = last[i] - first[i];
    }
  }
}

std::string FrameRate(const MediaStreamInfo& info) {
  if (info.nFrameRateNum <= 0 || info.nFrameRateDen <= 0) return "";
  char text[64];
  if (info.nFrameRateDen == 1) {
    std::snprintf(text, sizeof text, "%d fps", info.nFrameRateNum);
  } else {
    std::snprintf(text, sizeof text, "%.3f fps (%d/%d)",
                  double(info.nFrameRateNum) / info.nFrameRateDen, info.nFrameRateNum,
                  info.nFrameRateDen);
  }
  return text;
}

// FFmpeg's names of a picture's colours; "unknown" for what the stream leaves unspecified.
struct ColourNames {
  const char *range, *matrix, *primaries, *transfer;
  bool Tagged() const {
    return std::string_view(range) != "unknown" || std::string_view(matrix) != "unknown" ||
           std::string_view(primaries) != "unknown" || std::string_view(transfer) != "unknown";
  }
};

ColourNames ColoursOf(const MediaStreamInfo& info) {
  const auto name = [](const char* known) { return known != nullptr ? known : "unknown"; };
  const auto known = [](int code, int count) { return code >= 0 && code < count; };
  return {name(known(info.nColorRange, AVCOL_RANGE_NB)
                   ? av_color_range_name(AVColorRange(info.nColorRange))
                   : nullptr),
          name(known(info.nColorMatrix, AVCOL_SPC_NB)
                   ? av_color_space_name(AVColorSpace(info.nColorMatrix))
                   : nullptr),
          name(known(info.nColorPrimaries, AVCOL_PRI_NB)
                   ? av_color_primaries_name(AVColorPrimaries(info.nColorPrimaries))
                   : nullptr),
          name(known(info.nColorTransfer, AVCOL_TRC_NB)
                   ? av_color_transfer_name(AVColorTransferCharacteristic(info.nColorTransfer))
                   : nullptr)};
}

// " (tv, bt709)", " (tv, bt2020nc/bt2020/smpte2084)" or " (pc)", as ffprobe writes them; empty
// for an untagged picture.
std::string ColourText(const MediaStreamInfo& info) {
  const ColourNames names = ColoursOf(info);
  if (!names.Tagged()) return "";
  const std::string matrix = names.matrix, primaries = names.primaries, transfer = names.transfer;
  if (matrix == "unknown" && primaries == "unknown" && transfer == "unknown") {
    return std::string(" (") + names.range + ")";
  }
  const std::string colours = matrix == primaries && matrix == transfer
                                  ? matrix
                                  : matrix + "/" + primaries + "/" + transfer;
  return std::string(" (") + names.range + ", " + colours + ")";
}

// "320x240, 25 fps, yuv420p (tv, bt709), rotated 90" or "48000 Hz, 2 channels, fltp".
std::string Facts(const MediaStreamInfo& info) {
  char text[160] = "";
  if (info.eKind == MEDIA_STREAM_VIDEO) {
    std::string rate = FrameRate(info);
    std::snprintf(text, sizeof text, "%dx%d%s%s, %s", info.nWidth, info.nHeight,
                  rate.empty() ? "" : ", ", rate.c_str(), info.szPixelFormat);
    std::string facts = text + ColourText(info);
    if (info.nRotation != 0) facts += ", rotated " + std::to_string(info.nRotation);
    return facts;
  }
  if (info.eKind == MEDIA_STREAM_AUDIO) {
    std::snprintf(text, sizeof text, "%d Hz, %d channel%s, %s", info.nSampleRate, info.nChannels,
                  info.nChannels == 1 ? "" : "s", info.szSampleFormat);
  }
  return text;
}

void PrintText(const ProbeResult& result) {
  std::printf("file   %s: %s", result.path.c_str(), result.file.szFormatName);
  if (Known(result.file.nDurationUs)) {
    std::printf(", %.3f s", double(result.file.nDurationUs) / kMicroseconds);
  }
  if (result.file.nBitRate > 0) {
    std::printf(", %lld kbit/s", (long long)result.file.nBitRate / 1000);
  }
  std::printf("\n");
  for (const ProbeResult::Stream& stream : result.streams) {
    const MediaStreamInfo& info = stream.info;
    std::string facts = Facts(info);
    std::printf("stream %d: %s %s (%s)%s%s", info.nIndex, KindLabel(info.eKind),
                stream.codec.c_str(), info.szCodecName, facts.empty() ? "" : ", ", facts.c_str());
    if (stream.durationUs > 0) std::printf(", %.3f s", double(stream.durationUs) / kMicroseconds);
    if (info.szLanguage[0] != '\0' && std::string(info.szLanguage) != "und") {
      std::printf(", %s", info.szLanguage);
    }
    if ((info.nDisposition & MEDIA_DISPOSITION_ATTACHED_PIC) != 0) std::printf(", cover art");
    if (info.eDecoderType < 0) std::printf(", not decoded by the library");
    std::printf(": %ld packets, %lld bytes (largest %ld)\n", stream.packets, stream.bytes,
                stream.largest);
  }
}

void AddStream(JsonWriter& out, const char* key, const ProbeResult::Stream& stream) {
  const MediaStreamInfo& info = stream.info;
  out.Open(key).Field("index", info.nIndex).Field("kind", KindLabel(info.eKind));
  out.Field("codec", stream.codec).Field("codec_name", info.szCodecName);
  out.Field("decoded", info.eDecoderType >= 0).Field("packets", stream.packets);
  out.Field("bytes", stream.bytes).Field("largest_packet", stream.largest);
  out.Field("duration_ms", (long long)(stream.durationUs / 1000));
  out.Field("language", info.szLanguage);
  if (info.eKind == MEDIA_STREAM_VIDEO) {
    out.Field("width", info.nWidth).Field("height", info.nHeight);
    out.Field("frame_rate",
              std::to_string(info.nFrameRateNum) + "/" + std::to_string(info.nFrameRateDen));
    out.Field("rotation", info.nRotation).Field("pixel_format", info.szPixelFormat);
    const ColourNames colours = ColoursOf(info);
    out.Field("color_range", colours.range).Field("color_matrix", colours.matrix);
    out.Field("color_primaries", colours.primaries).Field("color_transfer", colours.transfer);
    out.Field("cover_art", (info.nDisposition & MEDIA_DISPOSITION_ATTACHED_PIC) != 0);
  } else if (info.eKind == MEDIA_STREAM_AUDIO) {
    out.Field("sample_rate", info.nSampleRate).Field("channels", info.nChannels);
    out.Field("sample_format", info.szSampleFormat);
  }
  out.Close();
}

void PrintJson(const ProbeResult& result) {
  JsonWriter out;
  out.Open().Field("file", result.path).Field("format", result.file.szFormatName);
  out.Field("duration_ms",
            (long long)(Known(result.file.nDurationUs) ? result.file.nDurationUs / 1000 : 0));
  out.Field("bit_rate", (long long)result.file.nBitRate).OpenArray("streams");
  for (const ProbeResult::Stream& stream : result.streams) AddStream(out, nullptr, stream);
  out.CloseArray();
  // The streams a player would pick, again under their own keys.
  for (auto [key, index] : {std::pair{"audio", result.audio}, std::pair{"video", result.video}}) {
    if (index < 0) {
      out.Null(key);
    } else {
      AddStream(out, key, result.streams[size_t(index)]);
    }
  }
  std::printf("%s\n", out.Close().Text().c_str());
}

}  // namespace

ProbeResult Probe(const std::string& path) {
  MediaSource source(path);
  ProbeResult result;
  result.path = path;
  result.file = source.File();
  for (const MediaStreamInfo& info : source.Streams()) {
    result.streams.push_back({info, CodecLabel(info)});
  }
  result.audio = source.Best(MEDIA_STREAM_AUDIO);
  result.video = source.Best(MEDIA_STREAM_VIDEO);
  CountPackets(source, result);
  return result;
}

void AddProbeCommand(CLI::App& app, Global&) {
  static std::string path;
  static bool json = false;
  CLI::App* command = app.add_subcommand(
      "probe",
      "Every stream of a file as the library's media reader sees it: kind, codec, "
      "picture size, frame rate and rotation, sample rate and channels, duration, "
      "packet counts and sizes.");
  command->footer("Example: codec probe movie.mp4 --json");
  command->add_option("FILE", path, "the media file")->required();
  command->add_flag("--json", json, "one JSON object for scripts");
  command->callback([] {
    ProbeResult result = Probe(path);
    if (json) {
      PrintJson(result);
    } else {
      PrintText(result);
    }
  });
}

}  // namespace codec_tool
