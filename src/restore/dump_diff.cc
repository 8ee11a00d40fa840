#include "restore/dump_diff.h"

#include <algorithm>
#include <map>

#include "tools/text.h"

namespace cubesec {
namespace {

constexpr const char* kNone = "(none)";

// The notices that stand for an empty list.
bool IsEmptyListNotice(std::string_view key) {
  return key == "*** No users in this group ***" ||
         key == "* Filter is not used by any users/groups *";
}

bool IsListKey(const DumpBlock& block, const std::string& key) {
  return key == "Groups" || key == "Users" || (key == "Calcs" && block.IsAccess());
}

bool IsFilterRow(const DumpBlock& block, const KeyLine& line) {
  return block.kind == "Filter" && line.key != "Active" && line.key != "Default Access" &&
         line.key != "Users" && !IsEmptyListNotice(line.key) && !line.key.starts_with("*");
}

// An object as the diff sees it: its values by key in file order, its list values as names,
// its filter rows in order.
struct DiffObject {
  std::string identity;  // kind, place and name, without regard to case
  std::string sort_key;  // the dump file's order
  std::string label;     // "User: bob", "Filter: EastRead on Sample:Basic"
  std::vector<std::pair<std::string, std::string>> values;
  std::map<std::string, std::vector<std::string>> lists;
  std::vector<std::string> list_order;
  std::vector<std::string> rows;
};

// The object's place in the dump file's order (names sorted as a dump sorts them), with
// `Lower` applied to every name: ToLower gives the object's identity.
template <typename Fold>
std::string SortKey(const DumpBlock& block, Fold Lower) {
  const std::string place = Lower(block.app) + '\x01' + Lower(block.db);
  if (block.kind == "Server") return "0";
  if (block.kind == "Group") return "1\x01" + Lower(block.name);
  if (block.kind == "User") return "2\x01" + Lower(block.name);
  if (block.kind == "Application") return "3\x01" + Lower(block.name);
  if (block.kind == "Database") return "3\x01" + Lower(block.app) + "\x01" + Lower(block.name);
  if (block.kind == "Filter")
    return "3\x01" + place +
           "\x01"
           "1\x01" +
           Lower(block.name);
  return "3\x01" + place +
         "\x01"
         "2\x01" +
         Lower(block.name);
}

std::string Label(const DumpBlock& block) {
  if (block.kind == "Server") return "Server";
  if (block.kind == "Database") return "Database: " + block.app + ":" + block.name;
  if (block.kind == "Filter" || block.IsAccess()) {
    return block.kind + ": " + block.name + " on " + block.app + ":" + block.db;
  }
  return block.kind + ": " + block.name;
}

void SetValue(DiffObject& object, const std::string& key, const std::string& value) {
  for (auto& [have, old] : object.values) {
    if (have == key) {
      old = value;
      return;
    }
  }
  object.values.emplace_back(key, value);
}

DiffObject ObjectOf(const DumpModel& model, const DumpBlock& block, bool all) {
  DiffObject object;
  object.identity = SortKey(block, [](std::string_view name) { return ToLower(name); });
  object.sort_key = SortKey(block, [](std::string_view name) { return std::string(name); });
  object.label = Label(block);
  if (block.kind == "Server" && all) SetValue(object, "Name", block.name);
  if (block.kind == "User") {
    bool disabled = block.markers.disabled;
    for (const KeyLine& line : block.lines)
      disabled = disabled || line.key == "* Account Disabled *";
    SetValue(object, "Account Disabled", YesNo(disabled));
    SetValue(object, "Password Expired", YesNo(block.markers.expired));
    if (all) SetValue(object, "Inactive", YesNo(block.markers.inactive));
  }
  auto add_list = [&](const std::string& key, std::vector<std::string> names) {
    if (!object.lists.count(key)) object.list_order.push_back(key);
    object.lists[key] = std::move(names);
  };
  if (block.kind == "Group" || block.kind == "Filter") add_list("Users", {});
  if (block.kind == "User") add_list("Groups", {});
  int row = 0;
  for (const KeyLine& line : block.lines) {
    if (!all && (line.key == "Date Made" || line.key == "Last Login" || line.key == "Format")) {
      continue;
    }
    if (block.kind == "User" && line.key == "* Account Disabled *") continue;
    if (IsEmptyListNotice(line.key)) continue;
    if (IsFilterRow(block, line)) {
      object.rows.push_back(line.key + ": " + line.value);  // as the file has it
      ++row;
      continue;
    }
    if (block.kind == "Filter" && line.key.starts_with("*")) {
      if (all) SetValue(object, "notice " + std::to_string(row) + " " + line.key, "");
      continue;
    }
    if (IsListKey(block, line.key) && !(line.key == "Calcs" && IsAllCalcs(line.value))) {
      add_list(line.key, model.Names(line.key, line.value));
      continue;
    }
    SetValue(object, line.key, line.value);
  }
  return object;
}

bool HoldsName(const std::vector<std::string>& names, const std::string& name) {
  return std::any_of(names.begin(), names.end(),
                     [&](const std::string& have) { return EqualsIgnoreCase(have, name); });
}

// The differences of one object found on both sides.
void Compare(const DiffObject& before, const DiffObject& after, std::vector<std::string>& out) {
  const std::string head = "~ " + after.label + ": ";
  auto value_of = [](const DiffObject& object, const std::string& key) -> const std::string* {
    for (const auto& [have, value] : object.values) {
      if (have == key) return &value;
    }
    return nullptr;
  };
  auto list_of = [](const DiffObject& object,
                    const std::string& key) -> const std::vector<std::string>* {
    auto found = object.lists.find(key);
    return found == object.lists.end() ? nullptr : &found->second;
  };
  std::vector<std::string> keys;
  for (const DiffObject* side : {&after, &before}) {
    for (const auto& [key, value] : side->values) {
      (void)value;
      if (std::find(keys.begin(), keys.end(), key) == keys.end()) keys.push_back(key);
    }
    for (const std::string& key : side->list_order) {
      if (std::find(keys.begin(), keys.end(), key) == keys.end()) keys.push_back(key);
    }
  }
  // A filter's rows stand before its users, as in the file.
  bool rows_told = false;
  auto tell_rows = [&] {
    rows_told = true;
    for (size_t i = 0; i < std::max(before.rows.size(), after.rows.size()); ++i) {
      const std::string old_row = i < before.rows.size() ? before.rows[i] : kNone;
      const std::string new_row = i < after.rows.size() ? after.rows[i] : kNone;
      if (old_row != new_row) {
        out.push_back(head + "row " + std::to_string(i + 1) + ": " + old_row + " -> " + new_row);
      }
    }
  };
  for (const std::string& key : keys) {
    if (key == "Users" && !rows_told) tell_rows();
    const std::vector<std::string>* old_list = list_of(before, key);
    const std::vector<std::string>* new_list = list_of(after, key);
    if (old_list && new_list) {
      std::vector<std::string> changes;
      for (const std::string& name : *new_list) {
        if (!HoldsName(*old_list, name)) changes.push_back("+ " + name);
      }
      for (const std::string& name : *old_list) {
        if (!HoldsName(*new_list, name)) changes.push_back("- " + name);
      }
      if (!changes.empty()) out.push_back(head + key + ": " + Join(changes, ", "));
      continue;
    }
    // A value on one side, a list (or nothing) on the other: "<All>" against names.
    auto text = [&](const DiffObject& object, const std::vector<std::string>* list) {
      if (list) return list->empty() ? std::string(kNone) : Join(*list, ", ");
      const std::string* value = value_of(object, key);
      if (!value) return std::string(kNone);
      return value->empty() ? std::string("\"\"") : *value;  // seen, unlike nothing
    };
    const std::string old_text = text(before, old_list);
    const std::string new_text = text(after, new_list);
    if (old_text != new_text) out.push_back(head + key + ": " + old_text + " -> " + new_text);
  }
  if (!rows_told) tell_rows();
}

std::vector<DiffObject> ObjectsOf(const DumpModel& model, const DiffOptions& options) {
  std::vector<DiffObject> objects;
  for (const DumpBlock& block : model.blocks) {
    if (block.kind == "End") continue;  // says that the file is whole, not what it holds
    bool taken = options.parts.empty();
    for (const DumpPart& part : options.parts) taken = taken || part.Takes(block);
    if (taken) objects.push_back(ObjectOf(model, block, options.all));
  }
  return objects;
}

}  // namespace

std::vector<std::string> DiffDumps(const DumpModel& before, const DumpModel& after,
                                   const DiffOptions& options) {
  // Objects by identity; names compare without regard to case.
  std::map<std::string, std::pair<const DiffObject*, const DiffObject*>> objects;
  const std::vector<DiffObject> old_objects = ObjectsOf(before, options);
  const std::vector<DiffObject> new_objects = ObjectsOf(after, options);
  for (const DiffObject& object : old_objects) objects[object.identity].first = &object;
  for (const DiffObject& object : new_objects) objects[object.identity].second = &object;
  // In the file's order, which sorts names as the dump does.
  std::vector<std::pair<const DiffObject*, const DiffObject*>> ordered;
  for (const auto& [identity, sides] : objects) {
    (void)identity;
    ordered.push_back(sides);
  }
  auto order = [](const std::pair<const DiffObject*, const DiffObject*>& sides) {
    return sides.second ? sides.second->sort_key : sides.first->sort_key;
  };
  std::stable_sort(ordered.begin(), ordered.end(),
                   [&](const auto& a, const auto& b) { return order(a) < order(b); });
  std::vector<std::string> out;
  for (const auto& [old_object, new_object] : ordered) {
    if (!old_object) {
      out.push_back("+ " + new_object->label);
    } else if (!new_object) {
      out.push_back("- " + old_object->label);
    } else {
      Compare(*old_object, *new_object, out);
    }
  }
  return out;
}

}  // namespace cubesec
