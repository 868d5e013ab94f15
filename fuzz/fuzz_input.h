// What every fuzz target shares: a reader that turns the input into parameters and packets, a
// logger that formats every line and keeps none, and FFmpeg frames for the targets that hand the
// library pictures or sound of their own.
#pragma once

#include <unistd.h>

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "base/log.h"
#include "codec_interface.h"

extern "C" {
#include <libavutil/frame.h>
}

namespace codec_fuzz {

// Reads the input front to back; past its end every number is 0 and every chunk empty.
class FuzzInput {
 public:
  FuzzInput(const uint8_t* data, size_t size) : m_pNext(data), m_pEnd(data + size) {}

  bool Empty() const { return m_pNext == m_pEnd; }
  uint8_t Byte() { return Empty() ? 0 : *m_pNext++; }
  int Word() {
    const int low = Byte();
    return low | Byte() << 8;
  }
  // A signed 32-bit value, so that negative and huge sizes reach the library too.
  int32_t Int() {
    const uint32_t low = static_cast<uint32_t>(Word());
    return static_cast<int32_t>(low | static_cast<uint32_t>(Word()) << 16);
  }
  template <class T, size_t N>
  const T& Pick(const T (&table)[N]) {
    return table[Byte() % N];
  }
  // A chunk behind a 16-bit length, copied so that a read past it is a read past an allocation.
  std::vector<uint8_t> Chunk() {
    const size_t want = static_cast<size_t>(Word());
    const size_t count = want < Left() ? want : Left();
    std::vector<uint8_t> chunk(m_pNext, m_pNext + count);
    m_pNext += count;
    return chunk;
  }

 private:
  size_t Left() const { return static_cast<size_t>(m_pEnd - m_pNext); }
  const uint8_t* m_pNext;
  const uint8_t* m_pEnd;
};

// The input written to a file of this process in the temporary folder, removed with the object.
struct InputFile {
  InputFile(const uint8_t* data, size_t size)
      : path((std::filesystem::temp_directory_path() /
              ("codec-fuzz-" + std::to_string(getpid()) + ".media"))
                 .string()) {
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(data), size);
  }
  ~InputFile() { std::filesystem::remove(path); }
  const std::string path;
};

// Formats every line, so that a format that does not fit its arguments shows, and drops it.
class QuietLog : public base::IBaseLogInterface {
 public:
  void PrintLog(const int& level, const int& tid, const char* format, ...) override {
    va_list args;
    va_start(args, format);
    VPrintLog(level, tid, format, args);
    va_end(args);
  }
  void VPrintLog(const int&, const int&, const char* format, va_list args) override {
    char line[1024];
    std::vsnprintf(line, sizeof line, format, args);
  }
};

// Reads every byte, as a host copying a result out does; a short buffer shows as a bad read.
inline void ReadAll(const uint8_t* data, int size) {
  static std::vector<uint8_t> s_copy;
  if (size > 0) s_copy.assign(data, data + size);
}

// Copies picture k out as a host does, sized by the record's own layout and size.
inline void CopyPicture(codec_interface::CVideoDecodeOutParam& out, int k) {
  codec_interface::PixelFormat layout = codec_interface::PIX_FMT_NONE;
  const int size = codec_interface::ICodecInterface::ImageGetBufferSize(
      out.m_ePixelFormat, layout, out.m_nWidth, out.m_nHeight);
  std::vector<uint8_t> buffer(size > 0 ? size : 0);
  codec_interface::ICodecInterface::ImageCopyToBuffer(buffer.data(), size, out, k);
}

// Installs QuietLog, and FFmpeg's bridge to it (the first video Init installs that), once.
inline void QuietLogs() {
  static const bool installed = [] {
    base::IBaseLogInterface::GetLogInstance(std::make_shared<QuietLog>());
    codec_interface::CodecParam param{};
    codec_interface::ICodecInterface::Create(codec_interface::AV_CODEC_TYPE_H264DEC)
        ->Init(codec_interface::AV_CODEC_TYPE_H264DEC, param);
    return true;
  }();
  (void)installed;
}

// A picture or a block of sound with its own buffers; null when FFmpeg refuses the shape.
inline AVFrame* MakeFrame(int format, int width, int height, int samples = 0, int rate = 0,
                          int channels = 0) {
  AVFrame* frame = av_frame_alloc();
  frame->format = format;
  frame->width = width;
  frame->height = height;
  frame->nb_samples = samples;
  frame->sample_rate = rate;
  av_channel_layout_default(&frame->ch_layout, channels);
  if (av_frame_get_buffer(frame, 0) < 0) av_frame_free(&frame);
  return frame;
}

// Hands `frame` to `out` as its only entry, which `out` (in owning mode) frees.
inline void PutFrame(codec_interface::COutParam& out, AVFrame* frame) {
  out.Clear();
  out.m_pFrame[0] = frame;
  out.m_nNum = frame != nullptr ? 1 : 0;
}

}  // namespace codec_fuzz
