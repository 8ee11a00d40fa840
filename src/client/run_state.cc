#include "client/run_state.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "client/dump_format.h"
#include "tools/text.h"

namespace cubesec {
namespace {

// Lines between two chances for a window to process its events.
constexpr int kLinesPerPump = 64;

[[noreturn]] void ThrowLogError(const std::string& path, const std::string& reason) {
  throw RunError(kErrorFileIo, "Cannot write run log '" + path + "': " + reason);
}

// A program installed under /usr (or in /bin, /sbin) lives where the file system keeps
// programs only, read-only by convention: even when the folder happens to be writable (root
// runs it), the log does not go there.
bool InSystemProgramFolder(const std::filesystem::path& exe) {
#ifdef _WIN32
  (void)exe;
  return false;
#else
  const std::string folder = exe.parent_path().lexically_normal().string();
  return folder == "/usr" || folder.starts_with("/usr/") || folder == "/bin" || folder == "/sbin";
#endif
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

RunState::RunState(Platform& platform_in, EsbApi& api)
    : platform(platform_in), client(api), log_path(DecideRunLogPath(platform_in)) {}

bool RunState::OpenLog(bool secrets, std::string* error) {
  namespace fs = std::filesystem;
  const auto fail = [&](const std::string& reason) {
    if (error) *error = "Cannot write run log '" + log_path + "': " + reason;
    return false;
  };
  if (log_path.empty()) return fail("no place for it (set CUBESEC_LOG, or HOME)");
  const fs::path folder = fs::path(log_path).parent_path();
  std::error_code ec;
  if (!folder.empty() && !fs::is_directory(folder, ec)) {
    fs::create_directories(folder, ec);
    if (ec) return fail("cannot create its folder: " + ec.message());
  }
  if (!log) log = std::make_unique<LineWriter>(platform, log_path, /*owner_only=*/true);
  if (!log->Open()) return fail(log->error());
  // Older runs may have left temporary passwords in a log that someone made readable.
  std::string why;
  if (!platform.MakeOwnerOnly(log_path, &why) && secrets) {
    throw RunError(kErrorFileIo, "The run log '" + log_path +
                                     "' can be read by others and cannot be made readable by "
                                     "its owner only (" +
                                     why +
                                     "); a restore writes temporary passwords into it, so it "
                                     "does not start.");
  }
  return true;
}

void RunState::CountLineAndPump() {
  if (++lines_since_pump < kLinesPerPump) return;
  lines_since_pump = 0;
  if (observer) observer->PumpEvents();
}

void RunState::Log(std::string_view line) { Log(line, line); }

void RunState::Log(std::string_view line, std::string_view shown) {
  if (capture) {
    capture->items.emplace_back(CapturedOutput::Kind::kLogLine, line);
    return;
  }
  if (diverted_log) {
    diverted_log->emplace_back(line);
    CountLineAndPump();
    return;
  }
  // The log may hold temporary passwords: only its owner may read it.
  if (!log) log = std::make_unique<LineWriter>(platform, log_path, /*owner_only=*/true);
  if (!log->Append(line)) ThrowLogError(log_path, log->error());
  ++logged_lines_;
  log_ends_with_empty_line_ = line.empty() || line.ends_with("\r\n");
  if (observer) observer->OnLogLine(shown);
  CountLineAndPump();
}

void RunState::EndLogWithEmptyLine() {
  if (logged_lines_ > 0 && !log_ends_with_empty_line_) Log("");
}

void RunState::FlushDump() {
  if (dump_out && !dump_out->Flush()) {
    throw RunError(kErrorFileIo,
                   "Cannot write dump file '" + dump_file + "': " + dump_out->error());
  }
}

void RunState::StopDumpIfAsked() {
  if (const int signal_number = platform.PendingInterrupt(); signal_number != 0) {
    throw RunError(kErrorInterrupted,
                   "Interrupted by signal " + std::to_string(signal_number) + " before the end");
  }
  if (observer && observer->CancelRequested()) {
    throw RunError(kErrorInterrupted, "Cancelled by the user before the end");
  }
}

void RunState::WriteDumpLine(std::string_view line) {
  if (capture) {
    capture->items.emplace_back(CapturedOutput::Kind::kDumpLine, line);
    return;
  }
  if (dump_text) {
    dump_text->append(line);
    dump_text->append("\r\n");
    CountLineAndPump();
    return;
  }
  if (!dump_out) {
    dump_out = std::make_unique<LineWriter>(platform, dump_file, false, kDumpBlockBytes);
  }
  StopDumpIfAsked();
  if (!dump_out->Append(line)) {
    throw RunError(kErrorFileIo,
                   "Cannot write dump file '" + dump_file + "': " + dump_out->error());
  }
  ++dump_lines;
  CountLineAndPump();
}

void RunState::BeginBlock(std::string_view key_word) {
  if (capture) {
    capture->items.emplace_back(CapturedOutput::Kind::kBlock, key_word);
    return;
  }
  (void)key_word;
  ++blocks;
}

void RunState::ReportProgress(std::string_view phase, int done, int total, std::string_view item) {
  if (observer) observer->OnProgress(RunProgress{phase, done, total, item});
}

void RunState::Replay(const CapturedOutput& output) {
  for (const auto& [kind, text] : output.items) {
    switch (kind) {
      case CapturedOutput::Kind::kDumpLine:
        WriteDumpLine(text);
        break;
      case CapturedOutput::Kind::kLogLine:
        Log(text);
        break;
      case CapturedOutput::Kind::kBlock:
        BeginBlock(text);
        break;
    }
  }
}

bool RunState::ReadDumpLine(std::string& line) {
  if (head_line_) {
    line = std::move(*head_line_);
    head_line_.reset();
  } else if (!dump_in || !dump_in->ReadLine(line)) {
    return false;
  }
  // Only an older file's lists are split by the names its head lines define.
  if (dump_format < kDumpFormat && IsHeadLine(line)) {
    const KeyLine head = SplitKeyLine(line);
    std::string name;
    if (head.key == "Group") name = ToLower(head.value);
    if (head.key == "User") name = ToLower(ParseUserHeadValue(head.value).name);
    if (!name.empty()) {
      head_name_most_commas = std::max<size_t>(
          head_name_most_commas, static_cast<size_t>(std::count(name.begin(), name.end(), ',')));
      head_names.insert(std::move(name));
    }
  }
  return true;
}

bool RunState::ReadKeyLine(std::string& key, std::string& value) {
  key.clear();
  value.clear();
  if (!dump_in || head_line_) return false;
  CountLineAndPump();
  std::string line;
  if (!dump_in->ReadLine(line)) return false;
  if (IsHeadLine(line)) {
    head_line_ = std::move(line);
    return false;
  }
  KeyLine parsed = SplitKeyLine(line);
  key = std::move(parsed.key);
  value = std::move(parsed.value);
  return !key.empty();
}

std::string RunState::FilterKey(std::string_view app, std::string_view db,
                                std::string_view filter) {
  std::string key;
  key.reserve(app.size() + db.size() + filter.size() + 2);
  key.append(app).append("\t").append(db).append("\t").append(filter);
  return ToLower(key);
}

std::string RunState::NameKey(std::string_view app, std::string_view name) {
  std::string key;
  key.reserve(app.size() + name.size() + 1);
  key.append(app).append("\t").append(name);
  return ToLower(key);
}

}  // namespace cubesec
