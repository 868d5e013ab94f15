#include "output_file.h"

#include "platform_io.h"

#include <cctype>
#include <csignal>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "failure.h"
#include "utf8_path.h"

namespace codec_tool {
namespace fs = std::filesystem;

namespace {

// Temporary files that are still open, for the signal handler: an interrupted run removes
// them too. Fixed slots of plain characters, since the handler may only call unlink.
constexpr int kSlots = 8;
constexpr size_t kPathBytes = 4096;
char g_pending[kSlots][kPathBytes];
volatile sig_atomic_t g_used[kSlots];

void RemovePendingAndStop(int signal) {
  for (int i = 0; i < kSlots; ++i) {
    if (g_used[i] != 0) unlink(g_pending[i]);
  }
  std::signal(signal, SIG_DFL);
  std::raise(signal);
}

int Remember(const std::string& path) {
  static const bool installed = [] {
    for (int signal : {SIGINT, SIGTERM}) std::signal(signal, RemovePendingAndStop);
#if defined(SIGHUP)  // not on Windows
    std::signal(SIGHUP, RemovePendingAndStop);
#endif
    return true;
  }();
  (void)installed;
  if (path.size() >= kPathBytes) return -1;
  for (int i = 0; i < kSlots; ++i) {
    if (g_used[i] == 0) {
      std::memcpy(g_pending[i], path.c_str(), path.size() + 1);
      g_used[i] = 1;
      return i;
    }
  }
  return -1;
}

void Forget(int slot) {
  if (slot >= 0) g_used[slot] = 0;
}

}  // namespace

OutputFile::OutputFile(std::string path) : m_strPath(std::move(path)) {
  const fs::path final = Utf8Path(m_strPath);
  std::string name = Utf8Text(final.filename());
  name.insert(0, 1, '.').append(".part").append(std::to_string(getpid()));
  m_strTemp = Utf8Text(final.parent_path() / name);
  m_nSlot = Remember(m_strTemp);
  m_pFile = std::fopen(m_strTemp.c_str(), "wb");
  if (m_pFile == nullptr) {
    Forget(m_nSlot);
    throw Failure("cannot write " + m_strPath + ": " + std::strerror(errno), kExitFailure, true);
  }
}

OutputFile::~OutputFile() {
  if (m_pFile != nullptr) std::fclose(m_pFile);
  Forget(m_nSlot);
  if (!m_bCommitted) {
    std::error_code ignored;
    fs::remove(Utf8Path(m_strTemp), ignored);
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
  fs::rename(Utf8Path(m_strTemp), Utf8Path(m_strPath), error);
  if (error) throw Failure("cannot write " + m_strPath + ": " + error.message(), kExitFailure, true);
  m_bCommitted = true;
}

std::string Ending(const std::string& path) {
  std::string ending = Utf8Text(Utf8Path(path).extension());
  for (char& c : ending) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return ending;
}

void MakeFolder(const std::string& path) {
  std::error_code error;
  fs::create_directories(Utf8Path(path), error);
  if (error || !fs::is_directory(Utf8Path(path))) {
    throw Failure("cannot make folder " + path + ": " +
                  (error ? error.message() : "not a folder"),
                  kExitFailure, true);
  }
}

}  // namespace codec_tool
