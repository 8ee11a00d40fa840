#pragma once
// The line forms of the dump file that its writers and its readers share: which lines start
// a block, how a user's markers follow the name on its head line, and which characters no
// line may hold.

#include <string>
#include <string_view>

namespace cubesec {

/// True for the key words of head lines ("Server", "Group", "User", ...).
bool IsHeadKey(std::string_view key);

/// True when `line` stands at the left margin and its key is a head key: such a line always
/// starts a new block.
bool IsHeadLine(std::string_view line);

/// The markers of a user block's head line.
struct UserMarkers {
  bool disabled = false;
  bool expired = false;
  bool inactive = false;
};

/// The value of a user's head line: the name, then " * Account Disabled", " * Password
/// Expired", " * Inactive" for the markers that are set, then " *" after the last. Adjacent
/// markers share one asterisk; the name itself is never changed.
std::string UserHeadValue(std::string_view name, const UserMarkers& markers);

struct UserHead {
  std::string name;
  UserMarkers markers;
};

/// Takes the markers off the end of a user head value, from the right, so that a name that
/// holds "*" or " * " comes back whole.
UserHead ParseUserHeadValue(std::string_view value);

/// True when `name`, written as a user head value without markers, would not read back as
/// itself (it ends as markers do).
bool EndsLikeUserMarkers(std::string_view name);

/// True when `text` holds a control character other than TAB (CR and LF among them).
bool HasControlCharacter(std::string_view text);

/// `text` with each control character other than TAB written as one blank.
std::string BlankControlCharacters(std::string_view text);

/// `text` with each control character other than TAB shown as \xNN, for messages: C0 and DEL,
/// and the C1 controls too, as a raw byte 0x80 to 0x9F that begins no UTF-8 character or as
/// the UTF-8 form of U+0080 to U+009F (both of its bytes shown). Other text, UTF-8 or not,
/// stays as it is.
std::string ShowControlCharacters(std::string_view text);
/// The same, appended to `out` (a message built in one string).
void AppendShowingControlCharacters(std::string& out, std::string_view text);

}  // namespace cubesec
