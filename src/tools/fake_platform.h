#pragma once
// A Platform for tests: environment, registry, INI values, clock, random bytes, files,
// message box answers and editor starts are all set and inspected by the test. Files live in
// memory, so a unit test never touches the disk; failures are set per path. The
// cryptography and loadable modules are the system's.

#include <algorithm>
#include <cstring>
#include <deque>
#include <filesystem>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "tools/dates.h"
#include "tools/platform.h"
#include "tools/text.h"

namespace cubesec {

/// A new empty folder under the system's temporary folder, named `prefix` and a random part.
/// Creating the folder is what claims the name, so parallel tests never share one.
inline std::string MakeTestFolder(const std::string& prefix) {
  std::random_device random;
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / (prefix + "-" + std::to_string(random()));
    std::error_code error;
    if (std::filesystem::create_directory(folder, error)) return folder.string();
  }
  throw std::runtime_error("no temporary folder could be made for " + prefix);
}

class FakePlatform : public Platform {
 public:
  std::map<std::string, std::string> env;
  std::map<std::string, std::string> registry;  // "sub_key|value_name" -> value
  std::string windows_directory = "/etc";
  // "file|SECTION|KEY" (section and key upper-cased) -> value
  std::map<std::string, std::string> ini;
  int64_t now = 1796000000;    // 2026-11-30 (UTC)
  int utc_offset_minutes = 0;  // local = UTC + offset
  uint8_t next_random = 1;
  bool random_available = true;
  std::string executable_path = "/opt/cubesec/bin/cubesec";
  bool stdin_is_terminal = false;
  bool stderr_is_terminal = false;
  int64_t steady_ms = 0;  // SteadyMilliseconds(): moved on by the test
  bool has_display = false;
  std::deque<std::string> secret_lines;     // what ReadSecretLine hands out, in order
  std::vector<std::string> secret_prompts;  // the prompt of every ReadSecretLine
  std::deque<MessageBoxAnswer> answers;     // answers to the next message boxes
  std::vector<MessageBoxRequest> shown;     // every message box shown
  std::vector<std::string> editor_starts;
  bool editor_available = true;
  // Why an unavailable editor failed, as the platform says it.
  std::string editor_error = "cannot start fake-editor: No such file or directory";
  // Passes the file operations below to the real platform, for a test that runs a program's
  // parts against files that something else (the simulated server) keeps on the disk.
  bool real_files = false;
  // The files, by path, with their bytes; the folders that exist. A file can be made only in
  // a folder that exists (or under a name without a folder).
  std::map<std::string, std::string> files;
  std::set<std::string> folders;
  // Failures, by path, each with the reason the system would give: every write to the file
  // fails (a full disk), it cannot be read, a rename onto it fails.
  std::map<std::string, std::string> write_errors;
  std::map<std::string, std::string> read_errors;
  std::map<std::string, std::string> rename_errors;
  // Folders that count as writable; unset: every folder that exists.
  std::optional<std::vector<std::string>> writable_folders;
  std::string state_folder;                    // UserStateFolder()
  std::string data_folder;                     // UserDataFolder()
  std::string owner_only_error;                // when set, MakeOwnerOnly fails with it
  std::vector<std::string> made_owner_only;    // every path MakeOwnerOnly was asked for
  int pending_interrupt = 0;                   // what PendingInterrupt reports
  std::vector<StandardStream> binary_streams;  // every UseBinaryMode, in order

  std::optional<std::string> GetEnv(const std::string& name) const override {
    auto it = env.find(name);
    if (it == env.end()) return std::nullopt;
    return it->second;
  }
  std::optional<std::string> ReadRegistryValue(const std::string& sub_key,
                                               const std::string& value_name) override {
    auto it = registry.find(sub_key + "|" + value_name);
    if (it == registry.end()) return std::nullopt;
    return it->second;
  }
  std::string WindowsDirectory() override { return windows_directory; }
  std::optional<std::string> ReadIniValue(const std::string& file, const std::string& section,
                                          const std::string& key) override {
    const std::string rest = "|" + ToUpper(section) + "|" + ToUpper(key);
    auto it = ini.find(file + rest);
    // Test data written as "/etc/essbase.ini" also stands for the Windows join "/etc\\essbase.ini".
    if (it == ini.end()) {
      std::string slashed = file;
      std::replace(slashed.begin(), slashed.end(), '\\', '/');
      it = ini.find(slashed + rest);
    }
    if (it == ini.end()) return std::nullopt;
    return it->second;
  }
  int64_t NowUtc() override { return now; }
  int64_t SteadyMilliseconds() override { return steady_ms; }
  LocalDateTime ToLocal(int64_t utc_seconds) override {
    return CivilFromUtc(utc_seconds + int64_t{utc_offset_minutes} * 60);
  }
  bool SecureRandom(void* out, size_t size) override {
    if (!random_available) return false;
    auto* bytes = static_cast<uint8_t*>(out);
    for (size_t i = 0; i < size; ++i) bytes[i] = next_random++;
    return true;
  }
  // The system's library: a test wants its passwords kept as the program keeps them.
  bool DerivePbkdf2Sha256(std::string_view password, std::string_view salt, uint32_t iterations,
                          void* key, size_t size) override {
    return SystemPlatform().DerivePbkdf2Sha256(password, salt, iterations, key, size);
  }
  bool Sha256(std::string_view data, void* digest) override {
    return SystemPlatform().Sha256(data, digest);
  }
  bool EqualInConstantTime(const void* a, const void* b, size_t size) override {
    return SystemPlatform().EqualInConstantTime(a, b, size);
  }
  std::string ExecutablePath() override { return executable_path; }
  std::unique_ptr<AppendFile> OpenAppend(const std::string& path, bool owner_only,
                                         std::string* error) override {
    if (real_files) return SystemPlatform().OpenAppend(path, owner_only, error);
    if (!CanHoldFile(path, error)) return nullptr;
    files[path];  // made when missing, kept as it is when there
    return std::make_unique<MemoryFile>(*this, path);
  }
  std::unique_ptr<AppendFile> CreateNewFile(const std::string& path, std::string* error) override {
    if (real_files) return SystemPlatform().CreateNewFile(path, error);
    if (KindOf(path, true) != PathKind::kNone) {
      Fail(error, "File exists");
      return nullptr;
    }
    if (!CanHoldFile(path, error)) return nullptr;
    files[path];
    return std::make_unique<MemoryFile>(*this, path);
  }
  PathKind KindOf(const std::string& path, bool follow_links) override {
    if (real_files) return SystemPlatform().KindOf(path, follow_links);
    if (files.count(path)) return PathKind::kFile;
    if (folders.count(path)) return PathKind::kFolder;
    return PathKind::kNone;
  }
  bool ReadFile(const std::string& path, std::string& text, std::string* error) override {
    if (real_files) return SystemPlatform().ReadFile(path, text, error);
    if (auto failure = read_errors.find(path); failure != read_errors.end()) {
      return Fail(error, failure->second);
    }
    auto file = files.find(path);
    if (file == files.end()) return Fail(error, "No such file or directory");
    text = file->second;
    return true;
  }
  bool RenameFile(const std::string& from, const std::string& to, std::string* error) override {
    if (real_files) return SystemPlatform().RenameFile(from, to, error);
    auto file = files.find(from);
    if (file == files.end()) return Fail(error, "No such file or directory");
    if (auto failure = rename_errors.find(to); failure != rename_errors.end()) {
      return Fail(error, failure->second);
    }
    if (!CanHoldFile(to, error)) return false;
    std::string bytes = std::move(file->second);
    files.erase(file);
    files[to] = std::move(bytes);
    return true;
  }
  bool RemoveFile(const std::string& path, std::string* error) override {
    if (real_files) return SystemPlatform().RemoveFile(path, error);
    if (files.erase(path) == 0) return Fail(error, "No such file or directory");
    return true;
  }
  bool CreateFolders(const std::string& folder, std::string* error) override {
    if (real_files) return SystemPlatform().CreateFolders(folder, error);
    for (std::string above = folder; !above.empty(); above = FolderOf(above)) {
      if (files.count(above)) return Fail(error, "Not a directory");
      if (!folders.insert(above).second) break;
    }
    return true;
  }
  int PendingInterrupt() override { return pending_interrupt; }
  bool FolderIsWritable(const std::string& folder) override {
    if (!writable_folders) {
      return real_files ? SystemPlatform().FolderIsWritable(folder) : folders.count(folder) > 0;
    }
    for (const std::string& writable : *writable_folders) {
      if (writable == folder) return true;
    }
    return false;
  }
  bool MakeOwnerOnly(const std::string& path, std::string* error) override {
    made_owner_only.push_back(path);
    if (owner_only_error.empty()) return !real_files || SystemPlatform().MakeOwnerOnly(path, error);
    if (error) *error = owner_only_error;
    return false;
  }
  std::string UserStateFolder() override { return state_folder; }
  std::string UserDataFolder() override { return data_folder; }
  std::unique_ptr<LoadedModule> LoadModule(const std::string& path, std::string* error) override {
    return SystemPlatform().LoadModule(path, error);
  }
  bool StdinIsTerminal() override { return stdin_is_terminal; }
  bool StderrIsTerminal() override { return stderr_is_terminal; }
  void UseBinaryMode(StandardStream stream) override { binary_streams.push_back(stream); }
  bool HasDisplay() override { return has_display; }
  bool ReadSecretLine(std::string_view prompt, std::string& line) override {
    secret_prompts.emplace_back(prompt);
    if (secret_lines.empty()) return false;
    line = secret_lines.front();
    secret_lines.pop_front();
    return true;
  }
  MessageBoxAnswer ShowMessageBox(const MessageBoxRequest& request) override {
    shown.push_back(request);
    if (answers.empty()) return MessageBoxAnswer::kUnavailable;
    MessageBoxAnswer answer = answers.front();
    answers.pop_front();
    return answer;
  }
  void SetMessageBoxPresenter(MessageBoxPresenter*) override {}
  bool StartEditor(const std::string& path, std::string* error) override {
    editor_starts.push_back(path);
    if (!editor_available && error) *error = editor_error;
    return editor_available;
  }

 private:
  // A file of the fake: each write appends to its bytes, unless the test made it fail.
  class MemoryFile : public AppendFile {
   public:
    MemoryFile(FakePlatform& platform, std::string path)
        : platform_(platform), path_(std::move(path)) {}
    bool Write(std::string_view bytes) override {
      if (auto failure = platform_.write_errors.find(path_);
          failure != platform_.write_errors.end()) {
        last_error_ = failure->second;
        return false;
      }
      platform_.files[path_].append(bytes);
      return true;
    }
    std::string LastError() const override { return last_error_; }

   private:
    FakePlatform& platform_;
    std::string path_;
    std::string last_error_;
  };

  static bool Fail(std::string* error, const std::string& why) {
    if (error) *error = why;
    return false;
  }
  static std::string FolderOf(const std::string& path) {
    const size_t end = path.find_last_of("/\\");
    return end == std::string::npos || end == 0 ? std::string() : path.substr(0, end);
  }
  // A file of that name can be made or kept: its folder exists and no folder has the name.
  bool CanHoldFile(const std::string& path, std::string* error) {
    if (folders.count(path)) return Fail(error, "Is a directory");
    const std::string folder = FolderOf(path);
    if (!folder.empty() && !folders.count(folder)) return Fail(error, "No such file or directory");
    return true;
  }
};

}  // namespace cubesec
