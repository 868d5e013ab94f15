// How a subcommand gives up: one line for the user and the exit code. Thrown inside the program
// only; main turns it into the line, the library's explaining lines and the exit code.
#pragma once

#include <stdexcept>
#include <string>

namespace codec_tool {

enum ExitCode { kExitOk = 0, kExitFailure = 1, kExitUsage = 2 };

class Failure : public std::runtime_error {
 public:
  explicit Failure(const std::string& message, int exitCode = kExitFailure)
      : std::runtime_error(message), m_nExitCode(exitCode) {}
  int ExitCode() const { return m_nExitCode; }

 private:
  int m_nExitCode;
};

}  // namespace codec_tool
