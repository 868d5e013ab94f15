// The codec program run as a user runs it, on files made here with plain FFmpeg, and its demo
// read back with plain libavformat/libavcodec.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "support/media.h"

namespace codec_test {
namespace {

namespace fs = std::filesystem;

struct Outcome {
  int code;
  std::string out, err;
};

class CodecCommand : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = fs::path(::testing::TempDir()) / ("codec_command_" + std::to_string(getpid()));
    fs::create_directories(dir_);
    // libx265 keeps a few blocks past its close; they are not the program's, nor is the note
    // of them its output.
    std::ofstream(dir_ / "lsan.supp") << "leak:libx265.so\n";
    EncodedStream h264 = EncodeVideo("libx264", 320, 240, 25, {{"flags", "+global_header"}});
    EncodedStream hevc = EncodeVideo("libx265", 320, 240, 25, {{"flags", "+global_header"}});
    EncodedStream aac = EncodeTone("aac", 48000, 2, 40 * 1024);
    EncodedStream opus = EncodeTone("libopus", 48000, 1, 50 * 960, 960);
    WriteMediaFile(In("movie.mp4"), "mp4", {&h264, &aac});
    WriteMediaFile(In("movie.mkv"), "matroska", {&hevc, &opus});
    WriteMediaFile(In("movie.ts"), "mpegts", {&h264, &aac});
    WriteMediaFile(In("tone.ogg"), "ogg", {&opus});
    EncodedStream mp3 = EncodeTone("libmp3lame", 44100, 2, 10 * 1152);
    WriteMediaFile(In("tone.mp3"), "mp3", {&mp3});
    EncodedStream annexB = EncodeVideo("libx265", 320, 240, 25);  // parameter sets in the stream
    WriteMediaFile(In("raw.hevc"), "hevc", {&annexB});
    std::ofstream(In("notes.txt")) << "not media\n";
  }
  static void TearDownTestSuite() { fs::remove_all(dir_); }

  static std::string In(const std::string& name) { return (dir_ / name).string(); }

  static Outcome Codec(const std::string& args) {
    const std::string command = "LSAN_OPTIONS=print_suppressions=0:suppressions=" + In("lsan.supp") +
                                " " CODEC_PROGRAM " " + args + " >" + In("stdout") + " 2>" + In("stderr") +
                                " </dev/null";
    const int status = std::system(command.c_str());
    const auto slurp = [](const std::string& name) {
      std::stringstream text;
      text << std::ifstream(In(name), std::ios::binary).rdbuf();
      return text.str();
    };
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, slurp("stdout"), slurp("stderr")};
  }

  static fs::path dir_;
};
fs::path CodecCommand::dir_;

// The packets of the file's first stream.
int64_t FirstStreamPackets(const ReadBack& file) {
  return std::ranges::count(file.packets, 0, &ReadBack::Packet::stream);
}

TEST_F(CodecCommand, DemoWritesFilesThatPlainFFmpegReadsAsItsTableSays) {
  const std::string demo = In("demo");
  const Outcome run = Codec("demo " + demo + " --seconds 1");
  ASSERT_EQ(run.code, 0) << run.out << run.err;
  // File, kind, codec, picture size or channels.
  const std::tuple<const char*, AVMediaType, AVCodecID, int, int, int> expected[] = {
      {"video.h264", AVMEDIA_TYPE_VIDEO, AV_CODEC_ID_H264, 1280, 720, 0},
      {"video.hevc", AVMEDIA_TYPE_VIDEO, AV_CODEC_ID_HEVC, 1280, 720, 0},
      {"video-640x360.h264", AVMEDIA_TYPE_VIDEO, AV_CODEC_ID_H264, 640, 360, 0},
      {"thumbs/thumb-00001.bmp", AVMEDIA_TYPE_VIDEO, AV_CODEC_ID_BMP, 320, 180, 0},
      {"sound.aac", AVMEDIA_TYPE_AUDIO, AV_CODEC_ID_AAC, 0, 0, 2},
      {"sound.m4a", AVMEDIA_TYPE_AUDIO, AV_CODEC_ID_AAC, 0, 0, 2},
      {"sound.ogg", AVMEDIA_TYPE_AUDIO, AV_CODEC_ID_OPUS, 0, 0, 2},
      {"sound-opus.mp4", AVMEDIA_TYPE_AUDIO, AV_CODEC_ID_OPUS, 0, 0, 2},
      {"sound-mono.ogg", AVMEDIA_TYPE_AUDIO, AV_CODEC_ID_OPUS, 0, 0, 1},
  };
  for (const auto& [file, kind, codec, width, height, channels] : expected) {
    SCOPED_TRACE(file);
    const ReadBack got = ReadMediaFile(demo + "/" + file);
    ASSERT_FALSE(got.streams.empty());
    const AVCodecParameters* stream = got.streams[0].get();
    EXPECT_EQ(std::tuple(stream->codec_type, stream->codec_id), std::tuple(kind, codec));
    const std::string name = fs::path(file).filename().string();
    const size_t at = run.out.find("\n" + name + " ");
    const bool listed = at != std::string::npos;
    const std::string line = listed ? run.out.substr(at + 1, run.out.find('\n', at + 1) - at - 1) : std::string();
    EXPECT_TRUE(listed || name.ends_with(".bmp")) << run.out;
    if (kind == AVMEDIA_TYPE_VIDEO) {
      // Every picture the table counts decodes, at the size it names.
      const int64_t pictures = name.ends_with(".bmp") ? 1 : 25;
      EXPECT_EQ(std::tuple(got.width, got.height, got.decoded, FirstStreamPackets(got)),
                std::tuple(width, height, pictures, pictures));
      EXPECT_TRUE(!listed || line.find(", 25 pictures") != std::string::npos) << line;
      continue;
    }
    EXPECT_EQ(std::tuple(stream->sample_rate, stream->ch_layout.nb_channels), std::tuple(48000, channels));
    // The table's packet count is the file's, and its duration the decoded sound's within
    // one codec frame (counting what the container's pre-skip drops).
    unsigned long packets = 0;
    double tableSeconds = 0;
    const size_t numbers = line.rfind(", ", line.find(" packets, "));
    ASSERT_NE(numbers, std::string::npos) << line;
    ASSERT_EQ(std::sscanf(line.c_str() + numbers, ", %lu packets, %lf s", &packets, &tableSeconds), 2) << line;
    EXPECT_EQ(int64_t(packets), FirstStreamPackets(got));
    const double frame = codec == AV_CODEC_ID_AAC ? 1024.0 / 48000 : 960.0 / 48000;
    const double seconds = double(got.decoded + stream->initial_padding) / 48000;
    EXPECT_NEAR(tableSeconds, seconds, frame + 0.005);
    EXPECT_GT(seconds, 1.0 - 3 * frame);  // at most the encoder's tail is lost
  }
}

TEST_F(CodecCommand, SubcommandsWorkOnFilesPlainFFmpegMade) {
  const std::string out = In("out");
  fs::create_directories(out);
  // Arguments, what standard output says (nothing at all when nothing is listed), and a line
  // standard error holds (none: it stays empty).
  const std::tuple<std::string, std::vector<std::string>, std::string> cases[] = {
      {"info --json", {"\"missing\": 0", "\"decoder libopus\": true", "\"d3d11va h264\": false"}, ""},
      {"probe " + In("movie.mp4"), {"sound  AAC, 48000 Hz, 2 channels: 41 packets", "video  H.264: 25 packets",
        "first picture 320x240"}, ""},
      {"--verbose probe " + In("movie.mp4"), {"video  H.264: 25 packets"},
       "library(20): [CODE]Src pix changed [0*0]->[320*240]\n"},
      {"probe --json " + In("movie.mkv"),
       {"\"codec\": \"Opus\", \"packets\": 51", "\"sample_rate\": 48000, \"channels\": 1",
        "\"duration_ms\": 1020", "\"codec\": \"HEVC\", \"packets\": 25", "\"width\": 320, \"height\": 240"}, ""},
      {"probe " + In("raw.hevc"), {"sound  none", "HEVC: 25 packets", "320x240"}, ""},
      {"thumbs " + In("movie.mkv") + " -o " + out + "/t --every 10 --size 160x160 --keep-aspect",
       {"3 thumbnail(s) of 160x120 from 25 picture(s)"}, ""},
      {"thumbs -q " + In("movie.mp4") + " -o " + out + "/quiet", {}, ""},
      // A hardware family that does not work here falls back to software.
      {"thumbs " + In("movie.mp4") + " --hw d3d11va --every 25 -o " + out + "/hw", {"1 thumbnail(s)"},
       "codec: d3d11va decoding is not available here; decoding in software\n"},
      {"audio " + In("movie.mp4") + " " + out + "/a.ogg --channels 1", {"a.ogg: "}, ""},
      {"audio " + In("tone.ogg") + " " + out + "/b.m4a --rate 44100 --channels 2", {"b.m4a: "}, ""},
      {"audio " + In("movie.ts") + " " + out + "/c.aac --bitrate 96000", {"c.aac: "}, ""},
      {"video " + In("movie.mp4") + " " + out + "/d.hevc --size 160x120 --filter hflip",
       {"d.hevc: 25 pictures of 160x120"}, ""},
      {"video " + In("raw.hevc") + " " + out + "/e.h264", {"e.h264: 25 pictures of 320x240"}, ""},
  };
  for (const auto& [args, says, err] : cases) {
    const Outcome run = Codec(args);
    EXPECT_EQ(run.code, 0) << args << "\n" << run.err;
    EXPECT_EQ(run.out.empty(), says.empty()) << args << "\n" << run.out;
    for (const std::string& text : says) {
      EXPECT_NE(run.out.find(text), std::string::npos) << args << " lacks " << text << ":\n" << run.out;
    }
    EXPECT_TRUE(err.empty() ? run.err.empty() : run.err.find(err) != std::string::npos) << args << "\n" << run.err;
  }
  // File, codec, rate, channels, width, height.
  const std::tuple<const char*, AVCodecID, int, int, int, int> written[] = {
      {"t/thumb-00021.bmp", AV_CODEC_ID_BMP, 0, 0, 160, 120},
      {"quiet/thumb-00025.bmp", AV_CODEC_ID_BMP, 0, 0, 320, 240},
      {"hw/thumb-00001.bmp", AV_CODEC_ID_BMP, 0, 0, 320, 240},
      {"a.ogg", AV_CODEC_ID_OPUS, 48000, 1, 0, 0},
      {"b.m4a", AV_CODEC_ID_AAC, 44100, 2, 0, 0},
      {"c.aac", AV_CODEC_ID_AAC, 48000, 2, 0, 0},
      {"d.hevc", AV_CODEC_ID_HEVC, 0, 0, 160, 120},
      {"e.h264", AV_CODEC_ID_H264, 0, 0, 320, 240},
  };
  for (const auto& [file, codec, rate, channels, width, height] : written) {
    const ReadBack got = ReadMediaFile(out + "/" + file);
    ASSERT_FALSE(got.streams.empty()) << file;
    const AVCodecParameters* stream = got.streams[0].get();
    EXPECT_EQ(std::tuple(stream->codec_id, stream->sample_rate, stream->ch_layout.nb_channels, got.width, got.height),
              std::tuple(codec, rate, channels, width, height)) << file;
    EXPECT_GT(got.decoded, 0) << file;
  }
}

TEST_F(CodecCommand, BadInputGetsOneLineAndNoFile) {
  const std::string out = In("bad");
  fs::create_directories(out);
  // Arguments, exit code, and how the first line on standard error begins.
  const std::tuple<std::string, int, std::string> cases[] = {
      {"probe " + In("missing.mp4"), 1, "codec: cannot read " + In("missing.mp4") + ": No such file or directory"},
      {"probe " + In("notes.txt"), 1, "codec: " + In("notes.txt") + ": the library's file parser"},
      {"thumbs " + In("tone.ogg") + " -o " + out, 1, "codec: " + In("tone.ogg") + ": no H.264 or HEVC video stream"},
      {"audio " + In("raw.hevc") + " " + out + "/x.ogg", 1,
       "codec: " + In("raw.hevc") + ": not a media file with a sound stream"},
      {"audio " + In("tone.mp3") + " " + out + "/x.ogg", 1,
       "codec: the sound stream's codec (other) is not one this program decodes: AAC, Opus, G.711\n"},
      {"audio " + In("movie.mp4") + " " + out + "/x.wav", 2, "codec: " + out + "/x.wav: the name"},
      {"audio " + In("movie.mp4") + " " + out + "/x.ogg --codec aac", 2, "codec: "},
      {"audio " + In("movie.mp4") + " " + out + "/x.m4a --codec opus --rate 44100", 2, "codec: Opus takes"},
      {"audio " + In("movie.mp4") + " " + out + "/no/x.ogg", 1, "codec: cannot write " + out + "/no/x.ogg"},
      {"video " + In("movie.mp4") + " " + out + "/x.h264 --filter nosuchfilter", 1,
       "codec: the filter \"nosuchfilter\" does not work on 320x240 pictures\n  library: "},
      {"video " + In("movie.mp4") + " " + out + "/x.mp4", 2, "codec: "},
      {"thumbs " + In("movie.mp4") + " --size 0x0", 2, "--size: must be WIDTHxHEIGHT"},
      {"thumbs " + In("movie.mp4") + " --every -1", 2, "--every: Value -1 not in range"},
      {"thumbs " + In("movie.mp4") + " --hw nosuch", 2, "--hw: "},
      {"frobnicate", 2, "A subcommand is required"},
  };
  for (const auto& [args, code, first] : cases) {
    const Outcome run = Codec(args);
    EXPECT_EQ(std::tuple(run.code, run.err.substr(0, first.size()), run.out), std::tuple(code, first, ""))
        << args << "\n" << run.err;
  }
  EXPECT_TRUE(fs::is_empty(out)) << "a failed run left a file behind";
}

TEST_F(CodecCommand, HelpOfEveryCommandShowsAnExample) {
  for (const char* command : {"", "info", "probe", "thumbs", "audio", "video", "demo"}) {
    const Outcome run = Codec(std::string(command) + " --help");
    EXPECT_EQ(run.code, 0) << command;
    EXPECT_NE(run.out.find("Example: codec "), std::string::npos) << command << run.out;
  }
}

}  // namespace
}  // namespace codec_test
