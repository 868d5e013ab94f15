// codec demo [DIR]: the library doing its job on media it makes itself. Encodes a moving test
// picture to H.264 and HEVC and a tone sweep to AAC and Opus, packs the sound into every
// container the library writes, then runs the other subcommands on the results, reads every
// file back through the media reader (one of them also by seeking) and prints a table of what
// each holds, how fast each step ran and how close the decoded result is to the source.
#include <cstdio>
#include <filesystem>
#include <functional>
#include <vector>

#include "audio_codec.h"
#include "commands.h"
#include "failure.h"
#include "media_source.h"
#include "output_file.h"
#include "progress.h"
#include "quality.h"
#include "synth.h"
#include "video_codec.h"
#include "utf8_path.h"

namespace codec_tool {
using namespace codec_interface;

namespace {

constexpr int kVideoBitRate = 500000;
constexpr int kSoundChunk = 960;  // samples per channel handed to the encoder at a time
constexpr int kMaxSoundDelay = 4096;  // encoder and decoder delay searched for by the SNR

// The lowest quality each result may show, set from measurement with margin. Pictures: the
// clean test pattern measured 59 dB (H.264) and 63 dB (HEVC) at 0.5 Mbit/s, and 39 dB after
// the re-encode to 640x360 and back up. Sound: waveform SNR of the sweep measured 32.5 dB for
// AAC at 128 kbit/s, 33.0 dB for Opus at 96 kbit/s and 22.4 dB for the mono Opus re-encode of
// the AAC file at 48 kbit/s (8.0 dB with one second of sound: the sweep then rises so fast that
// its upper half comes out poorly); the floors leave margin below those.
constexpr double kMinPicturePsnr = 45.0;
constexpr double kMinScaledPsnr = 32.0;
constexpr double kMinAacSnr = 26.0;
constexpr double kMinOpusSnr = 26.0;
constexpr double kMinReencodedSnr = 6.0;

struct Row {
  std::string file;
  std::string holds;
  std::string step;
  std::string speed;
  std::string quality;
};

std::string Format(const char* format, double a, double b = 0) {
  char text[64];
  std::snprintf(text, sizeof text, format, a, b);
  return text;
}

class Demo {
 public:
  Demo(std::string folder, int seconds, const Global& global)
      : m_strFolder(std::move(folder)), m_nSeconds(seconds), m_global(global) {}

  int Run();

 private:
  std::string Path(const std::string& name) const {
    return Utf8Text(Utf8Path(m_strFolder) / name);
  }
  // Runs one step; a failure becomes the row's quality column and the demo's result.
  void Step(const std::string& file, const std::string& step, const std::function<void(Row&)>& body);
  void Judge(Row& row, const char* measure, double value, double floor);
  std::string Holds(const std::string& name);

  void EncodeVideo(CodecType type, const std::string& name);
  void EncodeSound(SoundCodec codec, const std::vector<std::string>& names, double floor);
  void Thumbnails();
  void ReencodeSound();
  void ReencodeVideoSmaller();
  void SeekInSound();
  void PrintTable() const;

  std::string m_strFolder;
  int m_nSeconds;
  const Global& m_global;
  std::vector<Picture> m_pictures;
  Pcm m_sound;
  std::vector<Row> m_rows;
  bool m_bFailed = false;
};

void Demo::Step(const std::string& file, const std::string& step,
                const std::function<void(Row&)>& body) {
  Row row{file, "", step, "", ""};
  try {
    body(row);
  } catch (const Failure& failure) {
    row.quality = std::string("FAILED: ") + failure.what();
    m_bFailed = true;
  }
  m_rows.push_back(row);
}

void Demo::Judge(Row& row, const char* measure, double value, double floor) {
  char text[64];
  std::snprintf(text, sizeof text, "%s %.1f dB%s", measure, value, value < floor ? " LOW" : "");
  row.quality = text;
  if (value < floor) m_bFailed = true;
}

std::string Demo::Holds(const std::string& name) {
  ProbeResult probe = Probe(Path(name));
  char text[128];
  int index = probe.video >= 0 ? probe.video : probe.audio;
  if (index < 0) throw Failure(name + ": no stream the library decodes");
  const ProbeResult::Stream& stream = probe.streams[size_t(index)];
  const MediaStreamInfo& info = stream.info;
  if (info.eKind == MEDIA_STREAM_VIDEO) {
    std::snprintf(text, sizeof text, "%s %dx%d, %ld pictures", stream.codec.c_str(), info.nWidth,
                  info.nHeight, stream.packets);
  } else {
    std::snprintf(text, sizeof text, "%s %d Hz %s, %ld packets, %.2f s", stream.codec.c_str(),
                  info.nSampleRate, info.nChannels == 1 ? "mono" : "stereo", stream.packets,
                  double(stream.durationUs) / 1e6);
  }
  return text;
}

void Demo::EncodeVideo(CodecType type, const std::string& name) {
  Step(name, type == AV_CODEC_TYPE_H264ENC ? "encode H.264" : "encode HEVC", [&](Row& row) {
    {
      VideoEncoder encoder(EncodeSettings{type, PIX_FMT_YUV420P, kSynthWidth, kSynthHeight,
                                          kVideoBitRate, kSynthFrameRate, kSynthFrameRate});
      OutputFile out(Path(name));
      Progress progress(row.step, long(m_pictures.size()), "pictures", m_global.quiet);
      Bytes packet;
      for (Picture& picture : m_pictures) {
        if (encoder.Encode(picture, packet)) out.Write(packet.data(), packet.size());
        progress.Advance();
      }
      out.Commit();
      double seconds = progress.Seconds();
      row.speed = Format("%.0f pictures/s, %.1fx", m_pictures.size() / seconds,
                         double(m_nSeconds) / seconds);
    }
    row.holds = Holds(name);
    MediaSource source(Path(name));
    PictureStream pictures(source, DecodeSettings{});
    PsnrMeter psnr;
    for (Picture picture; psnr.Pictures() < long(m_pictures.size()) && pictures.Next(picture);) {
      psnr.Add(m_pictures[psnr.Pictures()].data, picture.data);
    }
    if (psnr.Pictures() != long(m_pictures.size())) {
      throw Failure(Format("%.0f of %.0f pictures decoded back", psnr.Pictures(), m_pictures.size()));
    }
    Judge(row, "PSNR", psnr.Decibels(), kMinPicturePsnr);
  });
}

void Demo::EncodeSound(SoundCodec codec, const std::vector<std::string>& names, double floor) {
  const char* step = codec == SoundCodec::kAac ? "encode AAC, pack" : "encode Opus, pack";
  double seconds = 0;
  bool encoded = false;
  Step(names.front(), step, [&](Row&) {
    AudioEncodeSettings settings;
    settings.codec = codec;
    settings.bitRate = codec == SoundCodec::kAac ? 128000 : 96000;
    settings.packerTiming = true;
    AudioEncoder encoder(settings);
    std::vector<std::unique_ptr<AudioFileWriter>> writers;
    for (const std::string& name : names) {
      writers.push_back(std::make_unique<AudioFileWriter>(
          Path(name), *PackTypeFor(name, codec), settings));
    }
    size_t frames = m_sound.samples.size() / 2;
    Progress progress(step, long(frames / kSoundChunk), "blocks", m_global.quiet);
    auto write = [&](const AudioEncOutData& out) {
      for (auto& writer : writers) writer->Write(out);
    };
    for (size_t at = 0; at < frames; at += kSoundChunk) {
      int count = int(std::min<size_t>(kSoundChunk, frames - at));
      encoder.Encode(&m_sound.samples[at * 2], count, write);
      progress.Advance();
    }
    encoder.Drain(write);
    for (auto& writer : writers) writer->Finish();
    seconds = progress.Seconds();
    encoded = true;
  });
  m_rows.pop_back();  // every file gets its own row below
  for (const std::string& name : names) {
    Step(name, step, [&](Row& row) {
      if (!encoded) throw Failure("not written");
      row.speed = Format("%.0fx real time", m_nSeconds / seconds);
      row.holds = Holds(name);
      Judge(row, "SNR", SoundSnr(m_sound, DecodeAudioFile(Path(name)), kMaxSoundDelay), floor);
    });
  }
}

void Demo::Thumbnails() {
  Step("thumbs/", "thumbs", [&](Row& row) {
    ThumbsOptions options;
    options.input = Path("video.h264");
    options.folder = Path("thumbs");
    options.every = kSynthFrameRate;
    options.size = "320x180";
    Global quiet = m_global;
    quiet.quiet = true;
    ThumbsResult result = MakeThumbnails(options, quiet);
    row.holds = Format("%.0f BMP files", result.written) +
                Format(" %.0fx%.0f", result.width, result.height);
    row.speed = Format("%.0f pictures/s", result.pictures / result.seconds);
    row.quality = "-";
  });
}

void Demo::ReencodeSound() {
  Step("sound-mono.ogg", "audio: AAC to mono Opus", [&](Row& row) {
    AudioOptions options;
    options.input = Path("sound.m4a");
    options.output = Path("sound-mono.ogg");
    options.channels = 1;
    AudioResult result = ReencodeAudio(options, m_global);
    row.speed = Format("%.0fx real time", result.soundSeconds / result.seconds);
    row.holds = Holds("sound-mono.ogg");
    Judge(row, "SNR", SoundSnr(m_sound, DecodeAudioFile(options.output), kMaxSoundDelay),
          kMinReencodedSnr);
  });
}

// The HEVC file made smaller into H.264; its quality is judged at the source's size, each
// decoded picture scaled back up with the raw transcoder.
void Demo::ReencodeVideoSmaller() {
  Step("video-640x360.h264", "video: HEVC to 640x360 H.264", [&](Row& row) {
    VideoOptions options;
    options.input = Path("video.hevc");
    options.output = Path("video-640x360.h264");
    options.size = "640x360";
    VideoResult result = ReencodeVideo(options, m_global);
    row.speed = Format("%.0f pictures/s, %.1fx", result.pictures / result.seconds,
                       double(m_nSeconds) / result.seconds);
    row.holds = Holds("video-640x360.h264");
    auto scaler = ITransCoder::Create();
    TransCoderParam param{};
    param.eSrcPixelFormat = PIX_FMT_YUV420P;
    param.nSrcWidth = result.width;
    param.nSrcHeight = result.height;
    param.eDstPixelFormat = PIX_FMT_YUV420P;
    param.nDstWidth = kSynthWidth;
    param.nDstHeight = kSynthHeight;
    if (scaler->Init(0, param) != 0) throw Failure("the raw transcoder did not start");
    MediaSource source(options.output);
    PictureStream pictures(source, DecodeSettings{});
    CVideoDecodeOutParam scaled(OUTPARAM_FLAG_NOT_USE_CACHE);
    PsnrMeter psnr;
    Bytes big(m_pictures.front().data.size());
    for (Picture picture; psnr.Pictures() < long(m_pictures.size()) && pictures.Next(picture);) {
      scaled.Clear();
      if (scaler->Transcode(&pictures.Decoder().Latest(), 0, &scaled) != 0 ||
          ICodecInterface::ImageCopyToBuffer(big.data(), int(big.size()), scaled, 0) !=
              int(big.size())) {
        throw Failure("a picture could not be scaled back up");
      }
      psnr.Add(m_pictures[psnr.Pictures()].data, big);
    }
    scaled.Clear();
    Judge(row, "PSNR", psnr.Decibels(), kMinScaledPsnr);
  });
}

// The reader's seek: from the middle of the MP4 file, the sound continues within one packet of
// the time asked for.
void Demo::SeekInSound() {
  Step("sound.m4a", "read back, seek to the middle", [&](Row& row) {
    MediaSource source(Path("sound.m4a"));
    const MediaStreamInfo& stream = source.Choose(MEDIA_STREAM_AUDIO);
    row.holds = source.File().szFormatName;
    const int64_t middle = m_nSeconds * 500000LL;
    MediaPacket packet{};
    if (!source.Seek(middle) || !source.Next(packet) || packet.nPtsUs == MEDIA_NO_TIMESTAMP) {
      throw Failure("no packet after a seek to the middle");
    }
    const int64_t start = stream.nStartTimeUs == MEDIA_NO_TIMESTAMP ? 0 : stream.nStartTimeUs;
    const double missed = double(middle - (packet.nPtsUs - start)) / 1e6;
    const double packetSeconds = 1024.0 / stream.nSampleRate;
    row.speed = "-";
    const bool wrong = missed < 0 || missed > packetSeconds;
    row.quality = Format("landed %.3f s early", missed) + (wrong ? " WRONG" : "");
    if (wrong) m_bFailed = true;
  });
}

void Demo::PrintTable() const {
  const Row header{"file", "holds", "step", "speed", "quality"};
  size_t widths[4] = {0, 0, 0, 0};
  auto measure = [&](const Row& row) {
    widths[0] = std::max(widths[0], row.file.size());
    widths[1] = std::max(widths[1], row.holds.size());
    widths[2] = std::max(widths[2], row.step.size());
    widths[3] = std::max(widths[3], row.speed.size());
  };
  measure(header);
  for (const Row& row : m_rows) measure(row);
  auto print = [&](const Row& row) {
    std::printf("%-*s  %-*s  %-*s  %-*s  %s\n", int(widths[0]), row.file.c_str(),
                int(widths[1]), row.holds.c_str(), int(widths[2]), row.step.c_str(),
                int(widths[3]), row.speed.c_str(), row.quality.c_str());
  };
  print(header);
  for (const Row& row : m_rows) print(row);
}

int Demo::Run() {
  MakeFolder(m_strFolder);
  int count = m_nSeconds * kSynthFrameRate;
  for (int i = 0; i < count; ++i) {
    m_pictures.push_back(MakeTestPicture(kSynthWidth, kSynthHeight, i, kSynthFrameRate));
  }
  m_sound = MakeToneSweep(kSynthSampleRate, m_nSeconds);
  if (!m_global.quiet) {
    std::printf("codec demo: %d s of a %dx%d test picture at %d/s and of a 48000 Hz stereo "
                "sweep, into %s\n\n",
                m_nSeconds, kSynthWidth, kSynthHeight, kSynthFrameRate, m_strFolder.c_str());
    std::fflush(stdout);
  }
  EncodeVideo(AV_CODEC_TYPE_H264ENC, "video.h264");
  EncodeVideo(AV_CODEC_TYPE_HEVCENC, "video.hevc");
  EncodeSound(SoundCodec::kAac, {"sound.aac", "sound.m4a"}, kMinAacSnr);
  EncodeSound(SoundCodec::kOpus, {"sound.ogg", "sound-opus.mp4"}, kMinOpusSnr);
  Thumbnails();
  ReencodeSound();
  ReencodeVideoSmaller();
  SeekInSound();
  if (!m_global.quiet) PrintTable();
  if (m_bFailed) {
    throw Failure("a step failed or its quality is below what its settings give", kExitFailure,
                  true);
  }
  return 0;
}

}  // namespace

void AddDemoCommand(CLI::App& app, Global& global) {
  static std::string folder = "codec-demo";
  static int seconds = 3;
  CLI::App* command = app.add_subcommand(
      "demo", "Make a test picture and a tone sweep in memory, encode, pack, probe, "
              "thumbnail and re-encode them through the library into DIR, read every file "
              "back and print what each holds, how fast each step ran and its quality.");
  command->footer("Example: codec demo ./codec-demo");
  command->add_option("DIR", folder, "folder for the files (made if missing)")
      ->capture_default_str();
  command->add_option("--seconds", seconds, "length of the source media")
      ->capture_default_str()
      ->check(CLI::Range(1, 10));
  command->callback([&global] { Demo(folder, seconds, global).Run(); });
}

}  // namespace codec_tool
