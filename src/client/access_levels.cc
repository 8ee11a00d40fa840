#include "client/access_levels.h"

#include <array>

#include "tools/text.h"

namespace cubesec {
namespace {

struct LevelName {
  uint16_t mask;
  std::string_view name;  // its length is known: a name is compared for each value read
};

// Tried in this order: each level's bits include those of the levels after it, so the
// first full match is the highest level the code holds.
constexpr std::array<LevelName, 11> kLevelsWritten = {{
    {kAccessSupervisor, "*** Supervisor ***"},
    {kAccessAllApp, "All Application"},
    {kAccessAppDesign, "Application Designer"},
    {kAccessAllDb, "All Database"},
    {kAccessDbCreate, "Create Database"},
    {kAccessDbDesign, "Database Designer"},
    {kAccessCalc, "Calc"},
    {kAccessWrite, "Write"},
    {kAccessRead, "Read"},
    {kAccessFiltered, "Filtered"},
    {kAccessNone, "None"},
}};

// The names read back, in table order; several names may mean one code.
constexpr std::array<LevelName, 19> kLevelsRead = {{
    {kAccessSupervisor, "Super"},
    {kAccessSupervisor, "*** Supervisor ***"},
    {kAccessAllApp, "All_App"},
    {kAccessAllApp, "All Application"},
    {kAccessAppCreate, "App_Create"},
    {kAccessAppCreate, "Create Application"},
    {kAccessAppDesign, "Application Designer"},
    {kAccessAllDb, "All_Db"},
    {kAccessAllDb, "All Database"},
    {kAccessDbCreate, "DB_Create"},
    {kAccessDbCreate, "Create Database"},
    {kAccessDbDesign, "DB_Design"},
    {kAccessDbDesign, "Database Designer"},
    {kAccessCalc, "Calc"},
    {kAccessWrite, "Write"},
    {kAccessRead, "Read"},
    {kAccessFiltered, "Filtered"},
    {kAccessFiltered, "Meta"},  // the dump's word for the metadata level in filter rows
    {kAccessNone, "None"},
}};

constexpr const char kCreateUsersSuffix[] = "(Can Create Users)";
constexpr const char kCreateAppsSuffix[] = "(Can Create Apps)";

// Removes every occurrence of `word`, compared without regard to case.
std::string RemoveIgnoreCase(std::string_view text, std::string_view word) {
  std::string out;
  size_t pos = 0;
  while (true) {
    size_t hit = FindIgnoreCase(text, word, pos);
    if (hit == std::string_view::npos) break;
    out.append(text.substr(pos, hit - pos));
    pos = hit + word.size();
  }
  out.append(text.substr(pos));
  return out;
}

}  // namespace

bool TakeBits(uint16_t& value, uint16_t mask) {
  if ((value & mask) != mask) return false;
  value = static_cast<uint16_t>(value & ~mask);
  return true;
}

std::string AccessName(uint16_t code) {
  // Every level but None carries the 0x0100 bit; codes that lack it still name a level.
  if (code != 0) code |= 0x0100;
  std::string name;
  for (const LevelName& level : kLevelsWritten) {
    if (TakeBits(code, level.mask)) {
      name = level.name;
      break;
    }
  }
  if (TakeBits(code, kAccessCanCreateUsers)) name += " (Can Create Users)";
  if (TakeBits(code, kAccessCanCreateApps)) name += " (Can Create Apps)";
  return name;
}

namespace {

// The code of `name`; `known` tells whether the level name was one of the table's.
uint16_t ParseName(std::string_view name, bool& known) {
  known = false;
  uint16_t code = 0;
  std::string_view rest = name;
  std::string without_suffix;  // holds `rest` once a suffix is taken out
  // Both suffixes open with "(": most names, and every level name, hold none.
  if (name.find('(') != std::string_view::npos) {
    bool create_users = false;
    if (FindIgnoreCase(rest, kCreateUsersSuffix) != std::string::npos) {
      code = kAccessCanCreateUsers;
      create_users = true;
      without_suffix = Trim(RemoveIgnoreCase(rest, kCreateUsersSuffix));
      rest = without_suffix;
    }
    if (FindIgnoreCase(rest, kCreateAppsSuffix) != std::string::npos) {
      code = create_users ? (kAccessCanCreateUsers | kAccessCanCreateApps) : kAccessCanCreateApps;
      without_suffix = Trim(RemoveIgnoreCase(rest, kCreateAppsSuffix));
      rest = without_suffix;
    }
  }
  for (const LevelName& level : kLevelsRead) {
    if (rest != level.name) continue;
    known = true;
    if (level.mask == kAccessSupervisor) return kAccessSupervisor;
    code |= level.mask;
    break;
  }
  return code;
}

}  // namespace

uint16_t AccessCode(std::string_view name) {
  bool known = false;
  return ParseName(name, known);
}

std::optional<uint16_t> ParseAccessName(std::string_view name) {
  bool known = false;
  const uint16_t code = ParseName(name, known);
  if (!known) return std::nullopt;
  return code;
}

}  // namespace cubesec
