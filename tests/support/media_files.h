// Media files made in-process with FFmpeg's own encoders and muxers, and read back with plain
// libavformat/libavcodec, for the tests of the file parser, packer and transcoder.
#pragma once

#include <cstdint>
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
  int frameSize = 0;  // samples per audio packet as the encoder chose them
  std::vector<codec_interface::PacketPtr> packets;
};

// A block of tone (440 Hz times the channel number) in any sample format, planar or not,
// starting at sample `start`; its pts is `start`.
codec_interface::FramePtr MakeToneFrame(AVSampleFormat format, int sampleRate, int channels,
                                        int samples, int64_t start);

// A 440 Hz tone, `frames` encoder frames long, encoded with the named FFmpeg encoder ("aac",
// "libopus", "libmp3lame", "pcm_alaw", "libspeex", ...). Packets carry pts in samples.
EncodedStream EncodeTone(const char* encoder, int sampleRate, int channels, int frames);

// Test pictures encoded with the named FFmpeg encoder ("libx264", "libx265", "mjpeg"), 25 fps.
// globalHeader puts the parameter sets into extradata, as MP4 and Matroska want them.
EncodedStream EncodePictures(const char* encoder, int width, int height, int frames,
                             bool globalHeader);

// Writes the streams through the named muxer, interleaved by time. Fails the test on error.
void WriteMediaFile(const std::string& path, const char* muxer,
                    const std::vector<const EncodedStream*>& streams);

// What plain libavformat reads from a file.
struct ReadBack {
  struct Stream {
    AVMediaType type;
    AVCodecID codec;
    int sampleRate;
    int channels;
    Bytes extradata;
    AVRational timeBase;
  };
  struct Packet {
    int stream;
    Bytes data;
    int64_t pts;
    int64_t dts;
    int64_t duration;
  };
  bool opened = false;
  std::string format;  // the demuxer's name
  std::vector<Stream> streams;
  std::vector<Packet> packets;
};
ReadBack ReadMediaFile(const std::string& path);

// Decodes every packet of the file's first audio stream with plain libavcodec. Returns the
// number of samples per channel decoded; a packet or frame the decoder refuses fails the test.
int64_t DecodeAudioFile(const std::string& path);

// A 7-byte ADTS header (AAC-LC, no CRC) for a payload of the given size.
Bytes AdtsHeader(int sampleRate, int channels, int payloadSize);

// Transcoder set-ups: pictures (kind 0) and sound (kind 1).
codec_interface::TransCoderParam PictureParam(codec_interface::PixelFormat src, int srcW,
                                              int srcH, codec_interface::PixelFormat dst,
                                              int dstW, int dstH);
codec_interface::TransCoderParam SoundParam(codec_interface::SampleFormat src, int srcRate,
                                            int srcChannels, codec_interface::SampleFormat dst,
                                            int dstRate, int dstChannels);

// A path in the test's scratch directory, unique to the running test.
std::string ScratchPath(const std::string& name);
void WriteBytes(const std::string& path, const Bytes& bytes);
Bytes ReadBytes(const std::string& path);

}  // namespace codec_test
