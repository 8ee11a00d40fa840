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
    capture->items.push_back({CapturedOutput::Kind::kLogLine, std::string(line),
                              shown == line ? std::string() : std::string(shown)});
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
    capture->items.push_back({CapturedOutput::Kind::kDumpLine, std::string(line), {}});
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
    capture->items.push_back({CapturedOutput::Kind::kBlock, std::string(key_word), {}});
    return;
  }
  (void)key_word;
  ++blocks;
}

void RunState::ReportProgress(std::string_view phase, int done, int total, std::string_view item) {
  if (observer) observer->OnProgress(RunProgress{phase, done, total, item});
}

void RunState::Replay(const CapturedOutput& output) {
  for (const CapturedOutput::Item& item : output.items) {
    switch (item.kind) {
      case CapturedOutput::Kind::kDumpLine:
        WriteDumpLine(item.text);
        break;
      case CapturedOutput::Kind::kLogLine:
        Log(item.text, item.shown.empty() ? item.text : item.shown);
        break;
      case CapturedOutput::Kind::kBlock:
        BeginBlock(item.text);
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

}  // namespace cubesec
