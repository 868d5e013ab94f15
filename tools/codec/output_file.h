// An output written under a temporary name beside its final one and renamed when complete, so
// that a failed or interrupted run never leaves a half-written file: the temporary file goes
// when the object does, and on SIGINT, SIGTERM and SIGHUP.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace codec_tool {

class OutputFile {
 public:
  // Creates the temporary file at once, so that an output that cannot be written fails before
  // any work is done.
  explicit OutputFile(std::string path);
  ~OutputFile();  // removes the temporary file unless committed
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  const std::string& TempPath() const { return m_strTemp; }
  const std::string& Path() const { return m_strPath; }
  // Appends to the temporary file (for outputs this program writes itself).
  void Write(const uint8_t* data, size_t size);
  // Gives the temporary file its final name.
  void Commit();

 private:
  std::string m_strPath;
  std::string m_strTemp;
  FILE* m_pFile = nullptr;
  int m_nSlot = -1;  // among the files an interruption removes
  bool m_bCommitted = false;
};

// The name's ending in lower case, with its dot (".m4a"), which says what a file holds.
std::string Ending(const std::string& path);

// Makes the folder (and its parents) unless it exists.
void MakeFolder(const std::string& path);

}  // namespace codec_tool
