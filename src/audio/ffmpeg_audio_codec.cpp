#include "audio/ffmpeg_audio_codec.h"

namespace codec_interface {

CFFMpegAudioCodec::CFFMpegAudioCodec() : m_eCodecType(static_cast<CodecType>(-1)) {}
CFFMpegAudioCodec::~CFFMpegAudioCodec() { CFFMpegAudioCodec::Uninit(); }

int CFFMpegAudioCodec::Init(CodecType, CodecParam) { return -1; }
void CFFMpegAudioCodec::Uninit() {}
int CFFMpegAudioCodec::Decode(unsigned char*, int, COutParam*) { return -1; }
int CFFMpegAudioCodec::Encode(unsigned char*, int, COutParam*) { return -1; }
int CFFMpegAudioCodec::Reset(CodecParam) { return -1; }
void CFFMpegAudioCodec::SetEasyParam(VideoEasyParam) {}
CodecType CFFMpegAudioCodec::GetCodecType() { return m_eCodecType; }

}  // namespace codec_interface
