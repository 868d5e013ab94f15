#include <gtest/gtest.h>

#include "codec_interface.h"
#include "support/log_capture.h"
#include "support/media.h"

namespace {

using namespace codec_interface;

// Below 15 (negative values too) a video object, which cannot open G.711; from 15 on an audio
// one, which can. Either is closed until then.
TEST(Factories, CodecCreate_ChoosesTheObjectBySignedCodecType) {
  const CodecParam g711 = codec_test::AudioParam(8000, 8000, 1, 1, SAMPLE_FMT_S16, SAMPLE_FMT_S16);
  codec_test::ScopedLogCapture quiet;
  for (int value : {-5, -1, 0, 1, 11, 14, 15, 16, 25, 26, 1000}) {
    SCOPED_TRACE(value);
    auto codec = ICodecInterface::Create(static_cast<CodecType>(value));
    ASSERT_NE(codec, nullptr);
    EXPECT_EQ(codec->GetCodecType(), static_cast<CodecType>(-1));
    CAudioDecodeOutParam out;
    EXPECT_LT(codec->Decode(nullptr, 0, &out), 0);
    EXPECT_LT(codec->Encode(nullptr, 0, &out), 0);
    EXPECT_EQ(codec->Init(AV_CODEC_TYPE_G711UENC, g711), value < 15 ? -1 : 0);
  }
}

TEST(Factories, OtherObjectsStartClosedAndAreDestroyedThroughTheirImplementation) {
  auto parse = IFileParseInterface::Create();
  EXPECT_EQ(std::tuple(parse->GetAudioCodec(), parse->GetVideoCodec()),
            std::tuple(FILE_AUDIO_CODEC_NONE, FILE_VIDEO_CODEC_NONE));
  auto trans = ITransCoder::Create();
  CVideoDecodeOutParam out;
  EXPECT_EQ(trans->Transcode(nullptr, 0, &out), -1);
  EXPECT_EQ(trans->Transcode(&out, 0, nullptr), -1);
  EXPECT_EQ(trans->Init(2, TransCoderParam{}), -1);
  // IPackAudio and ITransCoder have no virtual destructor: ASan reports a wrong delete, and
  // the weak pointers show that one release ends the object.
  std::weak_ptr<IPackAudio> pack = IPackAudio::Create(static_cast<AudioFilePackType>(77));
  std::weak_ptr<ITransCoder> weakTrans = ITransCoder::Create();
  EXPECT_TRUE(pack.expired() && weakTrans.expired());
}

}  // namespace
