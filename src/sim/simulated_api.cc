#include "sim/simulated_api.h"

#include <cstring>
#include <utility>

#include "client/access_levels.h"
#include "sim/names.h"
#include "sim/password_hash.h"
#include "sim/row_members.h"
#include "sim/status_codes.h"

namespace cubesec::sim {

namespace {

constexpr int32_t kMessageLevelError = 2;

uint16_t UserType(const Principal& p) {
  if (p.IsSupervisor()) return kUserTypeSupervisor;
  return p.is_group ? kUserTypeGroup : kUserTypeUser;
}

void FillUserInfo(const Principal& p, EsbUserInfo* info) {
  *info = EsbUserInfo{};
  info->last_login = p.last_login;
  info->type = UserType(p);
  info->access = p.access;
  info->disabled = p.disabled ? 1 : 0;
  info->password_expired = p.password_expired ? 1 : 0;
  CopyToField(info->name, p.name);
}

// The names of a CR LF separated list, at most `count` of them.
std::vector<std::string> ListedNames(const std::string& names, uint32_t count) {
  std::vector<std::string> list = SplitNameLines(names);
  if (list.size() > count) list.resize(count);
  return list;
}

// A description field holds at most its number of characters, however many bytes they take.
template <size_t N>
std::string Description(const char (&field)[N]) {
  return std::string(CutToCharacters(FieldContent(field), kEsbDescriptionSize, N));
}

// The password just given matched a value of an older form or count: it is kept anew, the
// only moment the server has it in hand. A server file that cannot be written (a read-only
// copy) still lets its users in, with the value they had.
void KeepPasswordAnew(Store& store, const Principal& user, const std::string& password) {
  const uint32_t iterations = store.PasswordIterations();
  if (!NeedsNewHash(*user.password_hash, iterations)) return;
  std::optional<std::string> hash = HashPassword(SystemPlatform(), password, iterations);
  if (!hash) return;
  try {
    store.SetPasswordHash(user.id, *hash);
  } catch (const SqliteError&) {
  }
}

}  // namespace

SimulatedApi::SimulatedApi(std::unique_ptr<ServerSource> source)
    : source_(std::move(source)), api_version_(source_->ApiVersion()) {}

SimulatedApi::~SimulatedApi() = default;

// Plumbing ------------------------------------------------------------------------------

EsbStatus SimulatedApi::Fail(EsbHandle instance, EsbStatus status, std::string_view subject) {
  std::lock_guard<std::mutex> lock(handles_mutex_);
  auto it = instances_.find(instance);
  if (it != instances_.end()) it->second.pending = Message{status, StatusMessage(status, subject)};
  return status;
}

EsbStatus SimulatedApi::Fail(Context& c, EsbStatus status, std::string_view subject) {
  return Fail(c.instance, status, subject);
}

template <typename Body>
EsbStatus SimulatedApi::Call(EsbHandle context, Privilege privilege, Body&& body) {
  std::unique_lock<std::mutex> handles(handles_mutex_);
  auto it = contexts_.find(context);
  if (it == contexts_.end()) {
    EsbStatus status = logged_out_.count(context) ? kStatusNotLoggedIn : kStatusBadHandle;
    // The context does not tell whose message this is; every instance gets it.
    for (auto& [handle, instance] : instances_) {
      instance.pending = Message{status, StatusMessage(status, {})};
    }
    return status;
  }
  // A map's element stays where it is while others come and go; only its own session,
  // which is making this call, logs it out.
  Context& c = it->second;
  handles.unlock();
  try {
    if (privilege == Privilege::kSession) return body(c);
    std::lock_guard<std::mutex> store_lock(c.store->CallMutex());
    std::unique_ptr<Transaction> transaction = c.store->Begin(privilege == Privilege::kWrite);
    // Checked on every call: another session may have removed the right meanwhile.
    std::optional<Principal> me = c.store->PrincipalById(c.user_id);
    if (!me) return Fail(c, kStatusNotLoggedIn, {});
    if (!me->IsSupervisor()) return Fail(c, kStatusNoPrivilege, c.user);
    EsbStatus status = body(c);
    transaction->Commit();
    return status;
  } catch (const SqliteError& error) {
    return Fail(c, kStatusStoreFailure, error.what());
  }
}

EsbStatus SimulatedApi::SetList(Context& c, uint16_t type, std::vector<ListItem> items,
                                uint32_t* count) {
  c.list_type = type;
  c.list = std::move(items);
  c.next_item = 0;
  if (count != nullptr) *count = static_cast<uint32_t>(c.list.size());
  return kStatusOk;
}

EsbStatus SimulatedApi::Names(Context& c, uint16_t type, const std::vector<std::string>& names,
                              uint32_t* count) {
  std::vector<ListItem> items;
  items.reserve(names.size());
  for (const std::string& name : names) items.push_back({name, {}, {}, {}, 0, 0});
  return SetList(c, type, std::move(items), count);
}

EsbStatus SimulatedApi::FindApp(Context& c, const std::string& app, AppRecord* out) {
  std::string name = CallName(app);
  std::optional<AppRecord> found = c.store->FindApp(name);
  if (!found) return Fail(c, kStatusAppNotFound, name);
  *out = std::move(*found);
  return kStatusOk;
}

EsbStatus SimulatedApi::FindTarget(Context& c, const std::string& app, const std::string& db,
                                   Target* out) {
  if (EsbStatus status = FindApp(c, app, &out->app)) return status;
  std::string name = CallName(db);
  std::optional<DbRecord> found = c.store->FindDb(out->app.id, name);
  if (!found) return Fail(c, kStatusDbNotFound, out->app.state.name + ":" + name);
  out->db = std::move(*found);
  return kStatusOk;
}

uint16_t SimulatedApi::HighestAccess(Store& store, const Principal& p, const Target& t) {
  if (p.IsSupervisor()) return kAccessSupervisor;
  uint16_t highest = store.DbAccess(p.id, t.db.id) | t.db.state.default_access;
  uint16_t app_access = store.AppAccess(p.id, t.app.id);
  if (!p.is_group) {
    for (const GroupGrant& grant : store.GroupGrantsOf(p.id, t.app.id, t.db.id)) {
      if (grant.supervisor) return kAccessSupervisor;
      highest |= grant.db_access;
      app_access |= grant.app_access;
    }
  }
  // Application Designer on the application is designer on each of its databases.
  if (app_access & kAppAccessDesigner) highest |= kAccessAppDesign;
  return highest;
}

// Start and end ---------------------------------------------------------------------------

EsbStatus SimulatedApi::EsbInit(const EsbInitRecord&, EsbHandle* instance) {
  if (instance == nullptr) return kStatusInvalidParameter;
  std::lock_guard<std::mutex> lock(handles_mutex_);
  *instance = next_handle_++;
  instances_[*instance] = Instance{};
  return kStatusOk;
}

EsbStatus SimulatedApi::EsbGetAPIVersion(uint32_t* version) {
  if (version == nullptr) return kStatusInvalidParameter;
  *version = api_version_;
  return kStatusOk;
}

EsbStatus SimulatedApi::EsbLogin(EsbHandle instance, const std::string& server,
                                 const std::string& user, const std::string& password,
                                 uint16_t* app_count, EsbHandle* context) {
  {
    std::lock_guard<std::mutex> lock(handles_mutex_);
    if (!instances_.count(instance)) return kStatusBadHandle;
  }
  if (context == nullptr) return Fail(instance, kStatusInvalidParameter, "context");
  std::string problem;
  std::shared_ptr<Store> store = source_->Connect(server, &problem);
  // A server whose file is there but unusable is not an unreachable one: the reason counts.
  if (!store && !problem.empty()) return Fail(instance, kStatusStoreFailure, problem);
  if (!store) {
    Fail(instance, kStatusServerUnreachable, server);
    // A name that reaches nothing is most often a server that was never made, or one made in
    // another folder: the message says where it was looked for.
    if (const std::string place = source_->SearchedPlace(); !place.empty()) {
      instances_[instance].pending->text += " (searched " + place + ")";
    }
    return kStatusServerUnreachable;
  }
  std::string name = CallName(user);
  try {
    std::unique_lock<std::mutex> store_lock(store->CallMutex());
    std::optional<Principal> p = store->FindPrincipal(name);
    if (!p || p->is_group || !p->password_hash ||
        !PasswordMatches(SystemPlatform(), password, *p->password_hash)) {
      return Fail(instance, kStatusLoginFailed, name);
    }
    if (p->disabled) return Fail(instance, kStatusAccountDisabled, p->name);
    if (p->password_expired) return Fail(instance, kStatusPasswordExpired, p->name);
    ImageGlobal global = store->ReadGlobal();
    if (!global.logins && !p->IsSupervisor()) return Fail(instance, kStatusLoginsDisabled, {});
    if (app_count != nullptr) *app_count = static_cast<uint16_t>(store->AppNames().size());
    api_version_ = global.api_version;
    KeepPasswordAnew(*store, *p, password);
    store_lock.unlock();
    Context c;
    c.instance = instance;
    c.store = std::move(store);
    c.user_id = p->id;
    c.user = p->name;
    std::lock_guard<std::mutex> lock(handles_mutex_);
    *context = next_handle_++;
    contexts_[*context] = std::move(c);
    return kStatusOk;
  } catch (const SqliteError& error) {
    return Fail(instance, kStatusStoreFailure, error.what());
  }
}

EsbStatus SimulatedApi::EsbLogout(EsbHandle context) {
  return Call(context, Privilege::kSession, [&](Context&) {
    std::lock_guard<std::mutex> lock(handles_mutex_);
    contexts_.erase(context);
    logged_out_.insert(context);
    return kStatusOk;
  });
}

EsbStatus SimulatedApi::EsbTerm(EsbHandle instance) {
  std::lock_guard<std::mutex> lock(handles_mutex_);
  if (!instances_.count(instance)) return kStatusBadHandle;
  for (auto it = contexts_.begin(); it != contexts_.end();) {
    if (it->second.instance == instance) {
      logged_out_.insert(it->first);
      it = contexts_.erase(it);
    } else {
      ++it;
    }
  }
  instances_.erase(instance);
  return kStatusOk;
}

EsbStatus SimulatedApi::EsbGetMessage(EsbHandle instance, int32_t* level, int32_t* number,
                                      char* buffer, size_t size) {
  std::lock_guard<std::mutex> lock(handles_mutex_);
  auto it = instances_.find(instance);
  if (it == instances_.end()) return kStatusBadHandle;
  if (!it->second.pending) return kStatusNoMessage;
  const Message& message = *it->second.pending;
  if (level != nullptr) *level = kMessageLevelError;
  if (number != nullptr) *number = message.status;
  if (buffer != nullptr && size > 0) CopyToField(buffer, size, message.text);
  it->second.pending.reset();
  return kStatusOk;
}

// Lists ---------------------------------------------------------------------------------

EsbStatus SimulatedApi::ListPrincipals(EsbHandle context, bool groups, const std::string& app,
                                       const std::string& db, uint32_t* count) {
  return Call(context, Privilege::kRead, [&](Context& c) {
    uint16_t type = groups ? kItemGroupName : kItemUserName;
    if (CallName(app).empty()) return Names(c, type, c.store->PrincipalNames(groups), count);
    Target t;
    if (CallName(db).empty()) {
      if (EsbStatus status = FindApp(c, app, &t.app)) return status;
    } else if (EsbStatus status = FindTarget(c, app, db, &t)) {
      return status;
    }
    return Names(c, type, c.store->PrincipalNamesWithAccess(groups, t.app.id, t.db.id), count);
  });
}

EsbStatus SimulatedApi::EsbListUsers(EsbHandle context, const std::string& app,
                                     const std::string& db, uint32_t* count) {
  return ListPrincipals(context, false, app, db, count);
}

EsbStatus SimulatedApi::EsbListGroups(EsbHandle context, const std::string& app,
                                      const std::string& db, uint32_t* count) {
  return ListPrincipals(context, true, app, db, count);
}

EsbStatus SimulatedApi::EsbListApplications(EsbHandle context, uint32_t* count) {
  return Call(context, Privilege::kRead,
              [&](Context& c) { return Names(c, kItemAppName, c.store->AppNames(), count); });
}

EsbStatus SimulatedApi::EsbListDatabases(EsbHandle context, const std::string& app,
                                         uint32_t* count) {
  return Call(context, Privilege::kRead, [&](Context& c) {
    int64_t app_id = 0;
    if (!CallName(app).empty()) {
      AppRecord found;
      if (EsbStatus status = FindApp(c, app, &found)) return status;
      app_id = found.id;
    }
    std::vector<ListItem> items;
    for (auto& [app_name, db_name] : c.store->DatabasePairs(app_id)) {
      items.push_back({std::move(app_name), std::move(db_name), {}, {}, 0, 0});
    }
    return SetList(c, kItemAppDb, std::move(items), count);
  });
}

EsbStatus SimulatedApi::EsbListFilters(EsbHandle context, const std::string& app,
                                       const std::string& db, uint32_t* count) {
  return Call(context, Privilege::kRead, [&](Context& c) {
    Target t;
    if (EsbStatus status = FindTarget(c, app, db, &t)) return status;
    return Names(c, kItemFilterName, c.store->FilterNames(t.db.id), count);
  });
}

EsbStatus SimulatedApi::EsbGetGroupList(EsbHandle context, const std::string& name,
                                        uint32_t* count) {
  return Call(context, Privilege::kRead, [&](Context& c) {
    std::string wanted = CallName(name);
    std::optional<Principal> p = c.store->FindPrincipal(wanted);
    if (!p) return Fail(c, kStatusUserNotFound, wanted);
    return Names(c, kItemName, p->is_group ? c.store->MembersOf(p->id) : c.store->GroupsOf(p->id),
                 count);
  });
}

EsbStatus SimulatedApi::EsbGetFilterList(EsbHandle context, const std::string& app,
                                         const std::string& db, const std::string& filter,
                                         uint32_t* count) {
  return Call(context, Privilege::kRead, [&](Context& c) {
    Target t;
    if (EsbStatus status = FindTarget(c, app, db, &t)) return status;
    std::string name = CallName(filter);
    std::optional<FilterRecord> f = c.store->FindFilter(t.db.id, name);
    if (!f) return Fail(c, kStatusFilterNotFound, name);
    return Names(c, kItemName, c.store->FilterHolders(f->id), count);
  });
}

EsbStatus SimulatedApi::EsbGetCalcList(EsbHandle context, const std::string& name,
                                       const std::string& app, const std::string& db,
                                       int16_t* all_calcs, uint32_t* count) {
  return Call(context, Privilege::kRead, [&](Context& c) {
    std::string wanted = CallName(name);
    std::optional<Principal> p = c.store->FindPrincipal(wanted);
    if (!p) return Fail(c, kStatusUserNotFound, wanted);
    Target t;
    if (EsbStatus status = FindTarget(c, app, db, &t)) return status;
    CalcList list = c.store->GetCalcList(p->id, t.db.id);
    if (all_calcs != nullptr) *all_calcs = list.all_calcs ? 1 : 0;
    return Names(c, kItemCalcName, list.names, count);
  });
}

EsbStatus SimulatedApi::EsbGetNextItem(EsbHandle context, uint16_t item_type, EsbItem* item) {
  return Call(context, Privilege::kSession, [&](Context& c) {
    if (item == nullptr) return Fail(c, kStatusInvalidParameter, "item");
    if (c.next_item >= c.list.size()) return Fail(c, kStatusListExhausted, {});
    if (item_type != c.list_type) return Fail(c, kStatusWrongItemType, std::to_string(item_type));
    const ListItem& from = c.list[c.next_item++];
    *item = EsbItem{};
    switch (item_type) {
      case kItemAppDb:
        CopyToField(item->app_db.app, from.a);
        CopyToField(item->app_db.db, from.b);
        break;
      case kItemUserApp:
        CopyToField(item->user_app.user, from.a);
        CopyToField(item->user_app.app, from.b);
        item->user_app.access = from.x;
        break;
      case kItemUserDb:
        CopyToField(item->user_db.app, from.a);
        CopyToField(item->user_db.db, from.b);
        CopyToField(item->user_db.user, from.c);
        CopyToField(item->user_db.filter, from.d);
        item->user_db.access = from.x;
        item->user_db.max_access = from.y;
        break;
      default:
        CopyToField(item->name, from.a);
        break;
    }
    return kStatusOk;
  });
}

// Read ------------------------------------------------------------------------------------

EsbStatus SimulatedApi::EsbGetGlobalState(EsbHandle context, EsbGlobalState* state) {
  return Call(context, Privilege::kRead, [&](Context& c) {
    if (state == nullptr) return Fail(c, kStatusInvalidParameter, "state");
    ImageGlobal g = c.store->ReadGlobal();
    state->security = g.security ? 1 : 0;
    state->logins = g.logins ? 1 : 0;
    state->default_access = g.default_access;
    state->validity = g.validity;
    state->reserved = g.reserved;
    state->min_length = g.min_length;
    state->timeout = g.timeout;
    state->check_frequency = g.check_frequency;
    return kStatusOk;
  });
}

EsbStatus SimulatedApi::GetPrincipal(EsbHandle context, const std::string& name, EsbUserInfo* info,
                                     bool groups_only) {
  return Call(context, Privilege::kRead, [&](Context& c) {
    if (info == nullptr) return Fail(c, kStatusInvalidParameter, "info");
    std::string wanted = CallName(name);
    std::optional<Principal> p = c.store->FindPrincipal(wanted);
    if (groups_only && (!p || !p->is_group)) return Fail(c, kStatusGroupNotFound, wanted);
    if (!p) return Fail(c, kStatusUserNotFound, wanted);
    FillUserInfo(*p, info);
    return kStatusOk;
  });
}

EsbStatus SimulatedApi::EsbGetUser(EsbHandle context, const std::string& name, EsbUserInfo* info) {
  return GetPrincipal(context, name, info, false);
}

EsbStatus SimulatedApi::EsbGetGroup(EsbHandle context, const std::string& name, EsbUserInfo* info) {
  return GetPrincipal(context, name, info, true);
}

EsbStatus SimulatedApi::EsbGetApplicationState(EsbHandle context, const std::string& app,
                                               EsbAppState* state) {
  return Call(context, Privilege::kRead, [&](Context& c) {
    if (state == nullptr) return Fail(c, kStatusInvalidParameter, "state");
    AppRecord found;
    if (EsbStatus status = FindApp(c, app, &found)) return status;
    const ImageApplication& a = found.state;
    *state = EsbAppState{};
    CopyToField(state->description, a.description);
    state->loadable = a.loadable ? 1 : 0;
    state->autoload = a.autoload ? 1 : 0;
    state->default_access = a.default_access;
    state->connects = a.connects ? 1 : 0;
    state->commands = a.commands ? 1 : 0;
    state->updates = a.updates ? 1 : 0;
    state->lock_timeout = a.lock_timeout;
    state->lro_size = a.lro_size;
    state->security = a.security ? 1 : 0;
    return kStatusOk;
  });
}

EsbStatus SimulatedApi::EsbGetDatabaseState(EsbHandle context, const std::string& app,
                                            const std::string& db, EsbDbState* state) {
  return Call(context, Privilege::kRead, [&](Context& c) {
    if (state == nullptr) return Fail(c, kStatusInvalidParameter, "state");
    Target t;
    if (EsbStatus status = FindTarget(c, app, db, &t)) return status;
    *state = EsbDbState{};
    CopyToField(state->description, t.db.state.description);
    state->loadable = t.db.state.loadable ? 1 : 0;
    state->autoload = t.db.state.autoload ? 1 : 0;
    state->default_access = t.db.state.default_access;
    return kStatusOk;
  });
}

EsbStatus SimulatedApi::EsbGetApplicationAccess(EsbHandle context, const std::string& user,
                                                const std::string& app, uint32_t* count) {
  return Call(context, Privilege::kRead, [&](Context& c) {
    AppRecord found;
    if (EsbStatus status = FindApp(c, app, &found)) return status;
    std::vector<ListItem> items;
    std::string wanted = CallName(user);
    if (wanted.empty()) {
      for (NamedAccess& entry : c.store->AppAccessOfAll(found.id)) {
        items.push_back({std::move(entry.name), found.state.name, {}, {}, entry.access, 0});
      }
    } else {
      std::optional<Principal> p = c.store->FindPrincipal(wanted);
      if (!p) return Fail(c, kStatusUserNotFound, wanted);
      items.push_back({p->name, found.state.name, {}, {}, c.store->AppAccess(p->id, found.id), 0});
    }
    return SetList(c, kItemUserApp, std::move(items), count);
  });
}

EsbStatus SimulatedApi::EsbGetDatabaseAccess(EsbHandle context, const std::string& user,
                                             const std::string& app, const std::string& db,
                                             uint32_t* count) {
  return Call(context, Privilege::kRead, [&](Context& c) {
    Target t;
    if (EsbStatus status = FindTarget(c, app, db, &t)) return status;
    std::vector<Principal> holders;
    std::string wanted = CallName(user);
    if (wanted.empty()) {
      for (bool groups : {true, false}) {
        for (const std::string& name : c.store->PrincipalNames(groups)) {
          holders.push_back(*c.store->FindPrincipal(name));
        }
      }
    } else {
      std::optional<Principal> p = c.store->FindPrincipal(wanted);
      if (!p) return Fail(c, kStatusUserNotFound, wanted);
      holders.push_back(std::move(*p));
    }
    std::vector<ListItem> items;
    items.reserve(holders.size());
    for (const Principal& p : holders) {
      items.push_back({t.app.state.name, t.db.state.name, p.name,
                       c.store->AssignedFilter(p.id, t.db.id), c.store->DbAccess(p.id, t.db.id),
                       HighestAccess(*c.store, p, t)});
    }
    return SetList(c, kItemUserDb, std::move(items), count);
  });
}

EsbStatus SimulatedApi::EsbGetFilter(EsbHandle context, const std::string& app,
                                     const std::string& db, const std::string& filter,
                                     int16_t* active, uint16_t* access) {
  return Call(context, Privilege::kRead, [&](Context& c) {
    c.reading.reset();
    Target t;
    if (EsbStatus status = FindTarget(c, app, db, &t)) return status;
    std::string name = CallName(filter);
    std::optional<FilterRecord> f = c.store->FindFilter(t.db.id, name);
    if (!f) return Fail(c, kStatusFilterNotFound, name);
    if (active != nullptr) *active = f->active ? 1 : 0;
    if (access != nullptr) *access = f->access;
    c.reading = c.store->FilterRows(f->id);
    c.next_row = 0;
    return kStatusOk;
  });
}

EsbStatus SimulatedApi::EsbGetFilterRow(EsbHandle context, std::string* row, uint16_t* access) {
  return Call(context, Privilege::kRead, [&](Context& c) {
    if (!c.reading) return Fail(c, kStatusNoFilterRead, {});
    if (c.next_row < c.reading->size()) {
      const ImageFilterRow& next = (*c.reading)[c.next_row++];
      if (row != nullptr) *row = next.text;
      if (access != nullptr) *access = next.access;
      return kStatusOk;
    }
    // The empty row that ends the rows; the reading is over.
    if (row != nullptr) row->clear();
    if (access != nullptr) *access = 0;
    c.reading.reset();
    return kStatusOk;
  });
}

// Write ---------------------------------------------------------------------------------

EsbStatus SimulatedApi::EsbSetGlobalState(EsbHandle context, const EsbGlobalState& state) {
  return Call(context, Privilege::kWrite, [&](Context& c) {
    ImageGlobal g = c.store->ReadGlobal();
    g.security = state.security != 0;
    g.logins = state.logins != 0;
    g.default_access = state.default_access;
    g.validity = state.validity;
    g.reserved = state.reserved;
    g.min_length = state.min_length;
    g.timeout = state.timeout;
    g.check_frequency = state.check_frequency;
    c.store->WriteGlobal(g);
    return kStatusOk;
  });
}

EsbStatus SimulatedApi::EsbCreateUser(EsbHandle context, const std::string& name,
                                      const std::string& password) {
  const std::string wanted = CallName(name);
  const auto refusal = [&](Context& c) {
    if (!IsValidObjectName(wanted)) return Fail(c, kStatusInvalidName, wanted);
    if (c.store->FindPrincipal(wanted)) return Fail(c, kStatusAlreadyExists, wanted);
    int16_t min_length = c.store->ReadGlobal().min_length;
    if (min_length > 0 && password.size() < static_cast<size_t>(min_length)) {
      return Fail(c, kStatusPasswordTooShort, std::to_string(min_length));
    }
    return kStatusOk;
  };
  // The password's key takes far longer than anything else a call does. It is worked out
  // under a read, which lets other sessions write meanwhile; only the insert holds the write
  // lock, so that sessions creating users do not queue behind each other's keys.
  std::string hash;
  const EsbStatus status = Call(context, Privilege::kRead, [&](Context& c) {
    if (const EsbStatus refused = refusal(c); refused != kStatusOk) return refused;
    std::optional<std::string> key =
        HashPassword(SystemPlatform(), password, c.store->PasswordIterations());
    if (!key) return Fail(c, kStatusStoreFailure, kPasswordKeyFailure);
    hash = std::move(*key);
    return kStatusOk;
  });
  if (status != kStatusOk) return status;
  return Call(context, Privilege::kWrite, [&](Context& c) {
    // Asked again under the write lock: another session may have taken the name meanwhile.
    if (const EsbStatus refused = refusal(c); refused != kStatusOk) return refused;
    c.store->CreatePrincipal(wanted, false, hash);
    return kStatusOk;
  });
}

EsbStatus SimulatedApi::SetPrincipal(EsbHandle context, const EsbUserInfo& info, bool group) {
  return Call(context, Privilege::kWrite, [&](Context& c) {
    std::string wanted = FieldName(info.name);
    std::optional<Principal> p = c.store->FindPrincipal(wanted);
    if (!p || p->is_group != group) {
      return Fail(c, group ? kStatusGroupNotFound : kStatusUserNotFound, wanted);
    }
    // A change of access decides supervisor rights anew; a write that keeps the access (to
    // set a flag) keeps them.
    if (info.access != p->access) {
      p->access = info.access;
      p->supervisor = info.access == kAccessSupervisor;
    }
    if (!group) {
      p->disabled = info.disabled != 0;
      p->password_expired = info.password_expired != 0;
    }
    c.store->UpdatePrincipal(*p);
    return kStatusOk;
  });
}

EsbStatus SimulatedApi::EsbSetUser(EsbHandle context, const EsbUserInfo& info) {
  return SetPrincipal(context, info, false);
}

EsbStatus SimulatedApi::EsbCreateGroup(EsbHandle context, const std::string& name) {
  return Call(context, Privilege::kWrite, [&](Context& c) {
    std::string wanted = CallName(name);
    if (!IsValidObjectName(wanted)) return Fail(c, kStatusInvalidName, wanted);
    if (c.store->FindPrincipal(wanted)) return Fail(c, kStatusAlreadyExists, wanted);
    c.store->CreatePrincipal(wanted, true, std::nullopt);
    return kStatusOk;
  });
}

EsbStatus SimulatedApi::EsbSetGroup(EsbHandle context, const EsbUserInfo& info) {
  return SetPrincipal(context, info, true);
}

EsbStatus SimulatedApi::EsbAddToGroup(EsbHandle context, const std::string& group,
                                      const std::string& user) {
  return Call(context, Privilege::kWrite, [&](Context& c) {
    std::string group_name = CallName(group);
    std::optional<Principal> g = c.store->FindPrincipal(group_name);
    if (!g || !g->is_group) return Fail(c, kStatusGroupNotFound, group_name);
    std::string user_name = CallName(user);
    std::optional<Principal> u = c.store->FindPrincipal(user_name);
    if (!u || u->is_group) return Fail(c, kStatusUserNotFound, user_name);
    c.store->AddMembership(g->id, u->id);
    return kStatusOk;
  });
}

EsbStatus SimulatedApi::EsbSetApplicationState(EsbHandle context, const std::string& app,
                                               const EsbAppState& state) {
  return Call(context, Privilege::kWrite, [&](Context& c) {
    AppRecord found;
    if (EsbStatus status = FindApp(c, app, &found)) return status;
    ImageApplication& a = found.state;
    a.description = Description(state.description);
    a.loadable = state.loadable != 0;
    a.autoload = state.autoload != 0;
    a.default_access = state.default_access;
    a.connects = state.connects != 0;
    a.commands = state.commands != 0;
    a.updates = state.updates != 0;
    a.lock_timeout = state.lock_timeout;
    a.lro_size = state.lro_size;
    a.security = state.security != 0;
    c.store->UpdateApp(found);
    return kStatusOk;
  });
}

EsbStatus SimulatedApi::EsbSetDatabaseState(EsbHandle context, const std::string& app,
                                            const std::string& db, const EsbDbState& state) {
  return Call(context, Privilege::kWrite, [&](Context& c) {
    Target t;
    if (EsbStatus status = FindTarget(c, app, db, &t)) return status;
    t.db.state.description = Description(state.description);
    t.db.state.loadable = state.loadable != 0;
    t.db.state.autoload = state.autoload != 0;
    t.db.state.default_access = state.default_access;
    c.store->UpdateDb(t.db);
    return kStatusOk;
  });
}

EsbStatus SimulatedApi::EsbSetApplicationAccess(EsbHandle context, const EsbUserApp& access) {
  return Call(context, Privilege::kWrite, [&](Context& c) {
    std::string wanted = FieldName(access.user);
    std::optional<Principal> p = c.store->FindPrincipal(wanted);
    if (!p) return Fail(c, kStatusUserNotFound, wanted);
    AppRecord found;
    if (EsbStatus status = FindApp(c, FieldName(access.app), &found)) return status;
    c.store->SetAppAccess(p->id, found.id, access.access);
    // Without access to the application a name has none to its databases.
    if (access.access < kAppAccessMember) c.store->ClearDbAccessInApp(p->id, found.id);
    return kStatusOk;
  });
}

EsbStatus SimulatedApi::EsbSetDatabaseAccess(EsbHandle context, const EsbUserDb& access) {
  return Call(context, Privilege::kWrite, [&](Context& c) {
    std::string wanted = FieldName(access.user);
    std::optional<Principal> p = c.store->FindPrincipal(wanted);
    if (!p) return Fail(c, kStatusUserNotFound, wanted);
    Target t;
    if (EsbStatus status = FindTarget(c, FieldName(access.app), FieldName(access.db), &t)) {
      return status;
    }
    std::optional<int64_t> filter_id;
    std::string filter = FieldName(access.filter);
    if (!filter.empty()) {
      std::optional<FilterRecord> f = c.store->FindFilter(t.db.id, filter);
      if (!f) return Fail(c, kStatusFilterNotFound, filter);
      filter_id = f->id;
    }
    c.store->SetDbAccess(p->id, t.db.id, access.access, filter_id);
    // Access to a database is access to its application.
    if (access.access != 0 && c.store->AppAccess(p->id, t.app.id) < kAppAccessMember) {
      c.store->SetAppAccess(p->id, t.app.id, kAppAccessMember);
    }
    return kStatusOk;
  });
}

EsbStatus SimulatedApi::EsbSetFilter(EsbHandle context, const std::string& app,
                                     const std::string& db, const std::string& filter,
                                     int16_t active, uint16_t access) {
  return Call(context, Privilege::kRead, [&](Context& c) {
    c.writing.reset();
    Target t;
    if (EsbStatus status = FindTarget(c, app, db, &t)) return status;
    std::string name = CallName(filter);
    if (!IsValidObjectName(name)) return Fail(c, kStatusInvalidName, name);
    c.writing = FilterWrite{t.db.id, name, active != 0, access, {}};
    return kStatusOk;
  });
}

EsbStatus SimulatedApi::EsbSetFilterRow(EsbHandle context, bool has_row, const std::string& row,
                                        uint16_t access) {
  return Call(context, Privilege::kWrite, [&](Context& c) {
    if (!c.writing) return Fail(c, kStatusNoFilterWrite, {});
    if (has_row) {
      // A blank row would read back as the end of the rows; it names nothing, so drop it.
      if (!CallName(row).empty()) c.writing->rows.push_back({access, row});
      return kStatusOk;
    }
    FilterWrite done = std::move(*c.writing);
    c.writing.reset();
    c.store->ReplaceFilter(done.db_id, done.name, done.active, done.access, done.rows);
    return kStatusOk;
  });
}

EsbStatus SimulatedApi::EsbVerifyFilter(EsbHandle context, const std::string& app,
                                        const std::string& db) {
  return Call(context, Privilege::kRead, [&](Context& c) {
    c.verifying_db.reset();
    Target t;
    if (EsbStatus status = FindTarget(c, app, db, &t)) return status;
    c.verifying_db = t.db.id;
    c.verify_failed = false;
    return kStatusOk;
  });
}

EsbStatus SimulatedApi::EsbVerifyFilterRow(EsbHandle context, bool has_row,
                                           const std::string& row) {
  return Call(context, Privilege::kRead, [&](Context& c) {
    if (!c.verifying_db) return Fail(c, kStatusNoVerification, {});
    if (!has_row) {
      bool failed = c.verify_failed;
      c.verifying_db.reset();
      c.verify_failed = false;
      return failed ? Fail(c, kStatusFilterInvalid, {}) : kStatusOk;
    }
    for (const std::string& member : MembersNamedBy(row)) {
      if (!c.store->HasMember(*c.verifying_db, member)) {
        c.verify_failed = true;
        return Fail(c, kStatusUnknownMember, member);
      }
    }
    return kStatusOk;
  });
}

EsbStatus SimulatedApi::EsbSetFilterList(EsbHandle context, const std::string& app,
                                         const std::string& db, const std::string& filter,
                                         const std::string& names, uint32_t count) {
  return Call(context, Privilege::kWrite, [&](Context& c) {
    Target t;
    if (EsbStatus status = FindTarget(c, app, db, &t)) return status;
    std::string name = CallName(filter);
    std::optional<FilterRecord> f = c.store->FindFilter(t.db.id, name);
    if (!f) return Fail(c, kStatusFilterNotFound, name);
    std::vector<int64_t> holders;
    for (const std::string& holder : ListedNames(names, count)) {
      std::optional<Principal> p = c.store->FindPrincipal(holder);
      if (!p) return Fail(c, kStatusUserNotFound, holder);
      holders.push_back(p->id);
    }
    c.store->SetFilterHolders(f->id, t.db.id, holders);
    return kStatusOk;
  });
}

EsbStatus SimulatedApi::EsbSetCalcList(EsbHandle context, const std::string& name,
                                       const std::string& app, const std::string& db,
                                       int16_t all_calcs, const std::string& names,
                                       uint32_t count) {
  return Call(context, Privilege::kWrite, [&](Context& c) {
    std::string wanted = CallName(name);
    std::optional<Principal> p = c.store->FindPrincipal(wanted);
    if (!p) return Fail(c, kStatusUserNotFound, wanted);
    Target t;
    if (EsbStatus status = FindTarget(c, app, db, &t)) return status;
    CalcList list;
    list.all_calcs = all_calcs != 0;
    for (const std::string& calc : ListedNames(names, count)) {
      std::optional<std::string> stored = c.store->FindCalcScript(t.db.id, calc);
      if (!stored) return Fail(c, kStatusCalcNotFound, calc);
      list.names.push_back(*stored);
    }
    c.store->SetCalcList(p->id, t.db.id, list);
    return kStatusOk;
  });
}

// Delete --------------------------------------------------------------------------------

EsbStatus SimulatedApi::EsbDeleteUser(EsbHandle context, const std::string& name) {
  return Call(context, Privilege::kWrite, [&](Context& c) {
    std::string wanted = CallName(name);
    std::optional<Principal> p = c.store->FindPrincipal(wanted);
    if (!p || p->is_group) return Fail(c, kStatusUserNotFound, wanted);
    if (p->id == c.user_id) return Fail(c, kStatusCannotDeleteSelf, p->name);
    c.store->DeletePrincipal(p->id);
    return kStatusOk;
  });
}

EsbStatus SimulatedApi::EsbDeleteGroup(EsbHandle context, const std::string& name) {
  return Call(context, Privilege::kWrite, [&](Context& c) {
    std::string wanted = CallName(name);
    std::optional<Principal> p = c.store->FindPrincipal(wanted);
    if (!p || !p->is_group) return Fail(c, kStatusGroupNotFound, wanted);
    c.store->DeletePrincipal(p->id);
    return kStatusOk;
  });
}

EsbStatus SimulatedApi::EsbDeleteFilter(EsbHandle context, const std::string& app,
                                        const std::string& db, const std::string& filter) {
  return Call(context, Privilege::kWrite, [&](Context& c) {
    Target t;
    if (EsbStatus status = FindTarget(c, app, db, &t)) return status;
    std::string name = CallName(filter);
    std::optional<FilterRecord> f = c.store->FindFilter(t.db.id, name);
    if (!f) return Fail(c, kStatusFilterNotFound, name);
    c.store->DeleteFilter(f->id);
    return kStatusOk;
  });
}

}  // namespace cubesec::sim
