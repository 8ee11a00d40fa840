#pragma once
// Several sessions of one run working at once. A dump or a restore cuts its work into units
// (a database's blocks, a run of consecutive users, ...) in the file's order; the pool logs
// the sessions in, lets each session do one unit after another with its output captured,
// and hands the captured output to the run's files in the units' order, so the files and
// the run log are those of one session. Over a slow link the time goes into waiting for
// calls; several sessions wait at once.
//
// A failure ends the run as in one session: the units before it are handed whole, its
// output up to the failure too, then its error is raised; a session working on a later unit
// stops at its next call (the call does not go out), and every session the pool logged in
// logs out.

#include <condition_variable>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "client/run_state.h"

namespace cubesec {

class SessionPool;

/// Raised by a session's calls once its unit is no longer wanted (a unit before it in the
/// run's order failed, or the run ends): work that catches failures lets it pass.
struct AbandonedUnit {};

/// While one lives on a session's thread, the calls of its unit go out even once the unit is
/// no longer wanted: a few calls that must not be cut apart (a user's creation and the flag
/// that makes its temporary password expire) are not left half done because another unit
/// failed.
class UninterruptedCalls {
 public:
  UninterruptedCalls();
  ~UninterruptedCalls();
  UninterruptedCalls(const UninterruptedCalls&) = delete;
  UninterruptedCalls& operator=(const UninterruptedCalls&) = delete;
  /// True on a thread where one lives.
  static bool Active();

 private:
  bool previous_;
};

/// One piece of a run that a session does on its own.
class PoolUnit {
 public:
  /// What a session does for the unit, through its own run state (whose output is captured).
  using Work = std::function<void(RunState& session, PoolUnit& unit)>;
  /// Called on the run's thread when the unit's output is handed to the run's files:
  /// `before` ahead of it (as soon as the run reaches the unit), `after` behind it (also when
  /// the unit failed, before its error is raised).
  struct Handing {
    std::function<void()> before;
    std::function<void()> after;
  };

  PoolUnit(std::string name, Work work, Handing handing = {});

  /// Adds a unit that stands after this one and the ones it added before, and starts once
  /// this one is done: before the run, or from the unit's work. Such a unit adds none of its
  /// own.
  void Follow(std::string name, Work work, Handing handing = {});

 private:
  friend class SessionPool;

  std::string name_;  // the unit its calls belong to (CallUnit)
  Work work_;
  Handing handing_;
  std::vector<size_t> place_;  // in the run's order: compared as a path
  bool started_ = false;
  bool done_ = false;
  CapturedOutput output_;
  std::exception_ptr error_;
  std::vector<std::unique_ptr<PoolUnit>> followers_;  // known once the unit is done
  std::vector<std::unique_ptr<PoolUnit>> added_;      // by the work, taken in when it is done
};

class SessionPool {
 public:
  struct Options {
    /// A cancel (RunObserver::CancelRequested) starts no further unit: the units under way
    /// are finished and handed, and Run() returns true. Otherwise the pool leaves a cancel
    /// to `while_waiting` or to the work.
    bool finish_on_cancel = false;
    /// Called on the run's thread, now and then, while it waits for a unit.
    std::function<void()> while_waiting;
    /// Gives a session's run state what the units need beyond the login.
    std::function<void(RunState& session)> prepare;
  };

  /// The run's own session (logged in) is the first of RunState::sessions.
  SessionPool(RunState& state, Options options);
  /// Stops the sessions' work and logs out the sessions the pool logged in.
  ~SessionPool();
  SessionPool(const SessionPool&) = delete;
  SessionPool& operator=(const SessionPool&) = delete;

  /// Appends a unit in the run's order; units that must wait for it follow it (Follow).
  PoolUnit& Add(std::string name, PoolUnit::Work work, PoolUnit::Handing handing = {});

  /// Logs the further sessions in (the first time), lets them do the units added since the
  /// last run and hands each unit's output to the run's files in order; raises the first
  /// failure in that order, once the sessions' threads have ended. True when a cancel
  /// stopped it (with finish_on_cancel).
  bool Run();

  class Gate;

 private:
  struct Session;

  void Start();
  void Stop();
  void LogIn(RunState& session);
  void Hand(PoolUnit& unit);
  PoolUnit* NextUnit();
  bool AllStarted();
  bool AfterFailure(const PoolUnit& unit) const;
  void Work(Session& session);
  void Do(Session& session, PoolUnit& unit);

  friend class Gate;
  bool Unwanted(const PoolUnit* unit);

  RunState& state_;
  Options options_;
  std::vector<std::unique_ptr<PoolUnit>> units_;
  std::vector<std::unique_ptr<Session>> sessions_;
  std::vector<std::thread> threads_;
  std::mutex mutex_;
  std::condition_variable changed_;
  size_t window_ = 2;
  size_t started_ = 0;
  size_t written_ = 0;
  bool stopping_ = false;
  bool cancelled_ = false;
  const PoolUnit* failed_ = nullptr;  // the earliest failed unit in the run's order
};

}  // namespace cubesec
