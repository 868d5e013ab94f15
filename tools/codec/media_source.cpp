#include "media_source.h"

#include <cerrno>
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "failure.h"
#include "utf8_path.h"

namespace codec_tool {
using namespace codec_interface;

namespace {

// What the reader's own line says too, in the words of this program; the reader is asked only
// about files that exist, can be read and hold something.
void CheckReadable(const std::string& path) {
  std::error_code error;
  if (std::filesystem::is_directory(Utf8Path(path), error)) {
    throw Failure("cannot read " + path + ": a folder, not a file", kExitFailure, true);
  }
  std::ifstream file(Utf8Path(path), std::ios::binary);
  if (!file) {
    throw Failure("cannot read " + path + ": " + std::strerror(errno), kExitFailure, true);
  }
  if (file.peek() == std::ifstream::traits_type::eof()) {
    throw Failure("cannot read " + path + ": the file is empty", kExitFailure, true);
  }
}

const char* DecodedCodecs(MediaStreamKind kind) {
  return kind == MEDIA_STREAM_VIDEO ? "H.264, HEVC, MJPEG" : "AAC, Opus, Speex, G.711";
}

}  // namespace

MediaSource::MediaSource(const std::string& path)
    : m_strPath(path), m_pReader(IMediaReader::Create()) {
  CheckReadable(path);
  Open();
  m_pReader->GetFileInfo(&m_file);
  m_streams.resize(size_t(std::max(0, m_file.nStreamCount)));
  for (int i = 0; i < m_file.nStreamCount; ++i) m_pReader->GetStreamInfo(i, &m_streams[size_t(i)]);
}

void MediaSource::Open() {
  if (m_pReader->Open(m_strPath.c_str()) != 0) {
    throw Failure(m_strPath + ": not a media file the library can open (damaged, cut short, or "
                              "not media at all)");
  }
}

void MediaSource::Rewind() {
  m_pReader->Close();
  Open();
  for (const MediaStreamInfo& stream : m_streams) {
    m_pReader->SetStreamEnabled(stream.nIndex, m_nChosen < 0 || stream.nIndex == m_nChosen);
  }
}

const MediaStreamInfo& MediaSource::Choose(MediaStreamKind kind) {
  int best = Best(kind);
  if (best < 0) {
    std::string what = kind == MEDIA_STREAM_VIDEO ? "video" : "sound";
    for (const MediaStreamInfo& stream : m_streams) {
      if (stream.eKind == kind && (stream.nDisposition & MEDIA_DISPOSITION_ATTACHED_PIC) == 0) {
        throw Failure(m_strPath + ": its " + what + " stream is " + stream.szCodecName +
                          ", which the library does not decode (it decodes " +
                          DecodedCodecs(kind) + ")",
                      kExitFailure, true);
      }
    }
    throw Failure(m_strPath + ": no " + what + " stream", kExitFailure, true);
  }
  for (const MediaStreamInfo& stream : m_streams) {
    m_pReader->SetStreamEnabled(stream.nIndex, stream.nIndex == best);
  }
  m_nChosen = best;
  return m_streams[size_t(best)];
}

int MediaSource::BestStored(MediaStreamKind kind) const {
  int best = -1;
  const auto isDefault = [](const MediaStreamInfo& s) {
    return (s.nDisposition & MEDIA_DISPOSITION_DEFAULT) != 0;
  };
  for (const MediaStreamInfo& stream : m_streams) {
    if (stream.eKind != kind || (stream.nDisposition & MEDIA_DISPOSITION_ATTACHED_PIC) != 0) continue;
    if (best < 0 || (isDefault(stream) && !isDefault(m_streams[size_t(best)]))) best = stream.nIndex;
  }
  return best;
}

void MediaSource::Use(const std::vector<int>& streams, MediaPacketForm form) {
  for (const MediaStreamInfo& stream : m_streams) {
    const bool used = std::find(streams.begin(), streams.end(), stream.nIndex) != streams.end();
    m_pReader->SetStreamEnabled(stream.nIndex, used);
  }
  m_pReader->SetPacketForm(form);
}

bool MediaSource::Next(MediaPacket& packet) {
  int result = m_pReader->ReadPacket(&packet);
  if (result < 0) {
    throw Failure(m_strPath + ": the file cannot be read to its end (cut short or damaged)");
  }
  return result == 1;
}

bool MediaSource::Seek(int64_t timeUs) { return m_pReader->Seek(timeUs) == 0; }

int64_t MediaSource::DurationUs() const {
  if (m_file.nDurationUs != MEDIA_NO_TIMESTAMP && m_file.nDurationUs > 0) return m_file.nDurationUs;
  if (m_nChosen >= 0) {
    int64_t stream = m_streams[size_t(m_nChosen)].nDurationUs;
    if (stream != MEDIA_NO_TIMESTAMP && stream > 0) return stream;
  }
  return 0;
}

std::string CodecLabel(const MediaStreamInfo& stream) {
  switch (stream.eDecoderType) {
    case AV_CODEC_TYPE_H264DEC: return "H.264";
    case AV_CODEC_TYPE_HEVCDEC: return "HEVC";
    case AV_CODEC_TYPE_MJPEGDEC: return "MJPEG";
    case AV_CODEC_TYPE_AACDEC: return "AAC";
    case AV_CODEC_TYPE_OPUSDEC: return "Opus";
    case AV_CODEC_TYPE_SPEEXDEC: return "Speex";
    case AV_CODEC_TYPE_G711ADEC: return "G.711 A-law";
    case AV_CODEC_TYPE_G711UDEC: return "G.711 mu-law";
    default: return stream.szCodecName;
  }
}

const char* KindLabel(MediaStreamKind kind) {
  switch (kind) {
    case MEDIA_STREAM_VIDEO: return "video";
    case MEDIA_STREAM_AUDIO: return "sound";
    case MEDIA_STREAM_SUBTITLE: return "subtitles";
    default: return "other";
  }
}

}  // namespace codec_tool
