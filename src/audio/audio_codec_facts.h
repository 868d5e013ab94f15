// What an audio CodecType stands for, resolved once when a codec object is set up: the FFmpeg
// codec, the role, and the sample formats, rates and channel counts on both sides of it.
#pragma once

#include "codec_interface.h"
#include "interface/av_ptr.h"

namespace codec_interface {

struct AudioFormats {
  AVSampleFormat eSrc = AV_SAMPLE_FMT_NONE;  // the encoder's input, the decoder's stream
  AVSampleFormat eDst = AV_SAMPLE_FMT_NONE;  // the encoder's stream, the decoder's output
  int nSrcRate = 0;
  int nDstRate = 0;
  int nSrcChannels = 0;
  int nDstChannels = 0;
};

struct AudioCodecFacts {
  CodecType eType = static_cast<CodecType>(-1);
  bool bDecoder = false;
  const AVCodec* pCodec = nullptr;  // null when this FFmpeg lacks the codec
  bool bAdts = false;               // AAC packets framed with an ADTS header
  AudioFormats formats;             // the host's, with the codec's defaults where it gave none
};

// The facts of an audio CodecType with these parameters; false after the line refusing a type
// that is no audio type or parameters that lack the role's required format.
bool ResolveAudioCodec(CodecType eType, const AudioCodecParam& param, AudioCodecFacts* pFacts);

// A new context for the codec; null after the "[CODE]Codec not found" or the allocation's line.
CodecCtxPtr AllocateAudioContext(const AudioCodecFacts& facts);

}  // namespace codec_interface
