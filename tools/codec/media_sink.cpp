#include "media_sink.h"

#include <algorithm>
#include <filesystem>

#include "failure.h"

namespace codec_tool {
using namespace codec_interface;

std::optional<std::string> ContainerFor(const std::string& path) {
  static const std::pair<const char*, const char*> kEndings[] = {
      {".mp4", "mp4"},      {".m4a", "mp4"},      {".m4v", "mp4"},   {".mov", "mov"},
      {".mkv", "matroska"}, {".mka", "matroska"}, {".ts", "mpegts"}, {".ogg", "ogg"},
      {".opus", "ogg"},     {".aac", "adts"},     {".h264", "h264"}, {".264", "h264"},
      {".hevc", "hevc"},    {".h265", "hevc"},    {".265", "hevc"}};
  const std::string ending = Ending(path);
  for (const auto& [known, muxer] : kEndings) {
    if (ending == known) return muxer;
  }
  return std::nullopt;
}

MediaWriterOptions WriterOptions(const std::string& container, bool crashSafe, int fragmentMs) {
  MediaWriterOptions options{};
  if (!crashSafe) return options;
  if (container != "mp4" && container != "mov") {
    throw Failure("--crash-safe needs an .mp4 or .mov file", kExitUsage);
  }
  options.nFlags = MEDIA_WRITER_CRASH_SAFE;
  options.nFragmentMs = fragmentMs;
  return options;
}

MediaSink::MediaSink(const std::string& path, const std::string& container, int streams,
                     const MediaWriterOptions& options, Naming naming)
    : m_strPath(path), m_pWriter(IMediaWriter::Create()), m_vecDeclared(size_t(streams)) {
  if (naming == Naming::kTemporary) m_file.emplace(path);
  const std::string& target = m_file ? m_file->TempPath() : path;
  // The temporary name has no ending the writer could go by.
  if (m_pWriter->Open(target.c_str(), container.c_str(), options) != 0) {
    Fail("the file could not be created");
  }
}

MediaSink::~MediaSink() {
  if (m_bFinished) return;
  m_pWriter->Close();
  if (!m_file) {
    std::error_code ignored;
    std::filesystem::remove(m_strPath, ignored);
  }
}

void MediaSink::Fail(const std::string& cause) {
  throw Failure("cannot write " + m_strPath + ": " + cause);
}

void MediaSink::Declare(int slot, const MediaVideoStreamParam& param) {
  m_vecDeclared[size_t(slot)].video = param;
  AddStreamsOnceDeclared();
}

void MediaSink::Declare(int slot, const MediaAudioStreamParam& param) {
  m_vecDeclared[size_t(slot)].audio = param;
  AddStreamsOnceDeclared();
}

void MediaSink::AddStreamsOnceDeclared() {
  const bool all = std::all_of(m_vecDeclared.begin(), m_vecDeclared.end(),
                               [](const Declared& d) { return d.video || d.audio; });
  if (!all || m_bStreamsAdded) return;
  for (const Declared& stream : m_vecDeclared) {
    const char* codec = stream.video ? stream.video->szCodecName : stream.audio->szCodecName;
    const int index = stream.video ? m_pWriter->AddVideoStream(*stream.video)
                                   : m_pWriter->AddAudioStream(*stream.audio);
    if (index < 0) Fail(std::string("the container does not take a ") + codec + " stream");
  }
  m_bStreamsAdded = true;
  for (const Waiting& w : m_vecWaiting) {
    Put(w.slot, w.data.data(), w.data.size(), w.ptsUs, w.dtsUs, w.durationUs, w.key);
  }
  m_vecWaiting.clear();
}

void MediaSink::Write(int slot, const uint8_t* data, size_t size, int64_t ptsUs, int64_t dtsUs,
                      int64_t durationUs, bool key) {
  if (m_bStreamsAdded) return Put(slot, data, size, ptsUs, dtsUs, durationUs, key);
  m_vecWaiting.push_back({slot, Bytes(data, data + size), ptsUs, dtsUs, durationUs, key});
}

void MediaSink::Put(int slot, const uint8_t* data, size_t size, int64_t ptsUs, int64_t dtsUs,
                    int64_t durationUs, bool key) {
  if (m_pWriter->WritePacket(slot, data, int(size), ptsUs, dtsUs, durationUs, key) != 0) {
    Fail("the writer refused a packet");
  }
}

void MediaSink::Finish() {
  // A stream that never declared itself had nothing to write.
  if (!m_bStreamsAdded) Fail("nothing could be written");
  if (m_pWriter->Close() != 0) Fail("the file could not be completed");
  if (m_file) m_file->Commit();
  m_bFinished = true;
}

}  // namespace codec_tool
