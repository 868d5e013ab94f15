#include "video/ffmpeg_video_codec.h"

namespace codec_interface {

// Placeholders until video decoding lands.
int CFFMpegVideoCodec::Decode(unsigned char*, int, COutParam*) { return -1; }
int CFFMpegVideoCodec::OutPutFrame(CVideoDecodeOutParam*) { return -1; }
int CFFMpegVideoCodec::DecodeChangeSize() { return -1; }

}  // namespace codec_interface
