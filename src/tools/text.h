#pragma once
// Small stateless text helpers shared by every layer.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace cubesec {

/// A value of a message template that replaces a placeholder of its own name
/// (compared without regard to case) instead of the next "%n".
struct NamedValue {
  std::string placeholder;
  std::string value;
};

/// One value of a message template: positional (fills "%1", "%2", ... in order) or named.
using MsgValue = std::variant<std::string, NamedValue>;

/// Fills a template in one pass: "%n" takes the n-th positional value, a named value
/// replaces its placeholder wherever it stands. Replacements are never re-read, so a
/// value holding "%2" stays as it is. Placeholders without a value stay as they are.
std::string FormatMsg(std::string_view tmpl, const std::vector<MsgValue>& values);

/// Removes spaces at both ends.
std::string Trim(std::string_view text);
/// The same without a copy.
std::string_view TrimView(std::string_view text);

/// The text up to the first NUL, trimmed (for fixed buffers filled by the client API).
std::string CutAtNul(std::string_view buffer);
template <size_t N>
std::string CutAtNul(const char (&buffer)[N]) {
  return CutAtNul(std::string_view(buffer, N));
}

/// A count and its noun: "1 user", "0 users", "2 users".
std::string Counted(size_t count, std::string_view singular, std::string_view plural);

/// "Yes" for non-zero, "No" for zero.
std::string YesNo(int value);

/// "TRUE"/"YES" give 1, "FALSE"/"NO" give 0 (without regard to case); anything else its
/// leading number rounded half to even into 16 bits (0 when non-numeric). No trimming.
/// Out-of-range numbers saturate.
int16_t ParseFlag(std::string_view text);

/// The number with which `text` begins after leading blanks ("30 Days" gives 30,
/// "2.5" gives 2.5, "abc" gives 0).
double LeadingNumber(std::string_view text);

/// Rounds to the nearest whole number, a half to the even neighbour.
double RoundHalfEven(double value);

/// Takes the next token from `text` and removes it: blank-separated, or between double
/// quotes when the text begins with one.
std::string NextToken(std::string& text);

/// ASCII case-insensitive helpers.
std::string ToUpper(std::string_view text);
std::string ToLower(std::string_view text);
bool EqualsIgnoreCase(std::string_view a, std::string_view b);
/// Position of `needle` in `haystack` ignoring case, or npos.
size_t FindIgnoreCase(std::string_view haystack, std::string_view needle, size_t from = 0);

/// Replaces every occurrence of `from` (non-empty) by `to`, in one pass.
std::string ReplaceAll(std::string_view text, std::string_view from, std::string_view to);
/// Splits at every occurrence of `separator` (non-empty); an empty text gives one empty piece.
std::vector<std::string> Split(std::string_view text, std::string_view separator);
std::string Join(const std::vector<std::string>& pieces, std::string_view separator);
/// Splits a command text into words as a user types them, without a shell: words are
/// separated by blanks and tabs; single or double quotes keep blanks inside a word and
/// are dropped. Nothing else is special (no "$", no backslash escapes).
std::vector<std::string> SplitWords(std::string_view text);

/// `argument` as one argument of a Windows command line, read back whole by the C runtime's
/// and CommandLineToArgvW's rules. Always quoted, since programs such as Notepad take the
/// rest of their line as one name; backslashes are doubled only where they precede a quote.
std::string QuoteWindowsArgument(std::string_view argument);

/// A REG_DWORD registry value as a setting's text: "&h" and eight hexadecimal digits, most
/// significant first ("&h0001000A").
std::string RegistryDwordText(uint32_t value);

/// Copies `text` into a fixed field, cut to the field and padded with `pad`; the last
/// byte of the field is always NUL so the field stays a C string.
void CopyToField(std::string_view text, char* field, size_t field_size, char pad = '\0');
template <size_t N>
void CopyToField(std::string_view text, char (&field)[N], char pad = '\0') {
  CopyToField(text, field, N, pad);
}

}  // namespace cubesec
