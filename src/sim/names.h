#pragma once
// Names as the simulated server compares and stores them, and the fixed-width text fields
// of the client API's records.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace cubesec::sim {

/// ASCII lower case: names compare as SQLite's NOCASE collation compares them.
std::string FoldCase(std::string_view name);

/// A name given to a call: cut at the first NUL, blanks removed at both ends.
std::string CallName(std::string_view text);

/// The text of a fixed-width field: up to the first NUL (or the whole field).
std::string FieldContent(const char* field, size_t size);
template <size_t N>
std::string FieldContent(const char (&field)[N]) {
  return FieldContent(field, N);
}

/// A name held in a fixed-width field: its content with blanks removed at both ends.
template <size_t N>
std::string FieldName(const char (&field)[N]) {
  return CallName(FieldContent(field, N));
}

/// The number of characters (UTF-8 code points) of `text`: every byte that does not continue
/// a multi-byte sequence starts one.
size_t CharacterCount(std::string_view text);

/// The longest start of `text` that holds at most `characters` characters and `bytes` bytes
/// and never ends inside a multi-byte sequence.
std::string_view CutToCharacters(std::string_view text, size_t characters, size_t bytes);

/// Writes `text` into a fixed-width field, cut to fit at a character boundary, the rest of
/// the field NULs.
void CopyToField(char* field, size_t size, std::string_view text);
template <size_t N>
void CopyToField(char (&field)[N], std::string_view text) {
  CopyToField(field, N, text);
}

/// Splits a list of names separated by CR LF (or LF alone), each trimmed, empty ones left out.
std::vector<std::string> SplitNameLines(std::string_view text);

}  // namespace cubesec::sim
