#pragma once
// Decorators of the client API: a tracer that reports every call with its status, and a
// fault injector that makes chosen calls fail. Both wrap any EsbApi implementation.

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "client/esb_api.h"

namespace cubesec {

/// The unit of work that the calling thread's calls belong to while one is in scope: a run
/// with several sessions names each application's and database's unit by its place in the
/// file ("a2" an application's own, "a2.d1" a database's; a dump's runs of groups and users
/// "g0", "u3"), so that a call's place within its
/// unit is the same in every run, whichever session makes it and whenever. Calls outside any
/// unit (the run's own, in its order) belong to the unit "".
class CallUnit {
 public:
  explicit CallUnit(std::string name);
  ~CallUnit();
  CallUnit(const CallUnit&) = delete;
  CallUnit& operator=(const CallUnit&) = delete;
  /// The unit of the calling thread's calls now.
  static const std::string& Current();
  /// The name of application `app`'s own unit ("a2"), or of its database `db`'s ("a2.d1"),
  /// counted from 0 in file order; `db` is negative for the application's own.
  static std::string NameOf(size_t app, long db);

 private:
  std::string name_;
  const std::string* previous_;
};

/// Forwards every call to `inner` through Intercept(), which subclasses override.
class EsbApiDecorator : public EsbApi {
 public:
  explicit EsbApiDecorator(EsbApi& inner) : inner_(inner) {}

  EsbStatus EsbInit(const EsbInitRecord& init, EsbHandle* instance) override;
  EsbStatus EsbGetAPIVersion(uint32_t* version) override;
  EsbStatus EsbLogin(EsbHandle instance, const std::string& server, const std::string& user,
                     const std::string& password, uint16_t* app_count, EsbHandle* context) override;
  EsbStatus EsbLogout(EsbHandle context) override;
  EsbStatus EsbTerm(EsbHandle instance) override;
  EsbStatus EsbGetMessage(EsbHandle instance, int32_t* level, int32_t* number, char* buffer,
                          size_t size) override;
  EsbStatus EsbListUsers(EsbHandle context, const std::string& app, const std::string& db,
                         uint32_t* count) override;
  EsbStatus EsbListGroups(EsbHandle context, const std::string& app, const std::string& db,
                          uint32_t* count) override;
  EsbStatus EsbListApplications(EsbHandle context, uint32_t* count) override;
  EsbStatus EsbListDatabases(EsbHandle context, const std::string& app, uint32_t* count) override;
  EsbStatus EsbListFilters(EsbHandle context, const std::string& app, const std::string& db,
                           uint32_t* count) override;
  EsbStatus EsbGetGroupList(EsbHandle context, const std::string& name, uint32_t* count) override;
  EsbStatus EsbGetFilterList(EsbHandle context, const std::string& app, const std::string& db,
                             const std::string& filter, uint32_t* count) override;
  EsbStatus EsbGetCalcList(EsbHandle context, const std::string& name, const std::string& app,
                           const std::string& db, int16_t* all_calcs, uint32_t* count) override;
  EsbStatus EsbGetNextItem(EsbHandle context, uint16_t item_type, EsbItem* item) override;
  EsbStatus EsbGetGlobalState(EsbHandle context, EsbGlobalState* state) override;
  EsbStatus EsbGetUser(EsbHandle context, const std::string& name, EsbUserInfo* info) override;
  EsbStatus EsbGetGroup(EsbHandle context, const std::string& name, EsbUserInfo* info) override;
  EsbStatus EsbGetApplicationState(EsbHandle context, const std::string& app,
                                   EsbAppState* state) override;
  EsbStatus EsbGetDatabaseState(EsbHandle context, const std::string& app, const std::string& db,
                                EsbDbState* state) override;
  EsbStatus EsbGetApplicationAccess(EsbHandle context, const std::string& user,
                                    const std::string& app, uint32_t* count) override;
  EsbStatus EsbGetDatabaseAccess(EsbHandle context, const std::string& user, const std::string& app,
                                 const std::string& db, uint32_t* count) override;
  EsbStatus EsbGetFilter(EsbHandle context, const std::string& app, const std::string& db,
                         const std::string& filter, int16_t* active, uint16_t* access) override;
  EsbStatus EsbGetFilterRow(EsbHandle context, std::string* row, uint16_t* access) override;
  EsbStatus EsbSetGlobalState(EsbHandle context, const EsbGlobalState& state) override;
  EsbStatus EsbCreateUser(EsbHandle context, const std::string& name,
                          const std::string& password) override;
  EsbStatus EsbSetUser(EsbHandle context, const EsbUserInfo& info) override;
  EsbStatus EsbCreateGroup(EsbHandle context, const std::string& name) override;
  EsbStatus EsbSetGroup(EsbHandle context, const EsbUserInfo& info) override;
  EsbStatus EsbAddToGroup(EsbHandle context, const std::string& group,
                          const std::string& user) override;
  EsbStatus EsbSetApplicationState(EsbHandle context, const std::string& app,
                                   const EsbAppState& state) override;
  EsbStatus EsbSetDatabaseState(EsbHandle context, const std::string& app, const std::string& db,
                                const EsbDbState& state) override;
  EsbStatus EsbSetApplicationAccess(EsbHandle context, const EsbUserApp& access) override;
  EsbStatus EsbSetDatabaseAccess(EsbHandle context, const EsbUserDb& access) override;
  EsbStatus EsbSetFilter(EsbHandle context, const std::string& app, const std::string& db,
                         const std::string& filter, int16_t active, uint16_t access) override;
  EsbStatus EsbSetFilterRow(EsbHandle context, bool has_row, const std::string& row,
                            uint16_t access) override;
  EsbStatus EsbVerifyFilter(EsbHandle context, const std::string& app,
                            const std::string& db) override;
  EsbStatus EsbVerifyFilterRow(EsbHandle context, bool has_row, const std::string& row) override;
  EsbStatus EsbSetFilterList(EsbHandle context, const std::string& app, const std::string& db,
                             const std::string& filter, const std::string& names,
                             uint32_t count) override;
  EsbStatus EsbSetCalcList(EsbHandle context, const std::string& name, const std::string& app,
                           const std::string& db, int16_t all_calcs, const std::string& names,
                           uint32_t count) override;
  EsbStatus EsbDeleteUser(EsbHandle context, const std::string& name) override;
  EsbStatus EsbDeleteGroup(EsbHandle context, const std::string& name) override;
  EsbStatus EsbDeleteFilter(EsbHandle context, const std::string& app, const std::string& db,
                            const std::string& filter) override;

 protected:
  /// Runs one call: `name` is the API function's name, `call` performs it on the inner API.
  virtual EsbStatus Intercept(const char* name, const std::function<EsbStatus()>& call) = 0;
  EsbApi& inner_;
};

/// Hands "<CallName> <status>" to `sink` after every call, followed by " <unit>" for a call
/// within a unit (CallUnit).
class ApiTracer : public EsbApiDecorator {
 public:
  ApiTracer(EsbApi& inner, std::function<void(const std::string&)> sink)
      : EsbApiDecorator(inner), sink_(std::move(sink)) {}

 protected:
  EsbStatus Intercept(const char* name, const std::function<EsbStatus()>& call) override;

 private:
  std::function<void(const std::string&)> sink_;
};

/// One planned failure: the `occurrence`-th call (from 1) of `call_name`, or of any call
/// when `call_name` is "*", fails with `status`; counted over the whole run, or, with
/// `in_unit`, among the calls of unit `unit` alone ("" the calls outside any unit). Without
/// a message it leaves no pending message, as a library that fails without explaining
/// itself.
struct FaultSpec {
  std::string call_name;
  uint64_t occurrence = 0;
  EsbStatus status = 0;
  bool with_message = true;
  bool in_unit = false;
  std::string unit{};
};

/// Parses "CALL#N=STATUS,*#N=STATUS/nomsg,CALL@UNIT#N=STATUS,...". nullopt (with `error`) on
/// a malformed list.
std::optional<std::vector<FaultSpec>> ParseFaultSpecs(const std::string& text, std::string* error);

/// Fails the planned calls without running them, leaving the message "Injected fault"
/// (number = the injected status) that the next EsbGetMessage hands out once, or, for a
/// fault without a message, leaving the inner API's messages as they are. Every call
/// counts, EsbGetMessage included; a later real failure replaces the pending message.
class FaultInjector : public EsbApiDecorator {
 public:
  static constexpr const char* kMessage = "Injected fault";
  static constexpr int32_t kMessageLevel = 2;  // the level of an error message
  FaultInjector(EsbApi& inner, std::vector<FaultSpec> faults)
      : EsbApiDecorator(inner), faults_(std::move(faults)) {}

  EsbStatus EsbGetMessage(EsbHandle instance, int32_t* level, int32_t* number, char* buffer,
                          size_t size) override;

 protected:
  EsbStatus Intercept(const char* name, const std::function<EsbStatus()>& call) override;

 private:
  std::vector<FaultSpec> faults_;
  std::map<std::string, uint64_t> calls_by_name_;
  std::map<std::string, uint64_t> calls_by_unit_;  // by unit, and by unit and name
  uint64_t calls_ = 0;
  // The injected failure whose message is pending, by the thread of the session that
  // made the call: each session of a run asks for its own messages.
  std::map<std::thread::id, EsbStatus> pending_;
  std::mutex mutex_;  // over the counts and pending_
};

}  // namespace cubesec
