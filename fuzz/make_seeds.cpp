// Writes the seed corpora into fuzz/corpus/<target>/: streams and files made by FFmpeg's own
// encoders and muxers (never by this library), framed the way each target reads its input.
// Deterministic: single-threaded encoders fed the same synthetic pictures and tone every run.
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "support/media.h"

using namespace codec_test;
namespace fs = std::filesystem;

namespace {

fs::path g_root;

// The seed's path, its target's folder made.
std::string Seed(const std::string& target, const std::string& name) {
  fs::create_directories(g_root / target);
  return (g_root / target / name).string();
}

void Write(const std::string& target, const std::string& name, const Bytes& bytes) {
  std::ofstream(Seed(target, name), std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

Bytes Le(uint32_t value, int bytes) {
  Bytes out;
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
  return out;
}

// A packet as the decode targets read it: a control byte, a 16-bit length, the bytes.
Bytes Framed(const std::vector<Bytes>& packets, bool control) {
  Bytes out;
  for (const Bytes& packet : packets) {
    if (control) out.push_back(0);
    out = out + Le(static_cast<uint32_t>(packet.size()), 2) + packet;
  }
  return out;
}

void VideoSeeds(const char* target, const EncodedStream& stream) {
  // Layout, keep-aspect, size, filter index (see video_decode_fuzzer.cpp), then packets.
  Write(target, "decoded-size", Bytes{0, 0, 0, 0, 0} + Framed(stream.data, true));
  Write(target, "bgra-32x24-keep", Bytes{1, 1, 32, 24, 0} + Framed(stream.data, true));
  const std::vector<Bytes> half(stream.data.begin(), stream.data.begin() + stream.data.size() / 2);
  const std::vector<Bytes> rest(stream.data.begin() + half.size(), stream.data.end());
  Write(target, "nv12-resized-filtered",
        Bytes{3, 0, 0, 0, 2} + Framed(half, true) + Bytes{0xf0, 48, 20, 3} + Framed(rest, true));
}

void AudioSeeds(const char* target, const std::vector<Bytes>& packets, int rateIndex,
                int channels) {
  // Rate indexes, channel counts and output format (see audio_decode_fuzzer.cpp), then packets.
  Write(target, "as-coded",
        Bytes{uint8_t(rateIndex), uint8_t(rateIndex), uint8_t(channels), uint8_t(channels), 2} +
            Framed(packets, false));
  Write(target, "resampled-drained",
        Bytes{uint8_t(rateIndex), 0, uint8_t(channels), 1, 4} + Framed(packets, false) + Le(0, 2));
}

void FileSeed(const std::string& name, const char* muxer,
              const std::vector<const EncodedStream*>& streams) {
  WriteMediaFile(Seed("media_file", name), muxer, streams);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s CORPUS_DIR\n", argv[0]);
    return 2;
  }
  g_root = argv[1];
  const EncodedStream h264 = EncodeVideo("libx264", 64, 48, 6);
  VideoSeeds("video_decode_h264", h264);
  VideoSeeds("video_decode_hevc", EncodeVideo("libx265", 64, 48, 4));
  VideoSeeds("video_decode_mjpeg", EncodeVideo("mjpeg", 48, 32, 2, {{"q:v", "20"}}));

  const EncodedStream aac = EncodeTone("aac", 16000, 1, 3000);
  AudioSeeds("audio_decode_aac", WithAdtsHeaders(aac.data, 16000, 1), 1, 1);
  const EncodedStream opus = EncodeTone("libopus", 48000, 2, 2880);
  AudioSeeds("audio_decode_opus", opus.data, 4, 2);
  AudioSeeds("audio_decode_speex", EncodeTone("libspeex", 16000, 1, 960).data, 1, 1);
  const EncodedStream alaw = EncodeTone("pcm_alaw", 8000, 1, 480);
  AudioSeeds("audio_decode_g711a", alaw.data, 0, 1);

  FileSeed("h264-annexb-aac.mp4", "mp4", {&h264, &aac});
  FileSeed("h264-aac.ts", "mpegts", {&h264, &aac});
  FileSeed("opus.ogg", "ogg", {&opus});
  FileSeed("alaw.mkv", "matroska", {&alaw});
  FileSeed("h264.h264", "h264", {&h264});
  const EncodedStream h264Mp4 = EncodeVideo("libx264", 64, 48, 6, {{"flags", "+global_header"}});
  const EncodedStream hevcMp4 = EncodeVideo("libx265", 64, 48, 3, {{"flags", "+global_header"}});
  FileSeed("h264-aac.mp4", "mp4", {&h264Mp4, &aac});
  FileSeed("hevc-opus.mkv", "matroska", {&hevcMp4, &opus});
  const EncodedStream surround = EncodeTone("aac", 16000, 7, 2048);  // a program config element
  FileSeed("aac-7ch.mp4", "mp4", {&surround});

  Write("sps_parse", "sps-64x48", EncodeVideo("libx264", 64, 48, 1).data[0]);
  Write("sps_parse", "sps-100x58-cropped", EncodeVideo("libx264", 100, 58, 1).data[0]);
  // Layout, picture size, measured layout and size, buffer choice, entry, count
  // (see image_buffer_fuzzer.cpp).
  Write("image_buffer", "nv12-exact",
        Bytes{4} + Le(64, 2) + Le(48, 2) + Le(5, 4) + Le(64, 4) + Le(48, 4) + Bytes{1, 0, 1});
  Write("image_buffer", "bgra-short-buffer",
        Bytes{0} + Le(33, 2) + Le(17, 2) + Le(1, 4) + Le(33, 4) + Le(17, 4) + Bytes{0} +
            Le(100, 4) + Bytes{0, 1});
  // Kind, six fields, then per call: shape choice, destination class, entry
  // (see trans_coder_fuzzer.cpp).
  Write("trans_coder", "nv12-to-bgra", Bytes{0, 5, 64, 48, 1, 32, 24, 1, 1, 0, 1, 1, 0});
  Write("trans_coder", "s16-48k-stereo-to-flt-16k-mono",
        Bytes{1, 1, 3, 2, 3, 1, 1, 1} + Le(960, 2) + Bytes{0, 0, 1} + Le(961, 2) + Bytes{0, 0});
  return 0;
}
