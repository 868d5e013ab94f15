#include "video/ffmpeg_video_codec.h"

namespace codec_interface {

// Placeholders until video encoding lands.
int CFFMpegVideoCodec::Encode(unsigned char*, int, COutParam*) { return -1; }
int CFFMpegVideoCodec::InitEncode(AVCodecContext*, const VideoCodecParam&) { return -1; }
int CFFMpegVideoCodec::FillAVFrame(uint8_t*, int) { return -1; }

}  // namespace codec_interface
