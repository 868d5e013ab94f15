#include "base/sps_parse.h"

#include <cstring>
#include <vector>

namespace base {

namespace {

constexpr int kNalTypeSps = 7;
// The largest values H.264 allows; anything above marks a broken SPS.
constexpr uint32_t kMaxBitDepthMinus8 = 6;
constexpr uint32_t kMaxLog2FrameNumMinus4 = 12;

// Reads bits of an RBSP; every read past the end sets a sticky failure and yields 0.
class BitReader {
 public:
  BitReader(const unsigned char* data, size_t size) : data_(data), bits_(size * 8) {}

  bool Failed() const { return failed_; }

  uint32_t Bit() {
    if (pos_ >= bits_) {
      failed_ = true;
      return 0;
    }
    const uint32_t bit = (data_[pos_ / 8] >> (7 - pos_ % 8)) & 1u;
    ++pos_;
    return bit;
  }

  uint32_t Bits(int n) {
    uint32_t value = 0;
    for (int i = 0; i < n; ++i) value = (value << 1) | Bit();
    return value;
  }

  // Unsigned Exp-Golomb; codes longer than 32 bits are invalid in an SPS.
  uint32_t Ue() {
    int zeros = 0;
    while (Bit() == 0) {
      if (failed_ || ++zeros > 31) {
        failed_ = true;
        return 0;
      }
    }
    if (zeros == 0) return 0;
    return ((1u << zeros) - 1) + Bits(zeros);
  }

  int32_t Se() {
    const uint32_t k = Ue();
    return (k & 1) ? static_cast<int32_t>((k + 1) / 2) : -static_cast<int32_t>(k / 2);
  }

 private:
  const unsigned char* data_;
  size_t bits_;
  size_t pos_ = 0;
  bool failed_ = false;
};

// Finds the first NAL unit of the SPS type after an Annex B start code and returns its payload
// (after the one-byte NAL header) with emulation prevention bytes removed.
bool ExtractSpsRbsp(const unsigned char* data, size_t size, std::vector<unsigned char>& rbsp) {
  size_t i = 0;
  while (i + 3 <= size) {
    if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1) {
      const size_t nal = i + 3;
      if (nal < size && (data[nal] & 0x1F) == kNalTypeSps) {
        rbsp.clear();
        int zeros = 0;
        for (size_t j = nal + 1; j < size; ++j) {
          const unsigned char b = data[j];
          if (zeros >= 2 && b == 1) {
            // Next start code: drop the zeros that belong to it.
            while (!rbsp.empty() && rbsp.back() == 0) rbsp.pop_back();
            break;
          }
          if (zeros >= 2 && b == 3) {
            zeros = 0;  // emulation prevention byte
            continue;
          }
          rbsp.push_back(b);
          zeros = (b == 0) ? zeros + 1 : 0;
        }
        return !rbsp.empty();
      }
      i = nal;
      continue;
    }
    ++i;
  }
  return false;
}

bool HasChromaSyntax(uint32_t profile) {
  switch (profile) {
    case 100:
    case 110:
    case 122:
    case 244:
    case 44:
    case 83:
    case 86:
    case 118:
    case 128:
    case 138:
    case 139:
    case 134:
    case 135:
      return true;
    default:
      return false;
  }
}

void SkipScalingList(BitReader& br, int size) {
  int last = 8;
  int next = 8;
  for (int j = 0; j < size && !br.Failed(); ++j) {
    // A hostile delta may be near +-2^31; only its value modulo 256 counts.
    if (next != 0) next = static_cast<int>(((last + int64_t{br.Se()}) % 256 + 256) % 256);
    last = (next == 0) ? last : next;
  }
}

}  // namespace

bool CSpsParse::H264DecodeSeqParameterSet(const unsigned char* data, unsigned int size,
                                          h264_sps_data& out) {
  if (data == nullptr || size == 0) return false;
  std::vector<unsigned char> rbsp;
  if (!ExtractSpsRbsp(data, size, rbsp)) return false;

  BitReader br(rbsp.data(), rbsp.size());
  h264_sps_data sps;
  std::memset(&sps, 0, sizeof sps);
  sps.profile_idc = static_cast<int32_t>(br.Bits(8));
  br.Bits(8);  // constraint flags and reserved bits
  sps.level_idc = static_cast<int32_t>(br.Bits(8));
  sps.seq_parameter_set_id = static_cast<int32_t>(br.Ue());
  sps.chroma_format_idc = 1;
  uint32_t separate_colour_plane = 0;
  if (HasChromaSyntax(static_cast<uint32_t>(sps.profile_idc))) {
    sps.chroma_format_idc = static_cast<int32_t>(br.Ue());
    if (sps.chroma_format_idc > 3) return false;
    if (sps.chroma_format_idc == 3) separate_colour_plane = br.Bit();
    const uint32_t luma_minus8 = br.Ue();
    const uint32_t chroma_minus8 = br.Ue();
    if (luma_minus8 > kMaxBitDepthMinus8 || chroma_minus8 > kMaxBitDepthMinus8) return false;
    sps.bit_depth_luma = static_cast<int32_t>(luma_minus8) + 8;
    sps.bit_depth_chroma = static_cast<int32_t>(chroma_minus8) + 8;
    br.Bit();        // qpprime_y_zero_transform_bypass_flag
    if (br.Bit()) {  // seq_scaling_matrix_present_flag
      const int lists = (sps.chroma_format_idc != 3) ? 8 : 12;
      for (int i = 0; i < lists && !br.Failed(); ++i) {
        if (br.Bit()) SkipScalingList(br, i < 6 ? 16 : 64);
      }
    }
  } else {
    sps.bit_depth_luma = 8;
    sps.bit_depth_chroma = 8;
  }
  const uint32_t log2_max_frame_num_minus4 = br.Ue();
  if (log2_max_frame_num_minus4 > kMaxLog2FrameNumMinus4) return false;
  sps.log2_max_frame_num = static_cast<int32_t>(log2_max_frame_num_minus4) + 4;
  sps.pic_order_cnt_type = static_cast<int32_t>(br.Ue());
  if (sps.pic_order_cnt_type == 0) {
    br.Ue();  // log2_max_pic_order_cnt_lsb_minus4
  } else if (sps.pic_order_cnt_type == 1) {
    br.Bit();  // delta_pic_order_always_zero_flag
    br.Se();   // offset_for_non_ref_pic
    br.Se();   // offset_for_top_to_bottom_field
    const uint32_t cycle = br.Ue();
    if (cycle > 255) return false;
    for (uint32_t i = 0; i < cycle && !br.Failed(); ++i) br.Se();
  } else if (sps.pic_order_cnt_type != 2) {
    return false;
  }
  sps.max_num_ref_frames = static_cast<int32_t>(br.Ue());
  br.Bit();  // gaps_in_frame_num_value_allowed_flag
  const uint32_t width_mbs = br.Ue() + 1;
  const uint32_t height_map_units = br.Ue() + 1;
  sps.frame_mbs_only_flag = static_cast<int32_t>(br.Bit());
  if (!sps.frame_mbs_only_flag) br.Bit();  // mb_adaptive_frame_field_flag
  br.Bit();                                // direct_8x8_inference_flag
  // Crops are summed in 64 bits: each may be up to 2^32 - 2 in a hostile stream.
  int64_t crop_x = 0;
  int64_t crop_y = 0;
  if (br.Bit()) {  // frame_cropping_flag
    const uint32_t crops[4] = {br.Ue(), br.Ue(), br.Ue(), br.Ue()};
    crop_x = int64_t{crops[0]} + crops[1];
    crop_y = int64_t{crops[2]} + crops[3];
    sps.crop_left = static_cast<int32_t>(crops[0]);
    sps.crop_right = static_cast<int32_t>(crops[1]);
    sps.crop_top = static_cast<int32_t>(crops[2]);
    sps.crop_bottom = static_cast<int32_t>(crops[3]);
  }
  sps.vui_parameters_present_flag = static_cast<int32_t>(br.Bit());
  if (br.Failed() || width_mbs > 1024 || height_map_units > 1024) return false;

  const int frame_factor = 2 - sps.frame_mbs_only_flag;
  int crop_unit_x = 1;
  int crop_unit_y = frame_factor;
  if (!separate_colour_plane && sps.chroma_format_idc != 0) {
    crop_unit_x = (sps.chroma_format_idc == 3) ? 1 : 2;
    crop_unit_y = ((sps.chroma_format_idc == 1) ? 2 : 1) * frame_factor;
  }
  const int64_t width = int64_t{width_mbs} * 16 - crop_unit_x * crop_x;
  const int64_t height = int64_t{height_map_units} * 16 * frame_factor - crop_unit_y * crop_y;
  if (width <= 0 || height <= 0) return false;
  sps.width = static_cast<int32_t>(width);
  sps.height = static_cast<int32_t>(height);
  out = sps;
  return true;
}

}  // namespace base
