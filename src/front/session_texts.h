#pragma once
// The short texts that interactive runs show while and after they work: the progress of
// the blocks being written or read, and the closing note naming the run log.

#include <string>
#include <string_view>

#include "tools/platform.h"

namespace cubesec {

/// "Writing Group (block 12)" for a dump, "Reading Filter (block 3)" for a restore.
std::string ProgressText(std::string_view command, std::string_view key_word, int blocks);

/// How a run ended, for its closing note.
enum class RunEnd {
  kCompleted,  // the command ran to its end
  kFailed,     // an error ended it
  kDeclined,   // the security reset was not confirmed: nothing was deleted
};

/// The closing note of a run: how it ended and where the run log is.
std::string CompletionText(std::string_view command, RunEnd end, const std::string& log_path);

/// The title of the closing note: "Security Dump", "Security Restore", "Reset Security".
std::string CompletionTitle(std::string_view command);

/// The title of a message box of the program's windows: the box's own title with the
/// program's name after it ("Reset Security - cubesec"), so that every box says whose it
/// is, or the program's name alone when the box has no other title.
std::string BoxTitle(std::string_view title, std::string_view program_name);

/// The closing note as a window shows it: its title, its text, and a warning icon when the
/// run failed (an information icon otherwise).
MessageBoxRequest CompletionNote(std::string_view command, RunEnd end, const std::string& log_path);

}  // namespace cubesec
