// A media file as this program reads it: through the library's media reader, which streams the
// packets (memory bounded by a packet, whatever the file's size) and knows every stream's facts.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "codec_interface.h"

namespace codec_tool {

using Bytes = std::vector<uint8_t>;

class MediaSource {
 public:
  // Fails with one line naming the cause: missing, a folder, unreadable, empty, not media.
  explicit MediaSource(const std::string& path);
  const std::string& Path() const { return m_strPath; }
  const codec_interface::MediaFileInfo& File() const { return m_file; }
  const std::vector<codec_interface::MediaStreamInfo>& Streams() const { return m_streams; }

  // The index of the stream of this kind a player would pick among those the library decodes;
  // -1 when there is none.
  int Best(codec_interface::MediaStreamKind kind) const { return m_pReader->FindBestStream(kind); }
  // The same among all streams of the kind but cover art, for copying, which needs no decoder.
  int BestStored(codec_interface::MediaStreamKind kind) const;
  // The stream of this kind the library decodes (the default one first); from now on only its
  // packets are read. Fails naming what the file has instead.
  const codec_interface::MediaStreamInfo& Choose(codec_interface::MediaStreamKind kind);
  // Reads only these streams from now on, their packets in this form.
  void Use(const std::vector<int>& streams, codec_interface::MediaPacketForm form);
  // The next packet of the enabled streams; false at the end. Fails when the file cannot be
  // read on (cut short, read error).
  bool Next(codec_interface::MediaPacket& packet);
  // To the key frame at or before `timeUs` from the file's start; false when the container
  // refuses (reading then goes on where it was).
  bool Seek(int64_t timeUs);
  // Back to the first packet, by opening the file again: a file that would not seek to where it
  // was asked (a raw stream, or MPEG-TS without key frames after the time) seeks no better to
  // its start.
  void Rewind();
  // The file's length in microseconds: the container's, else the chosen stream's; 0 if unknown.
  int64_t DurationUs() const;

 private:
  void Open();

  std::string m_strPath;
  std::shared_ptr<codec_interface::IMediaReader> m_pReader;
  codec_interface::MediaFileInfo m_file{};
  std::vector<codec_interface::MediaStreamInfo> m_streams;
  int m_nChosen = -1;
};

// The codec's usual name ("H.264", "AAC", "G.711 mu-law"), or FFmpeg's name of one the library
// does not decode.
std::string CodecLabel(const codec_interface::MediaStreamInfo& stream);
// "video", "sound", "subtitles" or "other".
const char* KindLabel(codec_interface::MediaStreamKind kind);

}  // namespace codec_tool
