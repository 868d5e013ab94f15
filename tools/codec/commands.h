// The subcommands of `codec`. Each has its options, a function that does the work (the demo
// calls the same functions) and the set-up of its command line.
#pragma once

#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "codec_interface.h"

namespace codec_tool {

// Options every subcommand takes.
struct Global {
  bool quiet = false;
  bool verbose = false;
  int threads = 0;  // --threads of the commands that decode or encode pictures; 0: every core
};

// "WxH" with both numbers above 0.
bool ParseSize(const std::string& text, int& width, int& height);
// Adds --size with its check; the text lands in `text`.
CLI::Option* AddSizeOption(CLI::App& command, std::string& text, const std::string& what);
// Adds --crash-safe (MP4 and MOV in fragments).
CLI::Option* AddCrashSafeFlag(CLI::App& command, bool& flag);

void AddInfoCommand(CLI::App& app, Global& global);

struct ProbeResult {
  struct Stream {
    codec_interface::MediaStreamInfo info;  // as the reader reports it
    std::string codec;                      // its usual name, as CodecLabel gives it
    long packets = 0;
    long long bytes = 0;
    long largest = 0;
    int64_t durationUs = 0;  // the stream's own, else spanned by its packets; 0 when not known
  };
  std::string path;
  codec_interface::MediaFileInfo file{};
  std::vector<Stream> streams;
  int audio = -1;  // the streams a player would pick among those the library decodes; -1: none
  int video = -1;
};
ProbeResult Probe(const std::string& path);
void AddProbeCommand(CLI::App& app, Global& global);

struct ThumbsOptions {
  std::string input;
  std::string folder = ".";
  int every = 1;
  int count = 0;       // 0: --every; else this many spread over the file
  std::string at;      // times in seconds, "12.5,1:02"; empty: --every or --count
  std::string size;
  bool keepAspect = false;
  std::string hw;  // hardware family, empty: software
};
struct ThumbsResult {
  long pictures = 0;  // decoded
  long written = 0;
  int width = 0;  // of the first thumbnail; later ones follow the stream's size
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
  int bitRate = 0;  // 0: about 0.1 bit per pixel and picture
  std::string filter;
  std::string codec;  // "h264" or "hevc"; empty: by the output's ending, else H.264
};
struct VideoResult {
  long pictures = 0;
  int width = 0;
  int height = 0;
  double seconds = 0;
};
VideoResult ReencodeVideo(const VideoOptions& options, const Global& global);
void AddVideoCommand(CLI::App& app, Global& global);

struct ConvertOptions {
  std::string input;
  std::string output;
  std::string video;  // "h264", "hevc", "copy" or "none"; empty: what OUT's container suits
  std::string audio;  // "aac", "opus", "copy" or "none"; empty: what OUT's container suits
  std::string size;
  std::string filter;
  int bitRate = 0;       // of the pictures; 0: about 0.1 bit per pixel and picture
  int audioBitRate = 0;  // 0: the codec's usual
  int rate = 0;          // 0: keep (Opus: 48000)
  int channels = 0;      // 0: keep
  bool crashSafe = false;
  int fragmentMs = 1000;  // crash-safe: a fragment this often; 0: at every key picture
  bool remux = false;     // every stream IN has copied, whatever the modes say
};
struct ConvertResult {
  std::vector<std::string> streams;  // what each output stream holds, as the summary says
  long pictures = 0;
  int width = 0;
  int height = 0;
  long soundPackets = 0;
  double soundSeconds = 0;  // of the input
  double seconds = 0;       // taken
};
ConvertResult Convert(const ConvertOptions& options, const Global& global);
void AddConvertCommand(CLI::App& app, Global& global);
void AddRemuxCommand(CLI::App& app, Global& global);
void AddRecordCommand(CLI::App& app, Global& global);

void AddDemoCommand(CLI::App& app, Global& global);

}  // namespace codec_tool
