#include "restore/name_lists.h"

#include "tools/text.h"

namespace cubesec {
namespace {

bool CurrentFormat(const RestoreFileState& file) { return file.dump_format >= kDumpFormat; }

std::vector<std::string> ListOf(const RestoreFileState& file, std::string_view value,
                                std::string_view old_separator, bool rejoin) {
  if (CurrentFormat(file)) return ReadNameList(value).value_or(std::vector<std::string>{});
  if (!rejoin) return SplitAndRejoin(value, old_separator, nullptr, 1);
  return SplitAndRejoin(value, old_separator, &file.head_names, file.head_name_most_commas + 1);
}

}  // namespace

std::vector<std::string> SplitAndRejoin(std::string_view value, std::string_view separator,
                                        const std::set<std::string>* known, size_t most) {
  const std::vector<std::string> pieces = Split(value, separator);
  std::vector<std::string> names;
  for (size_t i = 0; i < pieces.size();) {
    size_t taken = 1;
    std::string joined = pieces[i];
    for (size_t j = i + 1; j < pieces.size() && j - i < most; ++j) {
      joined.append(separator).append(pieces[j]);
      if (known->count(ToLower(Trim(joined)))) taken = j - i + 1;
    }
    std::vector<std::string> run(pieces.begin() + i, pieces.begin() + i + taken);
    std::string name = Trim(Join(run, separator));
    if (!name.empty()) names.push_back(std::move(name));
    i += taken;
  }
  return names;
}

std::string HeadName(const RestoreFileState& file, std::string_view value) {
  if (!CurrentFormat(file)) return std::string(value);
  return ReadName(value).value_or(std::string());
}

UserHead UserHeadOf(const RestoreFileState& file, std::string_view value) {
  if (!CurrentFormat(file)) return ParseUserHeadValue(value);
  return ReadUserHead(value).value_or(UserHead{});
}

std::vector<std::string> SplitGroupsValue(const RestoreFileState& file, std::string_view value) {
  return ListOf(file, value, ",", true);
}

std::vector<std::string> SplitUsersValue(const RestoreFileState& file, std::string_view value) {
  return ListOf(file, value, ", ", true);
}

std::vector<std::string> SplitCalcsValue(const RestoreFileState& file, std::string_view value) {
  return ListOf(file, value, ", ", false);
}

}  // namespace cubesec
