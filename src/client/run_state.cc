#include "client/run_state.h"

#include <algorithm>

#include "client/dump_format.h"
#include "tools/text.h"

namespace cubesec {
namespace {

// Lines between two chances for a window to process its events.
constexpr int kLinesPerPump = 64;

}  // namespace

RunState::RunState(Platform& platform_in, EsbApi& api)
    : platform(platform_in), client(api), run_log(platform_in) {}

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
  run_log.Write(line);
  if (observer) observer->OnLogLine(shown);
  CountLineAndPump();
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
