// The hardware decode probe behind ICodecInterface::Prepare and CheckHardwareDecode.
#include "video/hw_probe.h"

#include <cstring>
#include <map>
#include <mutex>
#include <utility>
#include <vector>

#include "interface/ffmpeg.h"
#include "interface/log.h"
#include "video/hw_family_table.h"
#include "video/probe_streams.h"

namespace codec_interface {

namespace {

// Ordered by CodecType, then adapter index.
using CacheKey = std::pair<int32_t, uint32_t>;

// The cache and its mutex live until the process ends; the mutex guards nothing else and is
// never held while a probe runs.
struct ResultCache {
  std::mutex mutex;
  std::map<CacheKey, bool> answers;
};

ResultCache& Cache() {
  static ResultCache* cache = new ResultCache();  // never destroyed: probes may run at exit
  return *cache;
}

std::optional<bool> Lookup(const CacheKey& key) {
  ResultCache& cache = Cache();
  const std::lock_guard<std::mutex> lock(cache.mutex);
  const auto found = cache.answers.find(key);
  if (found == cache.answers.end()) return std::nullopt;
  return found->second;
}

void Store(const CacheKey& key, bool bAnswer) {
  ResultCache& cache = Cache();
  const std::lock_guard<std::mutex> lock(cache.mutex);
  cache.answers[key] = bAnswer;
}

std::vector<uint8_t> PaddedCopy(const uint8_t* pData, size_t nSize) {
  std::vector<uint8_t> bytes(nSize + AV_INPUT_BUFFER_PADDING_SIZE, 0);
  std::memcpy(bytes.data(), pData, nSize);
  return bytes;
}

}  // namespace

bool RunHardwareDecodeProbe(CodecType eType, PixelFormat eFormat, unsigned int nAdapterIndex,
                            std::span<const uint8_t> stream) {
  const int type = static_cast<int>(eType);
  const int adapter = static_cast<int>(nAdapterIndex);
  std::shared_ptr<ICodecInterface> codec = ICodecInterface::Create(eType);
  CodecParam param;
  std::memset(&param, 0, sizeof param);
  param.stVideo.ePixelFormat = eFormat;
  param.stVideo.bKeepAspectRatio = true;
  param.stVideo.nAdapterIndex = nAdapterIndex;
  if (codec->Init(eType, param) != 0) {
    codec.reset();
    CODEC_LOG(kLogError, "CheckHardwareDecode[%d][%d] Codec Init failed", type, adapter);
    return false;
  }

  // Entries refer to the codec's own frames, so the out-param is cleared before Uninit.
  CVideoDecodeOutParam out(0);
  // Decode only reads the bytes.
  const int decoded =
      codec->Decode(const_cast<uint8_t*>(stream.data()), static_cast<int>(stream.size()), &out);
  if (decoded < 0) {
    out.Clear();
    codec->Uninit();
    codec.reset();
    CODEC_LOG(kLogError, "CheckHardwareDecode[%d][%d] Decode failed", type, adapter);
    return false;
  }
  const bool supported = out.m_nNum >= 1 && out.m_ePixelFormat == eFormat;
  if (supported) {
    CODEC_LOG(kLogDebug, "Support HardwareDecode[%d][%d]", type, adapter);
  } else {
    CODEC_LOG(kLogDebug, "UnSupport HardwareDecode[%d][%d]", type, adapter);
  }
  out.Clear();
  codec->Uninit();
  return supported;
}

namespace {

bool ProbeHardwareDecode(CodecType eType, unsigned int nAdapterIndex) {
  const HwFamily* family = HwFamilyOfCodec(eType);
  if (family == nullptr || !family->bProbed) return false;
  const CacheKey key{static_cast<int32_t>(eType), nAdapterIndex};
  if (const std::optional<bool> cached = Lookup(key)) return *cached;

  CODEC_LOG(kLogDebug, "CheckHardwareDecode[%d][%d]", static_cast<int>(eType),
            static_cast<int>(nAdapterIndex));
  const bool answer = RunHardwareDecodeProbe(eType, family->eRequest, nAdapterIndex,
                                             ProbeStream(eType == family->eHevc));
  Store(key, answer);
  return answer;
}

}  // namespace

std::span<const uint8_t> ProbeStream(bool bHevc) {
  if (bHevc) {
    static const std::vector<uint8_t> hevc = PaddedCopy(kProbeStreamHevc, kProbeStreamHevcSize);
    return {hevc.data(), kProbeStreamHevcSize};
  }
  static const std::vector<uint8_t> h264 = PaddedCopy(kProbeStreamH264, kProbeStreamH264Size);
  return {h264.data(), kProbeStreamH264Size};
}

std::optional<bool> CachedHardwareDecodeAnswer(CodecType eType, unsigned int nAdapterIndex) {
  return Lookup(CacheKey{static_cast<int32_t>(eType), nAdapterIndex});
}

bool ICodecInterface::CheckHardwareDecode(CodecType eCodecType, unsigned int nAdapterIndex) {
  return ProbeHardwareDecode(eCodecType, nAdapterIndex);
}

void ICodecInterface::Prepare(HardwareDecoderType eType, unsigned int nAdapterIndex) {
  const HwFamily* family = HwFamilyOfProbe(eType);
  if (family == nullptr) return;
  ProbeHardwareDecode(family->eH264, nAdapterIndex);
  ProbeHardwareDecode(family->eHevc, nAdapterIndex);
}

}  // namespace codec_interface
