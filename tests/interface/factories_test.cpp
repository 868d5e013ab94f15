#include <climits>

#include "support/media.h"

namespace {

using namespace codec_interface;

// Every operation given a null pointer, an out-param of another class (a null one takes the same
// check), a negative or huge size or count, or a value outside its enumeration returns its
// failure value and logs no line of its own beyond the designed ones (an index out of range is
// the picture functions' test). The factory makes a closed video object below type 15 (negative
// values too), which cannot open G.711, and an audio one from 15 on. AddressSanitizer reports
// any memory an operation touches that it does not own. IPackAudio and ITransCoder have no
// virtual destructor: ASan also reports a delete through the wrong type.
TEST(WrongArguments, EveryOperationRefusesWithItsFailureValue) {
  using namespace codec_test;
  const int S16 = SAMPLE_FMT_S16;
  const CodecParam g711 = AudioParam(8000, 8000, 1, 1, S16, S16);
  auto audioDec = OpenCodec(AV_CODEC_TYPE_G711UDEC, g711), audioEnc = OpenCodec(AV_CODEC_TYPE_G711UENC, g711);
  auto videoDec = OpenCodec(AV_CODEC_TYPE_H264DEC, VideoParam(PIX_FMT_NONE));
  auto videoEnc = OpenCodec(AV_CODEC_TYPE_BMPENC, VideoParam(PIX_FMT_BGRA, 16, 8));
  auto trans = ITransCoder::Create();
  ASSERT_EQ(trans->Init(0, TransParam(PIX_FMT_YUV420P, 16, 8, PIX_FMT_NV12, 8, 4)), 0);
  auto pack = IPackAudio::Create(AUDIO_FILE_PACK_AAC);
  auto parse = IFileParseInterface::Create();
  CAudioDecodeOutParam aDec, aDecBad(OUTPARAM_FLAG_NOT_USE_CACHE);
  CAudioEncodeOutParam aEncBad;
  CVideoDecodeOutParam vDec, vDecBad(OUTPARAM_FLAG_NOT_USE_CACHE), picture(OUTPARAM_FLAG_NOT_USE_CACHE);
  CVideoEncodeOutParam vEnc;
  aDecBad.m_nNum = aEncBad.m_nNum = vDecBad.m_nNum = -3;
  Hold(picture, MakePicture(16, 8, AV_PIX_FMT_YUV420P, 0));
  Bytes bytes(4096, 0x55);
  uint8_t* d = bytes.data();
  int size = 0;
  PixelFormat format = PIX_FMT_NONE;
  const auto made = [&](int type) {
    auto codec = ICodecInterface::Create(CodecType(type));
    return codec->GetCodecType() == CodecType(-1) ? codec->Init(AV_CODEC_TYPE_G711UENC, g711) : -9;
  };
  const std::vector<LogLine> video = {{60, "[CODE]Codec not found for AVCodecType:" + std::to_string(AV_CODEC_TYPE_G711UENC)},
                                      {0, "[CODE]video codec uninit"}, {0, "[CODE]video codec uninit"}};
  const std::vector<LogLine> audio = {{20, "[CODE]audio codec init succ"}, {20, "[CODE]audio codec uninit"}};
  const std::tuple<const char*, std::function<int()>, int, std::vector<LogLine>> cases[] = {
      {"audio Decode, video out", [&] { return audioDec->Decode(d, 160, &vDec); }, -1, {}},
      {"audio Decode, null data", [&] { return audioDec->Decode(nullptr, 160, &aDec); }, -1, {}},
      {"audio Decode, negative size", [&] { return audioDec->Decode(d, -160, &aDec); }, -1, {}},
      {"audio Decode, negative count", [&] { return audioDec->Decode(d, 160, &aDecBad); }, -1, {}},
      {"audio Encode, decode out", [&] { return audioEnc->Encode(d, 320, &aDec); }, -1, {}},
      {"audio Encode, negative count", [&] { return audioEnc->Encode(d, 320, &aEncBad); }, -1, {}},
      {"video Decode, audio out", [&] { return videoDec->Decode(d, 100, &aDec); }, -1, {}},
      {"video Decode, null data", [&] { return videoDec->Decode(nullptr, 100, &vDec); }, -1, {}},
      {"video Decode, negative size", [&] { return videoDec->Decode(d, INT_MIN, &vDec); }, -1, {}},
      {"video Decode, negative count", [&] { return videoDec->Decode(d, 0, &vDecBad); }, -1, {}},
      {"video Encode, decode out", [&] { return videoEnc->Encode(d, 512, &vDec); }, -1, {}},
      {"video Encode, null data", [&] { return videoEnc->Encode(nullptr, 512, &vEnc); }, -1, {}},
      {"video Encode, negative size", [&] { return videoEnc->Encode(d, -512, &vEnc); }, -1, {}},
      {"video Encode, short buffer", [&] { return videoEnc->Encode(d, 511, &vEnc); }, -1,
       {{60, "[CODE]av_image_fill_arrays  need buf len[512], but get [511]"}, {60, "[CODE]FillAVFrame failed"}}},
      {"video Encode, longer buffer taken", [&] { return videoEnc->Encode(d, 4096, &vEnc); }, 1, {}},
      {"create -5", [&] { return made(-5); }, -1, video}, {"create 14", [&] { return made(14); }, -1, video},
      {"create 15", [&] { return made(15); }, 0, audio}, {"create 1000", [&] { return made(1000); }, 0, audio},
      {"video Init, type", [&] { return ICodecInterface::Create(CodecType(-7))->Init(CodecType(-7), g711); }, -1,
       {{60, "[CODE]Codec not found for AVCodecType:-7"}, {0, "[CODE]video codec uninit"}, {0, "[CODE]video codec uninit"}}},
      // A sample format outside the enumeration means none: the decoder's default.
      {"audio Init, format", [&] { return ICodecInterface::Create(AV_CODEC_TYPE_G711UDEC)->Init(
                                      AV_CODEC_TYPE_G711UDEC, AudioParam(8000, 8000, 1, 1, S16, INT_MAX)); }, 0,
       {{20, "[CODE]audio codec init succ"}, {20, "[CODE]audio codec uninit"}}},
      {"buffer size, format", [&] { return ICodecInterface::ImageGetBufferSize(PixelFormat(INT_MIN), format, 16, 8); }, 0, {}},
      {"buffer size, huge", [&] { return ICodecInterface::ImageGetBufferSize(PIX_FMT_RGBA, format, INT_MAX, INT_MAX); }, AVERROR(EINVAL), {}},
      {"buffer size, negative", [&] { return ICodecInterface::ImageGetBufferSize(PIX_FMT_RGBA, format, -16, 8); }, AVERROR(EINVAL), {}},
      {"copy, negative size", [&] { return ICodecInterface::ImageCopyToBuffer(d, -1, picture, 0); }, AVERROR(EINVAL), {}},
      {"copy, negative count", [&] { return ICodecInterface::ImageCopyToBuffer(d, 4096, vDecBad, -1); }, -1, {}},
      {"hardware copy, index", [&] { return ICodecInterface::ImageHwCopyToMemory(picture, vDecBad, 0); }, -1, {}},
      {"parse, null path", [&] { return parse->Open(nullptr); }, -1, {}},
      {"parse, null outputs", [&] { return parse->ReadAudioPacket(nullptr, nullptr, nullptr); }, -1, {}},
      {"parse, null video outputs", [&] { return parse->ReadVideoPacket(nullptr, &size); }, -1, {}},
      {"pack, null path", [&] { return pack->Init(nullptr, 44100, 2, 1024); }, -1, {}},
      {"pack, write unopened", [&] { return pack->WritePacket(d, 10); }, -1, {}},
      {"transcode, null source", [&] { return trans->Transcode(nullptr, 0, &vDec); }, -1, {}},
      {"transcode, null destination", [&] { return trans->Transcode(&picture, 0, nullptr); }, -1, {}},
      {"transcode, audio destination", [&] { return trans->Transcode(&picture, 0, &aDec); }, -1, {}},
      {"transcode, negative count", [&] { return trans->Transcode(&vDecBad, 0, &picture); }, -1, {}},
      {"transcode, index", [&] { return trans->Transcode(&picture, INT_MIN, &picture); }, -1, {}},
      {"transcode, kind", [&] { return trans->Init(INT_MIN, TransCoderParam{}) + trans->Init(2, TransCoderParam{}); },
       -2, {}},
  };
  for (const auto& [name, call, result, lines] : cases) {
    ScopedLogCapture capture;
    EXPECT_EQ(call(), result) << name;
    EXPECT_EQ(capture->OwnLines(), lines) << name;
  }
}

}  // namespace
