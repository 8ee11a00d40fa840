#include "restore/name_lists.h"

#include "tools/text.h"

namespace cubesec {
namespace {

// Splits at `separator`; where a run of pieces joined again is one of `known` (lower-cased),
// the longest such run from each piece on is one name. Empty names are dropped.
std::vector<std::string> SplitAndRejoin(std::string_view value, std::string_view separator,
                                        const std::set<std::string>* known) {
  const std::vector<std::string> pieces = Split(value, separator);
  std::vector<std::string> names;
  for (size_t i = 0; i < pieces.size();) {
    size_t taken = 1;
    if (known && !known->empty()) {
      std::string joined = pieces[i];
      for (size_t j = i + 1; j < pieces.size(); ++j) {
        joined.append(separator).append(pieces[j]);
        if (known->count(ToLower(Trim(joined)))) taken = j - i + 1;
      }
    }
    std::vector<std::string> run(pieces.begin() + i, pieces.begin() + i + taken);
    std::string name = Trim(Join(run, separator));
    if (!name.empty()) names.push_back(std::move(name));
    i += taken;
  }
  return names;
}

}  // namespace

std::vector<std::string> SplitGroupsValue(const RunState& state, std::string_view value) {
  return SplitAndRejoin(value, ",", &state.head_names);
}

std::vector<std::string> SplitUsersValue(const RunState& state, std::string_view value) {
  return SplitAndRejoin(value, ", ", &state.head_names);
}

std::vector<std::string> SplitCalcsValue(std::string_view value) {
  return SplitAndRejoin(value, ", ", nullptr);
}

}  // namespace cubesec
