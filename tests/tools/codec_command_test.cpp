// The codec program run as a user runs it, on files made here with plain FFmpeg's encoders and
// muxers, and its results read back with plain libavformat/libavcodec.
#if !defined(_WIN32)
#include <sys/wait.h>
#endif

#include <algorithm>
#include <array>
#include <cstring>
#include <fstream>
#include <optional>
#include <set>

extern "C" {
#include <libavutil/display.h>
}

#include "support/media.h"

namespace codec_test {
namespace {

namespace fs = std::filesystem;

struct Outcome { int code; std::string out, err; };

std::string Slurp(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), {}};
}

void Append(const fs::path& path, const std::vector<Bytes>& packets) {
  std::ofstream file(path, std::ios::binary | std::ios::app);
  for (const Bytes& p : packets) file.write(reinterpret_cast<const char*>(p.data()), std::streamsize(p.size()));
}

class CodecCommand : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = fs::path(::testing::TempDir()) / ("codec_command_" + std::to_string(getpid()));
    fs::create_directories(dir_ / "folder");
    // libx265 keeps a few blocks past its close; they are not the program's, nor is the note
    // of them its output.
    std::ofstream(dir_ / "lsan.supp") << "leak:libx265.so\n";
    // B-frames in the MP4 and TS, so that every re-encode must drain the reordered pictures.
    EncodedStream h264 = EncodeVideo("libx264", 320, 240, 25, {{"flags", "+global_header"}, {"bf", "2"}, {"colorspace", "bt709"},
                                                               {"color_primaries", "bt709"}, {"color_trc", "bt709"}});
    EncodedStream hevc = EncodeVideo("libx265", 320, 240, 25, {{"flags", "+global_header"}});
    EncodedStream aac = EncodeTone("aac", 48000, 2, 40 * 1024);
    EncodedStream opus = EncodeTone("libopus", 48000, 1, 50 * 960, 960);
    for (const PacketPtr& packet : h264.packets) packet->duration = 1;  // the last picture lasts too
    WriteMediaFile(In("movie.mp4"), "mp4", {&h264, &aac});
    WriteMediaFile(In("movie.mkv"), "matroska", {&hevc, &opus});
    WriteMediaFile(In("movie.ts"), "mpegts", {&h264, &aac});
    WriteMediaFile(In("reordered.mkv"), "matroska", {&h264, &aac});  // the first pictures without decoding times
    WriteMediaFile(In("tone.ogg"), "ogg", {&opus});
    const auto write = [](const char* name, const char* muxer, const EncodedStream& stream) { WriteMediaFile(In(name), muxer, {&stream}); };
    write("tone.mp3", "mp3", EncodeTone("libmp3lame", 44100, 2, 10 * 1152));
    write("raw.hevc", "hevc", EncodeVideo("libx265", 320, 240, 25));  // parameter sets in the stream
    write("surround.mp4", "mp4", EncodeTone("aac", 48000, 6, 20 * 1024));
    write("mulaw.mov", "mov", EncodeTone("pcm_mulaw", 48000, 1, 3 * 48000, 960));
    write("alaw.wav", "wav", EncodeTone("pcm_alaw", 8000, 1, 8000, 160));
    write("speex.ogg", "ogg", EncodeTone("libspeex", 16000, 1, 16000));
    write("mjpeg.avi", "avi", EncodeVideo("mjpeg", 320, 240, 10));
    // A phone's clip: video only, 59.94 pictures a second, to be turned a quarter clockwise.
    EncodedStream phone = EncodeVideo("libx264", 320, 240, 25, {{"flags", "+global_header"}});
    phone.timeBase = {1001, 60000};
    phone.params->framerate = {60000, 1001};
    for (const PacketPtr& packet : phone.packets) packet->duration = 1;
    av_display_rotation_set(reinterpret_cast<int32_t*>(
        av_packet_side_data_new(&phone.params->coded_side_data, &phone.params->nb_coded_side_data,
                                AV_PKT_DATA_DISPLAYMATRIX, 9 * sizeof(int32_t), 0)->data), 90);
    WriteMediaFile(In("phone.mp4"), "mp4", {&phone});
    // The first Opus packet made empty in the MP4's tables: its size 0, its chunk begun after it.
    WriteMediaFile(In("empty-first.mp4"), "mp4", {&opus});
    std::string file = Slurp(In("empty-first.mp4"));
    const auto field = [&](const char* box, size_t offset, int64_t add) {
      uint8_t* at = reinterpret_cast<uint8_t*>(file.data() + file.find(box) + offset);
      const uint32_t value = uint32_t(int64_t(at[0] << 24 | at[1] << 16 | at[2] << 8 | at[3]) + add);
      for (int i = 0; i < 4; ++i) at[i] = uint8_t(value >> (24 - 8 * i));
    };
    field("stco", 12, int64_t(opus.packets.front()->size));
    field("stsz", 16, -int64_t(opus.packets.front()->size));
    std::ofstream(In("empty-first.mp4"), std::ios::binary) << file;
    // A raw stream whose pictures change size, and ADTS whose rate drops and rises.
    Append(In("sizes.h264"), EncodeVideo("libx264", 320, 240, 10).data + EncodeVideo("libx264", 160, 120, 10).data);
    for (int rate : {44100, 8000, 96000}) Append(In("rates.aac"), WithAdtsHeaders(EncodeTone("aac", rate, 2, rate).data, rate, 2));
    Append(In("seven.aac"), WithAdtsHeaders(EncodeTone("aac", 48000, 8, 4096).data, 48000, 7));
    // Broken files: cut in the middle of a packet, empty. (A cut MP4 without its index fails
    // where the notes do: nothing the library can open.)
    const std::string wav = Slurp(In("alaw.wav"));
    std::ofstream(In("cut.wav"), std::ios::binary) << wav.substr(0, wav.size() * 2 / 3 + 1);
    std::ofstream(In("empty.mp4"));
    std::ofstream(In("notes.txt")) << "not media\n";
  }
  static void TearDownTestSuite() { fs::remove_all(dir_); }

  static std::string In(const std::string& name) { return (dir_ / name).string(); }

  // `shell` runs first, in the same shell (limits, signals; POSIX only).
  static Outcome Codec(const std::string& args, [[maybe_unused]] const std::string& shell = "") {
#if defined(_WIN32)  // cmd.exe runs it: the whole line quoted once more, as cmd strips the outer quotes
    std::string program = CODEC_PROGRAM;
    std::ranges::replace(program, '/', '\\');
    const int status = std::system(("\"\"" + program + "\" " + args + " >\"" + In("stdout") + "\" 2>\"" + In("stderr") + "\" <NUL\"").c_str());
#else
    const std::string command = shell + "LSAN_OPTIONS=print_suppressions=0:suppressions=" + In("lsan.supp") +
                                " " CODEC_PROGRAM " " + args + " >" + In("stdout") + " 2>" + In("stderr") +
                                " </dev/null";
    int status = std::system(command.c_str());
    status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
    Outcome run{status, Slurp(In("stdout")), Slurp(In("stderr"))};
#if defined(_WIN32)  // text streams end their lines with CR LF there
    std::erase(run.out, '\r'), std::erase(run.err, '\r');
#endif
    return run;
  }

  static fs::path dir_;
};
fs::path CodecCommand::dir_;

// A BMP file as plain FFmpeg decodes it.
FramePtr Thumbnail(const std::string& path) {
  const std::string bytes = Slurp(path);
  std::vector<FramePtr> frames = DecodeWith("bmp", {Bytes(bytes.begin(), bytes.end())});
  return frames.empty() ? nullptr : std::move(frames[0]);
}

// B, G and R of a BGRA picture's pixel, and how far two pixels are apart (from black: how bright).
std::array<int, 3> Pixel(const AVFrame* p, int x, int y) {
  const uint8_t* at = p->data[0] + y * p->linesize[0] + 4 * x;
  return {at[0], at[1], at[2]};
}
int Apart(std::array<int, 3> a, std::array<int, 3> b) { return std::abs(a[0] - b[0]) + std::abs(a[1] - b[1]) + std::abs(a[2] - b[2]); }

TEST_F(CodecCommand, SubcommandsWorkOnFilesPlainFFmpegMade) {
  const std::string out = In("out");
  fs::create_directories(out);
  // Arguments, what standard output says (nothing at all when nothing is listed), a line standard
  // error holds (empty: it stays empty; none: anything), and what files it writes hold: codec,
  // rate, channels, width, height, and for pictures their count; for sound the input and its
  // stream, whose length the output has within one codec frame (ADTS AAC: after the encoder's
  // delay, which ADTS cannot tell a player to skip), or the source's milliseconds (FFmpeg 7.1's
  // Speex decoder doubles each packet of libspeex's; plain FFmpeg stops at an empty packet, which
  // the MP4 still counts as 20 ms).
  using Holds = std::tuple<const char*, AVCodecID, int, int, int, int, const char*, int>;
  const std::tuple<std::string, std::vector<std::string>, std::optional<std::string>, std::vector<Holds>> cases[] = {
      {"info --json", {"\"missing\": 0", "\"decoder libopus\": true", "\"d3d11va h264\": false"}, "", {}},
      // The demo's table: what the library reads back from each file (AAC and Opus with their
      // encoders' delay), which plain FFmpeg finds there too (the packed MP4 keeps the AAC
      // encoder's delay, and the mono Opus made from it too); progress lines come with slow
      // steps only.
      {"demo " + out + "/demo --seconds 1", {"read back, seek to the middle", "H.264 1280x720, 25 pictures", "HEVC 1280x720, 25 pictures",
        "H.264 640x360, 25 pictures", "1 BMP files 320x180", "sound.aac           AAC 48000 Hz stereo, 48 packets, 1.02 s",
        "sound.m4a           AAC 48000 Hz stereo, 48 packets, 1.02 s", "sound.ogg           Opus 48000 Hz stereo, 54 packets, 1.08 s",
        "sound-opus.mp4      Opus 48000 Hz stereo, 54 packets, 1.08 s", "sound-mono.ogg      Opus 48000 Hz mono, 52 packets, 1.03 s"},
       {}, {{"demo/video.h264", AV_CODEC_ID_H264, 0, 0, 1280, 720, nullptr, 25},
        {"demo/video.hevc", AV_CODEC_ID_HEVC, 0, 0, 1280, 720, nullptr, 25}, {"demo/video-640x360.h264", AV_CODEC_ID_H264, 0, 0, 640, 360, nullptr, 25},
        {"demo/thumbs/thumb-00001.bmp", AV_CODEC_ID_BMP, 0, 0, 320, 180, nullptr, 1}, {"demo/sound.aac", AV_CODEC_ID_AAC, 48000, 2, 0, 0, nullptr, 1000},
        {"demo/sound.m4a", AV_CODEC_ID_AAC, 48000, 2, 0, 0, nullptr, 1024}, {"demo/sound.ogg", AV_CODEC_ID_OPUS, 48000, 2, 0, 0, nullptr, 1000},
        {"demo/sound-opus.mp4", AV_CODEC_ID_OPUS, 48000, 2, 0, 0, nullptr, 1000}, {"demo/sound-mono.ogg", AV_CODEC_ID_OPUS, 48000, 1, 0, 0, nullptr, 1024}}},
      // Probing: one row per kind of fact (the codecs' labels are a table in the tool, not retried
      // for each codec).
      {"probe " + In("movie.mp4"), {"stream 0: video H.264 (h264), 320x240, 25 fps, yuv420p (tv, bt709), 1.000 s: 25 packets",
        "stream 1: sound AAC (aac), 48000 Hz, 2 channels, fltp"}, "", {}},
      {"probe --json " + In("movie.mp4"), {"\"color_range\": \"tv\", \"color_matrix\": \"bt709\", \"color_primaries\": \"bt709\", \"color_transfer\": \"bt709\""}, "", {}},
      {"probe " + In("movie.mkv"), {"video HEVC (hevc), 320x240, 25 fps", "sound Opus (opus), 48000 Hz, 1 channel"}, "", {}},
      {"probe --json " + In("tone.ogg"), {"\"format\": \"ogg\"", "\"codec\": \"Opus\", \"codec_name\": \"opus\", \"decoded\": true, \"packets\": 51"}, "", {}},
      {"probe " + In("seven.aac"), {"sound AAC (aac), 48000 Hz, 8 channels"}, "", {}},
      {"probe " + In("mulaw.mov"), {"sound G.711 mu-law (pcm_mulaw), 48000 Hz, 1 channel, s16, 3.000 s"}, "", {}},
      {"probe " + In("tone.mp3"), {"sound mp3 (mp3), 44100 Hz, 2 channels", "not decoded by the library"}, "", {}},
      {"probe " + In("phone.mp4"), {"320x240, 59.940 fps (60000/1001), yuv420p, rotated 90"}, "", {}},
      {"probe --json " + In("phone.mp4"), {"\"frame_rate\": \"60000/1001\", \"rotation\": 90", "\"audio\": null"}, "", {}},
      {"thumbs " + In("movie.mkv") + " -o " + out + "/t --every 10 --size 160x160 --keep-aspect",
       {"3 thumbnail(s) of 160x120 from 25 picture(s)"}, "", {{"t/thumb-00021.bmp", AV_CODEC_ID_BMP, 0, 0, 160, 120, nullptr, 1}}},
      {"thumbs -q " + In("movie.mp4") + " -o " + out + "/quiet", {}, "", {{"quiet/thumb-00025.bmp", AV_CODEC_ID_BMP, 0, 0, 320, 240, nullptr, 1}}},
      // A hardware family that does not work here falls back to software.
      {"thumbs " + In("movie.mp4") + " --hw d3d11va --every 25 -o " + out + "/hw", {"1 thumbnail(s)"},
       "codec: d3d11va decoding is not available here; decoding in software\n", {{"hw/thumb-00001.bmp", AV_CODEC_ID_BMP, 0, 0, 320, 240, nullptr, 1}}},
      {"thumbs " + In("sizes.h264") + " --every 5 -o " + out + "/sizes", {"4 thumbnail(s) of 320x240 from 20"}, "", {{"sizes/thumb-00016.bmp", AV_CODEC_ID_BMP, 0, 0, 160, 120, nullptr, 1}}},
      {"thumbs " + In("mjpeg.avi") + " --every 5 -o " + out + "/mjpeg", {"2 thumbnail(s) of 320x240"}, "", {}},
      {"thumbs " + In("phone.mp4") + " --count 3 -o " + out + "/count", {"3 thumbnail(s) of 240x320"}, "", {{"count/thumb-00003.bmp", AV_CODEC_ID_BMP, 0, 0, 240, 320, nullptr, 1}}},
      {"thumbs " + In("phone.mp4") + " --at 0.2 --size 120x160 -o " + out + "/upright", {"1 thumbnail(s) of 120x160"}, "", {}},
      {"thumbs " + In("movie.mp4") + " --at 0.6,0.2,0:00.92 -o " + out + "/at", {"3 thumbnail(s) of 320x240"}, "", {}},
      {"audio " + In("movie.mp4") + " " + out + "/a.ogg --channels 1", {"a.ogg: "}, "", {{"a.ogg", AV_CODEC_ID_OPUS, 48000, 1, 0, 0, "movie.mp4", 1}}},
      {"audio " + In("tone.ogg") + " " + out + "/b.m4a --rate 44100 --channels 2", {"b.m4a: "}, "", {{"b.m4a", AV_CODEC_ID_AAC, 44100, 2, 0, 0, "tone.ogg", 0}}},
      {"audio " + In("movie.ts") + " " + out + "/c.aac --bitrate 96000", {"c.aac: "}, "", {{"c.aac", AV_CODEC_ID_AAC, 48000, 2, 0, 0, "movie.ts", 1}}},
      {"audio " + In("surround.mp4") + " " + out + "/s.m4a", {"s.m4a: "}, "", {{"s.m4a", AV_CODEC_ID_AAC, 48000, 6, 0, 0, "surround.mp4", 0}}},
      {"audio " + In("mulaw.mov") + " " + out + "/m.ogg", {"m.ogg: "}, "", {{"m.ogg", AV_CODEC_ID_OPUS, 48000, 1, 0, 0, "mulaw.mov", 0}}},
      {"audio " + In("speex.ogg") + " " + out + "/x.aac", {"x.aac: "}, "", {{"x.aac", AV_CODEC_ID_AAC, 16000, 1, 0, 0, nullptr, 1000}}},
      {"audio " + In("rates.aac") + " " + out + "/r.m4a", {"r.m4a: "}, "", {{"r.m4a", AV_CODEC_ID_AAC, 44100, 2, 0, 0, "rates.aac", 0}}},
      {"audio " + In("empty-first.mp4") + " " + out + "/e.ogg", {"e.ogg: "}, "", {{"e.ogg", AV_CODEC_ID_OPUS, 48000, 1, 0, 0, nullptr, 1000}}},
      {"video " + In("movie.mp4") + " " + out + "/d.hevc --size 160x120 --filter hflip",
       {"d.hevc: 25 pictures of 160x120"}, "", {{"d.hevc", AV_CODEC_ID_HEVC, 0, 0, 160, 120, nullptr, 25}}},
      {"video " + In("raw.hevc") + " " + out + "/e.h264", {"e.h264: 25 pictures of 320x240"}, "", {{"e.h264", AV_CODEC_ID_H264, 0, 0, 320, 240, nullptr, 25}}},
      // A copy needs no decoder. All eleven MP3 frames play: the encoder's delay was dropped only
      // at the MP3 file's own header's word.
      {"remux " + In("tone.mp3") + " " + out + "/t.mka", {"t.mka: sound mp3 copied"}, "", {{"t.mka", AV_CODEC_ID_MP3, 44100, 2, 0, 0, nullptr, 11 * 1152 * 1000 / 44100}}},
      {"video " + In("phone.mp4") + " " + out + "/f.h264", {"f.h264: 25 pictures of 320x240"}, "", {{"f.h264", AV_CODEC_ID_H264, 0, 0, 320, 240, nullptr, 25}}},
      // Recording a second in real time, crash-safe (what a recorder killed midway leaves is the
      // media writer test's).
      {"record -q " + out + "/rec.mp4 --seconds 1 --crash-safe --size 320x180", {}, "", {{"rec.mp4", AV_CODEC_ID_H264, 0, 0, 320, 180, nullptr, 25}}},
  };
  for (const auto& [args, says, err, files] : cases) {
    const Outcome run = Codec(args);
    EXPECT_EQ(run.code, 0) << args << "\n" << run.err;
    EXPECT_EQ(run.out.empty(), says.empty()) << args << "\n" << run.out;
    for (const std::string& text : says) {
      EXPECT_NE(run.out.find(text), std::string::npos) << args << " lacks " << text << ":\n" << run.out;
    }
    EXPECT_TRUE(!err || (err->empty() ? run.err.empty() : run.err.find(*err) != std::string::npos)) << args << "\n" << run.err;
    for (const auto& [file, codec, rate, channels, width, height, from, amount] : files) {
      const ReadBack got = ReadMediaFile(out + "/" + file);
      ASSERT_FALSE(got.streams.empty()) << file;
      const AVCodecParameters* stream = got.streams[0].get();
      EXPECT_EQ(std::tuple(stream->codec_id, stream->sample_rate, stream->ch_layout.nb_channels, got.width, got.height),
                std::tuple(codec, rate, channels, width, height)) << file;
      const double frame = (codec == AV_CODEC_ID_OPUS ? 960.0 : 1024.0) / std::max(rate, 1);
      const double input = from != nullptr ? ReadMediaFile(In(from), amount).seconds : amount / 1000.0;
      EXPECT_TRUE(rate == 0 ? got.decoded == amount : std::abs(got.seconds - input - (std::string(file).ends_with(".aac") ? frame : 0)) <= frame)
          << file << ": " << got.decoded << " pictures or " << got.seconds << " s, input " << input << " s";
    }
  }
  EXPECT_EQ(av_q2d(ReadMediaFile(out + "/f.h264").streams[0]->framerate), 60000 / 1001.0);
  // The recording holds its sound too, in fragments.
  EXPECT_EQ(std::tuple(ReadMediaFile(out + "/rec.mp4").streams.size(), Slurp(out + "/rec.mp4").find("moof") != std::string::npos),
            std::tuple(2u, true));
  // The pictures shown at 0.2, 0.6 and 0.92 s are the 6th, 16th and 24th: the moving bar of
  // picture k begins at x = 8k.
  for (const auto& [name, picture] : {std::pair{"thumb-00001.bmp", 5}, {"thumb-00002.bmp", 15}, {"thumb-00003.bmp", 23}}) {
    const FramePtr thumb = Thumbnail(out + "/at/" + name);
    ASSERT_NE(thumb, nullptr) << name;
    int bar = 0;
    for (int x = 0; x < thumb->width; ++x) bar = Apart(Pixel(thumb.get(), x, 60), {}) > Apart(Pixel(thumb.get(), bar, 60), {}) ? x : bar;
    EXPECT_EQ(bar / 8, picture) << name;
  }
  // Turned a quarter clockwise: the stored picture's blue lower left quadrant is now top left,
  // its red upper left one top right.
  const FramePtr upright = Thumbnail(out + "/upright/thumb-00001.bmp");
  const FramePtr stored = Scale(MakePicture(320, 240, AV_PIX_FMT_YUV420P, 0).get(), 320, 240, AV_PIX_FMT_BGRA);
  ASSERT_NE(upright, nullptr);
  EXPECT_LT(Apart(Pixel(upright.get(), 10, 10), Pixel(stored.get(), 40, 200)), 60);
  EXPECT_LT(Apart(Pixel(upright.get(), 110, 10), Pixel(stored.get(), 40, 40)), 60);
}

// The first timestamp in seconds of the file's stream of this kind, and that stream's index.
std::pair<double, int> FirstTime(const ReadBack& file, AVMediaType kind) {
  const auto stream = std::ranges::find(file.streams, kind, [](const ParamsPtr& p) { return p->codec_type; });
  const int i = stream == file.streams.end() ? -1 : int(stream - file.streams.begin());
  const auto first = std::ranges::find(file.packets, i, &ReadBack::Packet::stream);
  return {first != file.packets.end() ? first->time : NAN, i};
}

TEST_F(CodecCommand, ConvertKeepsEveryStreamInStepIntoEveryContainer) {
  const std::string out = In("convert") + "/";
  fs::create_directories(out);
  // Arguments, the output, its codecs, how much longer its sound is, and the input. Every
  // picture of IN decodes from OUT, the sound lasts as long as IN's (plus the extra) within
  // one AAC frame, and the first picture and sound are as far apart as in IN within one
  // picture. Extra sound: ADTS and MPEG-TS cannot tell players to drop the AAC encoder's first
  // frame (A); the library decodes the whole of the Matroska Opus stream, whose 312 samples in
  // front and 648 behind plain FFmpeg drops (O).
  constexpr double A = 1024 / 48000.0, O = 960 / 48000.0;
  const std::tuple<std::string, std::string, std::vector<AVCodecID>, double, const char*> cases[] = {
      {"convert", "a.mp4", {AV_CODEC_ID_H264, AV_CODEC_ID_AAC}, 0, "movie.mp4"},
      {"convert", "b.mov", {AV_CODEC_ID_H264, AV_CODEC_ID_AAC}, O, "movie.mkv"},
      {"convert --video hevc --audio opus", "c.mkv", {AV_CODEC_ID_HEVC, AV_CODEC_ID_OPUS}, 0, "movie.ts"},
      {"convert --audio copy", "d.ts", {AV_CODEC_ID_H264, AV_CODEC_ID_AAC}, A, "movie.mp4"},
      {"convert --video copy", "e.mp4", {AV_CODEC_ID_HEVC, AV_CODEC_ID_AAC}, O, "movie.mkv"},
      {"convert --crash-safe", "f.mp4", {AV_CODEC_ID_H264, AV_CODEC_ID_AAC}, 0, "movie.ts"},
      {"convert", "g.ogg", {AV_CODEC_ID_OPUS}, 0, "movie.mp4"},
      {"convert", "h.aac", {AV_CODEC_ID_AAC}, A, "movie.ts"},
      {"convert", "i.h264", {AV_CODEC_ID_H264}, 0, "movie.mp4"},
      {"video", "j.mp4", {AV_CODEC_ID_H264}, 0, "movie.mp4"},
      {"audio", "k.mkv", {AV_CODEC_ID_AAC}, A, "movie.mp4"},
      {"remux", "l.mp4", {AV_CODEC_ID_HEVC, AV_CODEC_ID_OPUS}, 0, "movie.mkv"},
      {"remux", "m.mp4", {AV_CODEC_ID_H264, AV_CODEC_ID_AAC}, A, "movie.ts"},
      {"remux", "n.mp4", {AV_CODEC_ID_H264, AV_CODEC_ID_AAC}, 0, "reordered.mkv"},
  };
  for (const auto& [command, file, codecs, extra, from] : cases) {
    const std::string args = command.substr(0, command.find(' ')) + " " + In(from) + " " + out + file + (command.find(' ') == std::string::npos ? "" : command.substr(command.find(' ')));
    const Outcome run = Codec(args);
    ASSERT_EQ(run.code, 0) << args << "\n" << run.err;
    const ReadBack got = ReadMediaFile(out + file), in = ReadMediaFile(In(from), 1);
    std::vector<AVCodecID> ids;
    for (const ParamsPtr& stream : got.streams) ids.push_back(stream->codec_id);
    EXPECT_EQ(ids, codecs) << args;
    const auto [picture, video] = FirstTime(got, AVMEDIA_TYPE_VIDEO);
    const auto [sound, audio] = FirstTime(got, AVMEDIA_TYPE_AUDIO);
    EXPECT_EQ(video < 0 ? 25 : ReadMediaFile(out + file, video).decoded, 25) << args;
    if (audio < 0) continue;
    EXPECT_NEAR(ReadMediaFile(out + file, audio).seconds, in.seconds + extra, A) << args;
    const double apart = FirstTime(in, AVMEDIA_TYPE_VIDEO).first - FirstTime(in, AVMEDIA_TYPE_AUDIO).first;
    EXPECT_TRUE(video < 0 || std::abs(picture - sound - apart) <= 0.04) << args << ": " << picture << " and " << sound;
  }
  // Copied as stored, packet for packet (in whatever order the muxer interleaves them); the
  // crash-safe file in fragments.
  const auto stored = [](const ReadBack& file) {
    std::multiset<std::pair<int, Bytes>> packets;
    for (const ReadBack::Packet& p : file.packets) packets.emplace(p.stream, p.data);
    return packets;
  };
  EXPECT_EQ(stored(ReadMediaFile(out + "l.mp4")), stored(ReadMediaFile(In("movie.mkv"))));
  EXPECT_NE(Slurp(out + "f.mp4").find("moof"), std::string::npos);
  EXPECT_EQ(Slurp(out + "a.mp4").find("moof"), std::string::npos);
  // Encoded again, the pictures keep their colours: BT.709, which players would take for BT.601.
  const ReadBack tagged = ReadMediaFile(out + "a.mp4");
  const AVCodecParameters& colour = *tagged.streams[0];
  EXPECT_EQ(std::tuple(colour.color_space, colour.color_primaries, colour.color_trc), std::tuple(AVCOL_SPC_BT709, AVCOL_PRI_BT709, AVCOL_TRC_BT709));
  // A phone's clip keeps its turn and its 59.94 pictures a second.
  ASSERT_EQ(Codec("convert " + In("phone.mp4") + " " + out + "p.mov").code, 0);
  const auto turn = [](const std::string& path) {
    const InputFormatCtxPtr file = OpenInput(path);
    const AVCodecParameters* par = file->streams[0]->codecpar;
    const AVPacketSideData* matrix = av_packet_side_data_get(par->coded_side_data, par->nb_coded_side_data, AV_PKT_DATA_DISPLAYMATRIX);
    return std::tuple(file->nb_streams, av_q2d(file->streams[0]->avg_frame_rate),
                      matrix != nullptr ? av_display_rotation_get(reinterpret_cast<const int32_t*>(matrix->data)) : 0.0);
  };
  EXPECT_EQ(turn(out + "p.mov"), turn(In("phone.mp4")));
  EXPECT_NE(std::get<2>(turn(out + "p.mov")), 0.0);
}

TEST_F(CodecCommand, BadInputGetsOneLineAndNoFile) {
  const std::string out = In("bad");
  fs::create_directories(out);
  // Arguments, exit code, and how the first line on standard error begins. (Values outside an
  // option's declared range or set are the argument parser's own refusals, not retried here.)
  const std::tuple<std::string, int, std::string> cases[] = {
      {"probe " + In("missing.mp4"), 1, "codec: cannot read " + In("missing.mp4") + ": " + std::strerror(ENOENT) + "\n"},
      {"thumbs " + In("folder") + " -o " + out, 1, "codec: cannot read " + In("folder") + ": a folder, not a file\n"},
      {"audio " + In("empty.mp4") + " " + out + "/x.ogg", 1, "codec: cannot read " + In("empty.mp4") + ": the file is empty\n"},
      {"probe " + In("notes.txt"), 1, "codec: " + In("notes.txt") + ": not a media file the library can open"},
      {"audio " + In("cut.wav") + " " + out + "/x.ogg", 1, "codec: " + In("cut.wav") + ": the file cannot be read to its end"},
      {"audio " + In("raw.hevc") + " " + out + "/x.ogg", 1, "codec: " + In("raw.hevc") + ": no sound stream\n"},
      {"audio " + In("tone.mp3") + " " + out + "/x.ogg", 1,
       "codec: " + In("tone.mp3") + ": its sound stream is mp3, which the library does not decode"},
      {"thumbs " + In("movie.mp4") + " --at 0.5,7 -o " + out, 1,
       "codec: " + In("movie.mp4") + ": --at 7.000 s is past the end of the video (1.000 s)\n"},
      {"audio " + In("movie.mp4") + " " + out + "/x.wav", 2, "codec: " + out + "/x.wav: the name"},
      {"audio " + In("movie.mp4") + " " + out + "/x.ogg --codec aac", 2, "codec: "},
      {"audio " + In("movie.mp4") + " " + out + "/x.m4a --codec opus --rate 44100", 2, "codec: Opus takes"},
      {"audio " + In("movie.mp4") + " " + out + "/no/x.ogg", 1, "codec: cannot write " + out + "/no/x.ogg"},
      {"video " + In("movie.mp4") + " " + out + "/x.h264 --filter nosuchfilter", 1,
       "codec: the filter \"nosuchfilter\" does not work on 320x240 pictures\n  library: "},
      {"video " + In("movie.mp4") + " " + out + "/x.ogg", 2, "codec: " + out + "/x.ogg: the name"},
      {"convert " + In("movie.mp4") + " " + out + "/x.ogg --video h264", 1, "codec: cannot write " + out + "/x.ogg: the writer refused a packet\n  library: "},  // FFmpeg's words follow
      {"convert " + In("movie.mp4") + " " + out + "/no/x.mp4", 1, "codec: cannot write " + out + "/no/x.mp4: " + std::strerror(ENOENT)},
      {"remux " + In("alaw.wav") + " " + out + "/x.ts", 1, "codec: cannot write " + out + "/x.ts: the container does not take a pcm_alaw stream\n"
       "  library: [CODE]MediaWriter AddStream[pcm_alaw] failed: the container cannot hold it\n"},  // MPEG-TS would carry it as data no player knows
      {"convert " + In("movie.mp4") + " " + out + "/x.mkv --crash-safe", 2, "codec: --crash-safe needs an .mp4 or .mov file\n"},
      // Every command picks its stream in one place: a file without one fails alike in each.
      {"convert " + In("tone.ogg") + " " + out + "/x.mp4 --video copy", 1, "codec: " + In("tone.ogg") + ": no video stream\n"},
      {"thumbs " + In("movie.mp4") + " --size 0x0", 2, "--size: must be WIDTHxHEIGHT"},
      {"thumbs " + In("movie.mp4") + " --at 1,x", 2, "--at: must be times"},
  };
  for (const auto& [args, code, first] : cases) {
    const Outcome run = Codec(args);
    EXPECT_EQ(std::tuple(run.code, run.err.substr(0, first.size()), run.out), std::tuple(code, first, ""))
        << args << "\n" << run.err;
  }
  // A full disk, as a file size limit of 16 KiB (SIGXFSZ ignored, so that the write fails): the
  // header or a packet or the index cannot be written, plain and crash-safe. POSIX only: Windows
  // has no file size limit.
#if !defined(_WIN32)
  for (const char* extra : {"", " --crash-safe"}) {
    const Outcome run = Codec("convert " + In("movie.mp4") + " " + out + "/full.mp4" + extra, "ulimit -f 32; trap '' XFSZ; ");
    const std::string first = "codec: cannot write " + out + "/full.mp4: ";
    EXPECT_EQ(std::tuple(run.code, run.err.substr(0, first.size())), std::tuple(1, first)) << run.err;
    EXPECT_NE(run.err.find("  library: [CODE]MediaWriter "), std::string::npos) << run.err;
  }
#endif
  EXPECT_TRUE(fs::is_empty(out)) << "a failed run left a file behind";
}

}  // namespace
}  // namespace codec_test
