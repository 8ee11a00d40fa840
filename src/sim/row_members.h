#pragma once
// The outline members that a filter row names, for its verification.

#include <string>
#include <string_view>
#include <vector>

namespace cubesec::sim {

/// Every text in double quotes (an unclosed quote runs to the end of the row), and every
/// other run of characters free of `,()"` and white space, except runs that begin with `@`
/// (functions) or `&` (substitution variables) and runs of digits only. In row order.
std::vector<std::string> MembersNamedBy(std::string_view row);

}  // namespace cubesec::sim
