// The facts of one stream of an open file, in the records of the public interface.
#pragma once

#include <cstdint>
#include <vector>

#include "codec_interface.h"
#include "interface/av_ptr.h"

namespace codec_interface {

MediaStreamKind MediaKindOf(AVMediaType eType);

// The library's software decoder for the stream's packets in decoder form, or -1. AAC counts
// only when its packets can be framed as ADTS.
CodecType LibraryDecoderOf(const AVCodecParameters* pPar);

// Clockwise degrees (0, 90, 180, 270) that turn the decoded picture upright, from the display
// matrix, as the ffmpeg program's autorotate reads it.
int RotationOf(const AVCodecParameters* pPar);

// Fills *pInfo from the stream; pExtradata points at `extradata`, which the caller keeps.
void FillMediaStreamInfo(AVFormatContext* pCtx, AVStream* pStream,
                         const std::vector<uint8_t>& extradata, MediaStreamInfo* pInfo);

}  // namespace codec_interface
