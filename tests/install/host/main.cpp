// A host built only from the installed package: header, imported target, and both libraries
// found at run time through their install RPATH.
#include <cstdio>

#include "base/log.h"
#include "codec_interface.h"

int main() {
  using namespace codec_interface;
  auto video = ICodecInterface::Create(AV_CODEC_TYPE_H264DEC);
  auto audio = ICodecInterface::Create(AV_CODEC_TYPE_AACENC);
  if (!video || !audio || video->GetCodecType() != -1 || audio->GetCodecType() != -1) return 1;
  if (!base::IBaseLogInterface::GetLogInstance(nullptr)) return 2;
  std::printf("host ok\n");
  return 0;
}
