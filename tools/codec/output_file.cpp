#include "output_file.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "failure.h"

namespace codec_tool {
namespace fs = std::filesystem;

OutputFile::OutputFile(std::string path) : m_strPath(std::move(path)) {
  fs::path final(m_strPath);
  m_strTemp = (final.parent_path() /
               ("." + final.filename().string() + ".part" + std::to_string(getpid())))
                  .string();
  m_pFile = std::fopen(m_strTemp.c_str(), "wb");
  if (m_pFile == nullptr) {
    throw Failure("cannot write " + m_strPath + ": " + std::strerror(errno), kExitFailure, true);
  }
}

OutputFile::~OutputFile() {
  if (m_pFile != nullptr) std::fclose(m_pFile);
  if (!m_bCommitted) {
    std::error_code ignored;
    fs::remove(m_strTemp, ignored);
  }
}

void OutputFile::Write(const uint8_t* data, size_t size) {
  if (size > 0 && std::fwrite(data, 1, size, m_pFile) != size) {
    throw Failure("cannot write " + m_strPath + ": " + std::strerror(errno), kExitFailure, true);
  }
}

void OutputFile::Commit() {
  if (std::fclose(m_pFile) != 0) {
    m_pFile = nullptr;
    throw Failure("cannot write " + m_strPath + ": " + std::strerror(errno), kExitFailure, true);
  }
  m_pFile = nullptr;
  std::error_code error;
  fs::rename(m_strTemp, m_strPath, error);
  if (error) throw Failure("cannot write " + m_strPath + ": " + error.message(), kExitFailure, true);
  m_bCommitted = true;
}

void MakeFolder(const std::string& path) {
  std::error_code error;
  fs::create_directories(path, error);
  if (error || !fs::is_directory(path)) {
    throw Failure("cannot make folder " + path + ": " +
                  (error ? error.message() : "not a folder"),
                  kExitFailure, true);
  }
}

}  // namespace codec_tool
