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

// IPackAudio and ITransCoder have no virtual destructor: ASan reports a delete through the
// wrong type. A transcoder refuses missing out-params and kinds other than 0 and 1.
TEST(Factories, OtherObjectsAreDestroyedThroughTheirImplementation) {
  IPackAudio::Create(static_cast<AudioFilePackType>(77));
  auto trans = ITransCoder::Create();
  CVideoDecodeOutParam out;
  EXPECT_EQ(std::tuple(trans->Transcode(nullptr, 0, &out), trans->Transcode(&out, 0, nullptr),
                       trans->Init(2, TransCoderParam{})), std::tuple(-1, -1, -1));
}

}  // namespace
