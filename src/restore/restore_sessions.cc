// A restore with several sessions. The server, group and user blocks are restored first, in
// order, in the run's own session: every database's blocks build on the users and groups
// they made. The rest of the file is cut into units, an application's own block or a
// database's block with the filter and access blocks under it, and RunState::sessions
// sessions restore units at once, each in file order within itself. What a unit logs is
// captured and handed to the run log in the file's order, so the log is that of one
// session; a database's unit starts once its application's unit has told whether the
// target has the application.
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "client/api_decorators.h"
#include "client/dump_format.h"
#include "client/session_pool.h"
#include "restore/name_lists.h"
#include "restore/restore.h"

namespace cubesec {
namespace {

// The place of a unit in the file: application, then -1 for the application's own block or
// the database's index under it.
using Place = std::pair<size_t, long>;

struct Unit {
  Place place;
  long number = 0;   // in file order, counted over all units
  std::string text;  // the unit's lines, head line first
  RestoreCounts counts;
};

struct AppUnits {
  Unit own;
  std::vector<Unit> dbs;
  std::string current_app;  // as the application's unit left it: empty when skipped
};

// The lines of the file from the first Application block on, cut into units. False when a
// server, group or user block stands among them (a file that was not checked): such a file
// is restored in one session, as it stands.
bool CutIntoUnits(RunState& state, RestoreFileState& file, std::string first,
                  std::vector<AppUnits>& apps) {
  bool in_order = true;
  std::string* text = nullptr;
  std::string line = std::move(first);
  do {
    if (IsHeadLine(line)) {
      const BlockSpec* spec = SpecOfHead(SplitKeyLine(line).key);
      const BlockKind kind = spec ? spec->kind : BlockKind::kEnd;
      if (kind == BlockKind::kServer || kind == BlockKind::kGroup || kind == BlockKind::kUser) {
        in_order = false;
      }
      if (kind == BlockKind::kApplication) {
        apps.emplace_back();
        apps.back().own.place = {apps.size() - 1, -1};
        text = &apps.back().own.text;
      } else if (kind == BlockKind::kDatabase) {
        AppUnits& app = apps.back();
        app.dbs.emplace_back();
        app.dbs.back().place = {apps.size() - 1, static_cast<long>(app.dbs.size() - 1)};
        text = &app.dbs.back().text;
      }
    }
    text->append(line).append("\r\n");
  } while (ReadRestoreLine(state, file, line));
  return in_order;
}

// Numbers the units in file order and announces the application access that each
// database's access blocks may set, so that sessions take their turns at it in file order.
void NumberUnits(RestoreFileState& file, std::vector<AppUnits>& apps) {
  long number = 0;
  for (AppUnits& app : apps) {
    app.own.number = number++;
    const std::string app_name =
        HeadName(file, SplitKeyLine(app.own.text.substr(0, app.own.text.find('\r'))).value);
    for (Unit& db : app.dbs) {
      db.number = number++;
      for (size_t at = 0; at < db.text.size();) {
        const size_t end = db.text.find("\r\n", at);
        const std::string_view line = std::string_view(db.text).substr(at, end - at);
        at = end == std::string::npos ? db.text.size() : end + 2;
        if (!IsHeadLine(line)) continue;
        const KeyLine head = SplitKeyLine(line);
        const BlockSpec* spec = SpecOfHead(head.key);
        if (spec &&
            (spec->kind == BlockKind::kGroupAccess || spec->kind == BlockKind::kUserAccess)) {
          file.ExpectApplicationAccess(RestoreState::NameKey(app_name, HeadName(file, head.value)),
                                       db.number);
        }
      }
    }
  }
}

// What a session does for a unit: its blocks, in file order, under the application as the
// application's own unit left it.
PoolUnit::Work UnitWork(RestoreState& run, AppUnits& app, Unit& unit) {
  return [&run, &app, &unit](RunState& session, PoolUnit&) {
    RestoreState restore(run.file);
    restore.unit = unit.number;
    if (unit.place.second >= 0) restore.current_app = app.current_app;
    session.dump_in = LineReader::OfText(unit.text);
    // Whatever ends the unit, the later units' turns at application access go on.
    const auto finish = [&] {
      run.file.EndApplicationAccess(unit.number);
      session.dump_in.reset();
      unit.counts = restore.restored;
      if (unit.place.second < 0) app.current_app = restore.current_app;
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
    const std::unique_ptr<LineReader> blocks = LineReader::OfText(unit.text);
    for (std::string line; blocks->ReadLine(line);) {
      if (!IsHeadLine(line)) continue;
      ++run.file.blocks_applied;
      state.ReportProgress("blocks", run.file.blocks_applied, run.file.block_total,
                           SplitKeyLine(line).key);
    }
    run.restored += unit.counts;
    unit.text = std::string();
  };
  return handing;
}

}  // namespace

void ApplyBlocksInSessions(RunState& state, RestoreState& restore) {
  // The server, group and user blocks: in order, in the run's own session.
  std::string line;
  std::optional<std::string> first;
  while (ReadRestoreLine(state, restore.file, line)) {
    if (IsHeadLine(line) && SplitKeyLine(line).key == "Application") {
      first = std::move(line);
      break;
    }
    const bool head = IsHeadLine(line);
    if (head) BetweenBlocks(state, restore.file, line);
    DispatchLine(state, restore, line);
    if (head && state.observer) ++restore.file.blocks_applied;
  }
  if (!first) return;
  std::vector<AppUnits> apps;
  if (!CutIntoUnits(state, restore.file, std::move(*first), apps) || state.sessions < 2) {
    std::string text;
    for (AppUnits& app : apps) {
      text += app.own.text;
      for (Unit& db : app.dbs) text += db.text;
    }
    state.dump_in = LineReader::OfText(std::move(text));
    return ApplyBlocks(state, restore, nullptr);
  }
  NumberUnits(restore.file, apps);
  SessionPool::Options options;
  options.finish_on_cancel = true;
  SessionPool pool(state, std::move(options));
  for (AppUnits& app : apps) {
    // A database's unit starts once its application's has told whether the target has it.
    PoolUnit& own = pool.Add(CallUnit::NameOf(app.own.place.first, -1),
                             UnitWork(restore, app, app.own), UnitHanding(state, restore, app.own));
    for (Unit& db : app.dbs) {
      own.Follow(CallUnit::NameOf(db.place.first, db.place.second), UnitWork(restore, app, db),
                 UnitHanding(state, restore, db));
    }
  }
  // A cancel starts no further unit: those under way are finished and logged, and the
  // restore stops after them, between two blocks as in one session.
  if (pool.Run()) StopCancelledRestore(restore.file);
}

}  // namespace cubesec
