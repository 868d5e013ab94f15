#include "utf8_arguments.h"

#if defined(_WIN32)
#include <windows.h>
#include <shellapi.h>
#endif

namespace codec_tool {
namespace {

#if defined(_WIN32)
std::string ToUtf8(const wchar_t* wide) {
  const int bytes = WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
  if (bytes <= 1) return {};
  std::string text(size_t(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide, -1, text.data(), bytes, nullptr, nullptr);
  text.pop_back();  // the terminating zero WideCharToMultiByte counted
  return text;
}

// The UTF-16 arguments, or nothing when Windows cannot split the command line.
std::vector<std::string> WindowsArguments() {
  int count = 0;
  LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
  std::vector<std::string> texts;
  if (wide == nullptr) return texts;
  for (int i = 0; i < count; ++i) texts.push_back(ToUtf8(wide[i]));
  LocalFree(wide);
  return texts;
}
#endif

}  // namespace

Utf8Arguments::Utf8Arguments(int argc, char** argv) {
#if defined(_WIN32)
  m_texts = WindowsArguments();
#endif
  if (m_texts.empty()) m_texts.assign(argv, argv + argc);
  for (std::string& text : m_texts) m_pointers.push_back(text.data());
}

}  // namespace codec_tool
