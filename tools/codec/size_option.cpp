// The options several commands share: --size (thumbs, video, convert, record) and
// --crash-safe (convert, remux, record).
#include <cstdlib>

#include "commands.h"

namespace codec_tool {

bool ParseSize(const std::string& text, int& width, int& height) {
  size_t x = text.find_first_of("xX");
  if (x == std::string::npos || x == 0 || x + 1 >= text.size()) return false;
  if (text.find_first_not_of("0123456789", 0) != x ||
      text.find_first_not_of("0123456789", x + 1) != std::string::npos) {
    return false;
  }
  if (x > 5 || text.size() - x - 1 > 5) return false;  // more than 99999 is no picture size
  width = std::atoi(text.substr(0, x).c_str());
  height = std::atoi(text.substr(x + 1).c_str());
  return width > 0 && height > 0;
}

CLI::Option* AddSizeOption(CLI::App& command, std::string& text, const std::string& what) {
  return command.add_option("--size", text, what)
      ->type_name("WxH")
      ->check(CLI::Validator(
          [](std::string& value) {
            int width = 0;
            int height = 0;
            return ParseSize(value, width, height)
                       ? std::string()
                       : "must be WIDTHxHEIGHT with both numbers above 0, as 320x180";
          },
          "WxH"));
}

CLI::Option* AddCrashSafeFlag(CLI::App& command, bool& flag) {
  return command.add_flag("--crash-safe", flag,
                          "MP4/MOV written in fragments, so that a killed run leaves a file "
                          "that plays to its last fragment");
}

}  // namespace codec_tool
