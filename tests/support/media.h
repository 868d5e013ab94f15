// Test media made and checked in-process with plain FFmpeg (never with this library), and the
// records the tests hand the library.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#if defined(_WIN32)
#include <process.h>  // getpid, for scratch names
#else
#include <unistd.h>
#endif

#include <gtest/gtest.h>

#include "codec_interface.h"
#include "interface/av_ptr.h"
#include "support/log_capture.h"

namespace codec_test {

// Tests name the library's types as its hosts do (using codec_test brings them in too).
using namespace codec_interface;
using Bytes = std::vector<uint8_t>;
using Options = std::vector<std::pair<std::string, std::string>>;
using ParamsPtr = codec_interface::AvPtr<AVCodecParameters, avcodec_parameters_free>;

// Two vectors one after the other.
template <class T>
std::vector<T> operator+(std::vector<T> a, std::vector<T> b) {
  a.insert(a.end(), std::make_move_iterator(b.begin()), std::make_move_iterator(b.end()));
  return a;
}

// Four coloured quadrants and a bar that moves with `index`, so that pictures differ.
FramePtr MakePicture(int width, int height, AVPixelFormat format, int index);

// Sample i of channel c of the test tone: 440 Hz at half scale, channel c a quarter period ahead
// of channel c - 1 so that swapped channels show.
double SineAt(int rate, int channel, int i);
// Samples [first, first + samples) of the tone in any format, planar or not, stamped `first`.
FramePtr MakeTone(AVSampleFormat format, int rate, int channels, int samples, int64_t first);
// The tone from sample 0, interleaved, in a packed format: a host's buffer.
Bytes MakeSinePcm(AVSampleFormat format, int rate, int channels, int samples);

struct EncodedStream {
  ParamsPtr params;
  AVRational timeBase{0, 1};
  std::vector<PacketPtr> packets;
  std::vector<Bytes> data;  // the packets' bytes
  int initialPadding = 0;
  int frameSize = 0;  // samples per frame the encoder was fed
  Options metadata;   // tags WriteMediaFile puts on the stream ("language")
  int disposition = 0;
};

// Test pictures at 25 fps, a key picture every 10, no B-frames, the fastest preset; H.264 and
// HEVC in Annex B unless the options ask for "+global_header". Fails the test on error.
EncodedStream EncodeVideo(const char* encoder, int width, int height, int frames,
                          const Options& options = {});
// `samples` of the tone in frames of the encoder's size (`anyFrameSize` where any size goes),
// the last one short, parameter sets in extradata. Fails the test on error.
EncodedStream EncodeTone(const char* encoder, int rate, int channels, int samples,
                         int anyFrameSize = 160, int64_t bitRate = 0);

// The codec opened with the options after `set` has filled in its context; fails the test if it
// does not open.
CodecCtxPtr OpenContext(const AVCodec* codec, const std::function<void(AVCodecContext*)>& set,
                        const Options& options = {});
// The packet (null: the drain) sent to an open decoder, and every frame it gives back then; fails
// the test if the decoder refuses the packet or fails.
std::vector<FramePtr> SendReceive(AVCodecContext* decoder, const AVPacket* packet);
// Every packet through the named decoder, drained at the end. Rate and channels are for
// decoders that cannot tell them from the packets.
std::vector<FramePtr> DecodeWith(const char* decoder, const std::vector<Bytes>& packets,
                                 int rate = 0, int channels = 0);
// Any audio frame as interleaved doubles in [-1, 1]; all decoded frames one after another.
std::vector<double> ToDoubles(const AVFrame* frame);
std::vector<double> DecodeSamples(const char* decoder, const std::vector<Bytes>& packets,
                                  int rate, int channels);

// The picture's planes one after another without row gaps, as a host's buffer holds them.
Bytes PackPicture(const AVFrame* picture);
bool SamePixels(const AVFrame* a, const AVFrame* b);
// Converted as plain libswscale does, with the matrix and range the picture declares when
// `declared` (else BT.601 and the layout's range, libswscale's default).
FramePtr Scale(const AVFrame* picture, int width, int height, AVPixelFormat format,
               int flags = SWS_LANCZOS, bool declared = false);
// PSNR over all bytes; `b` is first scaled to `a`'s size and format (bicubic) if it differs.
double Psnr(const AVFrame* a, const AVFrame* b);

// Raw AAC-LC packets behind ADTS headers built here bit by bit.
std::vector<Bytes> WithAdtsHeaders(const std::vector<Bytes>& packets, int rate, int config);


// Writes the streams through the named muxer, with its options. Fails the test on error.
void WriteMediaFile(const std::string& path, const char* muxer,
                    const std::vector<const EncodedStream*>& streams, const Options& options = {});

// What plain libavformat reads back from a file, and what plain libavcodec decodes of one stream
// (the first unless told) from the demuxer's own packets (so that an Opus pre-skip is applied as
// a player does).
struct ReadBack {
  struct Packet {
    int stream;
    Bytes data;
    int64_t pts;
    double time;  // pts in seconds
  };
  std::string format;  // the demuxer's name
  std::vector<ParamsPtr> streams;
  std::vector<Packet> packets;
  int64_t decoded = 0;        // the decoded stream's pictures, or samples per channel
  double seconds = 0;         // of sound, whatever rates it changes between
  int width = 0, height = 0;  // of its pictures
};
ReadBack ReadMediaFile(const std::string& path, int stream = 0);
// The file opened by plain libavformat (fails the test if it cannot be), its streams probed (null
// if they cannot be).
InputFormatCtxPtr OpenInput(const std::string& path);

// A packet through a video decoder, from a block of its own size (AddressSanitizer sees over-reads).
inline int Decode(ICodecInterface& codec, const Bytes& packet, CVideoDecodeOutParam& out) {
  return codec.Decode(const_cast<uint8_t*>(packet.data()), static_cast<int>(packet.size()), &out);
}
// Hands a frame to an owning out-param as its next entry, the way a decoder does.
inline void Hold(codec_interface::COutParam& out, FramePtr frame) { out.m_pFrame[out.m_nNum++] = frame.release(); }

// A file in the temporary directory, unique to the process, removed when the object goes.
struct ScratchFile {
  explicit ScratchFile(const std::string& name);
  // The name is UTF-8 (as the library takes it), which a narrow path is not on Windows.
  ~ScratchFile() { std::filesystem::remove(std::u8string(path.begin(), path.end())); }
  const std::string path;
};

// What our audio encoder made: every record's payload and header.
struct EncodedRecords {
  std::vector<Bytes> packets, headers;
};
// The records the out-param holds, added to the run.
void Take(EncodedRecords& run, const CAudioEncodeOutParam& out);
// Feeds pcm to our encoder in chunks. Each chunk is a heap block of its exact size, checked
// unchanged and freed right after its call: AddressSanitizer reports any later access. Calls of
// 0, 1 (under one sample of S16) or -4 bytes, or without data, must change nothing (the same
// entries; the caller checks the lines and the stream).
EncodedRecords EncodeInChunks(ICodecInterface& codec, const Bytes& pcm, size_t chunkBytes);
// Every packet through our audio decoder, as doubles; each frame in the destination's format,
// rate and channels, whatever the packets hold.
std::vector<double> DecodeOurs(ICodecInterface& codec, const std::vector<Bytes>& packets,
                               const AudioCodecParam& a);

// A codec object made by the factory and opened; fails the test if Init fails.
std::shared_ptr<codec_interface::ICodecInterface> OpenCodec(codec_interface::CodecType type,
                                                            const codec_interface::CodecParam& param);
// Plain libswresample set up between the formats, rates and default layouts; fails the test if
// it cannot start.
SwrPtr Resampler(AVSampleFormat from, int fromRate, int fromChannels, AVSampleFormat to, int toRate,
                 int toChannels);
// FFmpeg's text for an error code, as av_strerror writes it.
std::string ErrorText(int err);

// Records for Init: formats as the library's numbers, an encoder at 4 Mbit/s, 25 pictures per
// second and a key picture every 10 (decoders read only what they need).
codec_interface::CodecParam AudioParam(int srcRate, int dstRate, int srcChannels,
                                       int dstChannels, int srcFormat, int dstFormat,
                                       int bitRate = 0, int duration = 0);
codec_interface::CodecParam VideoParam(int format, int srcWidth = 0, int srcHeight = 0,
                                       int dstWidth = 0, int dstHeight = 0,
                                       bool keepAspect = false, const char* filter = "");
// Pixel formats and sizes, or sample formats, rates and channel counts.
codec_interface::TransCoderParam TransParam(int src, int srcA, int srcB, int dst, int dstA,
                                            int dstB);

}  // namespace codec_test
