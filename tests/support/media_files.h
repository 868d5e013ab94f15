// Media files made in-process with FFmpeg's own encoders and muxers, and read back with plain
// libavformat/libavcodec, for the tests of the file parser, packer and transcoder.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "codec_interface.h"
#include "interface/av_ptr.h"
#include "support/media.h"

namespace codec_test {

using ParamsPtr = codec_interface::AvPtr<AVCodecParameters, avcodec_parameters_free>;

// One encoded elementary stream: its parameters and its packets, timed in timeBase.
struct EncodedStream {
  ParamsPtr params;
  AVRational timeBase{0, 1};
  std::vector<codec_interface::PacketPtr> packets;
};

// A block of 440 Hz tone in any sample format, planar or not, stamped with `pts`.
codec_interface::FramePtr MakeToneFrame(AVSampleFormat format, int sampleRate, int channels,
                                        int samples, int64_t pts);

// `frames` encoder frames of tone, or `frames` test pictures at 25 fps with the parameter sets
// in extradata, encoded with the named FFmpeg encoder. Fails the test if it is missing.
EncodedStream EncodeTone(const char* encoder, int sampleRate, int channels, int frames);
EncodedStream EncodePictures(const char* encoder, int width, int height, int frames);

// Writes the streams through the named muxer. Fails the test on error.
void WriteMediaFile(const std::string& path, const char* muxer,
                    const std::vector<const EncodedStream*>& streams);

// What plain libavformat reads from a file, and how many samples per channel plain libavcodec
// decodes from its first audio stream.
struct ReadBack {
  struct Packet {
    int stream;
    Bytes data;
    int64_t pts;
  };
  bool opened = false;
  std::string format;  // the demuxer's name
  std::vector<ParamsPtr> streams;
  std::vector<Packet> packets;
  int64_t decodedSamples = 0;
};
ReadBack ReadMediaFile(const std::string& path);

// Transcoder set-ups: pictures (kind 0) and sound (kind 1).
codec_interface::TransCoderParam PictureParam(codec_interface::PixelFormat src, int srcW,
                                              int srcH, codec_interface::PixelFormat dst,
                                              int dstW, int dstH);
codec_interface::TransCoderParam SoundParam(codec_interface::SampleFormat src, int srcRate,
                                            int srcChannels, codec_interface::SampleFormat dst,
                                            int dstRate, int dstChannels);

// A file in the temporary directory, unique to the process, removed when the object goes.
struct ScratchFile {
  explicit ScratchFile(const std::string& name);
  ~ScratchFile() { std::filesystem::remove(path); }
  const std::string path;
};

}  // namespace codec_test
