#include "dump/name_list.h"

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
    const EsbStatus status =
        state.client.api->EsbGetNextItem(state.client.context, item_type, &item);
    CheckStatus(state.client, report, status);
    if (status != 0) continue;
    std::string name = ItemName(item, item_type);
    if (!name.empty()) names.push_back(std::move(name));
  }
  SortList(names);
  return names;
}

void WriteLine(RunState& state, std::string_view tmpl, const std::string& value) {
  state.WriteDumpLine(FormatMsg(tmpl, {value}));
}

}  // namespace cubesec
