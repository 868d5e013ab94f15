#include "media/file_parse.h"

namespace codec_interface {

CFileParse::CFileParse() = default;
CFileParse::~CFileParse() { CFileParse::Close(); }

int CFileParse::Open(const char*) { return -1; }
void CFileParse::Close() {}
FileAudioCodec CFileParse::GetAudioCodec() { return FILE_AUDIO_CODEC_NONE; }
FileVideoCodec CFileParse::GetVideoCodec() { return FILE_VIDEO_CODEC_NONE; }
int CFileParse::ReadAudioPacket(unsigned char**, int*, int*) { return -1; }
int CFileParse::ReadVideoPacket(unsigned char**, int*) { return -1; }

}  // namespace codec_interface
