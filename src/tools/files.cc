#include "tools/files.h"

#include <algorithm>
#include <cstring>
#include <filesystem>

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

LineWriter::LineWriter(Platform& platform, std::string name, std::unique_ptr<AppendFile> file,
                       size_t block_size)
    : LineWriter(platform, std::move(name), /*owner_only=*/false, block_size) {
  file_ = std::move(file);
  given_ = true;
}

bool StreamAppendFile::Write(std::string_view bytes) {
  out_.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out_.flush();
  return out_.good();
}

std::string StreamAppendFile::LastError() const {
  return out_.good() ? std::string() : std::string("the stream refused the write");
}

bool LineWriter::Open() {
  if (file_) return true;
  // A stream that was handed over and failed is not to be replaced by a file of its name.
  if (given_) return false;
  std::string error;
  file_ = platform_.OpenAppend(path_, owner_only_, &error);
  if (!file_) {
    error_ = error.empty() ? "cannot open the file" : error;
    return false;
  }
  return true;
}

bool LineWriter::CreateNew() {
  std::string error;
  file_ = platform_.CreateNewFile(path_, &error);
  if (!file_) {
    error_ = error.empty() ? "cannot create the file" : error;
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

bool ReadWholeFile(Platform& platform, const std::string& path, std::string& text,
                   std::string* error) {
  if (IsFolder(platform, path)) {
    if (error) *error = "is a folder";
    return false;
  }
  std::string why;
  if (platform.ReadFile(path, text, &why)) return true;
  if (error) *error = why.empty() ? "cannot open the file" : why;
  return false;
}

LineSplitter::LineSplitter(std::string_view text) : text_(text) {
  if (text_.starts_with("\xEF\xBB\xBF")) pos_ = 3;
  next_cr_ = Search('\r');
  next_lf_ = Search('\n');
}

size_t LineSplitter::Search(char c) const {
  if (pos_ >= text_.size()) return std::string_view::npos;  // an empty text may have no data
  const void* hit = std::memchr(text_.data() + pos_, c, text_.size() - pos_);
  return hit ? static_cast<size_t>(static_cast<const char*>(hit) - text_.data())
             : std::string_view::npos;
}

size_t LineSplitter::Find(char c, size_t& known) const {
  // npos (none left) is never below pos_.
  if (known < pos_) known = Search(c);
  return known;
}

bool LineSplitter::Next(std::string_view& line) {
  line = {};
  if (pending_empty_ > 0) {
    --pending_empty_;
    return true;
  }
  if (pos_ >= text_.size()) return false;
  const size_t end = std::min(Find('\r', next_cr_), Find('\n', next_lf_));
  if (end == std::string_view::npos) {
    line = text_.substr(pos_);
    pos_ = text_.size();
    return true;
  }
  line = text_.substr(pos_, end - pos_);
  pos_ = end + 1;
  if (text_[end] == '\r') {
    size_t crs = 1;
    while (pos_ < text_.size() && text_[pos_] == '\r') ++pos_, ++crs;
    if (pos_ < text_.size() && text_[pos_] == '\n') {
      ++pos_;  // CR...CRLF: one line end
    } else {
      pending_empty_ = crs - 1;  // lone CRs: one line end each
    }
  }
  return true;
}

LineReader::LineReader(Platform& platform, const std::string& path) {
  open_ = ReadWholeFile(platform, path, text_);
  lines_ = LineSplitter(text_);
}

std::unique_ptr<LineReader> LineReader::OfText(std::string text) {
  std::unique_ptr<LineReader> reader(new LineReader());
  reader->text_ = std::move(text);
  reader->open_ = true;
  reader->lines_ = LineSplitter(reader->text_);
  return reader;
}

void LineReader::Close() {
  open_ = false;
  lines_ = LineSplitter(std::string_view());
  text_.clear();
}

bool LineReader::ReadLine(std::string& line) {
  std::string_view view;
  const bool read = open_ && lines_.Next(view);
  line.assign(view);
  return read;
}

KeyLine SplitKeyLine(std::string_view line) {
  const KeyView view = SplitKeyView(line);
  return {std::string(view.key), std::string(view.value)};
}

KeyView SplitKeyView(std::string_view line) {
  size_t colon = line.find(':');
  if (colon == std::string_view::npos) return {TrimView(line), {}};
  return {TrimView(line.substr(0, colon)), TrimView(line.substr(colon + 1))};
}

bool FileExists(Platform& platform, const std::string& path) {
  return !path.empty() && platform.KindOf(path, /*follow_links=*/true) == PathKind::kFile;
}

bool IsFolder(Platform& platform, const std::string& path) {
  return !path.empty() && platform.KindOf(path, /*follow_links=*/true) == PathKind::kFolder;
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

std::string IncompleteName(const std::string& file_name) {
  const std::string leaf = fs::path(file_name).filename().string();
  const std::string extension = fs::path(leaf).extension().string();
  return file_name.substr(0, file_name.size() - extension.size()) + ".incomplete" + extension;
}

bool RenameFile(Platform& platform, const std::string& from, const std::string& to,
                std::string* error) {
  // Windows renames onto no existing file. A link of that name is left for the rename to
  // replace, which never touches what it points to.
  if (platform.KindOf(to, /*follow_links=*/false) == PathKind::kFile) {
    platform.RemoveFile(to, nullptr);
  }
  std::string why;
  if (platform.RenameFile(from, to, &why)) return true;
  if (error) *error = "cannot rename '" + from + "' to '" + to + "': " + why;
  return false;
}

bool RotateBackups(Platform& platform, const std::string& file_name, int count,
                   std::string* error) {
  // With no generations to keep there is nothing to rotate; the file itself stays.
  if (count < 1) return true;
  std::string why;
  std::string oldest = BackupName(file_name, count);
  if (FileExists(platform, oldest) && !platform.RemoveFile(oldest, &why)) {
    if (error) *error = "cannot delete '" + oldest + "': " + why;
    return false;
  }
  for (int i = count; i >= 1; --i) {
    std::string from = BackupName(file_name, i - 1);
    if (!FileExists(platform, from)) continue;
    std::string to = BackupName(file_name, i);
    if (!platform.RenameFile(from, to, &why)) {
      if (error) *error = "cannot rename '" + from + "' to '" + to + "': " + why;
      return false;
    }
  }
  return true;
}

}  // namespace cubesec
