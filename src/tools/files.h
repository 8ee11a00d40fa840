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
  /// Writes to `file`, already open, which `name` names in messages.
  LineWriter(Platform& platform, std::string name, std::unique_ptr<AppendFile> file,
             size_t block_size = 0);
  ~LineWriter() { Close(); }
  LineWriter(const LineWriter&) = delete;
  LineWriter& operator=(const LineWriter&) = delete;
  /// Opens the file (creating it) without writing. False (with error()) when it cannot be.
  bool Open();
  /// Creates the file as a new one (Platform::CreateNewFile) without writing. False (with
  /// error()) when the name exists already or the file cannot be made.
  bool CreateNew();
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
  bool given_ = false;  // file_ was handed over open: there is no path to open again
  std::string error_;
  int64_t writes_ = 0;
};

/// An output stream as an append file: standard output, for a dump file named "-".
class StreamAppendFile : public AppendFile {
 public:
  explicit StreamAppendFile(std::ostream& out) : out_(out) {}
  bool Write(std::string_view bytes) override;
  std::string LastError() const override;

 private:
  std::ostream& out_;
};

/// Splits a text into lines without copying it. A line ends at LF, at a run of CRs followed
/// by LF (an editor or a transfer that doubled the CR of a CRLF), or at a lone CR; a run of
/// CRs without LF ends as many lines. A UTF-8 byte order mark at the very start is no part
/// of the first line. The text must outlive the splitter and the lines it gives.
class LineSplitter {
 public:
  explicit LineSplitter(std::string_view text);
  /// The next line without its end, a view into the text. False at the end of the text.
  bool Next(std::string_view& line);
  bool AtEnd() const { return pending_empty_ == 0 && pos_ >= text_.size(); }

 private:
  // The first `c` at or after pos_, or npos.
  size_t Search(char c) const;
  // The same, searched again only once the one known lies behind.
  size_t Find(char c, size_t& known) const;

  std::string_view text_;
  size_t pos_ = 0;
  size_t pending_empty_ = 0;  // empty lines left by a run of CRs without LF
  // Where the next CR and LF stand (npos: none left), so that a text with one kind of line
  // end is not searched to its end for the other kind at every line.
  size_t next_cr_ = 0;
  size_t next_lf_ = 0;
};

/// Reads the lines of a text file, or of a text already read, split as LineSplitter does.
class LineReader {
 public:
  /// Reads `path` whole; is_open() tells whether that worked.
  LineReader(Platform& platform, const std::string& path);
  /// Reads the lines of `text`.
  static std::unique_ptr<LineReader> OfText(std::string text);
  LineReader(const LineReader&) = delete;  // the splitter shows text_
  LineReader& operator=(const LineReader&) = delete;
  bool is_open() const { return open_; }
  /// Reads the next line without its end. False at the end of the file.
  bool ReadLine(std::string& line);
  bool AtEnd() const { return !open_ || lines_.AtEnd(); }
  void Close();

 private:
  LineReader() = default;

  bool open_ = false;
  std::string text_;
  LineSplitter lines_{std::string_view()};
};

/// The whole content of `path`; false (with `error`: "is a folder", or the system's reason)
/// when it cannot be read.
bool ReadWholeFile(Platform& platform, const std::string& path, std::string& text,
                   std::string* error = nullptr);

/// One "key: value" line: key before the first ":" trimmed, value after it trimmed;
/// without ":" the whole trimmed line is the key.
struct KeyLine {
  std::string key;
  std::string value;
};
KeyLine SplitKeyLine(std::string_view line);
/// The same as views into `line`.
struct KeyView {
  std::string_view key;
  std::string_view value;
};
KeyView SplitKeyView(std::string_view line);

/// True when `path` names an existing regular file.
bool FileExists(Platform& platform, const std::string& path);
/// True when `path` names an existing folder.
bool IsFolder(Platform& platform, const std::string& path);

/// The name of backup `index` of `file_name`: index 0 is the file itself, 1 is
/// base.bak.ext, i > 1 is base.baki.ext. The extension is taken from the file's own name.
std::string BackupName(const std::string& file_name, int index);

/// The name under which an incomplete dump of `file_name` is kept: base.incomplete.ext,
/// named like the backups.
std::string IncompleteName(const std::string& file_name);

/// Renames `from` to `to`, replacing a file of that name. False (with `error`) on failure.
bool RenameFile(Platform& platform, const std::string& from, const std::string& to,
                std::string* error = nullptr);

/// Keeps `count` generations: deletes the oldest, renames each one up, the file itself
/// becomes backup 1. False (with `error`) when a rename fails.
bool RotateBackups(Platform& platform, const std::string& file_name, int count,
                   std::string* error = nullptr);

}  // namespace cubesec
