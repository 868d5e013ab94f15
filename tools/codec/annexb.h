// H.264 and HEVC elementary streams in Annex B form (NAL units behind start codes): what the
// library's video decoders take, one access unit (one picture) per call.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace codec_tool {

using Bytes = std::vector<uint8_t>;

enum class VideoKind { kH264, kHevc };

const char* VideoKindName(VideoKind kind);  // "H.264" or "HEVC"

// Position and length of each NAL unit behind a start code (the start code not included).
struct NalUnit {
  size_t offset;
  size_t size;
};
std::vector<NalUnit> FindNalUnits(const uint8_t* data, size_t size);

// The kind of a stream that starts with a start code, judged from its first NAL unit header;
// false when it looks like neither.
bool SniffVideoKind(const uint8_t* data, size_t size, VideoKind& kind);

// Splits a whole elementary stream into access units, each with its start codes.
std::vector<Bytes> SplitAccessUnits(const Bytes& stream, VideoKind kind);

// A packet as containers such as MP4 and Matroska store it (each NAL unit behind a 4-byte
// length) turned into Annex B; any other packet (already Annex B) is kept as it is.
Bytes ToAnnexB(const uint8_t* data, size_t size);

// Whether the access unit carries a sequence parameter set, without which a decoder that has
// not seen one cannot start.
bool HasSequenceParameterSet(const Bytes& unit, VideoKind kind);

// The parameter sets that MP4 and Matroska keep in the stream description instead of the
// packets ("avcC"/"hvcC" records), found in the file and returned in Annex B; empty if none.
Bytes ParameterSetsFromFile(const std::string& path, VideoKind kind);

}  // namespace codec_tool
