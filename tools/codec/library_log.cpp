#include "library_log.h"

#include <algorithm>
#include <fcntl.h>

#include <cstdio>

#include "codec_interface.h"
#include "platform_io.h"

namespace codec_tool {
namespace {

constexpr size_t kKeptLines = 32;
bool g_verbose = false;

std::string Format(const char* format, va_list args) {
  va_list copy;
  va_copy(copy, args);
  char buffer[1024];
  int n = std::vsnprintf(buffer, sizeof buffer, format, copy);
  va_end(copy);
  std::string text(buffer, n < 0 ? 0 : std::min<size_t>(n, sizeof buffer - 1));
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text;
}

}  // namespace

bool LibraryLog::Verbose() { return g_verbose; }

std::shared_ptr<LibraryLog> LibraryLog::Install(bool verbose) {
  g_verbose = verbose;
  std::shared_ptr<LibraryLog> log(new LibraryLog(verbose));
  base::IBaseLogInterface::GetLogInstance(log);
  // FFmpeg's own lines reach the library's logger once a video codec has been opened; until
  // then FFmpeg would print them itself. One small decoder opened and closed sets that up.
  {
    auto codec = codec_interface::ICodecInterface::Create(codec_interface::AV_CODEC_TYPE_H264DEC);
    codec_interface::CodecParam param{};
    codec->Init(codec_interface::AV_CODEC_TYPE_H264DEC, param);
  }
  log->StartStep();
  return log;
}

void LibraryLog::PrintLog(const int& level, const int&, const char* format, ...) {
  va_list args;
  va_start(args, format);
  Add(level, Format(format, args));
  va_end(args);
}

void LibraryLog::VPrintLog(const int& level, const int&, const char* format, va_list args) {
  Add(level, Format(format, args));
}

void LibraryLog::Add(int level, std::string text) {
  if (text.empty()) return;
  std::lock_guard lock(m_mtx);
  if (m_bVerbose) std::fprintf(stderr, "library(%d): %s\n", level, text.c_str());
  m_lines.emplace_back(level, std::move(text));
  if (m_lines.size() > kKeptLines) m_lines.pop_front();
}

void LibraryLog::StartStep() {
  std::lock_guard lock(m_mtx);
  m_lines.clear();
}

std::vector<std::string> LibraryLog::Explaining(size_t count) const {
  std::lock_guard lock(m_mtx);
  // The lines up to the latest error or warning: what follows it is the clean-up.
  auto end = m_lines.end();
  for (auto it = m_lines.begin(); it != m_lines.end(); ++it) {
    if (it->first >= base::LOG_LEVEL_WARNING) end = it + 1;
  }
  std::vector<std::string> result;
  for (auto it = end; it != m_lines.begin() && result.size() < count;) {
    --it;
    bool repeated = !result.empty() && result.front() == it->second;
    if (it->first > base::LOG_LEVEL_INFO && !repeated) result.insert(result.begin(), it->second);
  }
  return result;
}

MuteForeignPrints::MuteForeignPrints() {
  if (g_verbose) return;
  std::fflush(stderr);
  int nothing = open(kNullDevice, O_WRONLY);
  if (nothing < 0) return;
  m_nSaved = dup(STDERR_FILENO);
  if (m_nSaved >= 0) dup2(nothing, STDERR_FILENO);
  close(nothing);
}

MuteForeignPrints::~MuteForeignPrints() {
  if (m_nSaved < 0) return;
  std::fflush(stderr);
  dup2(m_nSaved, STDERR_FILENO);
  close(m_nSaved);
}

}  // namespace codec_tool
