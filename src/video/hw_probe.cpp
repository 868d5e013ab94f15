#include "codec_interface.h"

namespace codec_interface {

// Placeholders until the hardware decode probe lands: nothing is probed, nothing works.
void ICodecInterface::Prepare(HardwareDecoderType, unsigned int) {}
bool ICodecInterface::CheckHardwareDecode(CodecType, unsigned int) { return false; }

}  // namespace codec_interface
