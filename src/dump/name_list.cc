#include "dump/name_list.h"

#include <algorithm>

#include "client/dump_format.h"
#include "tools/text.h"

namespace cubesec {

std::string ItemName(const EsbItem& item, uint16_t item_type) {
  switch (item_type) {
    case kItemAppDb:
      return CutAtNul(item.app_db.db);
    case kItemUserApp:
      return CutAtNul(item.user_app.user);
    case kItemUserDb:
      return CutAtNul(item.user_db.user);
    default:
      return CutAtNul(item.name);
  }
}

std::vector<std::string> FetchNames(RunState& state, uint32_t count, uint16_t item_type,
                                    std::string_view report) {
  std::vector<std::string> names;
  for (uint32_t i = 0; i < count; ++i) {
    EsbItem item;
    CheckStatus(state.client, report,
                state.client.api->EsbGetNextItem(state.client.context, item_type, &item));
    std::string name = ItemName(item, item_type);
    if (!name.empty()) names.push_back(CarriedName(name));
  }
  std::sort(names.begin(), names.end());
  return names;
}

const std::string& CarriedName(const std::string& name) {
  if (!HasControlCharacter(name)) return name;
  throw RunError(kErrorUncarriedName,
                 FormatMsg("The name '%1' holds a line break or another control character; "
                           "no dump file can carry it",
                           {ShowControlCharacters(name)}));
}

std::string CarriedText(RunState& state, const std::string& text, const std::string& what) {
  if (!HasControlCharacter(text)) return text;
  state.Log(FormatMsg("%1Line breaks and control characters in %2 written as blanks",
                      {std::string("\t"), what}));
  return BlankControlCharacters(text);
}

void WriteLine(RunState& state, std::string_view tmpl, const std::string& value) {
  state.WriteDumpLine(FormatMsg(tmpl, {value}));
}

}  // namespace cubesec
