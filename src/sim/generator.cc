#include "sim/generator.h"

#include <cstdio>
#include <random>

#include "client/access_levels.h"

namespace cubesec::sim {

namespace {

constexpr const char* kAppNames[] = {"Finance", "Budget", "Forecast", "Sales", "Payroll",
                                     "Supply",  "Capex",  "Treasury", "Risk",  "Retail"};
constexpr const char* kDbNames[] = {"Plan", "Actuals"};
constexpr const char* kGroupThemes[] = {"Finance", "Sales", "Ops",      "Audit", "HR",
                                        "IT",      "Sales", "Planning", "Risk",  "Treasury"};
constexpr const char* kCalcScripts[] = {"CalcAll", "CalcQtr", "Alloc", "Rollup"};
constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
constexpr const char* kMeasures[] = {"Measures", "Sales",  "COGS",      "Margin",
                                     "Expenses", "Profit", "Headcount", "Inventory"};
constexpr const char* kRegions[] = {"East", "West", "North", "South"};
constexpr int kProducts = 40;
constexpr int kCities = 10;           // per region
constexpr int32_t kNow = 1796000000;  // late 2026
constexpr int32_t kDay = 86400;
// What a restore grants on the application for any database access below designer.

// Row access levels, in the order the generator picks them.
constexpr uint16_t kRowAccess[] = {kAccessRead, kAccessWrite, kAccessNone, kAccessFiltered};
constexpr uint16_t kDbAccess[] = {kAccessRead, kAccessWrite,    kAccessCalc,
                                  kAccessRead, kAccessDbDesign, kAccessFiltered};

std::string Numbered(const char* prefix, int number, int width) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%s%0*d", prefix, width, number);
  return buffer;
}

std::vector<std::string> Outline() {
  std::vector<std::string> members = {"Year", "Qtr1", "Qtr2", "Qtr3", "Qtr4"};
  for (const char* month : kMonths) members.push_back(month);
  for (const char* measure : kMeasures) members.push_back(measure);
  members.push_back("Product");
  for (int p = 0; p < kProducts; ++p) members.push_back(Numbered("P", 100 + p, 3));
  members.push_back("Market");
  for (const char* region : kRegions) {
    members.push_back(region);
    for (int c = 1; c <= kCities; ++c) members.push_back(std::string(region) + Numbered("_", c, 2));
  }
  return members;
}

std::string Repeated(const std::string& text, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) out += text;
  return out;
}

ImageDbAccess Grant(const std::string& name, uint16_t access, std::string filter = {}) {
  ImageDbAccess entry;
  entry.name = name;
  entry.access = access;
  entry.filter = std::move(filter);
  return entry;
}

// The shapes that a restore must carry and that the random part may miss, the same at every
// scale: a supervisor group, calc access that comes only through a group or the database
// default, filters held by groups, Application Designer on a whole application (and, with
// kAll, on one database of two), names with blanks and non-ASCII letters, and a name of 120
// characters that takes more than 120 bytes. The dump separates the names of its lists with ", ",
// so a name that holds a comma is given only where no list names it: no members, no groups, no
// filter.
void AddShapes(ServerImage& image, GeneratedShapes shapes) {
  const std::string longest = "Gruppe " + Repeated("\u00fc", 113);  // 120 characters
  image.groups.push_back({"Supervisors", kAccessSupervisor, true});
  image.groups.push_back({"Calc Team", 0, false});
  image.groups.push_back({"Z\u00fcrich Controllers", 0, false});
  image.groups.push_back({"R&D, Europe", 0, false});
  image.groups.push_back({longest, 0, false});

  auto user = [&](const std::string& name, std::vector<std::string> groups) {
    ImageUser u;
    u.name = name;
    u.last_login = kNow - 3 * kDay;
    u.groups = std::move(groups);
    image.users.push_back(std::move(u));
  };
  user("Jane Doe", {"Calc Team", "Z\u00fcrich Controllers", longest});
  user("Jos\u00e9 M\u00fcller", {"Supervisors"});
  user("Doe, Jane", {});
  if (shapes == GeneratedShapes::kAll) user("Plan Designer", {"Calc Team"});
  user("Finance Architect", {});

  ImageApplication& finance = image.applications[0];
  ImageDatabase& plan = finance.databases[0];
  ImageDatabase& actuals = finance.databases[1];
  ImageFilter east;
  east.name = "R\u00e9gion Est";
  east.active = true;
  east.rows = {{kAccessRead, "@IDESCENDANTS(\"East\")"}, {kAccessNone, "\"West\""}};
  plan.filters.push_back(std::move(east));
  ImageDbAccess calc_team = Grant("Calc Team", kAccessCalc);
  calc_team.all_calcs = true;
  plan.access.push_back(std::move(calc_team));
  plan.access.push_back(Grant("Jane Doe", kAccessRead, "R\u00e9gion Est"));
  plan.access.push_back(Grant("Z\u00fcrich Controllers", kAccessRead, "R\u00e9gion Est"));
  plan.access.push_back(Grant("Jos\u00e9 M\u00fcller", kAccessRead));
  plan.access.push_back(Grant("Doe, Jane", kAccessWrite));
  plan.access.push_back(Grant("R&D, Europe", kAccessRead));
  plan.access.push_back(Grant(longest, kAccessFiltered));
  if (shapes == GeneratedShapes::kAll) {
    // Designer on one database of two. A restore makes such a name designer of the whole
    // application, which the dump then shows on every database, so a round trip of this one
    // is not exact yet.
    plan.access.push_back(Grant("Plan Designer", kAccessAppDesign));
    actuals.access.push_back(Grant("Plan Designer", kAccessRead));
  }
  finance.access.push_back({"Finance Architect", kAppAccessDesigner});
  plan.access.push_back(Grant("Finance Architect", kAccessAppDesign));
  actuals.access.push_back(Grant("Finance Architect", kAccessAppDesign));

  // Calc access from the database default alone.
  ImageDatabase& budget_plan = image.applications[1].databases[0];
  budget_plan.default_access = kAccessCalc;
  budget_plan.access.push_back(Grant("Jane Doe", kAccessRead));
}

}  // namespace

ServerImage GenerateImage(int scale, const std::string& admin_password, GeneratedShapes shapes) {
  std::mt19937 random(20261208u + static_cast<unsigned>(scale));
  auto pick = [&](size_t n) { return static_cast<size_t>(random() % n); };

  ServerImage image;
  image.global.security = true;
  image.global.logins = true;
  image.global.validity = 90;
  image.global.min_length = 8;
  image.global.timeout = 3600;
  image.global.check_frequency = 300;

  const int group_count = 100 * scale;
  const int user_count = 1000 * scale;
  for (int g = 0; g < group_count; ++g) {
    image.groups.push_back({Numbered((std::string(kGroupThemes[g % 10]) + "_").c_str(), g, 4),
                            static_cast<uint16_t>(g % 25 == 0 ? kAccessCanCreateUsers : 0), false});
  }
  ImageUser admin;
  admin.name = "admin";
  admin.password = admin_password;
  admin.access = kAccessSupervisor;
  admin.supervisor = true;
  admin.last_login = kNow - kDay;
  image.users.push_back(std::move(admin));
  for (int u = 1; u <= user_count; ++u) {
    ImageUser user;
    user.name = Numbered("user", u, 6);
    user.disabled = pick(50) == 0;
    user.password_expired = pick(40) == 0;
    user.last_login = pick(20) == 0 ? 0 : kNow - static_cast<int32_t>(pick(400)) * kDay;
    size_t first = pick(group_count);
    size_t second = (first + 1 + pick(group_count - 1)) % group_count;
    size_t third = first;
    while (third == first || third == second) third = pick(group_count);
    for (size_t g : {first, second, third}) user.groups.push_back(image.groups[g].name);
    image.users.push_back(std::move(user));
  }

  const std::vector<std::string> outline = Outline();
  const int filters_per_db = 5 * scale;
  for (const char* app_name : kAppNames) {
    ImageApplication app;
    app.name = app_name;
    app.description = std::string(app_name) + " planning and reporting";
    app.loadable = true;
    app.autoload = pick(2) == 0;
    app.connects = true;
    app.commands = true;
    app.updates = true;
    app.security = true;
    for (const char* db_name : kDbNames) {
      ImageDatabase db;
      db.name = db_name;
      db.description = std::string(app_name) + " " + db_name;
      db.loadable = true;
      db.autoload = true;
      db.default_access = pick(4) == 0 ? kAccessRead : kAccessNone;
      db.members = outline;
      for (const char* calc : kCalcScripts) db.calc_scripts.push_back(calc);
      for (int f = 1; f <= filters_per_db; ++f) {
        ImageFilter filter;
        filter.name = Numbered("Filter", f, 3);
        filter.active = pick(10) != 0;
        filter.default_access = pick(3) == 0 ? kAccessRead : kAccessNone;
        for (int r = 0; r < 10; ++r) {
          const std::string& region = outline[outline.size() - 1 - pick(4 * (kCities + 1))];
          std::string text;
          switch (pick(3)) {
            case 0:
              text = "@IDESCENDANTS(\"" + region + "\")";
              break;
            case 1:
              text = "\"" + std::string(kMonths[pick(12)]) + "\", \"" + region + "\"";
              break;
            default:
              text = "\"" + std::string(kMeasures[1 + pick(7)]) + "\", " +
                     Numbered("P", 100 + static_cast<int>(pick(kProducts)), 3);
              break;
          }
          filter.rows.push_back({kRowAccess[pick(4)], std::move(text)});
        }
        db.filters.push_back(std::move(filter));
      }
      auto grant = [&](const std::string& holder) {
        ImageDbAccess entry;
        entry.name = holder;
        entry.access = kDbAccess[pick(6)];
        if (pick(3) == 0) entry.filter = db.filters[pick(db.filters.size())].name;
        if (entry.access & kAccessCalcBit) {
          if (pick(4) == 0) {
            entry.all_calcs = true;
          } else {
            size_t first_calc = pick(4);
            entry.calcs.push_back(kCalcScripts[first_calc]);
            if (pick(2) == 0) entry.calcs.push_back(kCalcScripts[(first_calc + 1) % 4]);
          }
        }
        db.access.push_back(std::move(entry));
      };
      for (const ImageGroup& group : image.groups) grant(group.name);
      for (size_t u = 2; u < image.users.size(); u += 2) grant(image.users[u].name);
      app.databases.push_back(std::move(db));
    }
    for (const ImageDbAccess& entry : app.databases.front().access) {
      app.access.push_back({entry.name, kAppAccessMember});
    }
    image.applications.push_back(std::move(app));
  }
  AddShapes(image, shapes);
  ImplyApplicationAccess(image);
  return image;
}

}  // namespace cubesec::sim
