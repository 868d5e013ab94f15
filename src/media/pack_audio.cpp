#include "media/pack_audio.h"

namespace codec_interface {

CPackAudio::CPackAudio(AudioFilePackType eType) : m_eType(eType) {}
CPackAudio::~CPackAudio() = default;

int CPackAudio::Init(const char*, int, int, int) { return -1; }
void CPackAudio::Close() {}
int CPackAudio::WritePacket(unsigned char*, int) { return -1; }

}  // namespace codec_interface
