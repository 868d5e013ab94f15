#include "media/media_stream_info.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "media/aac_adts_config.h"
#include "media/microseconds.h"

extern "C" {
#include <libavutil/display.h>
}

namespace codec_interface {

MediaStreamKind MediaKindOf(AVMediaType eType) {
  switch (eType) {
    case AVMEDIA_TYPE_VIDEO:
      return MEDIA_STREAM_VIDEO;
    case AVMEDIA_TYPE_AUDIO:
      return MEDIA_STREAM_AUDIO;
    case AVMEDIA_TYPE_SUBTITLE:
      return MEDIA_STREAM_SUBTITLE;
    default:
      return MEDIA_STREAM_OTHER;
  }
}

namespace {

// Copies text into a fixed array, cut to fit and always ended; null gives an empty text.
template <size_t N>
void CopyText(char (&out)[N], const char* pText) {
  std::snprintf(out, N, "%s", pText != nullptr ? pText : "");
}

void FillVideo(AVFormatContext* pCtx, AVStream* pStream, MediaStreamInfo* pInfo) {
  const AVCodecParameters* par = pStream->codecpar;
  pInfo->nWidth = par->width;
  pInfo->nHeight = par->height;
  const AVRational sar = par->sample_aspect_ratio.num > 0 && par->sample_aspect_ratio.den > 0
                             ? par->sample_aspect_ratio
                             : AVRational{0, 1};
  pInfo->nSarNum = sar.num, pInfo->nSarDen = sar.den;
  // FFmpeg's own guess, as its ffmpeg program takes it: the average of a file whose times leave
  // room for reordered pictures (AVI) can be twice the real rate, and of one stamped in
  // milliseconds (FLV) comes out as 989/33.
  AVRational rate = av_guess_frame_rate(pCtx, pStream, nullptr);
  if (rate.num <= 0 || rate.den <= 0) rate = pStream->avg_frame_rate;
  if (rate.num <= 0 || rate.den <= 0) rate = AVRational{0, 1};
  pInfo->nFrameRateNum = rate.num, pInfo->nFrameRateDen = rate.den;
  pInfo->nRotation = RotationOf(par);
  const auto format = static_cast<AVPixelFormat>(par->format);
  if (const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(format)) {
    pInfo->nBitDepth = desc->comp[0].depth;
    CopyText(pInfo->szPixelFormat, desc->name);
  }
  pInfo->nColorMatrix = par->color_space;
  pInfo->nColorRange = par->color_range;
  pInfo->nColorPrimaries = par->color_primaries;
  pInfo->nColorTransfer = par->color_trc;
}

void FillAudio(const AVCodecParameters* par, MediaStreamInfo* pInfo) {
  pInfo->nSampleRate = par->sample_rate;
  pInfo->nChannels = par->ch_layout.nb_channels;
  CopyText(pInfo->szSampleFormat, av_get_sample_fmt_name(static_cast<AVSampleFormat>(par->format)));
  pInfo->nFrameSamples = par->frame_size;
  pInfo->nInitialPadding = par->initial_padding;
}

}  // namespace

CodecType LibraryDecoderOf(const AVCodecParameters* pPar) {
  switch (pPar->codec_id) {
    case AV_CODEC_ID_H264:
      return AV_CODEC_TYPE_H264DEC;
    case AV_CODEC_ID_HEVC:
      return AV_CODEC_TYPE_HEVCDEC;
    case AV_CODEC_ID_MJPEG:
      return AV_CODEC_TYPE_MJPEGDEC;
    case AV_CODEC_ID_OPUS:
      return AV_CODEC_TYPE_OPUSDEC;
    case AV_CODEC_ID_SPEEX:
      return AV_CODEC_TYPE_SPEEXDEC;
    case AV_CODEC_ID_PCM_ALAW:
      return AV_CODEC_TYPE_G711ADEC;
    case AV_CODEC_ID_PCM_MULAW:
      return AV_CODEC_TYPE_G711UDEC;
    case AV_CODEC_ID_AAC: {
      // Without a configuration the packets are ADTS frames already (MPEG-TS, .aac).
      AacAdtsConfig config;
      const bool framed =
          pPar->extradata_size <= 0 ||
          ParseAacAdtsConfig(pPar->extradata, pPar->extradata_size, &config) == nullptr;
      return framed ? AV_CODEC_TYPE_AACDEC : static_cast<CodecType>(-1);
    }
    default:
      return static_cast<CodecType>(-1);
  }
}

int RotationOf(const AVCodecParameters* pPar) {
  const AVPacketSideData* side = av_packet_side_data_get(
      pPar->coded_side_data, pPar->nb_coded_side_data, AV_PKT_DATA_DISPLAYMATRIX);
  if (side == nullptr || side->size < 9 * sizeof(int32_t)) return 0;
  const double angle = av_display_rotation_get(reinterpret_cast<const int32_t*>(side->data));
  if (std::isnan(angle)) return 0;
  // The matrix turns counter-clockwise; upright needs the opposite, in quarter turns.
  const long quarters = std::lround(-std::round(angle) / 90.0);
  return static_cast<int>(((quarters % 4) + 4) % 4) * 90;
}

void FillMediaStreamInfo(AVFormatContext* pCtx, AVStream* pStream,
                         const std::vector<uint8_t>& extradata, MediaStreamInfo* pInfo) {
  std::memset(pInfo, 0, sizeof *pInfo);
  const AVCodecParameters* par = pStream->codecpar;
  pInfo->nIndex = pStream->index;
  pInfo->eKind = MediaKindOf(par->codec_type);
  if (pStream->disposition & AV_DISPOSITION_DEFAULT) {
    pInfo->nDisposition |= MEDIA_DISPOSITION_DEFAULT;
  }
  if (pStream->disposition & AV_DISPOSITION_ATTACHED_PIC) {
    pInfo->nDisposition |= MEDIA_DISPOSITION_ATTACHED_PIC;
  }
  pInfo->eDecoderType = LibraryDecoderOf(par);
  CopyText(pInfo->szCodecName, avcodec_get_name(par->codec_id));
  pInfo->nStartTimeUs = ToMicroseconds(pStream->start_time, pStream->time_base);
  pInfo->nDurationUs = ToMicroseconds(pStream->duration, pStream->time_base);
  pInfo->nBitRate = par->bit_rate;
  pInfo->nTimeBaseNum = pStream->time_base.num;
  pInfo->nTimeBaseDen = pStream->time_base.den;
  const AVDictionaryEntry* language = av_dict_get(pStream->metadata, "language", nullptr, 0);
  CopyText(pInfo->szLanguage, language != nullptr ? language->value : nullptr);
  if (pInfo->eKind == MEDIA_STREAM_VIDEO) FillVideo(pCtx, pStream, pInfo);
  if (pInfo->eKind == MEDIA_STREAM_AUDIO) FillAudio(par, pInfo);
  pInfo->nExtradataSize = static_cast<int32_t>(extradata.size());
  pInfo->pExtradata = extradata.empty() ? nullptr : extradata.data();
}

}  // namespace codec_interface
