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

/// Writes `text` into a fixed-width field, cut to fit, the rest of the field NULs.
void CopyToField(char* field, size_t size, std::string_view text);
template <size_t N>
void CopyToField(char (&field)[N], std::string_view text) {
  CopyToField(field, N, text);
}

/// Splits a list of names separated by CR LF (or LF alone), each trimmed, empty ones left out.
std::vector<std::string> SplitNameLines(std::string_view text);

}  // namespace cubesec::sim
