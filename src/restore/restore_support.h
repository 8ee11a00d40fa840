#pragma once
// What every block reader of a restore shares: log lines that begin with a tab, checked
// calls that tell whether they succeeded, reading a block to its end, name lists.

#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "client/esb_status.h"
#include "client/run_state.h"

namespace cubesec {

/// Raised when no temporary password can be made (the OS has no secure random source).
inline constexpr int kErrorNoRandomSource = 58;

/// Logs `tmpl` with "%1" as one tab and "%2", "%3", ... from `values`.
void LogTabbed(RunState& state, std::string_view tmpl, std::initializer_list<std::string> values);

/// Checks `status` under `function` (which raises for a failure with a message number)
/// and tells whether the call succeeded. A failure without a message number returns false,
/// so the caller neither reports success nor builds on what the call did not do.
bool CallSucceeded(RunState& state, std::string_view function, EsbStatus status);

/// Whether `name` is the user that the run is logged in as (compared without regard to case).
bool IsRunUser(const RunState& state, std::string_view name);

/// Whether the target holds `name` as the other kind (user or group) than the dump does.
bool IsOtherKindOnTarget(const RunState& state, std::string_view name);

/// Reads and drops the remaining lines of the current block.
void SkipRestOfBlock(RunState& state);

/// A list of names as the server takes it in one text: one name per line.
std::string JoinLines(const std::vector<std::string>& names);

/// The leading number of `text`, rounded half to even, or error 6 when it lies outside
/// [low, high]. Nothing is changed before the error is raised.
int64_t LeadingWholeNumber(std::string_view text, int64_t low, int64_t high);

/// The target's minimum password length, read from the server the first time it is needed.
int TargetMinPasswordLength(RunState& state);

}  // namespace cubesec
