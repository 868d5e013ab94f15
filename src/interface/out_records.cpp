// Output records: zeroed on construction, field-wise copy on assignment (pointers only).
#include <cstring>

#include "codec_interface.h"

namespace codec_interface {

namespace {

template <class Record>
Record& CopyFields(Record& target, const Record& source) {
  if (&target != &source) std::memcpy(static_cast<void*>(&target), &source, sizeof(Record));
  return target;
}

template <class Record>
void ZeroFields(Record& record) {
  std::memset(static_cast<void*>(&record), 0, sizeof(Record));
}

}  // namespace

// The three exported members of each record, defined once for all four.
#define CODEC_DEFINE_OUT_RECORD(Record)                                               \
  Record::Record() { ZeroFields(*this); }                                             \
  Record& Record::operator=(const Record& other) { return CopyFields(*this, other); } \
  Record& Record::operator=(Record&& other) { return CopyFields(*this, other); }

CODEC_DEFINE_OUT_RECORD(VideoDecOutData)
CODEC_DEFINE_OUT_RECORD(VideoEncOutData)
CODEC_DEFINE_OUT_RECORD(AudioDecOutData)
CODEC_DEFINE_OUT_RECORD(AudioEncOutData)

#undef CODEC_DEFINE_OUT_RECORD

}  // namespace codec_interface
