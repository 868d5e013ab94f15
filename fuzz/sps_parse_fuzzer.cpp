// base's H.264 sequence parameter set parser on any bytes; it may read only those.
#include "base/sps_parse.h"
#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<uint8_t> bytes(data, data + size);
  base::h264_sps_data sps{};
  base::CSpsParse::H264DecodeSeqParameterSet(bytes.data(), static_cast<unsigned>(bytes.size()),
                                             sps);
  return 0;
}
