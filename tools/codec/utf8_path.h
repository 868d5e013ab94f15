// File names are UTF-8 text throughout the program (as the library and FFmpeg take them); the
// standard library's paths are made from and turned back into that text explicitly, as a narrow
// string would mean the ANSI code page on Windows.
#pragma once

#include <filesystem>
#include <string>

namespace codec_tool {

inline std::filesystem::path Utf8Path(const std::string& text) {
  return std::filesystem::path(std::u8string(text.begin(), text.end()));
}

inline std::string Utf8Text(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

}  // namespace codec_tool
