#pragma once
// A Platform for tests: environment, registry, INI values, clock, random bytes, message
// box answers and editor starts are all set and inspected by the test. Files and the
// cryptography are real.

#include <algorithm>
#include <cstring>
#include <deque>
#include <filesystem>
#include <map>
#include <optional>
#include <random>
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
  // Folders that count as writable; unset: the real file system decides.
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
    return SystemPlatform().OpenAppend(path, owner_only, error);
  }
  std::unique_ptr<AppendFile> CreateNewFile(const std::string& path, std::string* error) override {
    return SystemPlatform().CreateNewFile(path, error);
  }
  int PendingInterrupt() override { return pending_interrupt; }
  bool FolderIsWritable(const std::string& folder) override {
    if (!writable_folders) return SystemPlatform().FolderIsWritable(folder);
    for (const std::string& writable : *writable_folders) {
      if (writable == folder) return true;
    }
    return false;
  }
  bool MakeOwnerOnly(const std::string& path, std::string* error) override {
    made_owner_only.push_back(path);
    if (owner_only_error.empty()) return SystemPlatform().MakeOwnerOnly(path, error);
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
};

}  // namespace cubesec
