#pragma once
// The short texts that interactive runs show while and after they work: the progress of
// the blocks being written or read, and the closing note naming the run log.

#include <string>
#include <string_view>

#include "client/run_state.h"
#include "front/run_parameters.h"
#include "tools/platform.h"

namespace cubesec {

/// Where a run stands, in one short line: "users 340/1,005", "applications 2/5
/// Sample:Basic", "blocks 12/340 User" (just "blocks 12" while the total is unknown). A
/// name's control characters are shown as \xNN, never sent to a terminal as they are.
std::string ProgressText(const RunProgress& progress);

/// The share of its phase that a run has done (the items before the one at hand), from 0 to 100 (0
/// while the total is unknown).
int ProgressPercent(const RunProgress& progress);

/// `count` with a comma between each group of three digits ("1,005").
std::string GroupedNumber(int count);

/// How a run ended, for its closing note.
enum class RunEnd {
  kCompleted,  // the command ran to its end
  kFailed,     // an error ended it
  kDeclined,   // the security reset was not confirmed: nothing was deleted
  kCancelled,  // the user's Cancel stopped it
};

/// The closing note of a run: how it ended and where the run log is.
std::string CompletionText(Command command, RunEnd end, const std::string& log_path);

/// The title of the closing note: "Security Dump", "Security Restore", "Reset Security".
std::string CompletionTitle(Command command);

/// The title of a message box of the program's windows: the box's own title with the
/// program's name after it ("Reset Security - cubesec"), so that every box says whose it
/// is, or the program's name alone when the box has no other title.
std::string BoxTitle(std::string_view title, std::string_view program_name);

/// The closing note as a window shows it: its title, its text, and a warning icon when the
/// run failed (an information icon otherwise).
MessageBoxRequest CompletionNote(Command command, RunEnd end, const std::string& log_path);

}  // namespace cubesec
