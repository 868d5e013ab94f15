// codec record OUT --seconds S: the demo's moving picture and tone encoded as they happen,
// paced to the clock, into OUT under its own name, as a camera would be recorded. With
// --crash-safe a run killed at any moment leaves a file that plays to its last fragment;
// Ctrl-C (or SIGTERM) ends the recording early and finishes the file.
#include <chrono>
#include <csignal>
#include <cstdio>
#include <thread>

#include "commands.h"
#include "failure.h"
#include "media_sink.h"
#include "progress.h"
#include "synth.h"
#include "tracks.h"

namespace codec_tool {
using namespace codec_interface;

namespace {

constexpr int kFragmentMs = 1000;

volatile std::sig_atomic_t g_stop = 0;

void Stop(int) { g_stop = 1; }

struct RecordOptions {
  std::string output;
  int seconds = 10;
  bool crashSafe = false;
  std::string size;  // empty: 1280x720
};

void Record(const RecordOptions& options, const Global& global) {
  const std::optional<std::string> container = ContainerFor(options.output);
  if (!container || (*container != "mp4" && *container != "mov" && *container != "matroska" &&
                     *container != "mpegts")) {
    throw Failure(options.output + ": the name must end in .mp4, .mov, .mkv or .ts", kExitUsage);
  }
  int width = kSynthWidth, height = kSynthHeight;
  if (!options.size.empty()) ParseSize(options.size, width, height);
  MediaSink sink(options.output, *container, 2,
                 WriterOptions(*container, options.crashSafe, kFragmentMs),
                 MediaSink::Naming::kDirect);
  PictureOutput pictures({AV_CODEC_TYPE_H264ENC, 0, kSynthFrameRate, 1, 1, kSynthFrameRate, 0},
                         {&sink, 0, 0});
  AudioEncodeSettings tone;
  tone.srcRate = tone.dstRate = kSynthSampleRate;
  SoundOutput sound(tone, {&sink, 1, 0});
  // A second of the sweep, heard again every second, a picture's share at a time.
  const Pcm sweep = MakeToneSweep(kSynthSampleRate, 1.0);
  const size_t share = size_t(kSynthSampleRate / kSynthFrameRate) * 2;
  Pcm piece{{}, kSynthSampleRate, 2};

  for (int signal : {SIGINT, SIGTERM}) std::signal(signal, Stop);
  const int count = options.seconds * kSynthFrameRate;
  Progress progress("record", count, "pictures", global.quiet);
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < count && g_stop == 0; ++i) {
    std::this_thread::sleep_until(
        start + std::chrono::microseconds(int64_t(i) * 1000000 / kSynthFrameRate));
    Picture picture = MakeTestPicture(width, height, i, kSynthFrameRate);
    const int64_t timeUs = int64_t(i) * 1000000 / kSynthFrameRate;
    pictures.Encode(picture, timeUs);
    const size_t at = (size_t(i) * share) % sweep.samples.size();
    piece.samples.assign(sweep.samples.begin() + ptrdiff_t(at),
                         sweep.samples.begin() + ptrdiff_t(at + share));
    sound.Encode(piece, 0);
    progress.Advance();
  }
  pictures.Drain();
  sound.Drain();
  sink.Finish();
  if (!global.quiet) {
    std::printf("%s: %s; %s\n", options.output.c_str(), pictures.Summary().c_str(),
                sound.Summary().c_str());
  }
}

}  // namespace

void AddRecordCommand(CLI::App& app, Global& global) {
  static RecordOptions options;
  CLI::App* command = app.add_subcommand(
      "record",
      "Record the demo's moving picture (H.264, 1280x720 at 25/s) and tone (AAC) "
      "as they happen, in real time, into OUT (.mp4, .mov, .mkv or .ts); Ctrl-C "
      "ends the recording early.");
  command->footer("Example: codec record camera.mp4 --seconds 30 --crash-safe");
  command->add_option("OUT", options.output, "the file to write")->required();
  command->add_option("--seconds", options.seconds, "length of the recording")
      ->capture_default_str()
      ->check(CLI::Range(1, 86400));
  AddCrashSafeFlag(*command, options.crashSafe);
  AddSizeOption(*command, options.size, "picture size (default: 1280x720)");
  command->callback([&global] { Record(options, global); });
}

}  // namespace codec_tool
