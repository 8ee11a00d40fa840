// A restore with several sessions. The server, group and user blocks are restored first, in
// order, in the run's own session: every database's blocks build on the users and groups
// they made. The rest of the file is cut into units, an application's own block or a
// database's block with the filter and access blocks under it, and RunState::sessions
// sessions restore units at once, each in file order within itself. What a unit logs is
// captured and handed to the run log in the file's order, so the log is that of one
// session; a database's unit starts once its application's unit has told whether the
// target has the application.
#include <chrono>
#include <condition_variable>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "client/api_decorators.h"
#include "client/dump_format.h"
#include "restore/name_lists.h"
#include "restore/restore.h"

namespace cubesec {
namespace {

// How long the writer waits for a unit before it lets the window handle its events.
constexpr std::chrono::milliseconds kPumpEvery{50};

// Thrown by a session's calls once its work is no longer wanted.
struct Abandoned {};

// The place of a unit in the file: application, then -1 for the application's own block or
// the database's index under it.
using Place = std::pair<size_t, long>;

struct Unit {
  Place place;
  long number = 0;   // in file order, counted over all units
  std::string text;  // the unit's lines, head line first
  bool started = false;
  bool done = false;
  CapturedOutput output;
  RestoreCounts counts;
  std::exception_ptr error;
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

class Pool;

// A session's door to the server: a call of work that is no longer wanted does not go out.
class SessionGate : public EsbApiDecorator {
 public:
  SessionGate(EsbApi& inner, Pool& pool) : EsbApiDecorator(inner), pool_(pool) {}
  const Unit* current = nullptr;

 protected:
  EsbStatus Intercept(const char* name, const std::function<EsbStatus()>& call) override;

 private:
  Pool& pool_;
};

struct Session {
  std::unique_ptr<SessionGate> gate;
  std::unique_ptr<RunState> state;
  bool own_login = false;  // logged in by the pool, and logged out by it
};

class Pool {
 public:
  Pool(RunState& state, RestoreState& restore, std::vector<AppUnits>& apps)
      : state_(state), restore_(restore), apps_(apps) {
    // Whatever the run's thread has in hand at once stays bounded: a few units per session.
    window_ = static_cast<size_t>(2 * state.sessions);
  }

  ~Pool() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stopping_ = true;
    }
    changed_.notify_all();
    for (std::thread& thread : threads_) thread.join();
    for (Session& session : sessions_) {
      if (!session.own_login) continue;
      ClientContext& client = session.state->client;
      // Errors here are of no use to anyone any more.
      if (client.context != 0) state_.client.api->EsbLogout(client.context);
      if (client.instance != 0) state_.client.api->EsbTerm(client.instance);
    }
  }

  // Logs the sessions in (the run's own is the first) and starts their threads.
  void Start() {
    for (int i = 0; i < state_.sessions; ++i) {
      Session session;
      session.gate = std::make_unique<SessionGate>(*state_.client.api, *this);
      session.state = std::make_unique<RunState>(state_.platform, *session.gate);
      RunState& own = *session.state;
      own.server = state_.server;
      own.user = state_.user;
      own.dump_file = state_.dump_file;
      own.run_log.SetPath(state_.run_log.path());
      session.own_login = i > 0;
      sessions_.push_back(std::move(session));
      if (i == 0) {
        own.client.instance = state_.client.instance;
        own.client.context = state_.client.context;
      } else {
        LogIn(own);
      }
    }
    for (Session& session : sessions_) {
      threads_.emplace_back([this, &session] { Work(session); });
    }
  }

  // Hands every unit to the run's log in the file's order; raises the first failure. A
  // cancel starts no further unit: those under way are finished and logged, and the restore
  // stops after them, between two blocks as in one session.
  void Write() {
    for (AppUnits& app : apps_) {
      Hand(app.own);
      for (Unit& db : app.dbs) Hand(db);
    }
    if (cancelled_) StopCancelledRestore(restore_.file);
  }

  bool Unwanted(const Unit* unit) {
    std::lock_guard<std::mutex> lock(mutex_);
    return stopping_ || (unit != nullptr && failed_ && unit->place > *failed_);
  }

 private:
  void LogIn(RunState& own) {
    ClientContext& client = own.client;
    EsbApi& api = *state_.client.api;
    CheckStatus(client, "EsbInit", api.EsbInit(EsbInitRecord{}, &client.instance));
    uint16_t app_count = 0;
    EsbHandle context = 0;
    const EsbStatus status = api.EsbLogin(client.instance, state_.server, state_.user,
                                          state_.password, &app_count, &context);
    if (status == 0) client.context = context;
    // The message belongs to this session's instance.
    CheckStatus(client, "EsbLogin", status);
  }

  // Waits for `unit` (letting the window handle its events meanwhile) and writes it.
  void Hand(Unit& unit) {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      if (!cancelled_ && state_.observer->CancelRequested()) {
        cancelled_ = true;
        changed_.notify_all();
      }
      if (unit.done) break;
      if (cancelled_ && !unit.started) return;  // nor will it start: nothing of it was done
      if (changed_.wait_for(lock, kPumpEvery) == std::cv_status::timeout) {
        lock.unlock();
        state_.observer->PumpEvents();
        lock.lock();
      }
    }
    lock.unlock();
    state_.Replay(unit.output);
    // The unit's blocks are applied: the progress tells them one by one, as one session would.
    const std::unique_ptr<LineReader> blocks = LineReader::OfText(unit.text);
    for (std::string line; blocks->ReadLine(line);) {
      if (!IsHeadLine(line)) continue;
      ++restore_.file.blocks_applied;
      state_.ReportProgress("blocks", restore_.file.blocks_applied, restore_.file.block_total,
                            SplitKeyLine(line).key);
    }
    restore_.restored += unit.counts;
    if (unit.error) std::rethrow_exception(unit.error);
    lock.lock();
    ++written_;
    unit.output = CapturedOutput();
    unit.text = std::string();
    lock.unlock();
    changed_.notify_all();
  }

  // The first unit in file order that nobody has started, within the window; nullptr when
  // there is none now.
  Unit* NextUnit() {
    if (started_ - written_ >= window_) return nullptr;
    for (AppUnits& app : apps_) {
      if (!app.own.started) return &app.own;
      if (!app.own.done) continue;
      for (Unit& db : app.dbs) {
        if (!db.started) return &db;
      }
    }
    return nullptr;
  }

  bool AllStarted() {
    for (AppUnits& app : apps_) {
      if (!app.own.started) return false;
      for (Unit& db : app.dbs) {
        if (!db.started) return false;
      }
    }
    return true;
  }

  void Work(Session& session) {
    for (;;) {
      Unit* unit = nullptr;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] {
          if (stopping_ || cancelled_ || AllStarted()) return true;
          unit = NextUnit();
          return unit != nullptr && !(failed_ && unit->place > *failed_);
        });
        if (unit == nullptr || stopping_ || cancelled_ || (failed_ && unit->place > *failed_)) {
          return;
        }
        unit->started = true;
        ++started_;
      }
      Run(session, *unit);
    }
  }

  void Run(Session& session, Unit& unit) {
    RunState& own = *session.state;
    AppUnits& app = apps_[unit.place.first];
    RestoreState restore(restore_.file);
    restore.unit = unit.number;
    // A database's blocks stand under the application as its own unit left it.
    if (unit.place.second >= 0) restore.current_app = app.current_app;
    own.capture = &unit.output;
    own.dump_in = LineReader::OfText(unit.text);
    session.gate->current = &unit;
    try {
      const CallUnit calls(CallUnit::NameOf(unit.place.first, unit.place.second));
      ApplyBlocks(own, restore, nullptr);
    } catch (const Abandoned&) {
    } catch (...) {
      unit.error = std::current_exception();
    }
    restore_.file.EndApplicationAccess(unit.number);
    session.gate->current = nullptr;
    own.capture = nullptr;
    own.dump_in.reset();
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (unit.place.second < 0) app.current_app = restore.current_app;
      unit.counts = restore.restored;
      if (unit.error && (!failed_ || unit.place < *failed_)) failed_ = unit.place;
      unit.done = true;
    }
    changed_.notify_all();
  }

  RunState& state_;
  RestoreState& restore_;
  std::vector<AppUnits>& apps_;
  std::vector<Session> sessions_;
  std::vector<std::thread> threads_;
  std::mutex mutex_;
  std::condition_variable changed_;
  size_t window_ = 2;
  size_t started_ = 0;
  size_t written_ = 0;
  bool stopping_ = false;
  bool cancelled_ = false;       // the user asked to stop: no unit starts any more
  std::optional<Place> failed_;  // the earliest failed unit in file order
};

EsbStatus SessionGate::Intercept(const char*, const std::function<EsbStatus()>& call) {
  if (pool_.Unwanted(current)) throw Abandoned{};
  return call();
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
  Pool pool(state, restore, apps);
  pool.Start();
  pool.Write();
}

}  // namespace cubesec
