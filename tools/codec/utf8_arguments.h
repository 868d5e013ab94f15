// The command line as UTF-8 on every system: Windows hands programs their arguments in the
// ANSI code page through main, so there they are read again from the UTF-16 command line.
#pragma once

#include <string>
#include <vector>

namespace codec_tool {

class Utf8Arguments {
 public:
  Utf8Arguments(int argc, char** argv);
  Utf8Arguments(const Utf8Arguments&) = delete;  // the pointers point into this object's texts
  Utf8Arguments& operator=(const Utf8Arguments&) = delete;
  int Count() const { return static_cast<int>(m_pointers.size()); }
  char** Values() { return m_pointers.data(); }

 private:
  std::vector<std::string> m_texts;
  std::vector<char*> m_pointers;
};

}  // namespace codec_tool
