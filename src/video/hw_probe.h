// The hardware decode probe: whether a hardware decoder really works on an adapter, decided
// once per process by decoding an embedded picture, and cached.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "codec_interface.h"

namespace codec_interface {

// The embedded test stream of the H.264 or the HEVC probes, copied into process-lifetime
// memory on first use. FFmpeg's zeroed input padding follows the bytes (not in the span).
std::span<const uint8_t> ProbeStream(bool bHevc);

// One probe, without the cache: opens the decoder of eType asking for eFormat on the adapter,
// decodes the stream once and answers whether a picture came out in eFormat. Logs the probe's
// outcome lines (not the first "[CODE]CheckHardwareDecode[%d][%d]" line).
bool RunHardwareDecodeProbe(CodecType eType, PixelFormat eFormat, unsigned int nAdapterIndex,
                            std::span<const uint8_t> stream);

// The cached answer for (type, adapter), or nothing when that key was never probed.
std::optional<bool> CachedHardwareDecodeAnswer(CodecType eType, unsigned int nAdapterIndex);

}  // namespace codec_interface
