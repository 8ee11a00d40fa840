#include "front/session_texts.h"

#include <algorithm>

#include "client/dump_format.h"
#include "tools/text.h"

namespace cubesec {
namespace {

// The words of a run's closing note: the job's name in its text, and its title.
struct JobWords {
  std::string_view name;
  std::string_view title;
};

JobWords WordsFor(Command command) {
  switch (command) {
    case Command::kDump:
      return {"Security dump", "Security Dump"};
    case Command::kRestore:
      return {"Security restore", "Security Restore"};
    case Command::kReset:
      return {"Security reset", "Reset Security"};
    case Command::kPlan:
    case Command::kReadServer:
    case Command::kNone:
      break;
  }
  return {"The run", "Dumps/Rebuilds Essbase Security"};
}

}  // namespace

std::string GroupedNumber(int count) {
  const std::string digits = std::to_string(count < 0 ? -static_cast<long long>(count) : count);
  std::string grouped = count < 0 ? "-" : "";
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) grouped += ',';
    grouped += digits[i];
  }
  return grouped;
}

std::string ProgressText(const RunProgress& progress) {
  std::string text(progress.phase);
  text += ' ';
  text += GroupedNumber(progress.done);
  if (progress.total > 0) text += "/" + GroupedNumber(progress.total);
  if (!progress.item.empty()) {
    // A tab would move the rest of a progress line to where the terminal likes.
    text += ' ';
    text += ReplaceAll(ShowControlCharacters(progress.item), "\t", " ");
  }
  return text;
}

int ProgressPercent(const RunProgress& progress) {
  if (progress.total <= 0) return 0;
  // The item at hand is not done yet.
  const long long done = std::clamp(progress.done - 1, 0, progress.total);
  return static_cast<int>(done * 100 / progress.total);
}

std::string CompletionText(Command command, RunEnd end, const std::string& log_path) {
  const std::string job(WordsFor(command).name);
  const char* tmpl = "%1 completed.\nRun log: %2";
  if (end == RunEnd::kFailed) tmpl = "%1 did not complete.\nRun log: %2";
  if (end == RunEnd::kDeclined) tmpl = "%1 not confirmed: nothing was deleted.\nRun log: %2";
  if (end == RunEnd::kCancelled) tmpl = "%1 cancelled.\nRun log: %2";
  return FormatMsg(tmpl, {job, log_path});
}

std::string CompletionTitle(Command command) { return std::string(WordsFor(command).title); }

std::string BoxTitle(std::string_view title, std::string_view program_name) {
  if (title.empty() || title == program_name) return std::string(program_name);
  if (program_name.empty()) return std::string(title);
  return std::string(title) + " - " + std::string(program_name);
}

MessageBoxRequest CompletionNote(Command command, RunEnd end, const std::string& log_path) {
  MessageBoxRequest note;
  note.title = CompletionTitle(command);
  note.text = CompletionText(command, end, log_path);
  note.icon = end == RunEnd::kFailed ? MessageBoxIcon::kExclamation : MessageBoxIcon::kInformation;
  return note;
}

}  // namespace cubesec
