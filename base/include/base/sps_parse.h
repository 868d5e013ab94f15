// H.264 sequence parameter set parser: enough of the syntax to learn the picture size.
#ifndef BASE_SPS_PARSE_H
#define BASE_SPS_PARSE_H

#include <cstdint>

#include "base/base_export.h"

namespace base {

struct h264_sps_data {
  int32_t width;   // picture width in pixels, after cropping
  int32_t height;  // picture height in pixels, after cropping
  int32_t profile_idc;
  int32_t level_idc;
  int32_t seq_parameter_set_id;
  int32_t chroma_format_idc;
  int32_t bit_depth_luma;
  int32_t bit_depth_chroma;
  int32_t log2_max_frame_num;
  int32_t pic_order_cnt_type;
  int32_t max_num_ref_frames;
  int32_t frame_mbs_only_flag;
  int32_t crop_left;
  int32_t crop_right;
  int32_t crop_top;
  int32_t crop_bottom;
  int32_t vui_parameters_present_flag;
};

class BASE_API CSpsParse {
 public:
  // data: Annex B bytes starting with (or containing) the SPS NAL unit, start code included.
  // Returns false when no complete SPS is found; never reads past data + size.
  static bool H264DecodeSeqParameterSet(const unsigned char* data, unsigned int size,
                                        h264_sps_data& out);
};

}  // namespace base

#endif  // BASE_SPS_PARSE_H
