// A dump with several sessions: each session fills the blocks of a whole application (its
// own block) or of a whole database (its block, filters and access) into a capture, and the
// run's thread hands the captures to the dump file and the run log in the file's order. Over
// a slow link the time goes into waiting for calls; several sessions wait at once.
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
#include "dump/dump.h"

namespace cubesec {
namespace {

// How long the writer waits for a unit before it lets the window handle its events.
constexpr std::chrono::milliseconds kPumpEvery{50};

// Thrown by a session's calls once its work is no longer wanted.
struct Abandoned {};

// The place of a piece of work in the file: application, then -1 for the application's own
// block or the database's index.
using Place = std::pair<size_t, long>;

struct Unit {
  Place place;
  std::string db;
  bool started = false;
  bool done = false;
  bool abandoned = false;
  CapturedOutput output;
  std::exception_ptr error;
};

struct AppWork {
  Unit own;
  std::vector<std::unique_ptr<Unit>> dbs;  // known once `own` is done
  std::vector<AccessHolder> holders;
  std::exception_ptr holders_error;  // raised where one session would have read them
};

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
  Pool(RunState& state, const std::vector<std::string>& apps) : state_(state) {
    for (size_t i = 0; i < apps.size(); ++i) {
      auto work = std::make_unique<AppWork>();
      work->own.place = {apps_.size(), -1};
      apps_.push_back(std::move(work));
    }
    names_ = apps;
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
      own.dumped_groups = state_.dumped_groups;
      if (i == 0) {
        own.client.instance = state_.client.instance;
        own.client.context = state_.client.context;
      } else {
        session.own_login = true;
        sessions_.push_back(std::move(session));
        LogIn(*sessions_.back().state);
        continue;
      }
      sessions_.push_back(std::move(session));
    }
    for (Session& session : sessions_) {
      threads_.emplace_back([this, &session] { Work(session); });
    }
  }

  // Hands every unit to the run's files in the file's order; raises the first failure.
  // The progress is told from here, the run's thread, in the file's order: the observer
  // sees what one session would show.
  void Write() {
    const int total = static_cast<int>(apps_.size());
    for (size_t a = 0; a < apps_.size(); ++a) {
      const int number = static_cast<int>(a) + 1;
      state_.ReportProgress("applications", number, total, names_[a]);
      Hand(apps_[a]->own);
      for (size_t d = 0;; ++d) {
        Unit* unit = nullptr;
        {
          std::lock_guard<std::mutex> lock(mutex_);
          if (d >= apps_[a]->dbs.size()) break;
          unit = apps_[a]->dbs[d].get();
        }
        state_.ReportProgress("applications", number, total, names_[a] + ":" + unit->db);
        Hand(*unit);
      }
    }
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
    while (!unit.done) {
      if (changed_.wait_for(lock, kPumpEvery) == std::cv_status::timeout) {
        lock.unlock();
        state_.observer->PumpEvents();
        // A Cancel pressed (or an interrupt) while a slow unit is filled is heard now.
        state_.StopDumpIfAsked();
        lock.lock();
      }
    }
    lock.unlock();
    state_.Replay(unit.output);
    if (unit.error) std::rethrow_exception(unit.error);
    lock.lock();
    ++written_;
    unit.output = CapturedOutput();
    lock.unlock();
    changed_.notify_all();
  }

  // The first unit in file order that nobody has started, within the window; nullptr when
  // there is none now.
  Unit* NextUnit() {
    if (started_ - written_ >= window_) return nullptr;
    for (auto& work : apps_) {
      if (!work->own.started) return &work->own;
      if (!work->own.done) continue;
      for (auto& unit : work->dbs) {
        if (!unit->started) return unit.get();
      }
    }
    return nullptr;
  }

  bool AllStarted() {
    for (auto& work : apps_) {
      if (!work->own.done) return false;
      for (auto& unit : work->dbs) {
        if (!unit->started) return false;
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
          if (stopping_ || AllStarted()) return true;
          unit = NextUnit();
          return unit != nullptr && !(failed_ && unit->place > *failed_);
        });
        if (unit == nullptr || stopping_ || (failed_ && unit->place > *failed_)) return;
        unit->started = true;
        ++started_;
      }
      Run(session, *unit);
    }
  }

  void Run(Session& session, Unit& unit) {
    RunState& own = *session.state;
    AppWork& work = *apps_[unit.place.first];
    const std::string& app = names_[unit.place.first];
    own.capture = &unit.output;
    session.gate->current = &unit;
    const CallUnit calls(CallUnit::NameOf(unit.place.first, unit.place.second));
    std::vector<std::string> dbs;
    try {
      if (unit.place.second < 0) {
        WriteApplicationBlock(own, app);
        dbs = ReadDatabaseNames(own, app);
        if (!dbs.empty()) {
          try {
            work.holders = ReadAccessHolders(own, app);
          } catch (const Abandoned&) {
            throw;
          } catch (...) {
            work.holders_error = std::current_exception();
          }
        }
      } else {
        WriteDatabaseBlock(own, app, unit.db, [&]() -> const std::vector<AccessHolder>& {
          if (work.holders_error) std::rethrow_exception(work.holders_error);
          return work.holders;
        });
      }
    } catch (const Abandoned&) {
      unit.abandoned = true;
    } catch (...) {
      unit.error = std::current_exception();
    }
    session.gate->current = nullptr;
    own.capture = nullptr;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (unit.error && (!failed_ || unit.place < *failed_)) failed_ = unit.place;
      for (size_t d = 0; d < dbs.size(); ++d) {
        auto db = std::make_unique<Unit>();
        db->place = {unit.place.first, static_cast<long>(d)};
        db->db = dbs[d];
        work.dbs.push_back(std::move(db));
      }
      unit.done = true;
    }
    changed_.notify_all();
  }

  RunState& state_;
  std::vector<std::string> names_;
  std::vector<std::unique_ptr<AppWork>> apps_;
  std::vector<Session> sessions_;
  std::vector<std::thread> threads_;
  std::mutex mutex_;
  std::condition_variable changed_;
  size_t window_ = 2;
  size_t started_ = 0;
  size_t written_ = 0;
  bool stopping_ = false;
  std::optional<Place> failed_;  // the earliest failed unit in file order
};

EsbStatus SessionGate::Intercept(const char*, const std::function<EsbStatus()>& call) {
  if (pool_.Unwanted(current)) throw Abandoned{};
  return call();
}

}  // namespace

void WriteApplicationBlocksInSessions(RunState& state, const std::vector<std::string>& apps) {
  Pool pool(state, apps);
  pool.Start();
  pool.Write();
}

}  // namespace cubesec
