// A dump with several sessions: each session fills the blocks of a whole application (its
// own block) or of a whole database (its block, filters and access) into a capture, and the
// session pool hands the captures to the dump file and the run log in the file's order.
#include <exception>
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

}  // namespace

void WriteApplicationBlocksInSessions(RunState& state, const std::vector<std::string>& apps) {
  SessionPool::Options options;
  // A Cancel pressed (or an interrupt) while a slow unit is filled is heard while waiting.
  options.while_waiting = [&state] { state.StopDumpIfAsked(); };
  options.prepare = [&state](RunState& session) { session.dumped_groups = state.dumped_groups; };
  SessionPool pool(state, std::move(options));
  // The progress is told from the run's thread, in the file's order: the observer sees what
  // one session would show.
  const int total = static_cast<int>(apps.size());
  for (size_t a = 0; a < apps.size(); ++a) {
    const std::string& app = apps[a];
    const int number = static_cast<int>(a) + 1;
    auto holders = std::make_shared<Holders>();
    PoolUnit::Handing own_handing;
    own_handing.before = [&state, &app, number, total] {
      state.ReportProgress("applications", number, total, app);
    };
    const auto own = [&state, &app, a, number, total, holders](RunState& session, PoolUnit& unit) {
      WriteApplicationBlock(session, app);
      const std::vector<std::string> dbs = ReadDatabaseNames(session, app);
      for (size_t d = 0; d < dbs.size(); ++d) {
        PoolUnit::Handing handing;
        handing.before = [&state, &app, db = dbs[d], number, total] {
          state.ReportProgress("applications", number, total, app + ":" + db);
        };
        unit.Follow(
            CallUnit::NameOf(a, static_cast<long>(d)),
            [&app, db = dbs[d], holders](RunState& db_session, PoolUnit&) {
              WriteDatabaseBlock(db_session, app, db,
                                 [&holders]() -> const std::vector<AccessHolder>& {
                                   if (holders->error) std::rethrow_exception(holders->error);
                                   return holders->holders;
                                 });
            },
            std::move(handing));
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
    pool.Add(CallUnit::NameOf(a, -1), own, std::move(own_handing));
  }
  pool.Run();
}

}  // namespace cubesec
