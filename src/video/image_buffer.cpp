// Sizing decoded pictures, copying them into host buffers and hardware surfaces into memory.
#include "video/image_buffer.h"

#include "interface/log.h"
#include "interface/out_entries.h"
#include "interface/pixel_formats.h"
#include "video/hw_family_table.h"

namespace codec_interface {

namespace {

constexpr int kPackedAlign = 1;

// A device surface downloaded into a new system-memory frame, or null after the failure line.
FramePtr DownloadSurface(const AVFrame& surface) {
  FramePtr memory(av_frame_alloc());
  if (memory == nullptr) return nullptr;
  if (av_hwframe_transfer_data(memory.get(), &surface, 0) != 0) {
    CODEC_LOG(kLogError, "av_hwframe_transfer_data failed");
    return nullptr;
  }
  return memory;
}

const AVFrame* EntryOf(const CVideoDecodeOutParam& out, int nIndex) {
  if (nIndex < 0 || nIndex >= out.m_nNum || nIndex >= OUTPARAM_MAX_COUNT) return nullptr;
  return out.m_pFrame[nIndex];
}

}  // namespace

bool IsDownloadableSurface(AVPixelFormat eFormat) {
  const HwFamily* family = HwFamilyOfSurface(eFormat);
  return family != nullptr && family->bDownload;
}

int CopyPictureToBuffer(const AVFrame& picture, AVPixelFormat eLayout, uint8_t* pDst,
                        int nDstSize) {
  return av_image_copy_to_buffer(pDst, nDstSize, picture.data, picture.linesize, eLayout,
                                 picture.width, picture.height, kPackedAlign);
}

void PutOwnedPicture(CVideoDecodeOutParam& dst, FramePtr picture) {
  const auto format = static_cast<AVPixelFormat>(picture->format);
  PutOwnedFirstEntry(dst, std::move(picture));
  dst.m_ePixelFormat = AvToPixelFormat(format);
}

int ICodecInterface::ImageGetBufferSize(PixelFormat eFormat, PixelFormat& eOutFormat, int nWidth,
                                        int nHeight) {
  eOutFormat = eFormat;
  AVPixelFormat measured = AV_PIX_FMT_NONE;
  if (!PixelFormatToAv(eFormat, &measured) || measured == AV_PIX_FMT_NONE) return 0;
  // Hardware pictures reach the host as NV12, the form ImageCopyToBuffer delivers them in.
  if (!IsMemoryPixelFormat(measured)) {
    measured = AV_PIX_FMT_NV12;
    eOutFormat = PIX_FMT_NV12;
  }
  return av_image_get_buffer_size(measured, nWidth, nHeight, kPackedAlign);
}

int ICodecInterface::ImageCopyToBuffer(unsigned char* pBuffer, int nSize, CVideoDecodeOutParam& src,
                                       int nIndex) {
  const AVFrame* picture = EntryOf(src, nIndex);
  if (picture == nullptr) return -1;
  // FFmpeg checks the size but not the pointer; refuse a missing buffer the way it refuses a
  // short one.
  if (pBuffer == nullptr) return AVERROR(EINVAL);
  const auto format = static_cast<AVPixelFormat>(picture->format);
  if (IsMemoryPixelFormat(format)) return CopyPictureToBuffer(*picture, format, pBuffer, nSize);
  if (!IsDownloadableSurface(format)) return -1;
  const FramePtr memory = DownloadSurface(*picture);
  if (memory == nullptr) return -1;
  // Hosts size hardware pictures as NV12 (ImageGetBufferSize), so that is the layout written.
  return CopyPictureToBuffer(*memory, AV_PIX_FMT_NV12, pBuffer, nSize);
}

int ICodecInterface::ImageHwCopyToMemory(CVideoDecodeOutParam& dst, CVideoDecodeOutParam& src,
                                         int nIndex) {
  if (!OwnsEntries(dst.m_nFlag)) {
    CODEC_LOG(kLogError,
              "ImageHwCopyToMemory Out Param Can not set OUTPARAM_FLAG_NOT_USE_CACHE flag");
    return -1;
  }
  const AVFrame* picture = EntryOf(src, nIndex);
  if (picture == nullptr || !IsDownloadableSurface(static_cast<AVPixelFormat>(picture->format))) {
    return -1;
  }
  FramePtr memory = DownloadSurface(*picture);
  if (memory == nullptr) return -1;
  PutOwnedPicture(dst, std::move(memory));
  return 0;
}

}  // namespace codec_interface
