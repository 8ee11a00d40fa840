#include "restore/dump_model.h"

#include <algorithm>

#include "restore/dump_check.h"
#include "restore/name_lists.h"
#include "tools/text.h"

namespace cubesec {
namespace {

bool Same(std::string_view a, std::string_view b) { return EqualsIgnoreCase(a, b); }

std::string PlaceKey(std::string_view app, std::string_view db = {}) {
  return ToLower(app) + '\n' + ToLower(db);
}

}  // namespace

const std::string* DumpBlock::Value(std::string_view key) const {
  for (const KeyLine& line : lines) {
    if (line.key == key) return &line.value;
  }
  return nullptr;
}

bool DumpBlock::IsAccess() const {
  return kind == "User Access" || kind == "Group Access" || kind == "User/Group";
}

DumpModel ReadDumpModel(std::string_view text) {
  if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
  DumpModel model;
  model.format = DumpFileFormat(text);
  const bool current = model.format >= kDumpFormat;
  auto head_name = [&](std::string_view value) {
    return current ? ReadName(value).value_or(std::string()) : std::string(value);
  };
  LineSplitter lines(text);
  std::string_view line;
  std::string app, db;
  bool in_block = false;
  for (int number = 1; lines.Next(line); ++number) {
    if (IsHeadLine(line)) {
      const KeyLine head = SplitKeyLine(line);
      const BlockSpec* spec = SpecOfHead(head.key);
      DumpBlock block;
      block.kind = spec ? std::string(spec->head) : head.key;
      block.line = number;
      if (block.kind == "User") {
        const UserHead user = current ? ReadUserHead(head.value).value_or(UserHead{})
                                      : ParseUserHeadValue(head.value);
        block.name = user.name;
        block.markers = user.markers;
      } else {
        block.name = head_name(head.value);
      }
      if (block.kind == "Application") {
        app = block.name;
        db.clear();
      } else if (block.kind == "Database") {
        db = block.name;
      }
      if (block.kind == "Application" || block.kind == "Database" || block.kind == "Filter" ||
          block.IsAccess()) {
        block.app = app;
      }
      if (block.kind == "Filter" || block.IsAccess()) block.db = db;
      if (!current && (block.kind == "User" || block.kind == "Group")) {
        model.head_names.insert(ToLower(block.name));
        model.head_name_most_commas =
            std::max(model.head_name_most_commas,
                     static_cast<size_t>(std::count(block.name.begin(), block.name.end(), ',')));
      }
      model.blocks.push_back(std::move(block));
      in_block = true;
    } else if (Trim(line).empty()) {
      in_block = false;
    } else if (in_block) {
      KeyLine detail = SplitKeyLine(line);
      // An access block's filter is a name like the head's.
      if (model.blocks.back().IsAccess() && detail.key == "Filter") {
        detail.value = head_name(detail.value);
      }
      model.blocks.back().lines.push_back(std::move(detail));
    }
  }
  return model;
}

std::vector<std::string> DumpModel::Names(std::string_view key, std::string_view value) const {
  if (format >= kDumpFormat) return ReadNameList(value).value_or(std::vector<std::string>{});
  if (key == "Calcs") return SplitAndRejoin(value, ", ", nullptr, 1);
  return SplitAndRejoin(value, key == "Groups" ? "," : ", ", &head_names,
                        head_name_most_commas + 1);
}

std::optional<DumpPart> ParseDumpPart(std::string_view text, std::string* error) {
  DumpPart part;
  part.text = std::string(text);
  const size_t equals = text.find('=');
  const std::string kind = ToLower(Trim(text.substr(0, equals)));
  const std::string value = equals == std::string_view::npos ? "" : Trim(text.substr(equals + 1));
  if (kind == "server" && equals == std::string_view::npos) {
    part.kind = DumpPart::Kind::kServer;
    return part;
  }
  if (!value.empty()) {
    if (kind == "app") {
      part.kind = DumpPart::Kind::kApplication;
      part.app = value;
      return part;
    }
    const size_t colon = value.find(':');
    if (kind == "db" && colon != std::string::npos && colon > 0 && colon + 1 < value.size()) {
      part.kind = DumpPart::Kind::kDatabase;
      part.app = value.substr(0, colon);
      part.db = value.substr(colon + 1);
      return part;
    }
    if (kind == "user" || kind == "group") {
      part.kind = kind == "user" ? DumpPart::Kind::kUser : DumpPart::Kind::kGroup;
      part.name = value;
      return part;
    }
  }
  if (error) {
    *error = FormatMsg(
        "Syntax Error - --only takes app=NAME, db=APP:DB, user=NAME, group=NAME or server ('%1')",
        {std::string(text)});
  }
  return std::nullopt;
}

bool DumpPart::Takes(const DumpBlock& block) const {
  switch (kind) {
    case Kind::kServer:
      return block.kind == "Server";
    case Kind::kApplication:
      return (block.kind == "Application" && Same(block.name, app)) ||
             ((block.kind == "Database" || block.kind == "Filter" || block.IsAccess()) &&
              Same(block.app, app));
    case Kind::kDatabase:
      return (block.kind == "Database" && Same(block.app, app) && Same(block.name, db)) ||
             ((block.kind == "Filter" || block.IsAccess()) && Same(block.app, app) &&
              Same(block.db, db));
    case Kind::kUser:
      return (block.kind == "User" || block.kind == "User Access" || block.kind == "User/Group") &&
             Same(block.name, name);
    case Kind::kGroup:
      return (block.kind == "Group" || block.kind == "Group Access" ||
              block.kind == "User/Group") &&
             Same(block.name, name);
  }
  return false;
}

PartSelection SelectParts(const DumpModel& model, const std::vector<DumpPart>& parts) {
  PartSelection selection;
  for (const DumpPart& part : parts) {
    if (part.kind == DumpPart::Kind::kGroup) selection.groups.insert(ToLower(part.name));
  }
  const std::vector<DumpBlock>& blocks = model.blocks;
  std::vector<bool> taken(blocks.size());
  std::set<std::string> needed;  // names that taken filters and access blocks need, lower-cased
  std::set<std::string> places;  // applications and databases that hold a taken block
  for (size_t i = 0; i < blocks.size(); ++i) {
    for (const DumpPart& part : parts) taken[i] = taken[i] || part.Takes(blocks[i]);
    if (!taken[i]) continue;
    const DumpBlock& block = blocks[i];
    if (block.kind == "Filter") {
      if (const std::string* users = block.Value("Users")) {
        for (const std::string& name : model.Names("Users", *users)) {
          needed.insert(ToLower(name));
        }
      }
    } else if (block.IsAccess()) {
      needed.insert(ToLower(block.name));
    }
    if (block.kind == "Database" || block.kind == "Filter" || block.IsAccess()) {
      places.insert(PlaceKey(block.app));
      places.insert(PlaceKey(block.app, block.kind == "Database" ? block.name : block.db));
    }
  }
  for (size_t i = 0; i < blocks.size(); ++i) {
    const DumpBlock& block = blocks[i];
    BlockUse use = BlockUse::kSkip;
    if (taken[i]) {
      use = BlockUse::kAll;
    } else if (block.kind == "Application") {
      if (places.count(PlaceKey(block.name))) use = BlockUse::kPlace;
    } else if (block.kind == "Database") {
      if (places.count(PlaceKey(block.app, block.name))) use = BlockUse::kPlace;
    } else if ((block.kind == "User" || block.kind == "Group") &&
               needed.count(ToLower(block.name))) {
      use = BlockUse::kCreate;
    } else if (block.kind == "User" && !selection.groups.empty()) {
      if (const std::string* groups = block.Value("Groups")) {
        for (const std::string& group : model.Names("Groups", *groups)) {
          if (selection.groups.count(ToLower(group))) use = BlockUse::kMemberships;
        }
      }
    }
    selection.uses.push_back(use);
  }
  return selection;
}

std::vector<std::string> PartsNamingNothing(const DumpModel& model,
                                            const std::vector<DumpPart>& parts) {
  std::vector<std::string> nothing;
  for (const DumpPart& part : parts) {
    bool takes = false;
    for (const DumpBlock& block : model.blocks) takes = takes || part.Takes(block);
    if (!takes) nothing.push_back(part.text);
  }
  return nothing;
}

}  // namespace cubesec
