/// @file base/sps_parse.h
/// @brief H.264 sequence parameter set parser: enough of the syntax to learn the picture size.
#ifndef BASE_SPS_PARSE_H
#define BASE_SPS_PARSE_H

#include <cstdint>

#include "base/base_export.h"

namespace base {

/// What CSpsParse learns from a sequence parameter set. Width and height come first, so that a
/// caller reading only them keeps working.
struct h264_sps_data {
  int32_t width;                 ///< Picture width in pixels, after cropping.
  int32_t height;                ///< Picture height in pixels, after cropping.
  int32_t profile_idc;           ///< profile_idc.
  int32_t level_idc;             ///< level_idc.
  int32_t seq_parameter_set_id;  ///< seq_parameter_set_id.
  int32_t chroma_format_idc;     ///< chroma_format_idc (1, 4:2:0, when the profile omits it).
  int32_t bit_depth_luma;        ///< Luma bit depth (bit_depth_luma_minus8 + 8).
  int32_t bit_depth_chroma;      ///< Chroma bit depth (bit_depth_chroma_minus8 + 8).
  int32_t log2_max_frame_num;    ///< log2_max_frame_num_minus4 + 4.
  int32_t pic_order_cnt_type;    ///< pic_order_cnt_type.
  int32_t max_num_ref_frames;    ///< max_num_ref_frames.
  int32_t frame_mbs_only_flag;   ///< frame_mbs_only_flag.
  int32_t crop_left;             ///< frame_crop_left_offset (0 without cropping).
  int32_t crop_right;            ///< frame_crop_right_offset.
  int32_t crop_top;              ///< frame_crop_top_offset.
  int32_t crop_bottom;           ///< frame_crop_bottom_offset.
  int32_t vui_parameters_present_flag;  ///< vui_parameters_present_flag.
};

/// The parser; stateless, any thread.
class BASE_API CSpsParse {
 public:
  /// Parses the first H.264 sequence parameter set in @p data.
  /// @param data Annex B bytes starting with (or containing) the SPS NAL unit, start code
  ///             included.
  /// @param size Their count; nothing past data + size is read.
  /// @param out  Receives the parsed fields.
  /// @return true when a complete SPS was parsed; false when none is found.
  static bool H264DecodeSeqParameterSet(const unsigned char* data, unsigned int size,
                                        h264_sps_data& out);
};

}  // namespace base

#endif  // BASE_SPS_PARSE_H
