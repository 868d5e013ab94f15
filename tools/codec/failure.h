// How a subcommand gives up: one line for the user and the exit code. Thrown inside the program
// only; main turns it into the line, the library's explaining lines and the exit code.
#pragma once

#include <stdexcept>
#include <string>

namespace codec_tool {

enum ExitCode { kExitOk = 0, kExitFailure = 1, kExitUsage = 2 };

class Failure : public std::runtime_error {
 public:
  // explained: the message says all (the library's latest lines are not about it).
  explicit Failure(const std::string& message, int exitCode = kExitFailure, bool explained = false)
      : std::runtime_error(message), m_nExitCode(exitCode), m_bExplained(explained) {}
  int ExitCode() const { return m_nExitCode; }
  bool Explained() const { return m_bExplained || m_nExitCode == kExitUsage; }

 private:
  int m_nExitCode;
  bool m_bExplained;
};

}  // namespace codec_tool
