// Each factory makes one allocation for the object and its reference counts and hands back the
// interface part; the shared pointer destroys the object through its own type.
#include "audio/ffmpeg_audio_codec.h"
#include "codec_interface.h"
#include "media/file_parse.h"
#include "media/media_reader.h"
#include "media/media_writer.h"
#include "media/pack_audio.h"
#include "media/trans_coder.h"
#include "video/ffmpeg_video_codec.h"

namespace codec_interface {

std::shared_ptr<ICodecInterface> ICodecInterface::Create(CodecType eCodecType) {
  if (static_cast<int32_t>(eCodecType) < AV_CODEC_TYPE_AUDIO_BEGIN) {
    return std::make_shared<CFFMpegVideoCodec>();
  }
  return std::make_shared<CFFMpegAudioCodec>();
}

std::shared_ptr<IFileParseInterface> IFileParseInterface::Create() {
  return std::make_shared<CFileParse>();
}

std::shared_ptr<IPackAudio> IPackAudio::Create(AudioFilePackType eType) {
  return std::make_shared<CPackAudio>(eType);
}

std::shared_ptr<ITransCoder> ITransCoder::Create() { return std::make_shared<CTransCoder>(); }

std::shared_ptr<IMediaReader> IMediaReader::Create() { return std::make_shared<CMediaReader>(); }

std::shared_ptr<IMediaWriter> IMediaWriter::Create() { return std::make_shared<CMediaWriter>(); }

}  // namespace codec_interface
