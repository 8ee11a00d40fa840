#include "sim/row_members.h"

namespace cubesec::sim {

namespace {

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

bool EndsRun(char c) { return IsSpace(c) || c == ',' || c == '(' || c == ')' || c == '"'; }

bool AllDigits(std::string_view run) {
  for (char c : run) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

}  // namespace

std::vector<std::string> MembersNamedBy(std::string_view row) {
  std::vector<std::string> members;
  size_t i = 0;
  while (i < row.size()) {
    char c = row[i];
    if (c == '"') {
      size_t close = row.find('"', i + 1);
      size_t end = close == std::string_view::npos ? row.size() : close;
      members.emplace_back(row.substr(i + 1, end - i - 1));
      i = close == std::string_view::npos ? row.size() : close + 1;
      continue;
    }
    if (EndsRun(c)) {
      ++i;
      continue;
    }
    size_t start = i;
    while (i < row.size() && !EndsRun(row[i])) ++i;
    std::string_view run = row.substr(start, i - start);
    if (run.front() == '@' || run.front() == '&' || AllDigits(run)) continue;
    members.emplace_back(run);
  }
  return members;
}

}  // namespace cubesec::sim
