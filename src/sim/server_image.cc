#include "sim/server_image.h"

#include <map>
#include <set>

#include "client/access_levels.h"
#include "sim/names.h"

namespace cubesec::sim {

namespace {

std::string Quoted(const std::string& name) { return "\"" + name + "\""; }

std::string At(const std::string& path, size_t index) {
  return path + "[" + std::to_string(index) + "]";
}

// Checks a name and that no earlier sibling had it; the error text, or empty.
std::string CheckName(const std::string& place, const std::string& kind, const std::string& name,
                      std::set<std::string>& seen) {
  if (!IsValidObjectName(name)) return place + ".name: invalid " + kind + " name " + Quoted(name);
  if (!seen.insert(FoldCase(name)).second) {
    return place + ".name: duplicate name " + Quoted(name);
  }
  return {};
}

std::string ValidateDatabase(const ImageDatabase& db, const std::string& place,
                             const std::map<std::string, bool>& principals) {
  for (size_t i = 0; i < db.members.size(); ++i) {
    if (!IsValidObjectName(db.members[i])) {
      return At(place + ".members", i) + ": invalid member name " + Quoted(db.members[i]);
    }
  }
  std::set<std::string> calcs;
  for (size_t i = 0; i < db.calc_scripts.size(); ++i) {
    const std::string& name = db.calc_scripts[i];
    if (!IsValidObjectName(name)) {
      return At(place + ".calc_scripts", i) + ": invalid calc script name " + Quoted(name);
    }
    if (!calcs.insert(FoldCase(name)).second) {
      return At(place + ".calc_scripts", i) + ": duplicate name " + Quoted(name);
    }
  }
  std::set<std::string> filters;
  for (size_t i = 0; i < db.filters.size(); ++i) {
    std::string error = CheckName(At(place + ".filters", i), "filter", db.filters[i].name, filters);
    if (!error.empty()) return error;
    const std::vector<ImageFilterRow>& rows = db.filters[i].rows;
    for (size_t r = 0; r < rows.size(); ++r) {
      // An empty row is what ends the rows when a filter is read.
      if (CallName(rows[r].text).empty()) {
        return At(At(place + ".filters", i) + ".rows", r) + ".text: empty filter row";
      }
    }
  }
  std::set<std::string> holders;
  for (const ImageDbAccess& entry : db.access) {
    std::string entry_place = place + ".access." + entry.name;
    if (!principals.count(FoldCase(entry.name))) {
      return entry_place + ": user or group " + Quoted(entry.name) + " does not exist";
    }
    if (!holders.insert(FoldCase(entry.name)).second) {
      return entry_place + ": duplicate entry for " + Quoted(entry.name);
    }
    if (!entry.filter.empty() && !filters.count(FoldCase(entry.filter))) {
      return entry_place + ".filter: filter " + Quoted(entry.filter) + " does not exist";
    }
    for (size_t i = 0; i < entry.calcs.size(); ++i) {
      if (!calcs.count(FoldCase(entry.calcs[i]))) {
        return At(entry_place + ".calcs", i) + ": calc script " + Quoted(entry.calcs[i]) +
               " does not exist";
      }
    }
  }
  return {};
}

}  // namespace

bool IsValidObjectName(const std::string& name) {
  // Bytes that are no UTF-8 are kept as they stand, each counted as a character.
  if (name.empty() || CharacterCount(name) > kEsbNameSize) return false;
  if (name.front() == ' ' || name.back() == ' ') return false;
  for (size_t i = 0; i < name.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(name[i]);
    if (c < 0x20 || c == 0x7F) return false;
    // U+0080 to U+009F, the second range of control characters, is C2 80 to C2 9F.
    if (c == 0xC2 && i + 1 < name.size() && static_cast<unsigned char>(name[i + 1]) < 0xA0) {
      return false;
    }
  }
  return true;
}

void ImplyApplicationAccess(ServerImage& image) {
  for (ImageApplication& app : image.applications) {
    std::map<std::string, size_t> entries;  // folded name -> index in app.access
    for (size_t i = 0; i < app.access.size(); ++i) entries[FoldCase(app.access[i].name)] = i;
    for (const ImageDatabase& db : app.databases) {
      for (const ImageDbAccess& grant : db.access) {
        if (grant.access == 0) continue;
        auto [it, added] = entries.emplace(FoldCase(grant.name), app.access.size());
        if (added) app.access.push_back({grant.name, 0});
        uint16_t& access = app.access[it->second].access;
        if (access < kAppAccessMember) access = kAppAccessMember;
      }
    }
  }
}

std::string ValidateImage(const ServerImage& image) {
  if (!IsValidPasswordIterations(image.password_iterations)) {
    return "password_iterations: " + PasswordIterationsRange();
  }
  // Folded name -> is a group.
  std::map<std::string, bool> principals;
  std::set<std::string> seen;
  for (size_t i = 0; i < image.groups.size(); ++i) {
    std::string error = CheckName(At("groups", i), "group", image.groups[i].name, seen);
    if (!error.empty()) return error;
    principals[FoldCase(image.groups[i].name)] = true;
  }
  for (size_t i = 0; i < image.users.size(); ++i) {
    std::string error = CheckName(At("users", i), "user", image.users[i].name, seen);
    if (!error.empty()) return error;
    principals[FoldCase(image.users[i].name)] = false;
  }
  for (size_t i = 0; i < image.users.size(); ++i) {
    const ImageUser& user = image.users[i];
    for (size_t g = 0; g < user.groups.size(); ++g) {
      auto it = principals.find(FoldCase(user.groups[g]));
      if (it == principals.end() || !it->second) {
        return At(At("users", i) + ".groups", g) + ": group " + Quoted(user.groups[g]) +
               " does not exist";
      }
    }
  }
  std::set<std::string> apps;
  for (size_t a = 0; a < image.applications.size(); ++a) {
    const ImageApplication& app = image.applications[a];
    std::string place = At("applications", a);
    std::string error = CheckName(place, "application", app.name, apps);
    if (!error.empty()) return error;
    if (CharacterCount(app.description) > kEsbDescriptionSize) {
      return place + ".description: longer than " + std::to_string(kEsbDescriptionSize) +
             " characters";
    }
    std::set<std::string> holders;
    for (const ImageAppAccess& entry : app.access) {
      if (!principals.count(FoldCase(entry.name))) {
        return place + ".access." + entry.name + ": user or group " + Quoted(entry.name) +
               " does not exist";
      }
      if (!holders.insert(FoldCase(entry.name)).second) {
        return place + ".access." + entry.name + ": duplicate entry for " + Quoted(entry.name);
      }
    }
    std::set<std::string> dbs;
    for (size_t d = 0; d < app.databases.size(); ++d) {
      const ImageDatabase& db = app.databases[d];
      std::string db_place = At(place + ".databases", d);
      error = CheckName(db_place, "database", db.name, dbs);
      if (!error.empty()) return error;
      if (CharacterCount(db.description) > kEsbDescriptionSize) {
        return db_place + ".description: longer than " + std::to_string(kEsbDescriptionSize) +
               " characters";
      }
      error = ValidateDatabase(db, db_place, principals);
      if (!error.empty()) return error;
    }
  }
  return {};
}

}  // namespace cubesec::sim
