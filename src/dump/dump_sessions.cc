// A dump with several sessions: each session fills the blocks of a run of consecutive groups
// or users, of a whole application (its own block) or of a whole database (its block,
// filters and access) into a capture, and the session pool hands the captures to the dump
// file and the run log in the file's order. The progress is told from the run's thread as
// each unit is handed: the observer sees what one session would show.
#include <algorithm>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "client/api_decorators.h"
#include "client/session_pool.h"
#include "dump/dump.h"

namespace cubesec {
namespace {

// What an application's databases share: its access holders, read by its own unit.
struct Holders {
  std::vector<AccessHolder> holders;
  std::exception_ptr error;  // raised where one session would have read them
};

// Names per unit: enough units for every session to have several in hand (the window), few
// enough that a unit's bookkeeping stays small beside its calls.
size_t NamesPerUnit(size_t names, int sessions) {
  const size_t units = static_cast<size_t>(sessions) * 4;
  return std::max<size_t>(1, (names + units - 1) / units);
}

SessionPool::Options DumpPoolOptions(RunState& state) {
  SessionPool::Options options;
  // A Cancel pressed (or an interrupt) while a slow unit is filled is heard while waiting.
  options.while_waiting = [&state] { state.StopDumpIfAsked(); };
  // The group list is read before the sessions log in.
  options.prepare = [&state](RunState& session) { session.dumped_groups = state.dumped_groups; };
  return options;
}

// Lets `add` give the units and runs them, in `pool` when given, else in a pool of their own.
void RunUnits(RunState& state, SessionPool* pool, const std::function<void(SessionPool&)>& add) {
  if (pool != nullptr) {
    add(*pool);
    pool->Run();
    return;
  }
  SessionPool own(state, DumpPoolOptions(state));
  add(own);
  own.Run();
}

void AddNamedUnits(RunState& state, std::string_view phase, const std::vector<std::string>& names,
                   const NamedBlockWriter& write, SessionPool& pool) {
  const size_t per_unit = NamesPerUnit(names.size(), state.sessions);
  const int total = static_cast<int>(names.size());
  // Units are named by the phase's first letter and their number: "g0", "u3".
  const std::string prefix(phase.substr(0, 1));
  for (size_t first = 0, number = 0; first < names.size(); first += per_unit, ++number) {
    const size_t end = std::min(names.size(), first + per_unit);
    PoolUnit::Handing handing;
    handing.before = [&state, phase, first, end, total] {
      for (size_t at = first; at < end; ++at) {
        state.ReportProgress(phase, static_cast<int>(at) + 1, total);
      }
    };
    pool.Add(
        prefix + std::to_string(number),
        [&names, &write, first, end](RunState& session, PoolUnit&) {
          for (size_t at = first; at < end; ++at) write(session, names[at]);
        },
        std::move(handing));
  }
}

// A database's unit: its block, filters and access, with the holders its application's unit
// read.
PoolUnit::Work DatabaseWork(const std::string& app, std::string db,
                            std::shared_ptr<Holders> holders) {
  return [&app, db = std::move(db), holders](RunState& session, PoolUnit&) {
    WriteDatabaseBlock(session, app, db, [&holders]() -> const std::vector<AccessHolder>& {
      if (holders->error) std::rethrow_exception(holders->error);
      return holders->holders;
    });
  };
}

void AddApplicationUnits(RunState& state, const std::vector<std::string>& apps, SessionPool& pool) {
  const int total = static_cast<int>(apps.size());
  for (size_t a = 0; a < apps.size(); ++a) {
    const std::string& app = apps[a];
    const int number = static_cast<int>(a) + 1;
    PoolUnit::Handing handing;
    handing.before = [&state, &app, number, total] {
      state.ReportProgress("applications", number, total, app);
    };
    // The application's own unit finds its databases, whose units follow it.
    const auto own = [&state, &app, a, number, total](RunState& session, PoolUnit& unit) {
      WriteApplicationBlock(session, app);
      const std::vector<std::string> dbs = ReadDatabaseNames(session, app);
      auto holders = std::make_shared<Holders>();
      for (size_t d = 0; d < dbs.size(); ++d) {
        PoolUnit::Handing db_handing;
        db_handing.before = [&state, &app, db = dbs[d], number, total] {
          state.ReportProgress("applications", number, total, app + ":" + db);
        };
        unit.Follow(CallUnit::NameOf(a, static_cast<long>(d)), DatabaseWork(app, dbs[d], holders),
                    std::move(db_handing));
      }
      if (dbs.empty()) return;
      try {
        holders->holders = ReadAccessHolders(session, app);
      } catch (const AbandonedUnit&) {
        throw;
      } catch (...) {
        holders->error = std::current_exception();
      }
    };
    pool.Add(CallUnit::NameOf(a, -1), own, std::move(handing));
  }
}

}  // namespace

void WriteSecurityBlocks(RunState& state) {
  if (state.sessions < 2) {
    WriteGroupBlocks(state);
    WriteUserBlocks(state);
    WriteApplicationBlocks(state);
    return;
  }
  SessionPool pool(state, DumpPoolOptions(state));
  WriteGroupBlocks(state, &pool);
  WriteUserBlocks(state, &pool);
  WriteApplicationBlocks(state, &pool);
}

void WriteNamedBlocksInSessions(RunState& state, std::string_view phase,
                                const std::vector<std::string>& names,
                                const NamedBlockWriter& write, SessionPool* pool) {
  RunUnits(state, pool,
           [&](SessionPool& units) { AddNamedUnits(state, phase, names, write, units); });
}

void WriteApplicationBlocksInSessions(RunState& state, const std::vector<std::string>& apps,
                                      SessionPool* pool) {
  RunUnits(state, pool, [&](SessionPool& units) { AddApplicationUnits(state, apps, units); });
}

}  // namespace cubesec
