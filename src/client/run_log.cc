#include "client/run_log.h"

#include <filesystem>
#include <optional>

#include "client/call_check.h"

namespace cubesec {
namespace {

// A program installed under /usr (or in /bin, /sbin) lives where the file system keeps
// programs only, read-only by convention: even when the folder happens to be writable (root
// runs it), the log does not go there.
bool InSystemProgramFolder(const std::filesystem::path& exe) {
  return ThisOs().is_system_program_folder(exe.parent_path().lexically_normal().string());
}

}  // namespace

std::string DecideRunLogPath(Platform& platform) {
  namespace fs = std::filesystem;
  if (std::optional<std::string> named = platform.GetEnv("CUBESEC_LOG"); named && !named->empty()) {
    return *named;
  }
  const fs::path exe(platform.ExecutablePath());
  if (!exe.empty() && !InSystemProgramFolder(exe) &&
      platform.FolderIsWritable(exe.parent_path().string())) {
    return (exe.parent_path() / (exe.stem().string() + ".log")).string();
  }
  // An installed program lives in a folder its users cannot write to.
  const std::string state = platform.UserStateFolder();
  if (state.empty()) return {};
  return (fs::path(state) / "cubesec" / "cubesec.log").string();
}

RunLog::RunLog(Platform& platform) : platform_(platform), path_(DecideRunLogPath(platform)) {}

void RunLog::SetPath(std::string path) {
  Close();
  path_ = std::move(path);
}

void RunLog::Fail(const std::string& reason) const {
  throw RunError(kErrorFileIo, "Cannot write run log '" + path_ + "': " + reason);
}

void RunLog::Open(bool secrets) {
  namespace fs = std::filesystem;
  if (path_.empty()) {
    Fail("no place for it (set CUBESEC_LOG, or " + std::string(ThisOs().state_folder_variable) +
         ")");
  }
  const std::string folder = fs::path(path_).parent_path().string();
  std::string folder_error;
  if (!folder.empty() && platform_.KindOf(folder, /*follow_links=*/true) != PathKind::kFolder &&
      !platform_.CreateFolders(folder, &folder_error)) {
    Fail("cannot create its folder: " + folder_error);
  }
  // The log may hold temporary passwords: only its owner may read it.
  if (!file_) file_ = std::make_unique<LineWriter>(platform_, path_, /*owner_only=*/true);
  if (!file_->Open()) Fail(file_->error());
  open_ = true;
  // Older runs may have left temporary passwords in a log that someone made readable.
  std::string why;
  if (!platform_.MakeOwnerOnly(path_, &why) && secrets) {
    throw RunError(kErrorFileIo, "The run log '" + path_ +
                                     "' can be read by others and cannot be made readable by "
                                     "its owner only (" +
                                     why +
                                     "); a restore writes temporary passwords into it, so it "
                                     "does not start.");
  }
}

void RunLog::Write(std::string_view line) {
  if (!file_) file_ = std::make_unique<LineWriter>(platform_, path_, /*owner_only=*/true);
  if (!file_->Append(line)) Fail(file_->error());
  open_ = true;
  ++lines_;
  ends_with_empty_line_ = line.empty() || line.ends_with("\r\n");
}

void RunLog::EndWithEmptyLine() {
  if (lines_ > 0 && !ends_with_empty_line_) Write("");
}

void RunLog::Close() {
  file_.reset();
  open_ = false;
}

}  // namespace cubesec
