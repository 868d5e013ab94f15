// The subcommands of `codec`. Each has its options, a function that does the work (the demo
// calls the same functions) and the set-up of its command line.
#pragma once

#include <string>

#include <CLI/CLI.hpp>

namespace codec_tool {

// Options every subcommand takes.
struct Global {
  bool quiet = false;
  bool verbose = false;
};

// "WxH" with both numbers above 0.
bool ParseSize(const std::string& text, int& width, int& height);
// Adds --size with its check; the text lands in `text`.
CLI::Option* AddSizeOption(CLI::App& command, std::string& text, const std::string& what);

void AddInfoCommand(CLI::App& app, Global& global);

struct ProbeResult {
  struct Stream {
    std::string codec;  // as the parser reports it, "" when there is no such stream
    long packets = 0;
    long long bytes = 0;
    long largest = 0;
  };
  std::string path;
  Stream audio;
  int sampleRate = 0;  // learned from the packets; 0 when not known
  int channels = 0;
  long long durationMs = 0;  // summed packet durations
  Stream video;
  int width = 0;  // of the first picture; 0 when none decoded
  int height = 0;
};
ProbeResult Probe(const std::string& path);
void AddProbeCommand(CLI::App& app, Global& global);

struct ThumbsOptions {
  std::string input;
  std::string folder = ".";
  int every = 1;
  std::string size;
  bool keepAspect = false;
  std::string hw;  // hardware family, empty: software
};
struct ThumbsResult {
  long pictures = 0;  // decoded
  long written = 0;
  int width = 0;
  int height = 0;
  double seconds = 0;
};
ThumbsResult MakeThumbnails(const ThumbsOptions& options, const Global& global);
void AddThumbsCommand(CLI::App& app, Global& global);

struct AudioOptions {
  std::string input;
  std::string output;
  std::string codec;  // "aac" or "opus"; empty: by the output's ending
  int rate = 0;       // 0: keep (Opus: 48000)
  int channels = 0;   // 0: keep
  int bitRate = 0;    // 0: the codec's usual
};
struct AudioResult {
  long packets = 0;
  double soundSeconds = 0;  // of the input
  double seconds = 0;       // taken
};
AudioResult ReencodeAudio(const AudioOptions& options, const Global& global);
void AddAudioCommand(CLI::App& app, Global& global);

struct VideoOptions {
  std::string input;
  std::string output;
  std::string size;
  int bitRate = 0;  // 0: about 0.1 bit per pixel at 25 pictures a second
  std::string filter;
};
struct VideoResult {
  long pictures = 0;
  int width = 0;
  int height = 0;
  double seconds = 0;
};
VideoResult ReencodeVideo(const VideoOptions& options, const Global& global);
void AddVideoCommand(CLI::App& app, Global& global);

void AddDemoCommand(CLI::App& app, Global& global);

}  // namespace codec_tool
