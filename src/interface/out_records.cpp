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

VideoDecOutData::VideoDecOutData() { ZeroFields(*this); }
VideoDecOutData& VideoDecOutData::operator=(const VideoDecOutData& other) {
  return CopyFields(*this, other);
}
VideoDecOutData& VideoDecOutData::operator=(VideoDecOutData&& other) {
  return CopyFields(*this, other);
}

VideoEncOutData::VideoEncOutData() { ZeroFields(*this); }
VideoEncOutData& VideoEncOutData::operator=(const VideoEncOutData& other) {
  return CopyFields(*this, other);
}
VideoEncOutData& VideoEncOutData::operator=(VideoEncOutData&& other) {
  return CopyFields(*this, other);
}

AudioDecOutData::AudioDecOutData() { ZeroFields(*this); }
AudioDecOutData& AudioDecOutData::operator=(const AudioDecOutData& other) {
  return CopyFields(*this, other);
}
AudioDecOutData& AudioDecOutData::operator=(AudioDecOutData&& other) {
  return CopyFields(*this, other);
}

AudioEncOutData::AudioEncOutData() { ZeroFields(*this); }
AudioEncOutData& AudioEncOutData::operator=(const AudioEncOutData& other) {
  return CopyFields(*this, other);
}
AudioEncOutData& AudioEncOutData::operator=(AudioEncOutData&& other) {
  return CopyFields(*this, other);
}

}  // namespace codec_interface
