// A restore with several sessions. The server and group blocks are restored first, in order,
// in the run's own session: every later block builds on the groups they made. The rest of
// the file is cut into units: a user's block, an application's own block, or a database's
// block with the filter and access blocks under it. RunState::sessions sessions restore the
// users' units at once, then the applications' and databases', each unit in file order
// within itself. The sessions take turns (Turns) wherever the order of their calls shows on
// the target: users are created and a group's members are added in the file's order, and
// application access is decided as in one session, so the target ends as after one session.
// What a unit logs is captured and handed to the run log in the file's order, so the log is
// that of one session; a database's unit starts once its application's unit has told
// whether the target has the application.
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "client/api_decorators.h"
#include "client/dump_format.h"
#include "client/session_pool.h"
#include "restore/name_lists.h"
#include "restore/restore.h"
#include "tools/text.h"

namespace cubesec {
namespace {

struct Unit {
  std::string name;  // of the unit's calls (CallUnit)
  long number = 0;   // in file order, counted over all units
  std::string text;  // the unit's lines, head line first
  RestoreCounts counts;
  std::vector<std::pair<std::string, std::string>> users_created;  // RestoreState's
  // Its output reached the run log.
  bool handed = false;
};

struct AppUnits {
  Unit own;
  std::vector<Unit> dbs;
  std::string current_app;  // as the application's unit left it: empty when skipped
};

struct FileUnits {
  std::vector<Unit> users;
  std::vector<AppUnits> apps;

  // The units' lines, in file order.
  std::string Text() const {
    std::string text;
    for (const Unit& user : users) text += user.text;
    for (const AppUnits& app : apps) {
      text += app.own.text;
      for (const Unit& db : app.dbs) text += db.text;
    }
    return text;
  }
};

// The lines of the file from `first`, the first User or Application head line, on, cut into
// units. False when the units cannot be restored at once as one session would restore them:
// a server or group block among them, a user's block after an application's or twice, a
// block among the users that belongs under an application (a file that was not checked), or
// an older file's users, whose group lists are split by the names read up to them. Such a
// file is restored in one session, as it stands: once a block is out of order, the rest of
// the file stays in the unit before it, so Text() keeps the file's order.
bool CutIntoUnits(RunState& state, RestoreFileState& file, std::string first, FileUnits& units) {
  bool in_order = true;
  std::set<std::string> user_names;
  std::string* text = nullptr;
  std::string line = std::move(first);
  do {
    if (IsHeadLine(line) && in_order) {
      const KeyLine head = SplitKeyLine(line);
      const BlockSpec* spec = SpecOfHead(head.key);
      const BlockKind kind = spec ? spec->kind : BlockKind::kEnd;
      if (kind == BlockKind::kUser) {
        in_order = units.apps.empty() &&
                   user_names.insert(ToLower(UserHeadOf(file, head.value).name)).second;
        if (in_order) {
          units.users.emplace_back();
          units.users.back().name = "u" + std::to_string(units.users.size() - 1);
          text = &units.users.back().text;
        }
      } else if (kind == BlockKind::kApplication) {
        AppUnits& app = units.apps.emplace_back();
        app.own.name = CallUnit::NameOf(units.apps.size() - 1, -1);
        text = &app.own.text;
      } else if (kind == BlockKind::kDatabase && !units.apps.empty()) {
        AppUnits& app = units.apps.back();
        Unit& db = app.dbs.emplace_back();
        db.name = CallUnit::NameOf(units.apps.size() - 1, static_cast<long>(app.dbs.size() - 1));
        text = &db.text;
      } else if (kind == BlockKind::kServer || kind == BlockKind::kGroup ||
                 (units.apps.empty() && kind != BlockKind::kEnd)) {
        // The end of the file (or a block this version does not know, passed over) may
        // follow the last user directly, on a server without applications.
        in_order = false;
      }
    }
    text->append(line).append("\r\n");
  } while (ReadRestoreLine(state, file, line));
  return in_order && (units.users.empty() || file.dump_format >= kDumpFormat);
}

// Calls `use` with the head and the other key lines of a unit's text.
template <typename Use>
void ForEachKeyLine(const std::string& text, Use use) {
  for (size_t at = 0; at < text.size();) {
    const size_t end = text.find("\r\n", at);
    const std::string_view line = std::string_view(text).substr(at, end - at);
    at = end == std::string::npos ? text.size() : end + 2;
    use(IsHeadLine(line), SplitKeyLine(line));
  }
}

// Numbers the units in file order and announces the turns each may take: every user's unit
// at the creation of users and at the new members of the groups its user is listed in, and
// each database's unit at the application access its access blocks may set.
void NumberUnits(RestoreFileState& file, FileUnits& units) {
  long number = 0;
  for (Unit& user : units.users) {
    user.number = number++;
    file.turns.Expect(CreationTurn(), user.number);
    ForEachKeyLine(user.text, [&](bool head, const KeyLine& line) {
      if (head || line.key != "Groups") return;
      for (const std::string& group : SplitGroupsValue(file, line.value)) {
        file.turns.Expect(MembershipTurn(group), user.number);
      }
    });
  }
  for (AppUnits& app : units.apps) {
    app.own.number = number++;
    const std::string app_name =
        HeadName(file, SplitKeyLine(app.own.text.substr(0, app.own.text.find('\r'))).value);
    for (Unit& db : app.dbs) {
      db.number = number++;
      ForEachKeyLine(db.text, [&](bool head, const KeyLine& line) {
        const BlockSpec* spec = head ? SpecOfHead(line.key) : nullptr;
        if (spec &&
            (spec->kind == BlockKind::kGroupAccess || spec->kind == BlockKind::kUserAccess)) {
          file.turns.Expect(
              ApplicationAccessTurn(RestoreState::NameKey(app_name, HeadName(file, line.value))),
              db.number);
        }
      });
    }
  }
}

// What a session does for a unit: its blocks, in file order. A database's unit starts under
// the application as its application's unit left it (`app_in`); an application's unit leaves
// it there (`app_out`).
PoolUnit::Work UnitWork(RestoreState& run, Unit& unit, const std::string* app_in,
                        std::string* app_out) {
  return [&run, &unit, app_in, app_out](RunState& session, PoolUnit&) {
    RestoreState restore(run.file);
    restore.unit = unit.number;
    if (app_in) restore.current_app = *app_in;
    session.dump_in = LineReader::OfText(unit.text);
    // Whatever ends the unit, the later units' turns go on.
    const auto finish = [&] {
      run.file.turns.EndAll(unit.number);
      session.dump_in.reset();
      unit.counts = restore.restored;
      unit.users_created = std::move(restore.users_created);
      if (app_out) *app_out = restore.current_app;
    };
    try {
      ApplyBlocks(session, restore, nullptr);
    } catch (...) {
      finish();
      throw;
    }
    finish();
  };
}

// The unit's blocks are applied: the progress tells them one by one, as one session would.
PoolUnit::Handing UnitHanding(RunState& state, RestoreState& run, Unit& unit) {
  PoolUnit::Handing handing;
  handing.after = [&state, &run, &unit] {
    ForEachKeyLine(unit.text, [&](bool head, const KeyLine& line) {
      if (!head) return;
      ++run.file.blocks_applied;
      state.ReportProgress("blocks", run.file.blocks_applied, run.file.block_total, line.key);
    });
    run.restored += unit.counts;
    unit.text = std::string();
    unit.handed = true;
  };
  return handing;
}

}  // namespace

void ApplyBlocksInSessions(RunState& state, RestoreState& restore) {
  // The server and group blocks: in order, in the run's own session.
  std::string line;
  std::optional<std::string> first;
  while (ReadRestoreLine(state, restore.file, line)) {
    const bool head = IsHeadLine(line);
    if (head) {
      const std::string key = SplitKeyLine(line).key;
      if (key == "User" || key == "Application") {
        first = std::move(line);
        break;
      }
      BetweenBlocks(state, restore.file, line);
    }
    DispatchLine(state, restore, line);
    if (head && state.observer) ++restore.file.blocks_applied;
  }
  if (!first) return;
  FileUnits units;
  if (!CutIntoUnits(state, restore.file, std::move(*first), units) || state.sessions < 2) {
    state.dump_in = LineReader::OfText(units.Text());
    return ApplyBlocks(state, restore, nullptr);
  }
  NumberUnits(restore.file, units);
  SessionPool::Options options;
  options.finish_on_cancel = true;
  SessionPool pool(state, std::move(options));
  // A cancel starts no further unit: those under way are finished and logged, and the
  // restore stops after them, between two blocks as in one session.
  for (Unit& user : units.users) {
    pool.Add(user.name, UnitWork(restore, user, nullptr, nullptr),
             UnitHanding(state, restore, user));
  }
  // Every application's and database's blocks build on the users: they start once all users
  // are restored.
  bool cancelled = false;
  try {
    cancelled = !units.users.empty() && pool.Run();
  } catch (...) {
    // Sessions working on users after the one that failed may have created some: the log
    // names them with their passwords, which no one could learn otherwise.
    for (const Unit& user : units.users) {
      if (user.handed) continue;
      for (const auto& [name, password] : user.users_created) LogCreatedUser(state, name, password);
    }
    throw;
  }
  if (cancelled) StopCancelledRestore(restore.file);
  for (AppUnits& app : units.apps) {
    // A database's unit starts once its application's has told whether the target has it.
    PoolUnit& own = pool.Add(app.own.name, UnitWork(restore, app.own, nullptr, &app.current_app),
                             UnitHanding(state, restore, app.own));
    for (Unit& db : app.dbs) {
      own.Follow(db.name, UnitWork(restore, db, &app.current_app, nullptr),
                 UnitHanding(state, restore, db));
    }
  }
  if (pool.Run()) StopCancelledRestore(restore.file);
}

}  // namespace cubesec
