// A media file written through the library's media writer, stream by stream. Streams are
// declared as each learns its form (a re-encoded video only knows its size from its first
// picture); packets that come before every stream is declared wait here, since the writer takes
// no stream after its first packet. Written under a temporary name and renamed when complete,
// or, for a recording that must survive a kill, under its own name and removed on failure.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "codec_interface.h"
#include "media_source.h"
#include "output_file.h"

namespace codec_tool {

// FFmpeg's muxer for a file name's ending: "mp4", "mov", "matroska", "mpegts", "ogg", "adts",
// "h264" or "hevc"; none for another ending.
std::optional<std::string> ContainerFor(const std::string& path);

// The writer's options for the container; crash-safe mode (fragments every `fragmentMs`, 0 at
// every key picture) only for MP4 and MOV, else a usage failure.
codec_interface::MediaWriterOptions WriterOptions(const std::string& container, bool crashSafe,
                                                  int fragmentMs);

class MediaSink {
 public:
  enum class Naming { kTemporary, kDirect };
  // Creates the file at once (an unwritable folder fails here) with `streams` to come.
  MediaSink(const std::string& path, const std::string& container, int streams,
            const codec_interface::MediaWriterOptions& options, Naming naming = Naming::kTemporary);
  ~MediaSink();  // a file not finished is removed
  MediaSink(const MediaSink&) = delete;
  MediaSink& operator=(const MediaSink&) = delete;

  // Declares stream `slot` (0 to streams - 1); the writer's streams follow the slots' order.
  // The parameters' extradata must stay valid until every stream is declared.
  void Declare(int slot, const codec_interface::MediaVideoStreamParam& param);
  void Declare(int slot, const codec_interface::MediaAudioStreamParam& param);
  // One packet of stream `slot`, times in microseconds.
  void Write(int slot, const uint8_t* data, size_t size, int64_t ptsUs, int64_t dtsUs,
             int64_t durationUs, bool key);
  // Writes the trailer and gives the file its name; fails when the file is not complete.
  void Finish();
  const std::string& Path() const { return m_strPath; }

 private:
  struct Declared {
    std::optional<codec_interface::MediaVideoStreamParam> video;
    std::optional<codec_interface::MediaAudioStreamParam> audio;
  };
  struct Waiting {
    int slot;
    Bytes data;
    int64_t ptsUs, dtsUs, durationUs;
    bool key;
  };
  void AddStreamsOnceDeclared();
  void Put(int slot, const uint8_t* data, size_t size, int64_t ptsUs, int64_t dtsUs,
           int64_t durationUs, bool key);
  [[noreturn]] void Fail(const std::string& cause);

  std::string m_strPath;
  std::optional<OutputFile> m_file;  // kTemporary only
  std::shared_ptr<codec_interface::IMediaWriter> m_pWriter;
  std::vector<Declared> m_vecDeclared;
  std::vector<Waiting> m_vecWaiting;
  bool m_bStreamsAdded = false;
  bool m_bFinished = false;
};

}  // namespace codec_tool
