#include "sim/names.h"

#include <cstdint>
#include <cstring>

namespace cubesec::sim {

std::string FoldCase(std::string_view name) {
  std::string folded(name);
  for (char& c : folded) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return folded;
}

std::string CallName(std::string_view text) {
  size_t nul = text.find('\0');
  if (nul != std::string_view::npos) text = text.substr(0, nul);
  size_t first = text.find_first_not_of(' ');
  if (first == std::string_view::npos) return {};
  size_t last = text.find_last_not_of(' ');
  return std::string(text.substr(first, last - first + 1));
}

std::string FieldContent(const char* field, size_t size) {
  const void* nul = std::memchr(field, '\0', size);
  size_t length =
      nul != nullptr ? static_cast<size_t>(static_cast<const char*>(nul) - field) : size;
  return std::string(field, length);
}

namespace {

bool IsContinuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

}  // namespace

size_t CharacterCount(std::string_view text) {
  size_t count = 0;
  for (char c : text) count += !IsContinuation(static_cast<unsigned char>(c));
  return count;
}

std::string_view CutToCharacters(std::string_view text, size_t characters, size_t bytes) {
  size_t end = 0;
  size_t count = 0;
  while (end < text.size()) {
    size_t next = end + 1;
    while (next < text.size() && IsContinuation(static_cast<unsigned char>(text[next]))) ++next;
    if (count == characters || next > bytes) break;
    ++count;
    end = next;
  }
  return text.substr(0, end);
}

void CopyToField(char* field, size_t size, std::string_view text) {
  if (size == 0) return;
  size_t length = CutToCharacters(text, text.size(), size - 1).size();
  std::memcpy(field, text.data(), length);
  std::memset(field + length, 0, size - length);
}

std::vector<std::string> SplitNameLines(std::string_view text) {
  std::vector<std::string> names;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view piece = text.substr(start, end - start);
    if (!piece.empty() && piece.back() == '\r') piece.remove_suffix(1);
    std::string name = CallName(piece);
    if (!name.empty()) names.push_back(std::move(name));
    start = end + 1;
  }
  return names;
}

}  // namespace cubesec::sim
