#pragma once
// Regular-expression matchers with the same (ECMAScript) syntax on every system: GoogleTest's
// own MatchesRegex and ContainsRegex fall back to a simple syntax on Windows, which has no
// character classes or counts.

#include <gmock/gmock.h>

#include <regex>
#include <string>

namespace cubesec {

MATCHER_P(MatchesWholly, pattern, std::string("matches the regular expression ") + pattern) {
  return std::regex_match(std::string(arg), std::regex(pattern));
}

MATCHER_P(ContainsMatch, pattern, std::string("contains a match of ") + pattern) {
  return std::regex_search(std::string(arg), std::regex(pattern));
}

}  // namespace cubesec
