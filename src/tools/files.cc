#include "tools/files.h"

#include <filesystem>
#include <system_error>

#include "tools/text.h"

namespace cubesec {

namespace fs = std::filesystem;

LineWriter::LineWriter(Platform& platform, std::string path, bool owner_only, size_t block_size)
    : platform_(platform),
      path_(std::move(path)),
      owner_only_(owner_only),
      block_size_(block_size) {
  pending_.reserve(block_size_ + block_size_ / 8);
}

bool LineWriter::Open() {
  if (file_) return true;
  std::string error;
  file_ = platform_.OpenAppend(path_, owner_only_, &error);
  if (!file_) {
    error_ = error.empty() ? "cannot open the file" : error;
    return false;
  }
  return true;
}

bool LineWriter::WriteBytes(std::string_view bytes) {
  if (!Open()) return false;
  ++writes_;
  if (!file_->Write(bytes)) {
    std::string reason = file_->LastError();
    error_ = reason.empty() ? "write failed" : reason;
    file_.reset();  // the next Append opens the file again
    return false;
  }
  error_.clear();
  return true;
}

bool LineWriter::Append(std::string_view text) {
  if (block_size_ == 0) {
    // One write per line, so that a line is never split between two writes of the OS.
    std::string line;
    line.reserve(text.size() + 2);
    line.append(text);
    line.append("\r\n");
    return WriteBytes(line);
  }
  if (pending_.empty() && !Open()) return false;
  pending_.append(text);
  pending_.append("\r\n");
  return pending_.size() < block_size_ || Flush();
}

bool LineWriter::Flush() {
  if (pending_.empty()) return true;
  const bool written = WriteBytes(pending_);
  // What the OS refused is dropped: the file keeps the whole lines before it.
  pending_.clear();
  return written;
}

void LineWriter::Close() {
  Flush();
  file_.reset();
}

LineReader::LineReader(const std::string& path) : in_(path, std::ios::in | std::ios::binary) {}

bool LineReader::ReadLine(std::string& line) {
  line.clear();
  if (!in_.is_open()) return false;
  std::streambuf* buf = in_.rdbuf();
  using Traits = std::streambuf::traits_type;
  bool any = false;
  while (true) {
    Traits::int_type c = buf->sbumpc();
    if (Traits::eq_int_type(c, Traits::eof())) {
      in_.setstate(std::ios::eofbit);
      return any;
    }
    any = true;
    char ch = Traits::to_char_type(c);
    if (ch == '\n') return true;
    if (ch == '\r') {
      if (Traits::eq_int_type(buf->sgetc(), Traits::to_int_type('\n'))) buf->sbumpc();
      return true;
    }
    line.push_back(ch);
  }
}

bool LineReader::AtEnd() {
  if (!in_.is_open()) return true;
  using Traits = std::streambuf::traits_type;
  return Traits::eq_int_type(in_.rdbuf()->sgetc(), Traits::eof());
}

KeyLine SplitKeyLine(std::string_view line) {
  size_t colon = line.find(':');
  if (colon == std::string_view::npos) return {Trim(line), {}};
  return {Trim(line.substr(0, colon)), Trim(line.substr(colon + 1))};
}

bool ReadKeyLine(LineReader& reader, std::string& key, std::string& value) {
  std::string line;
  if (!reader.ReadLine(line)) {
    key.clear();
    value.clear();
    return false;
  }
  KeyLine parsed = SplitKeyLine(line);
  key = std::move(parsed.key);
  value = std::move(parsed.value);
  return !key.empty();
}

bool FileExists(const std::string& path) {
  if (path.empty()) return false;
  std::error_code ec;
  return fs::is_regular_file(path, ec);
}

std::string BackupName(const std::string& file_name, int index) {
  if (index <= 0) return file_name;
  // Only the last component carries an extension: "dir.v2/dump" has none.
  std::string leaf = fs::path(file_name).filename().string();
  std::string folder = file_name.substr(0, file_name.size() - leaf.size());
  fs::path leaf_path(leaf);
  std::string extension = leaf_path.extension().string();
  std::string stem = leaf.substr(0, leaf.size() - extension.size());
  std::string name = folder + stem + ".bak";
  if (index > 1) name += std::to_string(index);
  return name + extension;
}

bool RotateBackups(const std::string& file_name, int count, std::string* error) {
  // With no generations to keep there is nothing to rotate; the file itself stays.
  if (count < 1) return true;
  std::error_code ec;
  std::string oldest = BackupName(file_name, count);
  if (FileExists(oldest)) {
    fs::remove(oldest, ec);
    if (ec) {
      if (error) *error = "cannot delete '" + oldest + "': " + ec.message();
      return false;
    }
  }
  for (int i = count; i >= 1; --i) {
    std::string from = BackupName(file_name, i - 1);
    if (!FileExists(from)) continue;
    std::string to = BackupName(file_name, i);
    fs::rename(from, to, ec);
    if (ec) {
      if (error) *error = "cannot rename '" + from + "' to '" + to + "': " + ec.message();
      return false;
    }
  }
  return true;
}

}  // namespace cubesec
