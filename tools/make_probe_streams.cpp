// Writes src/video/probe_streams.cpp: the two one-picture streams the hardware decode probe
// decodes, encoded here with libx264 and libx265 through FFmpeg. Run once; the output is
// committed.
//
//   make_probe_streams <output.cpp>
//
// Both streams hold one 144x256 4:2:0 8-bit IDR picture with only the parameter sets and the
// slice, each NAL unit behind a four-byte start code. Two edits make them fit the probe:
// - H.264 must use picture-order-count type 0, which x264 writes only when B-frames are on;
//   that also raises the reference and reordering counts in the SPS. With a single picture
//   there is nothing to reorder or refer to, so the SPS is rewritten with one reference frame,
//   no reordering and a one-frame buffer: the decoder then outputs the picture at once.
// - x265 marks a lone IDR picture IDR_N_LP; the probe's stream is IDR_W_RADL. The slice
//   syntax of the two is the same and there are no leading pictures, so only the NAL type
//   changes.
// Each stream is then decoded once by FFmpeg's software decoder, which must output the picture
// from that one call; otherwise nothing is written.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/dict.h>
#include <libavutil/frame.h>
#include <libavutil/log.h>
}

namespace {

using Bytes = std::vector<uint8_t>;

constexpr int kWidth = 144;
constexpr int kHeight = 256;

// --- Encoding ---------------------------------------------------------------------------------

void DrawPicture(AVFrame* frame) {
  // A soft diagonal gradient with a bright disc: enough detail for a realistic slice.
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) {
      const int dx = x - 72;
      const int dy = y - 100;
      const bool disc = dx * dx + dy * dy < 40 * 40;
      frame->data[0][y * frame->linesize[0] + x] =
          static_cast<uint8_t>(disc ? 220 : 40 + (x + y) / 3);
    }
  }
  for (int y = 0; y < kHeight / 2; ++y) {
    for (int x = 0; x < kWidth / 2; ++x) {
      frame->data[1][y * frame->linesize[1] + x] = static_cast<uint8_t>(96 + x / 2);
      frame->data[2][y * frame->linesize[2] + x] = static_cast<uint8_t>(160 - y / 4);
    }
  }
}

bool Encode(const char* name, const std::vector<std::pair<const char*, const char*>>& options,
            Bytes& out) {
  const AVCodec* codec = avcodec_find_encoder_by_name(name);
  if (codec == nullptr) {
    std::fprintf(stderr, "%s is missing from the FFmpeg build\n", name);
    return false;
  }
  AVCodecContext* ctx = avcodec_alloc_context3(codec);
  AVFrame* frame = av_frame_alloc();
  AVPacket* packet = av_packet_alloc();
  AVDictionary* dict = nullptr;
  bool ok = ctx != nullptr && frame != nullptr && packet != nullptr;
  if (ok) {
    ctx->width = kWidth;
    ctx->height = kHeight;
    ctx->pix_fmt = AV_PIX_FMT_YUV420P;
    ctx->time_base = AVRational{1, 25};
    ctx->framerate = AVRational{25, 1};
    ctx->thread_count = 1;
    for (const auto& [key, value] : options) av_dict_set(&dict, key, value, 0);
    ok = avcodec_open2(ctx, codec, &dict) >= 0;
  }
  if (ok) {
    frame->format = ctx->pix_fmt;
    frame->width = kWidth;
    frame->height = kHeight;
    ok = av_frame_get_buffer(frame, 0) >= 0;
  }
  if (ok) {
    DrawPicture(frame);
    frame->pts = 0;
    ok = avcodec_send_frame(ctx, frame) >= 0 && avcodec_send_frame(ctx, nullptr) >= 0;
  }
  while (ok && avcodec_receive_packet(ctx, packet) >= 0) {
    out.insert(out.end(), packet->data, packet->data + packet->size);
    av_packet_unref(packet);
  }
  av_dict_free(&dict);
  av_packet_free(&packet);
  av_frame_free(&frame);
  avcodec_free_context(&ctx);
  if (!ok || out.empty()) std::fprintf(stderr, "%s could not encode the picture\n", name);
  return ok && !out.empty();
}

// --- NAL units --------------------------------------------------------------------------------

// The NAL units of an Annex B stream, without their start codes.
std::vector<Bytes> SplitNalUnits(const Bytes& stream) {
  std::vector<size_t> starts;  // first byte after each start code
  for (size_t i = 0; i + 3 <= stream.size(); ++i) {
    if (stream[i] == 0 && stream[i + 1] == 0 && stream[i + 2] == 1) {
      starts.push_back(i + 3);
      i += 2;
    }
  }
  std::vector<Bytes> units;
  for (size_t k = 0; k < starts.size(); ++k) {
    size_t end = (k + 1 < starts.size()) ? starts[k + 1] - 3 : stream.size();
    while (end > starts[k] && stream[end - 1] == 0) --end;  // a four-byte code's extra zero
    units.emplace_back(stream.begin() + static_cast<std::ptrdiff_t>(starts[k]),
                       stream.begin() + static_cast<std::ptrdiff_t>(end));
  }
  return units;
}

Bytes Unescape(const Bytes& nal) {
  Bytes rbsp;
  int zeros = 0;
  for (const uint8_t b : nal) {
    if (zeros >= 2 && b == 3) {
      zeros = 0;
      continue;
    }
    zeros = (b == 0) ? zeros + 1 : 0;
    rbsp.push_back(b);
  }
  return rbsp;
}

Bytes Escape(const Bytes& rbsp) {
  Bytes nal;
  int zeros = 0;
  for (const uint8_t b : rbsp) {
    if (zeros >= 2 && b <= 3) {
      nal.push_back(3);
      zeros = 0;
    }
    zeros = (b == 0) ? zeros + 1 : 0;
    nal.push_back(b);
  }
  return nal;
}

// --- H.264 SPS rewriting ----------------------------------------------------------------------

class BitReader {
 public:
  explicit BitReader(const Bytes& data) : data_(data) {}
  uint32_t Bits(int n) {
    uint32_t v = 0;
    for (int i = 0; i < n; ++i) {
      if (pos_ >= data_.size() * 8) {
        failed_ = true;
        return 0;
      }
      v = (v << 1) | ((data_[pos_ / 8] >> (7 - pos_ % 8)) & 1u);
      ++pos_;
    }
    return v;
  }
  uint32_t Ue() {
    int zeros = 0;
    while (Bits(1) == 0 && !failed_ && zeros < 32) ++zeros;
    return zeros == 0 ? 0 : ((1u << zeros) - 1) + Bits(zeros);
  }
  bool Failed() const { return failed_; }

 private:
  const Bytes& data_;
  size_t pos_ = 0;
  bool failed_ = false;
};

class BitWriter {
 public:
  void Bits(uint32_t v, int n) {
    for (int i = n - 1; i >= 0; --i) Bit((v >> i) & 1u);
  }
  void Ue(uint32_t v) {
    const uint64_t code = static_cast<uint64_t>(v) + 1;
    int length = 0;
    while ((code >> length) > 1) ++length;
    Bits(0, length);
    for (int i = length; i >= 0; --i) Bit(static_cast<uint32_t>((code >> i) & 1u));
  }
  Bytes Finish() {  // rbsp_trailing_bits
    Bit(1);
    while (count_ % 8 != 0) Bit(0);
    return bytes_;
  }

 private:
  void Bit(uint32_t b) {
    if (count_ % 8 == 0) bytes_.push_back(0);
    if (b) bytes_.back() |= static_cast<uint8_t>(0x80u >> (count_ % 8));
    ++count_;
  }
  Bytes bytes_;
  size_t count_ = 0;
};

// Copies fields from the reader to the writer.
struct SpsCopier {
  BitReader in;
  BitWriter out;
  uint32_t Copy(int n) {
    const uint32_t v = in.Bits(n);
    out.Bits(v, n);
    return v;
  }
  uint32_t CopyUe() {
    const uint32_t v = in.Ue();
    out.Ue(v);
    return v;
  }
  void ReplaceUe(uint32_t v) {
    in.Ue();
    out.Ue(v);
  }
};

// Rewrites an SPS (RBSP with its header byte) to one reference frame, no reordering and a
// one-frame buffer. Covers what x264 writes: no scaling matrices, no HRD parameters.
bool RewriteSps(const Bytes& sps, Bytes& rewritten) {
  SpsCopier c{BitReader(sps), BitWriter()};
  c.Copy(8);  // NAL header
  const uint32_t profile = c.Copy(8);
  c.Copy(8);  // constraint flags
  c.Copy(8);  // level_idc
  c.CopyUe();  // seq_parameter_set_id
  if (profile == 100 || profile == 110 || profile == 122 || profile == 244 || profile == 44 ||
      profile == 83 || profile == 86 || profile == 118 || profile == 128) {
    if (c.CopyUe() == 3) c.Copy(1);  // chroma_format_idc, separate_colour_plane_flag
    c.CopyUe();                      // bit_depth_luma_minus8
    c.CopyUe();                      // bit_depth_chroma_minus8
    c.Copy(1);                       // qpprime_y_zero_transform_bypass_flag
    if (c.Copy(1) != 0) return false;  // seq_scaling_matrix_present_flag
  }
  c.CopyUe();  // log2_max_frame_num_minus4
  if (c.CopyUe() != 0) return false;  // pic_order_cnt_type must be 0
  c.CopyUe();                         // log2_max_pic_order_cnt_lsb_minus4
  c.ReplaceUe(1);                     // max_num_ref_frames
  c.Copy(1);                          // gaps_in_frame_num_value_allowed_flag
  c.CopyUe();                         // pic_width_in_mbs_minus1
  c.CopyUe();                         // pic_height_in_map_units_minus1
  if (c.Copy(1) == 0) return false;   // frame_mbs_only_flag must be 1
  c.Copy(1);                          // direct_8x8_inference_flag
  if (c.Copy(1) != 0) {               // frame_cropping_flag
    for (int i = 0; i < 4; ++i) c.CopyUe();
  }
  if (c.Copy(1) == 0) return false;  // vui_parameters_present_flag: timing is needed
  if (c.Copy(1) != 0 && c.Copy(8) == 255) c.Copy(32);  // aspect ratio
  if (c.Copy(1) != 0) c.Copy(1);                         // overscan
  if (c.Copy(1) != 0) {                                  // video signal type
    c.Copy(4);
    if (c.Copy(1) != 0) c.Copy(24);
  }
  if (c.Copy(1) != 0) {  // chroma location
    c.CopyUe();
    c.CopyUe();
  }
  if (c.Copy(1) == 0) return false;  // timing_info_present_flag
  c.Copy(32);
  c.Copy(32);
  c.Copy(1);
  if (c.Copy(1) != 0 || c.Copy(1) != 0) return false;  // NAL and VCL HRD parameters
  c.Copy(1);                                            // pic_struct_present_flag
  if (c.in.Bits(1) != 0) {                              // bitstream_restriction_flag
    c.in.Bits(1);
    for (int i = 0; i < 6; ++i) c.in.Ue();
  }
  c.out.Bits(1, 1);
  c.out.Bits(1, 1);  // motion_vectors_over_pic_boundaries_flag
  c.out.Ue(2);       // max_bytes_per_pic_denom
  c.out.Ue(1);       // max_bits_per_mb_denom
  c.out.Ue(16);      // log2_max_mv_length_horizontal
  c.out.Ue(16);      // log2_max_mv_length_vertical
  c.out.Ue(0);       // max_num_reorder_frames
  c.out.Ue(1);       // max_dec_frame_buffering
  if (c.in.Failed()) return false;
  rewritten = c.out.Finish();
  return true;
}

// --- The two streams --------------------------------------------------------------------------

void AppendUnit(Bytes& stream, const Bytes& nal) {
  static const uint8_t kStartCode[] = {0, 0, 0, 1};
  stream.insert(stream.end(), kStartCode, kStartCode + 4);
  stream.insert(stream.end(), nal.begin(), nal.end());
}

bool MakeH264(Bytes& stream) {
  Bytes encoded;
  if (!Encode("libx264",
              {{"profile", "high"},
               {"level", "4.0"},
               {"x264-params", "ref=1:bframes=1:b-pyramid=none:8x8dct=1"}},
              encoded)) {
    return false;
  }
  for (const Bytes& nal : SplitNalUnits(encoded)) {
    const int type = nal.empty() ? -1 : (nal[0] & 0x1F);
    if (type == 7) {
      Bytes sps;
      if (!RewriteSps(Unescape(nal), sps)) {
        std::fprintf(stderr, "the H.264 SPS has an unexpected form\n");
        return false;
      }
      AppendUnit(stream, Escape(sps));
    } else if (type == 8 || type == 5) {
      AppendUnit(stream, nal);
    }
  }
  return true;
}

bool MakeHevc(Bytes& stream) {
  Bytes encoded;
  if (!Encode("libx265",
              {{"preset", "medium"},
               {"profile", "main"},
               {"x265-params", "level-idc=40:high-tier=0:bframes=0:log-level=error"}},
              encoded)) {
    return false;
  }
  constexpr int kIdrWRadl = 19;
  constexpr int kIdrNLp = 20;
  for (Bytes nal : SplitNalUnits(encoded)) {
    const int type = nal.empty() ? -1 : ((nal[0] >> 1) & 0x3F);
    if (type == kIdrNLp) {
      nal[0] = static_cast<uint8_t>((nal[0] & 0x81) | (kIdrWRadl << 1));
      AppendUnit(stream, nal);
    } else if (type == 32 || type == 33 || type == 34 || type == kIdrWRadl) {
      AppendUnit(stream, nal);
    }
  }
  return true;
}

// The software decoder must output the picture from one send and one receive.
bool DecodesAtOnce(AVCodecID id, const Bytes& stream) {
  const AVCodec* codec = avcodec_find_decoder(id);
  AVCodecContext* ctx = codec != nullptr ? avcodec_alloc_context3(codec) : nullptr;
  AVPacket* packet = av_packet_alloc();
  AVFrame* frame = av_frame_alloc();
  Bytes padded(stream);
  padded.resize(stream.size() + AV_INPUT_BUFFER_PADDING_SIZE, 0);
  bool ok = ctx != nullptr && packet != nullptr && frame != nullptr &&
            avcodec_open2(ctx, codec, nullptr) >= 0;
  if (ok) {
    packet->data = padded.data();
    packet->size = static_cast<int>(stream.size());
    ok = avcodec_send_packet(ctx, packet) >= 0 && avcodec_receive_frame(ctx, frame) >= 0 &&
         frame->width == kWidth && frame->height == kHeight &&
         frame->format == AV_PIX_FMT_YUV420P;
  }
  av_frame_free(&frame);
  av_packet_free(&packet);
  avcodec_free_context(&ctx);
  return ok;
}

void WriteArray(FILE* out, const char* name, const Bytes& bytes) {
  std::fprintf(out, "extern const uint8_t %s[] = {", name);
  for (size_t i = 0; i < bytes.size(); ++i) {
    std::fprintf(out, "%s0x%02x,", (i % 12 == 0) ? "\n    " : " ", bytes[i]);
  }
  std::fprintf(out, "\n};\nextern const size_t %sSize = %zu;\n\n", name, bytes.size());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <output.cpp>\n", argv[0]);
    return 2;
  }
  av_log_set_level(AV_LOG_ERROR);  // the encoders' statistics are of no interest here
  Bytes h264;
  Bytes hevc;
  if (!MakeH264(h264) || !MakeHevc(hevc)) return 1;
  if (!DecodesAtOnce(AV_CODEC_ID_H264, h264) || !DecodesAtOnce(AV_CODEC_ID_HEVC, hevc)) {
    std::fprintf(stderr, "a stream does not decode into one picture in one call\n");
    return 1;
  }
  FILE* out = std::fopen(argv[1], "w");
  if (out == nullptr) {
    std::perror(argv[1]);
    return 1;
  }
  std::fprintf(out,
               "// Generated by tools/make_probe_streams (libx264 and libx265 through FFmpeg); "
               "do not edit.\n#include \"video/probe_streams.h\"\n\n"
               "namespace codec_interface {\n\n");
  WriteArray(out, "kProbeStreamH264", h264);
  WriteArray(out, "kProbeStreamHevc", hevc);
  std::fprintf(out, "}  // namespace codec_interface\n");
  const bool written = std::fclose(out) == 0;
  std::printf("H.264 %zu bytes, HEVC %zu bytes\n", h264.size(), hevc.size());
  return written ? 0 : 1;
}
