#include <gtest/gtest.h>

#include "audio/ffmpeg_audio_codec.h"
#include "codec_interface.h"
#include "media/file_parse.h"
#include "media/pack_audio.h"
#include "media/trans_coder.h"
#include "video/ffmpeg_video_codec.h"

namespace {

using namespace codec_interface;

TEST(Factories, CodecCreate_ChoosesTheClassBySignedCodecType) {
  for (int value : {-5, -1, 0, 1, 11, 14}) {
    auto codec = ICodecInterface::Create(static_cast<CodecType>(value));
    ASSERT_NE(codec, nullptr);
    EXPECT_NE(dynamic_cast<CFFMpegVideoCodec*>(codec.get()), nullptr) << value;
  }
  for (int value : {15, 16, 25, 26, 1000}) {
    auto codec = ICodecInterface::Create(static_cast<CodecType>(value));
    ASSERT_NE(codec, nullptr);
    EXPECT_NE(dynamic_cast<CFFMpegAudioCodec*>(codec.get()), nullptr) << value;
  }
}

TEST(Factories, CodecCreate_NewObjectIsClosedWithTypeMinusOne) {
  for (CodecType type : {AV_CODEC_TYPE_H264DEC, AV_CODEC_TYPE_AACENC}) {
    auto codec = ICodecInterface::Create(type);
    EXPECT_EQ(codec->GetCodecType(), static_cast<CodecType>(-1));
    CVideoDecodeOutParam out;
    EXPECT_LT(codec->Decode(nullptr, 0, &out), 0);
    EXPECT_LT(codec->Encode(nullptr, 0, &out), 0);
  }
}

TEST(Factories, OtherFactoriesBuildTheirImplementation) {
  auto parse = IFileParseInterface::Create();
  EXPECT_NE(dynamic_cast<CFileParse*>(parse.get()), nullptr);
  EXPECT_EQ(parse->GetAudioCodec(), FILE_AUDIO_CODEC_NONE);
  EXPECT_EQ(parse->GetVideoCodec(), FILE_VIDEO_CODEC_NONE);

  auto trans = ITransCoder::Create();
  ASSERT_NE(trans, nullptr);
  CVideoDecodeOutParam out;
  EXPECT_EQ(trans->Transcode(nullptr, 0, &out), -1);
  EXPECT_EQ(trans->Transcode(&out, 0, nullptr), -1);
  TransCoderParam param{};
  EXPECT_EQ(trans->Init(2, param), -1);

  // The stored pack type is not checked.
  auto pack = IPackAudio::Create(static_cast<AudioFilePackType>(77));
  ASSERT_NE(pack, nullptr);
}

TEST(Factories, SingleAllocationAndDestructionThroughTheImplementation) {
  // A weak pointer keeps the control block; expired() proves the object itself is gone, and
  // ASan proves IPackAudio (no virtual destructor) is destroyed through CPackAudio.
  std::weak_ptr<IPackAudio> weak;
  {
    auto pack = IPackAudio::Create(AUDIO_FILE_PACK_MP3);
    weak = pack;
    EXPECT_EQ(weak.use_count(), 1);
  }
  EXPECT_TRUE(weak.expired());
  std::weak_ptr<ITransCoder> weakTrans = ITransCoder::Create();
  EXPECT_TRUE(weakTrans.expired());
}

}  // namespace
