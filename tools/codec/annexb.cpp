#include "annexb.h"

#include <fstream>
#include <iterator>

namespace codec_tool {
namespace {

constexpr uint8_t kStartCode[] = {0, 0, 0, 1};

void AppendNal(Bytes& out, const uint8_t* nal, size_t size) {
  out.insert(out.end(), std::begin(kStartCode), std::end(kStartCode));
  out.insert(out.end(), nal, nal + size);
}

int NalType(const uint8_t* nal, VideoKind kind) {
  return kind == VideoKind::kH264 ? (nal[0] & 0x1F) : ((nal[0] >> 1) & 0x3F);
}

bool IsPictureData(int type, VideoKind kind) {
  return kind == VideoKind::kH264 ? (type >= 1 && type <= 5) : (type <= 31);
}

// A NAL unit that opens a new access unit when the current one already holds picture data:
// parameter sets, delimiters, leading SEI, and the first slice of a picture.
bool OpensAccessUnit(const uint8_t* nal, size_t size, VideoKind kind) {
  int type = NalType(nal, kind);
  if (kind == VideoKind::kH264) {
    if (type == 1 || type == 5) return size > 1 && (nal[1] & 0x80) != 0;  // first_mb_in_slice 0
    return type == 6 || type == 7 || type == 8 || type == 9 || (type >= 14 && type <= 18);
  }
  if (type <= 31) return size > 2 && (nal[2] & 0x80) != 0;  // first_slice_segment_in_pic_flag
  return (type >= 32 && type <= 35) || type == 39 || (type >= 41 && type <= 44);
}

uint32_t ReadBig(const uint8_t* p, int bytes) {
  uint32_t value = 0;
  for (int i = 0; i < bytes; ++i) value = (value << 8) | p[i];
  return value;
}

// Parameter sets of an "avcC" record; false when the bytes are not one.
bool ParseAvcRecord(const uint8_t* p, size_t size, Bytes& out) {
  if (size < 7 || p[0] != 1) return false;
  size_t at = 5;
  for (int list = 0; list < 2; ++list) {
    if (at >= size) return false;
    int count = list == 0 ? (p[at] & 0x1F) : p[at];
    ++at;
    for (int i = 0; i < count; ++i) {
      if (at + 2 > size) return false;
      size_t length = ReadBig(p + at, 2);
      at += 2;
      if (length == 0 || at + length > size) return false;
      if ((p[at] & 0x1F) != (list == 0 ? 7 : 8)) return false;
      AppendNal(out, p + at, length);
      at += length;
    }
  }
  return !out.empty();
}

// Parameter sets of an "hvcC" record; false when the bytes are not one.
bool ParseHevcRecord(const uint8_t* p, size_t size, Bytes& out) {
  if (size < 23 || p[0] != 1) return false;
  size_t at = 23;
  for (int array = 0; array < p[22]; ++array) {
    if (at + 3 > size) return false;
    size_t count = ReadBig(p + at + 1, 2);
    at += 3;
    for (size_t i = 0; i < count; ++i) {
      if (at + 2 > size) return false;
      size_t length = ReadBig(p + at, 2);
      at += 2;
      if (length < 2 || at + length > size) return false;
      int type = (p[at] >> 1) & 0x3F;
      if (type < 32 || type > 40) return false;
      AppendNal(out, p + at, length);
      at += length;
    }
  }
  return !out.empty();
}

}  // namespace

const char* VideoKindName(VideoKind kind) { return kind == VideoKind::kH264 ? "H.264" : "HEVC"; }

std::vector<NalUnit> FindNalUnits(const uint8_t* data, size_t size) {
  std::vector<NalUnit> units;
  size_t i = 0;
  auto startCodeAt = [&](size_t at) {
    return at + 3 <= size && data[at] == 0 && data[at + 1] == 0 && data[at + 2] == 1;
  };
  while (i + 3 <= size && !startCodeAt(i)) ++i;
  while (i + 3 <= size) {
    size_t begin = i + 3;
    size_t end = begin;
    while (end + 3 <= size && !startCodeAt(end)) ++end;
    if (end + 3 > size) end = size;
    size_t next = end;
    while (end > begin && data[end - 1] == 0) --end;  // trailing zeros belong to the next code
    if (end > begin) units.push_back({begin, end - begin});
    i = next;
  }
  return units;
}

bool SniffVideoKind(const uint8_t* data, size_t size, VideoKind& kind) {
  auto units = FindNalUnits(data, size);
  if (units.empty() || units[0].offset > 4) return false;
  const uint8_t* nal = data + units[0].offset;
  if ((nal[0] & 0x80) != 0) return false;
  int hevcType = (nal[0] >> 1) & 0x3F;
  if (units[0].size >= 2 && nal[1] == 1 &&
      (hevcType == 32 || hevcType == 33 || hevcType == 34 || hevcType == 35 || hevcType == 39)) {
    kind = VideoKind::kHevc;
    return true;
  }
  int h264Type = nal[0] & 0x1F;
  if (h264Type == 1 || h264Type == 5 || (h264Type >= 6 && h264Type <= 9)) {
    kind = VideoKind::kH264;
    return true;
  }
  return false;
}

std::vector<Bytes> SplitAccessUnits(const Bytes& stream, VideoKind kind) {
  std::vector<Bytes> units;
  Bytes current;
  bool hasPicture = false;
  for (const NalUnit& nal : FindNalUnits(stream.data(), stream.size())) {
    const uint8_t* p = stream.data() + nal.offset;
    if (hasPicture && OpensAccessUnit(p, nal.size, kind)) {
      units.push_back(std::move(current));
      current.clear();
      hasPicture = false;
    }
    AppendNal(current, p, nal.size);
    hasPicture = hasPicture || IsPictureData(NalType(p, kind), kind);
  }
  if (hasPicture) units.push_back(std::move(current));
  return units;
}

Bytes ToAnnexB(const uint8_t* data, size_t size) {
  // Lengths are tried first: a length of 256 to 511 bytes begins like a start code.
  Bytes out;
  for (size_t at = 0; at < size;) {
    size_t length = at + 4 <= size ? ReadBig(data + at, 4) : 0;
    if (length == 0 || length > size - at - 4) return Bytes(data, data + size);
    AppendNal(out, data + at + 4, length);
    at += 4 + length;
  }
  return out;
}

bool HasSequenceParameterSet(const Bytes& unit, VideoKind kind) {
  for (const NalUnit& nal : FindNalUnits(unit.data(), unit.size())) {
    if (NalType(unit.data() + nal.offset, kind) == (kind == VideoKind::kH264 ? 7 : 33)) {
      return true;
    }
  }
  return false;
}

Bytes ParameterSetsFromFile(const std::string& path, VideoKind kind) {
  std::ifstream file(path, std::ios::binary);
  Bytes content((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  const std::string mp4Box = kind == VideoKind::kH264 ? "avcC" : "hvcC";
  const uint8_t* p = content.data();
  Bytes sets;
  auto parse = [&](const uint8_t* record, size_t recordSize) {
    sets.clear();
    return kind == VideoKind::kH264 ? ParseAvcRecord(record, recordSize, sets)
                                    : ParseHevcRecord(record, recordSize, sets);
  };
  for (size_t i = 0; i + 8 < content.size(); ++i) {
    // MP4: a box named avcC/hvcC, its size in the four bytes before the name.
    if (i >= 4 && std::equal(mp4Box.begin(), mp4Box.end(), p + i)) {
      size_t boxSize = ReadBig(p + i - 4, 4);
      if (boxSize >= 8 && i - 4 + boxSize <= content.size()) {
        if (parse(p + i + 4, boxSize - 8)) return sets;
      }
    }
    // Matroska: the CodecPrivate element (id 63 A2) holds the record; its size is a one- or
    // two-byte variable-length number.
    if (p[i] == 0x63 && p[i + 1] == 0xA2 && (p[i + 2] & 0xC0) != 0) {
      bool shortSize = (p[i + 2] & 0x80) != 0;
      size_t header = shortSize ? 3 : 4;
      size_t recordSize = shortSize ? (p[i + 2] & 0x7F) : (((p[i + 2] & 0x3F) << 8) | p[i + 3]);
      if (i + header + recordSize <= content.size()) {
        if (parse(p + i + header, recordSize)) return sets;
      }
    }
  }
  return {};
}

}  // namespace codec_tool
