#pragma once
// Line-oriented files: the line writer of the dump file and the run log, the line
// reader of a restore, numbered backups.

#include <cstdint>
#include <fstream>
#include <memory>
#include <string>
#include <string_view>

#include "tools/platform.h"

namespace cubesec {

/// Appends CRLF-terminated lines to one file, which it keeps open between lines. Without a
/// block size each line is handed to the OS before Append returns; with one, whole lines
/// are gathered and handed over a block at a time, so the file still only ever grows by
/// whole lines. Failures are reported by the result; the caller decides what they mean.
class LineWriter {
 public:
  LineWriter(Platform& platform, std::string path, bool owner_only, size_t block_size = 0);
  ~LineWriter() { Close(); }
  LineWriter(const LineWriter&) = delete;
  LineWriter& operator=(const LineWriter&) = delete;
  /// Opens the file (creating it) without writing. False (with error()) when it cannot be.
  bool Open();
  /// Appends `text` and CRLF. False (with error()) when the file cannot be opened or
  /// written; a later call tries again. A block that could not be written is dropped.
  bool Append(std::string_view text);
  /// Hands the gathered lines to the OS. False (with error()) when that failed.
  bool Flush();
  /// Number of writes handed to the OS so far.
  int64_t writes() const { return writes_; }
  const std::string& path() const { return path_; }
  const std::string& error() const { return error_; }
  /// Hands over what is gathered (a failure is passed over) and closes the file; the next
  /// Append reopens it.
  void Close();

 private:
  bool WriteBytes(std::string_view bytes);

  Platform& platform_;
  std::string path_;
  bool owner_only_;
  size_t block_size_;
  std::string pending_;
  std::unique_ptr<AppendFile> file_;
  std::string error_;
  int64_t writes_ = 0;
};

/// Reads lines of a text file; a line ends at CRLF, LF or a lone CR.
class LineReader {
 public:
  /// Opens `path`; is_open() tells whether that worked.
  explicit LineReader(const std::string& path);
  bool is_open() const { return in_.is_open(); }
  /// Reads the next line without its end. False at the end of the file.
  bool ReadLine(std::string& line);
  bool AtEnd();
  void Close() { in_.close(); }

 private:
  std::ifstream in_;
};

/// One "key: value" line: key before the first ":" trimmed, value after it trimmed;
/// without ":" the whole trimmed line is the key.
struct KeyLine {
  std::string key;
  std::string value;
};
KeyLine SplitKeyLine(std::string_view line);

/// Reads the next line of `reader` as a key line. True when the key is not empty (an
/// empty line, or the end of the file, gives false).
bool ReadKeyLine(LineReader& reader, std::string& key, std::string& value);

/// True when `path` names an existing regular file.
bool FileExists(const std::string& path);

/// The name of backup `index` of `file_name`: index 0 is the file itself, 1 is
/// base.bak.ext, i > 1 is base.baki.ext. The extension is taken from the file's own name.
std::string BackupName(const std::string& file_name, int index);

/// Keeps `count` generations: deletes the oldest, renames each one up, the file itself
/// becomes backup 1. False (with `error`) when a rename fails.
bool RotateBackups(const std::string& file_name, int count, std::string* error = nullptr);

}  // namespace cubesec
