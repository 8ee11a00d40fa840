#pragma once
// The terminal as the interactive front end sees it: lines in, text out, and one way of
// reading a line that is not echoed. Tests script it; the real one sits on the process's
// standard input and standard error.

#include <iosfwd>
#include <string>
#include <string_view>

#include "tools/platform.h"

namespace cubesec {

class TerminalIo {
 public:
  virtual ~TerminalIo() = default;
  /// Reads one line typed by the user, without its end. False at the end of input.
  virtual bool ReadLine(std::string& line) = 0;
  /// Shows `prompt`, then reads one line without showing what is typed. False at the end
  /// of input.
  virtual bool ReadSecretLine(std::string_view prompt, std::string& line) = 0;
  virtual void Write(std::string_view text) = 0;
};

/// The process's own terminal: lines from `in` (standard input), the secret line through
/// the platform, which switches the echo of standard input off while it reads (and writes
/// its prompt to standard error), and output to `out`, flushed after each write so prompts
/// show before the program waits.
class ConsoleTerminal : public TerminalIo {
 public:
  ConsoleTerminal(Platform& platform, std::istream& in, std::ostream& out)
      : platform_(platform), in_(in), out_(out) {}
  bool ReadLine(std::string& line) override;
  bool ReadSecretLine(std::string_view prompt, std::string& line) override;
  void Write(std::string_view text) override;

 private:
  Platform& platform_;
  std::istream& in_;
  std::ostream& out_;
};

}  // namespace cubesec
