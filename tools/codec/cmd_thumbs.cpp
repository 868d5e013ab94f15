// codec thumbs FILE: pictures of the video stream as upright BMP files (every Nth, N spread over
// the file by seeking, or those shown at given times), through the library's media reader,
// decoder (in software, or on a hardware family when asked and available) and BMP encoder.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <span>
#include <vector>

#include "commands.h"
#include "failure.h"
#include "media_source.h"
#include "output_file.h"
#include "progress.h"
#include "video_codec.h"
#include "utf8_path.h"

namespace codec_tool {
using namespace codec_interface;

namespace {

struct HardwareFamily {
  HardwareDecoderType type;
  CodecType h264;
  CodecType hevc;
};

const std::map<std::string, HardwareFamily>& HardwareFamilies() {
  static const std::map<std::string, HardwareFamily> families = {
      {"dxva2", {HARDWARE_DECODER_DXVA2, AV_CODEC_TYPE_H264DEC_DXVA2, AV_CODEC_TYPE_HEVCDEC_DXVA2}},
      {"d3d11va",
       {HARDWARE_DECODER_D3D11VA, AV_CODEC_TYPE_H264DEC_D3D11VA, AV_CODEC_TYPE_HEVCDEC_D3D11VA}},
      {"d3d12va",
       {HARDWARE_DECODER_D3D12VA, AV_CODEC_TYPE_H264DEC_D3D12VA, AV_CODEC_TYPE_HEVCDEC_D3D12VA}},
      {"videotoolbox",
       {HARDWARE_DECODER_VIDEOTOOLBOX, AV_CODEC_TYPE_H264DEC_VIDEOTOOLBOX,
        AV_CODEC_TYPE_HEVCDEC_VIDEOTOOLBOX}}};
  return families;
}

// The decoder to use: the family's when the probe says it works here, else software, as a
// host does after CheckHardwareDecode.
CodecType ChooseDecoder(const MediaStreamInfo& stream, const std::string& hw,
                        const Global& global) {
  bool h264 = stream.eDecoderType == AV_CODEC_TYPE_H264DEC;
  if (hw.empty() || (!h264 && stream.eDecoderType != AV_CODEC_TYPE_HEVCDEC)) {
    return stream.eDecoderType;
  }
  const HardwareFamily& family = HardwareFamilies().at(hw);
  CodecType type = h264 ? family.h264 : family.hevc;
  ICodecInterface::Prepare(family.type, 0);
  if (ICodecInterface::CheckHardwareDecode(type, 0)) return type;
  if (!global.quiet) {
    std::fprintf(stderr, "codec: %s decoding is not available here; decoding in software\n",
                 hw.c_str());
  }
  return stream.eDecoderType;
}

// The filter that turns a picture upright, as the file's display matrix asks.
std::string UprightFilter(int rotation) {
  switch (rotation) {
    case 90: return "transpose=clock";
    case 180: return "hflip,vflip";
    case 270: return "transpose=cclock";
    default: return "";
  }
}

// BGRA pictures, scaled before they are turned upright: a size asked for the upright picture
// is the stored picture's turned by a quarter.
DecodeSettings ThumbnailSettings(const ThumbsOptions& options, const MediaStreamInfo& stream,
                                 const Global& global) {
  DecodeSettings settings;
  settings.format = PIX_FMT_BGRA;  // the one layout both the decoder and the BMP encoder speak
  if (!options.size.empty()) ParseSize(options.size, settings.width, settings.height);
  if (stream.nRotation == 90 || stream.nRotation == 270) {
    std::swap(settings.width, settings.height);
  }
  settings.keepAspect = options.keepAspect;
  settings.filter = UprightFilter(stream.nRotation);
  settings.type = ChooseDecoder(stream, options.hw, global);
  // Most pictures are skipped: converted only when written, where the library names the
  // stream's layout and nothing else is done to the pictures.
  const std::string layout = stream.szPixelFormat;
  settings.convertWhenTaken = settings.width == 0 && settings.filter.empty() &&
                              settings.type == stream.eDecoderType &&
                              (layout == "yuv420p" || layout == "yuvj420p");
  return settings;
}

std::string ThumbnailPath(const std::string& folder, long number) {
  char name[32];
  std::snprintf(name, sizeof name, "thumb-%05ld.bmp", number);
  return Utf8Text(Utf8Path(folder) / name);
}

// Writes thumbnails as BMP files, the encoder made again whenever the pictures change size.
class ThumbnailWriter {
 public:
  ThumbnailWriter(std::string folder, ThumbsResult& result)
      : m_strFolder(std::move(folder)), m_result(result) {}

  void Write(Picture& picture, long number) {
    if (!m_bmp || picture.width != m_nWidth || picture.height != m_nHeight) {
      m_bmp.reset();
      m_bmp.emplace(EncodeSettings{AV_CODEC_TYPE_BMPENC, PIX_FMT_BGRA, picture.width,
                                   picture.height, 0, 25, 1});
      m_nWidth = picture.width;
      m_nHeight = picture.height;
    }
    if (!m_bmp->Encode(picture, m_file)) throw Failure("a thumbnail could not be encoded");
    OutputFile out(ThumbnailPath(m_strFolder, number));
    out.Write(m_file.data(), m_file.size());
    out.Commit();
    if (m_result.written++ == 0) {
      m_result.width = picture.width;
      m_result.height = picture.height;
    }
  }

 private:
  std::string m_strFolder;
  ThumbsResult& m_result;
  std::optional<VideoEncoder> m_bmp;
  int m_nWidth = 0;
  int m_nHeight = 0;
  Bytes m_file;
};

constexpr int64_t kMicroseconds = 1000000;
constexpr double kLongestSeconds = 1e9;  // past any file, and still exact in microseconds

// One picture's time at the stream's rate, 25 a second where it does not say.
int64_t PictureUs(const MediaStreamInfo& stream) {
  if (stream.nFrameRateNum <= 0 || stream.nFrameRateDen <= 0) return kMicroseconds / 25;
  return kMicroseconds * stream.nFrameRateDen / stream.nFrameRateNum;
}

std::string Seconds(int64_t timeUs) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f s", double(timeUs) / kMicroseconds);
  return text;
}

// "12.5", "1:02" or "1:00:02.5" in microseconds; -1 when it is none of them.
int64_t ParseTime(const std::string& text) {
  double seconds = 0;
  size_t at = 0;
  for (int part = 0; part < 3; ++part) {
    size_t end = text.find(':', at);
    std::string field = text.substr(at, end == std::string::npos ? end : end - at);
    char* stop = nullptr;
    double value = std::strtod(field.c_str(), &stop);
    if (field.empty() || *stop != '\0' || !(value >= 0) || field.find_first_of("eEnNxX+-") !=
        std::string::npos) {
      return -1;
    }
    seconds = seconds * 60 + value;
    if (seconds > kLongestSeconds) return -1;
    if (end == std::string::npos) return int64_t(std::llround(seconds * kMicroseconds));
    at = end + 1;
  }
  return -1;
}

std::vector<int64_t> ParseTimes(const std::string& list) {
  std::vector<int64_t> times;
  for (size_t at = 0; at <= list.size();) {
    size_t end = std::min(list.find(',', at), list.size());
    int64_t time = ParseTime(list.substr(at, end - at));
    if (time < 0) return {};
    times.push_back(time);
    at = end + 1;
  }
  return times;
}

// The video stream's length when the container does not say: spanned by its packets' times, or
// its pictures at the stream's rate (a raw stream has no times).
int64_t MeasureDurationUs(const std::string& path, int64_t pictureUs) {
  MediaSource source(path);
  source.Choose(MEDIA_STREAM_VIDEO);
  int64_t first = INT64_MAX;
  int64_t last = 0;
  int64_t packets = 0;
  for (MediaPacket packet{}; source.Next(packet); ++packets) {
    if (packet.nPtsUs == MEDIA_NO_TIMESTAMP) continue;
    first = std::min(first, packet.nPtsUs);
    last = std::max(last, packet.nPtsUs + packet.nDurationUs);
  }
  return first == INT64_MAX ? packets * pictureUs : last - first;
}

// The pictures of the stream and where they stand.
struct Walk {
  PictureStream& pictures;
  ThumbnailWriter& writer;
  ThumbsResult& result;
  int64_t startUs;    // the file's first time: the times asked for count from there
  int64_t pictureUs;  // one picture's time at the stream's rate
  long fromStart = 0;  // pictures since the start; -1 after a seek elsewhere

  bool Next(Picture& picture, bool pixels = true) {
    if (!pictures.Next(picture, pixels)) return false;
    ++result.pictures;
    // A raw stream's pictures come without times: counted from the start instead.
    if (picture.timeUs == MEDIA_NO_TIMESTAMP && fromStart >= 0) {
      picture.timeUs = startUs + fromStart * pictureUs;
    }
    if (fromStart >= 0) ++fromStart;
    return true;
  }
};

void EveryNth(Walk& walk, int every) {
  for (Picture picture; walk.Next(picture, walk.result.pictures % every == 0);) {
    if ((walk.result.pictures - 1) % every == 0) walk.writer.Write(picture, walk.result.pictures);
  }
}

// Decodes on from where the stream stands and writes, for each of the ascending times, the
// picture shown then: the last one that starts at or before it (the first one, when reading
// began later). Pictures without a time count as shown before the next time. False when no
// picture came at all.
bool ShownAt(Walk& walk, std::span<const int64_t> times, long number) {
  std::optional<Picture> shown;
  size_t next = 0;
  for (Picture picture; next < times.size() && walk.Next(picture);) {
    for (; next < times.size() && picture.timeUs != MEDIA_NO_TIMESTAMP &&
           picture.timeUs > walk.startUs + times[next];
         ++next) {
      walk.writer.Write(shown ? *shown : picture, number++);
    }
    shown = std::move(picture);
  }
  if (!shown) return next == times.size();
  for (; next < times.size(); ++next) walk.writer.Write(*shown, number++);
  return true;
}

// Each time by a seek to the key frame before it and decoding on from there: the picture shown
// then, or with `first`, the key frame's own. From the first time the container does not seek
// to, or a seek that finds no key frame after it, the rest are decoded from the start at once.
void BySeeking(Walk& walk, const std::vector<int64_t>& times, bool first) {
  for (size_t i = 0; i < times.size(); ++i) {
    const long number = long(i) + 1;
    walk.fromStart = -1;
    Picture picture;
    if (walk.pictures.Seek(times[i]) &&
        (first ? walk.Next(picture) : ShownAt(walk, std::span(times).subspan(i, 1), number))) {
      if (first) walk.writer.Write(picture, number);
      continue;
    }
    walk.pictures.Restart();
    walk.fromStart = 0;
    if (!ShownAt(walk, std::span(times).subspan(i), number)) {
      throw Failure("no picture could be decoded");
    }
    return;
  }
}

}  // namespace

ThumbsResult MakeThumbnails(const ThumbsOptions& options, const Global& global) {
  MediaSource source(options.input);
  const MediaStreamInfo& stream = source.Choose(MEDIA_STREAM_VIDEO);
  std::vector<int64_t> times = ParseTimes(options.at);
  int64_t durationUs = 0;
  if (options.count > 0 || !times.empty()) {
    durationUs = source.DurationUs();
    if (durationUs <= 0) durationUs = MeasureDurationUs(options.input, PictureUs(stream));
  }
  std::sort(times.begin(), times.end());
  if (!times.empty() && durationUs > 0 && times.back() > durationUs) {
    throw Failure(options.input + ": --at " + Seconds(times.back()) +
                      " is past the end of the video (" + Seconds(durationUs) + ")",
                  kExitFailure, true);
  }
  if (options.count > 0 && durationUs <= 0) {
    throw Failure(options.input + ": the file does not tell how long it is; --every works",
                  kExitFailure, true);
  }
  for (int i = 0; i < options.count; ++i) {
    times.push_back(durationUs * (2 * i + 1) / (2 * int64_t(options.count)));
  }
  PictureStream pictures(source, ThumbnailSettings(options, stream, global));
  MakeFolder(options.folder);
  ThumbsResult result;
  ThumbnailWriter writer(options.folder, result);
  int64_t start = source.File().nStartTimeUs;
  Walk walk{pictures, writer, result, start == MEDIA_NO_TIMESTAMP ? 0 : start, PictureUs(stream)};
  Progress progress("thumbnails", 0, "pictures", global.quiet);
  if (times.empty()) {
    EveryNth(walk, options.every);
  } else {
    BySeeking(walk, times, options.count > 0);
  }
  if (result.pictures == 0) throw Failure(options.input + ": no picture could be decoded");
  result.seconds = progress.Seconds();
  return result;
}

void AddThumbsCommand(CLI::App& app, Global& global) {
  static ThumbsOptions options;
  CLI::App* command = app.add_subcommand(
      "thumbs", "Decode the video stream and write pictures as upright BMP files: every Nth "
                "(thumb-00001.bmp, ... numbered by picture), N spread over the file, or the "
                "ones shown at given times (numbered in order).");
  command->footer("Example: codec thumbs movie.mp4 -o thumbs --every 25 --size 320x180 "
                  "--keep-aspect");
  command->add_option("FILE", options.input, "the media file")->required();
  command->add_option("-o,--output", options.folder, "folder for the BMP files (made if missing)")
      ->capture_default_str();
  CLI::Option* every = command->add_option("--every", options.every, "write every Nth picture")
                           ->capture_default_str()
                           ->check(CLI::Range(1, 1000000));
  CLI::Option* count =
      command->add_option("--count", options.count, "N pictures spread over the whole file")
          ->check(CLI::Range(1, 10000))
          ->excludes(every);
  command->add_option("--at", options.at,
                      "the pictures shown at these times (seconds or M:S; numbered in time order)")
      ->type_name("T[,T...]")
      ->excludes(every)
      ->excludes(count)
      ->check(CLI::Validator(
          [](std::string& value) {
            return ParseTimes(value).empty() ? "must be times such as 12.5 or 1:02,2:30" : "";
          },
          "T[,T...]"));
  AddSizeOption(*command, options.size, "thumbnail size (default: the picture's)");
  command->add_flag("--keep-aspect", options.keepAspect,
                    "fit into --size keeping the picture's aspect ratio");
  std::vector<std::string> families;
  for (const auto& [name, family] : HardwareFamilies()) families.push_back(name);
  command->add_option("--hw", options.hw, "decode on this hardware family when it works here")
      ->check(CLI::IsMember(families));
  command->callback([&global] {
    ThumbsResult result = MakeThumbnails(options, global);
    if (!global.quiet) {
      std::printf("%ld thumbnail(s) of %dx%d from %ld picture(s) in %s\n", result.written,
                  result.width, result.height, result.pictures, options.folder.c_str());
    }
  });
}

}  // namespace codec_tool
