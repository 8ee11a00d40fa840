#include "client/api_decorators.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <limits>
#include <thread>

#include "tools/text.h"

namespace cubesec {

// Every call goes through Intercept() under the API function's own name.
EsbStatus EsbApiDecorator::EsbInit(const EsbInitRecord& init, EsbHandle* instance) {
  return Intercept("EsbInit", [&] { return inner_.EsbInit(init, instance); });
}

EsbStatus EsbApiDecorator::EsbGetAPIVersion(uint32_t* version) {
  return Intercept("EsbGetAPIVersion", [&] { return inner_.EsbGetAPIVersion(version); });
}

EsbStatus EsbApiDecorator::EsbLogin(EsbHandle instance, const std::string& server,
                                    const std::string& user, const std::string& password,
                                    uint16_t* app_count, EsbHandle* context) {
  return Intercept("EsbLogin", [&] {
    return inner_.EsbLogin(instance, server, user, password, app_count, context);
  });
}

EsbStatus EsbApiDecorator::EsbLogout(EsbHandle context) {
  return Intercept("EsbLogout", [&] { return inner_.EsbLogout(context); });
}

EsbStatus EsbApiDecorator::EsbTerm(EsbHandle instance) {
  return Intercept("EsbTerm", [&] { return inner_.EsbTerm(instance); });
}

EsbStatus EsbApiDecorator::EsbGetMessage(EsbHandle instance, int32_t* level, int32_t* number,
                                         char* buffer, size_t size) {
  return Intercept("EsbGetMessage",
                   [&] { return inner_.EsbGetMessage(instance, level, number, buffer, size); });
}

EsbStatus EsbApiDecorator::EsbListUsers(EsbHandle context, const std::string& app,
                                        const std::string& db, uint32_t* count) {
  return Intercept("EsbListUsers", [&] { return inner_.EsbListUsers(context, app, db, count); });
}

EsbStatus EsbApiDecorator::EsbListGroups(EsbHandle context, const std::string& app,
                                         const std::string& db, uint32_t* count) {
  return Intercept("EsbListGroups", [&] { return inner_.EsbListGroups(context, app, db, count); });
}

EsbStatus EsbApiDecorator::EsbListApplications(EsbHandle context, uint32_t* count) {
  return Intercept("EsbListApplications",
                   [&] { return inner_.EsbListApplications(context, count); });
}

EsbStatus EsbApiDecorator::EsbListDatabases(EsbHandle context, const std::string& app,
                                            uint32_t* count) {
  return Intercept("EsbListDatabases",
                   [&] { return inner_.EsbListDatabases(context, app, count); });
}

EsbStatus EsbApiDecorator::EsbListFilters(EsbHandle context, const std::string& app,
                                          const std::string& db, uint32_t* count) {
  return Intercept("EsbListFilters",
                   [&] { return inner_.EsbListFilters(context, app, db, count); });
}

EsbStatus EsbApiDecorator::EsbGetGroupList(EsbHandle context, const std::string& name,
                                           uint32_t* count) {
  return Intercept("EsbGetGroupList", [&] { return inner_.EsbGetGroupList(context, name, count); });
}

EsbStatus EsbApiDecorator::EsbGetFilterList(EsbHandle context, const std::string& app,
                                            const std::string& db, const std::string& filter,
                                            uint32_t* count) {
  return Intercept("EsbGetFilterList",
                   [&] { return inner_.EsbGetFilterList(context, app, db, filter, count); });
}

EsbStatus EsbApiDecorator::EsbGetCalcList(EsbHandle context, const std::string& name,
                                          const std::string& app, const std::string& db,
                                          int16_t* all_calcs, uint32_t* count) {
  return Intercept("EsbGetCalcList",
                   [&] { return inner_.EsbGetCalcList(context, name, app, db, all_calcs, count); });
}

EsbStatus EsbApiDecorator::EsbGetNextItem(EsbHandle context, uint16_t item_type, EsbItem* item) {
  return Intercept("EsbGetNextItem",
                   [&] { return inner_.EsbGetNextItem(context, item_type, item); });
}

EsbStatus EsbApiDecorator::EsbGetGlobalState(EsbHandle context, EsbGlobalState* state) {
  return Intercept("EsbGetGlobalState", [&] { return inner_.EsbGetGlobalState(context, state); });
}

EsbStatus EsbApiDecorator::EsbGetUser(EsbHandle context, const std::string& name,
                                      EsbUserInfo* info) {
  return Intercept("EsbGetUser", [&] { return inner_.EsbGetUser(context, name, info); });
}

EsbStatus EsbApiDecorator::EsbGetGroup(EsbHandle context, const std::string& name,
                                       EsbUserInfo* info) {
  return Intercept("EsbGetGroup", [&] { return inner_.EsbGetGroup(context, name, info); });
}

EsbStatus EsbApiDecorator::EsbGetApplicationState(EsbHandle context, const std::string& app,
                                                  EsbAppState* state) {
  return Intercept("EsbGetApplicationState",
                   [&] { return inner_.EsbGetApplicationState(context, app, state); });
}

EsbStatus EsbApiDecorator::EsbGetDatabaseState(EsbHandle context, const std::string& app,
                                               const std::string& db, EsbDbState* state) {
  return Intercept("EsbGetDatabaseState",
                   [&] { return inner_.EsbGetDatabaseState(context, app, db, state); });
}

EsbStatus EsbApiDecorator::EsbGetApplicationAccess(EsbHandle context, const std::string& user,
                                                   const std::string& app, uint32_t* count) {
  return Intercept("EsbGetApplicationAccess",
                   [&] { return inner_.EsbGetApplicationAccess(context, user, app, count); });
}

EsbStatus EsbApiDecorator::EsbGetDatabaseAccess(EsbHandle context, const std::string& user,
                                                const std::string& app, const std::string& db,
                                                uint32_t* count) {
  return Intercept("EsbGetDatabaseAccess",
                   [&] { return inner_.EsbGetDatabaseAccess(context, user, app, db, count); });
}

EsbStatus EsbApiDecorator::EsbGetFilter(EsbHandle context, const std::string& app,
                                        const std::string& db, const std::string& filter,
                                        int16_t* active, uint16_t* access) {
  return Intercept("EsbGetFilter",
                   [&] { return inner_.EsbGetFilter(context, app, db, filter, active, access); });
}

EsbStatus EsbApiDecorator::EsbGetFilterRow(EsbHandle context, std::string* row, uint16_t* access) {
  return Intercept("EsbGetFilterRow", [&] { return inner_.EsbGetFilterRow(context, row, access); });
}

EsbStatus EsbApiDecorator::EsbSetGlobalState(EsbHandle context, const EsbGlobalState& state) {
  return Intercept("EsbSetGlobalState", [&] { return inner_.EsbSetGlobalState(context, state); });
}

EsbStatus EsbApiDecorator::EsbCreateUser(EsbHandle context, const std::string& name,
                                         const std::string& password) {
  return Intercept("EsbCreateUser", [&] { return inner_.EsbCreateUser(context, name, password); });
}

EsbStatus EsbApiDecorator::EsbSetUser(EsbHandle context, const EsbUserInfo& info) {
  return Intercept("EsbSetUser", [&] { return inner_.EsbSetUser(context, info); });
}

EsbStatus EsbApiDecorator::EsbCreateGroup(EsbHandle context, const std::string& name) {
  return Intercept("EsbCreateGroup", [&] { return inner_.EsbCreateGroup(context, name); });
}

EsbStatus EsbApiDecorator::EsbSetGroup(EsbHandle context, const EsbUserInfo& info) {
  return Intercept("EsbSetGroup", [&] { return inner_.EsbSetGroup(context, info); });
}

EsbStatus EsbApiDecorator::EsbAddToGroup(EsbHandle context, const std::string& group,
                                         const std::string& user) {
  return Intercept("EsbAddToGroup", [&] { return inner_.EsbAddToGroup(context, group, user); });
}

EsbStatus EsbApiDecorator::EsbSetApplicationState(EsbHandle context, const std::string& app,
                                                  const EsbAppState& state) {
  return Intercept("EsbSetApplicationState",
                   [&] { return inner_.EsbSetApplicationState(context, app, state); });
}

EsbStatus EsbApiDecorator::EsbSetDatabaseState(EsbHandle context, const std::string& app,
                                               const std::string& db, const EsbDbState& state) {
  return Intercept("EsbSetDatabaseState",
                   [&] { return inner_.EsbSetDatabaseState(context, app, db, state); });
}

EsbStatus EsbApiDecorator::EsbSetApplicationAccess(EsbHandle context, const EsbUserApp& access) {
  return Intercept("EsbSetApplicationAccess",
                   [&] { return inner_.EsbSetApplicationAccess(context, access); });
}

EsbStatus EsbApiDecorator::EsbSetDatabaseAccess(EsbHandle context, const EsbUserDb& access) {
  return Intercept("EsbSetDatabaseAccess",
                   [&] { return inner_.EsbSetDatabaseAccess(context, access); });
}

EsbStatus EsbApiDecorator::EsbSetFilter(EsbHandle context, const std::string& app,
                                        const std::string& db, const std::string& filter,
                                        int16_t active, uint16_t access) {
  return Intercept("EsbSetFilter",
                   [&] { return inner_.EsbSetFilter(context, app, db, filter, active, access); });
}

EsbStatus EsbApiDecorator::EsbSetFilterRow(EsbHandle context, bool has_row, const std::string& row,
                                           uint16_t access) {
  return Intercept("EsbSetFilterRow",
                   [&] { return inner_.EsbSetFilterRow(context, has_row, row, access); });
}

EsbStatus EsbApiDecorator::EsbVerifyFilter(EsbHandle context, const std::string& app,
                                           const std::string& db) {
  return Intercept("EsbVerifyFilter", [&] { return inner_.EsbVerifyFilter(context, app, db); });
}

EsbStatus EsbApiDecorator::EsbVerifyFilterRow(EsbHandle context, bool has_row,
                                              const std::string& row) {
  return Intercept("EsbVerifyFilterRow",
                   [&] { return inner_.EsbVerifyFilterRow(context, has_row, row); });
}

EsbStatus EsbApiDecorator::EsbSetFilterList(EsbHandle context, const std::string& app,
                                            const std::string& db, const std::string& filter,
                                            const std::string& names, uint32_t count) {
  return Intercept("EsbSetFilterList",
                   [&] { return inner_.EsbSetFilterList(context, app, db, filter, names, count); });
}

EsbStatus EsbApiDecorator::EsbSetCalcList(EsbHandle context, const std::string& name,
                                          const std::string& app, const std::string& db,
                                          int16_t all_calcs, const std::string& names,
                                          uint32_t count) {
  return Intercept("EsbSetCalcList", [&] {
    return inner_.EsbSetCalcList(context, name, app, db, all_calcs, names, count);
  });
}

EsbStatus EsbApiDecorator::EsbDeleteUser(EsbHandle context, const std::string& name) {
  return Intercept("EsbDeleteUser", [&] { return inner_.EsbDeleteUser(context, name); });
}

EsbStatus EsbApiDecorator::EsbDeleteGroup(EsbHandle context, const std::string& name) {
  return Intercept("EsbDeleteGroup", [&] { return inner_.EsbDeleteGroup(context, name); });
}

EsbStatus EsbApiDecorator::EsbDeleteFilter(EsbHandle context, const std::string& app,
                                           const std::string& db, const std::string& filter) {
  return Intercept("EsbDeleteFilter",
                   [&] { return inner_.EsbDeleteFilter(context, app, db, filter); });
}

namespace {
// The name lives in its CallUnit; a thread keeps only a pointer to it, so that nothing
// thread-local needs destroying when a session's thread ends (the Windows build, with a
// thread-local string here, now and then freed a bad pointer as such a thread ended).
thread_local const std::string* current_unit = nullptr;
const std::string kOutsideAnyUnit;
}  // namespace

CallUnit::CallUnit(std::string name) : name_(std::move(name)), previous_(current_unit) {
  current_unit = &name_;
}

CallUnit::~CallUnit() { current_unit = previous_; }

const std::string& CallUnit::Current() {
  return current_unit != nullptr ? *current_unit : kOutsideAnyUnit;
}

std::string CallUnit::NameOf(size_t app, long db) {
  std::string name = "a" + std::to_string(app);
  if (db >= 0) name += ".d" + std::to_string(db);
  return name;
}

EsbStatus ApiTracer::Intercept(const char* name, const std::function<EsbStatus()>& call) {
  EsbStatus status = call();
  if (!sink_) return status;
  const std::string& unit = CallUnit::Current();
  sink_(std::string(name) + " " + std::to_string(status) + (unit.empty() ? "" : " " + unit));
  return status;
}

namespace {

bool ParseWhole(std::string_view text, uint64_t& value) {
  if (text.empty()) return false;
  auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc() && ptr == text.data() + text.size();
}

bool ParseStatus(std::string_view text, EsbStatus& value) {
  if (text.empty() || text.front() == '+') return false;
  auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc() && ptr == text.data() + text.size();
}

std::string TrimBlanks(std::string_view text) {
  size_t begin = text.find_first_not_of(" \t");
  if (begin == std::string_view::npos) return {};
  size_t end = text.find_last_not_of(" \t");
  return std::string(text.substr(begin, end - begin + 1));
}

}  // namespace

std::optional<std::vector<FaultSpec>> ParseFaultSpecs(const std::string& text, std::string* error) {
  std::vector<FaultSpec> faults;
  auto fail = [error](const std::string& message) {
    if (error) *error = message;
    return std::nullopt;
  };
  if (TrimBlanks(text).empty()) return faults;
  for (const std::string& piece : Split(text, ",")) {
    std::string item = TrimBlanks(piece);
    if (item.empty()) return fail("empty fault item in '" + text + "'");
    size_t hash = item.find('#');
    size_t equals = item.find('=', hash == std::string::npos ? 0 : hash);
    if (hash == std::string::npos || equals == std::string::npos || hash == 0) {
      return fail("fault '" + item + "' is not CALL#N=STATUS");
    }
    FaultSpec fault;
    fault.call_name = item.substr(0, hash);
    if (const size_t at = fault.call_name.find('@'); at != std::string::npos) {
      fault.in_unit = true;
      fault.unit = fault.call_name.substr(at + 1);
      fault.call_name.erase(at);
      if (fault.call_name.empty() || fault.unit.find_first_of(" \t=@") != std::string::npos) {
        return fail("fault '" + item + "' has a malformed call name");
      }
    }
    if (fault.call_name.find_first_of(" \t=") != std::string::npos) {
      return fail("fault '" + item + "' has a malformed call name");
    }
    if (!ParseWhole(std::string_view(item).substr(hash + 1, equals - hash - 1), fault.occurrence) ||
        fault.occurrence < 1) {
      return fail("fault '" + item + "': N must be a whole number from 1");
    }
    std::string_view status = std::string_view(item).substr(equals + 1);
    constexpr std::string_view kNoMessage = "/nomsg";
    if (status.ends_with(kNoMessage)) {
      fault.with_message = false;
      status.remove_suffix(kNoMessage.size());
    }
    if (!ParseStatus(status, fault.status) || fault.status == 0) {
      return fail("fault '" + item + "': STATUS must be a non-zero 32-bit integer");
    }
    faults.push_back(std::move(fault));
  }
  return faults;
}

EsbStatus FaultInjector::Intercept(const char* name, const std::function<EsbStatus()>& call) {
  // Sessions of one run call from threads of their own; each call counts once.
  std::unique_lock<std::mutex> lock(mutex_);
  const std::string& unit = CallUnit::Current();
  const uint64_t overall = ++calls_;
  const uint64_t of_name = ++calls_by_name_[name];
  // A unit's name never holds a tab: the two counts cannot share a key.
  const uint64_t in_unit = ++calls_by_unit_[unit];
  const uint64_t of_name_in_unit = ++calls_by_unit_[unit + "\t" + name];
  for (const FaultSpec& fault : faults_) {
    if (fault.in_unit && fault.unit != unit) continue;
    const uint64_t any = fault.in_unit ? in_unit : overall;
    const uint64_t named = fault.in_unit ? of_name_in_unit : of_name;
    bool planned = fault.call_name == "*"
                       ? fault.occurrence == any
                       : EqualsIgnoreCase(fault.call_name, name) && fault.occurrence == named;
    if (planned) {
      if (fault.with_message) {
        pending_[std::this_thread::get_id()] = fault.status;
      } else {
        pending_.erase(std::this_thread::get_id());
      }
      return fault.status;
    }
  }
  lock.unlock();
  EsbStatus status = call();
  lock.lock();
  // A later real failure has its own message in the inner API; that one is handed out.
  if (status != 0 && std::strcmp(name, "EsbGetMessage") != 0) {
    pending_.erase(std::this_thread::get_id());
  }
  return status;
}

EsbStatus FaultInjector::EsbGetMessage(EsbHandle instance, int32_t* level, int32_t* number,
                                       char* buffer, size_t size) {
  return Intercept("EsbGetMessage", [&]() -> EsbStatus {
    std::unique_lock<std::mutex> lock(mutex_);
    auto pending = pending_.find(std::this_thread::get_id());
    if (pending == pending_.end()) {
      lock.unlock();
      return inner_.EsbGetMessage(instance, level, number, buffer, size);
    }
    if (level) *level = kMessageLevel;
    if (number) *number = pending->second;
    if (buffer && size > 0) {
      size_t n = std::min(size - 1, std::strlen(kMessage));
      std::memcpy(buffer, kMessage, n);
      buffer[n] = '\0';
    }
    pending_.erase(pending);
    return 0;
  });
}

}  // namespace cubesec
