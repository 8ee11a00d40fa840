#pragma once
// The dump file's format, defined once: its block kinds with their keys in order and the form
// of each value, how names are written so that they read back one way only, how a user's
// markers follow the name on its head line, and which characters no line may hold. The
// writers, the check, the restore's dispatch and the readers all take it from here.

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace cubesec {

/// The format a dump writes, on the server block's "Format" line. A file without that line
/// is of format 1: names are bare and lists are split by the names the file defines.
inline constexpr int kDumpFormat = 2;
/// The value of the "End" block that closes a complete dump.
inline constexpr std::string_view kEndComplete = "complete";
/// The longest name a server takes, in characters.
inline constexpr size_t kMaxNameCharacters = 120;

enum class BlockKind {
  kServer,
  kGroup,
  kUser,
  kApplication,
  kDatabase,
  kFilter,
  kGroupAccess,
  kUserAccess,
  kEnd,
};

/// How a detail line's value must read.
enum class ValueForm {
  kText,        // any text (a description, a date)
  kNameList,    // names joined by ", "
  kCalcList,    // "<All>", or calc script names joined by ", "
  kName,        // one name
  kYesNo,       // "Yes" or "No" ("True", "False" are read too)
  kAccess,      // an access level name
  kDays,        // a count with its unit word
  kCharacters,  //
  kSeconds,     //
  kFormat,      // the format number
  kNotice,      // a line without a value
};

struct KeySpec {
  std::string_view key;
  ValueForm form;
  bool required = false;
};

struct BlockSpec {
  BlockKind kind;
  std::string_view head;          // the head line's key word
  std::span<const KeySpec> keys;  // the detail lines, in the order a dump writes them
  bool rows = false;              // filter rows and validity notices may follow
};

/// The layout of a block kind.
const BlockSpec& SpecOf(BlockKind kind);
/// The layout of the block whose head key word is `key`, or nullptr. "User/Group" is read as
/// a user's access block, as older files wrote it.
const BlockSpec* SpecOfHead(std::string_view key);
/// The rule of detail key `key` in a block's layout, or nullptr.
const KeySpec* KeyOf(const BlockSpec& spec, std::string_view key);

/// True for the key words of head lines ("Server", "Group", "User", ...).
bool IsHeadKey(std::string_view key);

/// True when `line` stands at the left margin and its key is a head key: such a line always
/// starts a new block.
bool IsHeadLine(std::string_view line);

/// "   Key: value", a detail line.
std::string DetailLine(std::string_view key, std::string_view value);

// --- Names ---

/// `name` as a dump file carries it: bare when the bare text reads back as exactly `name`,
/// otherwise in double quotes with each '"' inside doubled. Quoted are names that hold ","
/// or "*", begin with '"', begin or end with a blank or tab, are empty, or read "<All>".
std::string QuoteName(std::string_view name);
/// The names quoted and joined with ", ".
std::string JoinNames(const std::vector<std::string>& names);

/// Reads one name of a format-2 file: a quoted name, or the bare text trimmed. nullopt, with
/// `error` saying why, when a quote is not closed or text follows the closing quote.
std::optional<std::string> ReadName(std::string_view value, std::string* error = nullptr);
/// Reads a format-2 list of names in time proportional to its length. nullopt, with `error`,
/// for a quote not closed, text after a closing quote, or an empty bare name.
std::optional<std::vector<std::string>> ReadNameList(std::string_view value,
                                                     std::string* error = nullptr);

/// Whether a calc list's value means all scripts: "<All>" bare (a script of that name is
/// written quoted).
inline bool IsAllCalcs(std::string_view value) { return value == "<All>"; }

// --- User head lines ---

/// The markers of a user block's head line.
struct UserMarkers {
  bool disabled = false;
  bool expired = false;
  bool inactive = false;
};

/// The value of a user's head line: the name (quoted as QuoteName), then " * Account
/// Disabled", " * Password Expired", " * Inactive" for the markers that are set, then " *"
/// after the last. Adjacent markers share one asterisk.
std::string UserHeadValue(std::string_view name, const UserMarkers& markers);

struct UserHead {
  std::string name;
  UserMarkers markers;
};

/// Reads a format-2 user head value: the name (quoted or bare: a bare name holds no "*"),
/// then only markers. nullopt, with `error`, for anything else.
std::optional<UserHead> ReadUserHead(std::string_view value, std::string* error = nullptr);

/// Reads a format-1 user head value: the markers come off the end, from the right, so that
/// a name that holds "*" or " * " comes back whole.
UserHead ParseUserHeadValue(std::string_view value);

/// Every reading of a format-1 user head value: the value itself and what is left after
/// taking off one marker after another from the right (the last is ParseUserHeadValue's).
std::vector<std::string> UserHeadReadings(std::string_view value);

// --- Characters ---

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

/// What a server refuses in a name, or empty: longer than kMaxNameCharacters characters
/// (UTF-8 characters, not bytes), or a control character (C0 with TAB, DEL, and C1 U+0080 to
/// U+009F).
std::string NameProblem(std::string_view name);

}  // namespace cubesec
