#include "front/session_texts.h"

#include "tools/text.h"

namespace cubesec {
namespace {

// The name of the job in the closing note; the command is "D", "R" or "C".
std::string_view JobName(std::string_view command) {
  if (command == "D") return "Security dump";
  if (command == "R") return "Security restore";
  if (command == "C") return "Security reset";
  return "The run";
}

}  // namespace

std::string ProgressText(std::string_view command, std::string_view key_word, int blocks) {
  const std::string_view verb = command == "D" ? "Writing " : command == "R" ? "Reading " : "";
  return FormatMsg("%1%2 (block %3)",
                   {std::string(verb), std::string(key_word), std::to_string(blocks)});
}

std::string CompletionText(std::string_view command, RunEnd end, const std::string& log_path) {
  const std::string job(JobName(command));
  const char* tmpl = "%1 completed.\nRun log: %2";
  if (end == RunEnd::kFailed) tmpl = "%1 did not complete.\nRun log: %2";
  if (end == RunEnd::kDeclined) tmpl = "%1 not confirmed: nothing was deleted.\nRun log: %2";
  return FormatMsg(tmpl, {job, log_path});
}

std::string CompletionTitle(std::string_view command) {
  if (command == "D") return "Security Dump";
  if (command == "R") return "Security Restore";
  if (command == "C") return "Reset Security";
  return "Dumps/Rebuilds Essbase Security";
}

std::string BoxTitle(std::string_view title, std::string_view program_name) {
  if (title.empty() || title == program_name) return std::string(program_name);
  if (program_name.empty()) return std::string(title);
  return std::string(title) + " - " + std::string(program_name);
}

MessageBoxRequest CompletionNote(std::string_view command, RunEnd end,
                                 const std::string& log_path) {
  MessageBoxRequest note;
  note.title = CompletionTitle(command);
  note.text = CompletionText(command, end, log_path);
  note.icon = end == RunEnd::kFailed ? MessageBoxIcon::kExclamation : MessageBoxIcon::kInformation;
  return note;
}

}  // namespace cubesec
