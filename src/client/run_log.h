#pragma once
// The run log: the one writer of it for every command, a run's and a check's alike.

#include <memory>
#include <string>
#include <string_view>

#include "tools/files.h"
#include "tools/platform.h"

namespace cubesec {

/// Where this process's run log lies, decided from the platform alone: the file that
/// CUBESEC_LOG names when it is set; else beside the executable, named after it with
/// ".log", when that folder is writable; else cubesec/cubesec.log in the user's state
/// folder. Empty when there is no place at all.
std::string DecideRunLogPath(Platform& platform);

class RunLog {
 public:
  /// The log at DecideRunLogPath(platform); nothing is opened yet.
  explicit RunLog(Platform& platform);

  const std::string& path() const { return path_; }
  /// Moves the log elsewhere (a test's folder); a file already open is closed.
  void SetPath(std::string path);

  /// Opens the log before a command starts, creating its folders and the file, owner-only,
  /// and makes an existing log that others may read owner-only. Raises error 57 "Cannot
  /// write run log '<path>': <reason>" when it cannot be opened (is_open() stays false),
  /// and, when the command will write `secrets` into it, when it stays readable by others
  /// (the log is open then and can take that error).
  void Open(bool secrets);
  bool is_open() const { return open_; }

  /// Appends one line, opening the file (owner-only) on first use. A log that cannot be
  /// written raises error 57 "Cannot write run log '<path>': <reason>".
  void Write(std::string_view line);
  /// Ends this process's part of the log with the empty line, unless its last line already
  /// had it (or nothing was written).
  void EndWithEmptyLine();
  /// Lines written by this process.
  int lines() const { return lines_; }
  /// Hands over what is written and closes the file; the next line opens it again.
  void Close();

 private:
  [[noreturn]] void Fail(const std::string& reason) const;

  Platform& platform_;
  std::string path_;
  std::unique_ptr<LineWriter> file_;
  bool open_ = false;
  int lines_ = 0;
  bool ends_with_empty_line_ = false;
};

}  // namespace cubesec
