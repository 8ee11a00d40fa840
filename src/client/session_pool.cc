#include "client/session_pool.h"

#include <chrono>
#include <utility>

#include "client/api_decorators.h"

namespace cubesec {
namespace {

// How long the run's thread waits for a unit before it lets the window handle its events.
constexpr std::chrono::milliseconds kPumpEvery{50};

thread_local bool uninterrupted = false;

}  // namespace

UninterruptedCalls::UninterruptedCalls() : previous_(uninterrupted) { uninterrupted = true; }

UninterruptedCalls::~UninterruptedCalls() { uninterrupted = previous_; }

bool UninterruptedCalls::Active() { return uninterrupted; }

// A session's door to the server: a call of work that is no longer wanted does not go out.
class SessionPool::Gate : public EsbApiDecorator {
 public:
  Gate(EsbApi& inner, SessionPool& pool) : EsbApiDecorator(inner), pool_(pool) {}
  const PoolUnit* current = nullptr;

 protected:
  EsbStatus Intercept(const char*, const std::function<EsbStatus()>& call) override {
    if (!UninterruptedCalls::Active() && pool_.Unwanted(current)) throw AbandonedUnit{};
    return call();
  }

 private:
  SessionPool& pool_;
};

struct SessionPool::Session {
  std::unique_ptr<Gate> gate;
  std::unique_ptr<RunState> state;
  bool own_login = false;  // logged in by the pool, and logged out by it
};

PoolUnit::PoolUnit(std::string name, Work work, Handing handing)
    : name_(std::move(name)), work_(std::move(work)), handing_(std::move(handing)) {}

void PoolUnit::Follow(std::string name, Work work, Handing handing) {
  auto unit = std::make_unique<PoolUnit>(std::move(name), std::move(work), std::move(handing));
  unit->place_ = place_;
  unit->place_.push_back(added_.size());
  added_.push_back(std::move(unit));
}

SessionPool::SessionPool(RunState& state, Options options)
    : state_(state), options_(std::move(options)) {
  // Whatever the run's thread has in hand at once stays bounded: a few units per session.
  window_ = static_cast<size_t>(2 * state.sessions);
}

SessionPool::~SessionPool() {
  Stop();
  for (const auto& session : sessions_) {
    if (!session->own_login) continue;
    ClientContext& client = session->state->client;
    // Errors here are of no use to anyone any more.
    if (client.context != 0) state_.client.api->EsbLogout(client.context);
    if (client.instance != 0) state_.client.api->EsbTerm(client.instance);
  }
}

PoolUnit& SessionPool::Add(std::string name, PoolUnit::Work work, PoolUnit::Handing handing) {
  auto unit = std::make_unique<PoolUnit>(std::move(name), std::move(work), std::move(handing));
  unit->place_ = {units_.size()};
  units_.push_back(std::move(unit));
  return *units_.back();
}

void SessionPool::Stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  for (std::thread& thread : threads_) thread.join();
  threads_.clear();
}

bool SessionPool::Run() {
  try {
    Start();
    for (size_t i = 0; i < units_.size(); ++i) {
      Hand(*units_[i]);
      for (size_t f = 0;; ++f) {
        PoolUnit* follower = nullptr;
        {
          std::lock_guard<std::mutex> lock(mutex_);
          if (f >= units_[i]->followers_.size()) break;
          follower = units_[i]->followers_[f].get();
        }
        Hand(*follower);
      }
    }
  } catch (...) {
    // The sessions' threads end here, before anything that their units' work refers to
    // goes out of scope with the failure.
    Stop();
    throw;
  }
  // Every unit is handed, so the sessions' threads end; the sessions stay logged in for
  // the next run of units.
  for (std::thread& thread : threads_) thread.join();
  threads_.clear();
  units_.clear();
  started_ = 0;
  written_ = 0;
  return cancelled_;
}

// Logs the sessions in (the run's own is the first) the first time, and starts their
// threads.
void SessionPool::Start() {
  for (int i = static_cast<int>(sessions_.size()); i < state_.sessions; ++i) {
    auto session = std::make_unique<Session>();
    session->gate = std::make_unique<Gate>(*state_.client.api, *this);
    session->state = std::make_unique<RunState>(state_.platform, *session->gate);
    RunState& own = *session->state;
    own.server = state_.server;
    own.user = state_.user;
    own.dump_file = state_.dump_file;
    own.run_log.SetPath(state_.run_log.path());
    if (options_.prepare) options_.prepare(own);
    session->own_login = i > 0;
    sessions_.push_back(std::move(session));
    if (i == 0) {
      own.client.instance = state_.client.instance;
      own.client.context = state_.client.context;
    } else {
      LogIn(own);
    }
  }
  for (const auto& session : sessions_) {
    threads_.emplace_back([this, &session = *session] { Work(session); });
  }
}

void SessionPool::LogIn(RunState& own) {
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

// Waits for `unit` (letting the window handle its events meanwhile) and hands it over.
void SessionPool::Hand(PoolUnit& unit) {
  if (unit.handing_.before) unit.handing_.before();
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    if (options_.finish_on_cancel && !cancelled_ && state_.observer->CancelRequested()) {
      cancelled_ = true;
      changed_.notify_all();
    }
    if (unit.done_) break;
    if (cancelled_ && !unit.started_) return;  // nor will it start: nothing of it was done
    if (changed_.wait_for(lock, kPumpEvery) == std::cv_status::timeout) {
      lock.unlock();
      state_.observer->PumpEvents();
      if (options_.while_waiting) options_.while_waiting();
      lock.lock();
    }
  }
  lock.unlock();
  state_.Replay(unit.output_);
  if (unit.handing_.after) unit.handing_.after();
  if (unit.error_) std::rethrow_exception(unit.error_);
  lock.lock();
  ++written_;
  unit.output_ = CapturedOutput();
  lock.unlock();
  changed_.notify_all();
}

bool SessionPool::AfterFailure(const PoolUnit& unit) const {
  return failed_ != nullptr && unit.place_ > failed_->place_;
}

bool SessionPool::Unwanted(const PoolUnit* unit) {
  std::lock_guard<std::mutex> lock(mutex_);
  return stopping_ || (unit != nullptr && AfterFailure(*unit));
}

// The first unit in the run's order that nobody has started, within the window; nullptr
// when there is none now. A unit's followers wait until it is done.
PoolUnit* SessionPool::NextUnit() {
  if (started_ - written_ >= window_) return nullptr;
  for (const auto& unit : units_) {
    if (!unit->started_) return unit.get();
    if (!unit->done_) continue;
    for (const auto& follower : unit->followers_) {
      if (!follower->started_) return follower.get();
    }
  }
  return nullptr;
}

bool SessionPool::AllStarted() {
  for (const auto& unit : units_) {
    if (!unit->done_) return false;  // it may yet add followers
    for (const auto& follower : unit->followers_) {
      if (!follower->started_) return false;
    }
  }
  return true;
}

void SessionPool::Work(Session& session) {
  for (;;) {
    PoolUnit* unit = nullptr;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      changed_.wait(lock, [&] {
        if (stopping_ || cancelled_ || AllStarted()) return true;
        unit = NextUnit();
        return unit != nullptr && !AfterFailure(*unit);
      });
      if (unit == nullptr || stopping_ || cancelled_ || AfterFailure(*unit)) return;
      unit->started_ = true;
      ++started_;
    }
    Do(session, *unit);
  }
}

void SessionPool::Do(Session& session, PoolUnit& unit) {
  RunState& own = *session.state;
  own.capture = &unit.output_;
  session.gate->current = &unit;
  try {
    const CallUnit calls(unit.name_);
    unit.work_(own, unit);
  } catch (const AbandonedUnit&) {
  } catch (...) {
    unit.error_ = std::current_exception();
  }
  session.gate->current = nullptr;
  own.capture = nullptr;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (unit.error_ && (failed_ == nullptr || unit.place_ < failed_->place_)) failed_ = &unit;
    for (auto& follower : unit.added_) unit.followers_.push_back(std::move(follower));
    unit.added_.clear();
    unit.done_ = true;
  }
  changed_.notify_all();
}

}  // namespace cubesec
