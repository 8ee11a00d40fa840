#include "sim/store.h"

#include <sqlite3.h>

#include <cstring>
#include <filesystem>
#include <map>

#include "sim/password_hash.h"
#include "sim/store_statements.h"

namespace cubesec::sim {

namespace {

// 2: the server's password iteration count.
constexpr int kSchemaVersion = 2;

constexpr const char* kSchema = R"sql(
CREATE TABLE server(
  id INTEGER PRIMARY KEY CHECK (id = 1),
  api_version INTEGER NOT NULL, security INTEGER NOT NULL, logins INTEGER NOT NULL,
  default_access INTEGER NOT NULL, validity INTEGER NOT NULL, reserved INTEGER NOT NULL,
  min_length INTEGER NOT NULL, timeout INTEGER NOT NULL, check_frequency INTEGER NOT NULL,
  password_iterations INTEGER NOT NULL DEFAULT 4096);
INSERT INTO server VALUES (1, 458752, 1, 1, 0, 0, 0, 0, 0, 0, 4096);
CREATE TABLE principals(
  id INTEGER PRIMARY KEY,
  name TEXT NOT NULL UNIQUE COLLATE NOCASE,
  is_group INTEGER NOT NULL,
  access INTEGER NOT NULL DEFAULT 0,
  supervisor INTEGER NOT NULL DEFAULT 0,
  disabled INTEGER NOT NULL DEFAULT 0,
  password_expired INTEGER NOT NULL DEFAULT 0,
  last_login INTEGER NOT NULL DEFAULT 0,
  password TEXT);
CREATE TABLE memberships(
  id INTEGER PRIMARY KEY,
  group_id INTEGER NOT NULL REFERENCES principals(id) ON DELETE CASCADE,
  user_id INTEGER NOT NULL REFERENCES principals(id) ON DELETE CASCADE,
  UNIQUE (group_id, user_id));
CREATE INDEX memberships_by_user ON memberships(user_id);
CREATE TABLE applications(
  id INTEGER PRIMARY KEY,
  name TEXT NOT NULL UNIQUE COLLATE NOCASE,
  description TEXT NOT NULL DEFAULT '',
  loadable INTEGER NOT NULL DEFAULT 0, autoload INTEGER NOT NULL DEFAULT 0,
  default_access INTEGER NOT NULL DEFAULT 0, connects INTEGER NOT NULL DEFAULT 0,
  commands INTEGER NOT NULL DEFAULT 0, updates INTEGER NOT NULL DEFAULT 0,
  lock_timeout INTEGER NOT NULL DEFAULT 0, lro_size INTEGER NOT NULL DEFAULT 0,
  security INTEGER NOT NULL DEFAULT 0);
CREATE TABLE databases(
  id INTEGER PRIMARY KEY,
  app_id INTEGER NOT NULL REFERENCES applications(id) ON DELETE CASCADE,
  name TEXT NOT NULL COLLATE NOCASE,
  description TEXT NOT NULL DEFAULT '',
  loadable INTEGER NOT NULL DEFAULT 0, autoload INTEGER NOT NULL DEFAULT 0,
  default_access INTEGER NOT NULL DEFAULT 0,
  UNIQUE (app_id, name));
CREATE TABLE members(
  id INTEGER PRIMARY KEY,
  db_id INTEGER NOT NULL REFERENCES databases(id) ON DELETE CASCADE,
  name TEXT NOT NULL COLLATE NOCASE);
CREATE INDEX members_by_name ON members(db_id, name);
CREATE TABLE calc_scripts(
  id INTEGER PRIMARY KEY,
  db_id INTEGER NOT NULL REFERENCES databases(id) ON DELETE CASCADE,
  name TEXT NOT NULL COLLATE NOCASE,
  UNIQUE (db_id, name));
CREATE TABLE filters(
  id INTEGER PRIMARY KEY,
  db_id INTEGER NOT NULL REFERENCES databases(id) ON DELETE CASCADE,
  name TEXT NOT NULL COLLATE NOCASE,
  active INTEGER NOT NULL DEFAULT 0,
  access INTEGER NOT NULL DEFAULT 0,
  UNIQUE (db_id, name));
CREATE TABLE filter_rows(
  filter_id INTEGER NOT NULL REFERENCES filters(id) ON DELETE CASCADE,
  seq INTEGER NOT NULL,
  access INTEGER NOT NULL,
  text TEXT NOT NULL,
  PRIMARY KEY (filter_id, seq)) WITHOUT ROWID;
CREATE TABLE filter_assignments(
  id INTEGER PRIMARY KEY,
  principal_id INTEGER NOT NULL REFERENCES principals(id) ON DELETE CASCADE,
  db_id INTEGER NOT NULL REFERENCES databases(id) ON DELETE CASCADE,
  filter_id INTEGER NOT NULL REFERENCES filters(id) ON DELETE CASCADE,
  UNIQUE (principal_id, db_id));
CREATE INDEX filter_assignments_by_filter ON filter_assignments(filter_id);
CREATE INDEX filter_assignments_by_db ON filter_assignments(db_id);
CREATE TABLE app_access(
  principal_id INTEGER NOT NULL REFERENCES principals(id) ON DELETE CASCADE,
  app_id INTEGER NOT NULL REFERENCES applications(id) ON DELETE CASCADE,
  access INTEGER NOT NULL,
  PRIMARY KEY (principal_id, app_id)) WITHOUT ROWID;
CREATE INDEX app_access_by_app ON app_access(app_id);
CREATE TABLE db_access(
  principal_id INTEGER NOT NULL REFERENCES principals(id) ON DELETE CASCADE,
  db_id INTEGER NOT NULL REFERENCES databases(id) ON DELETE CASCADE,
  access INTEGER NOT NULL DEFAULT 0,
  all_calcs INTEGER NOT NULL DEFAULT 0,
  PRIMARY KEY (principal_id, db_id)) WITHOUT ROWID;
CREATE INDEX db_access_by_db ON db_access(db_id);
CREATE TABLE calc_lists(
  principal_id INTEGER NOT NULL REFERENCES principals(id) ON DELETE CASCADE,
  db_id INTEGER NOT NULL REFERENCES databases(id) ON DELETE CASCADE,
  seq INTEGER NOT NULL,
  name TEXT NOT NULL,
  PRIMARY KEY (principal_id, db_id, seq)) WITHOUT ROWID;
CREATE INDEX calc_lists_by_db ON calc_lists(db_id);
)sql";

int64_t SchemaVersion(SqliteDb& db) {
  Statement version = db.Prepare("PRAGMA user_version");
  version.Step();
  const int64_t found = version.Int(0);
  version.Reset();
  return found;
}

// The lock that the sessions of this process take to write the server file at `path`. They
// would otherwise wait for each other's writes in SQLite's busy handler, which can only poll;
// on this lock a writer sleeps until the one before it is done. Other processes that open
// the file still meet at SQLite's lock.
std::shared_ptr<std::mutex> WritersOf(const std::string& path) {
  static std::mutex registry_mutex;
  static std::map<std::string, std::weak_ptr<std::mutex>> registry;
  std::error_code error;
  std::string key = std::filesystem::weakly_canonical(path, error).string();
  if (error) key = path;
  std::lock_guard<std::mutex> lock(registry_mutex);
  std::weak_ptr<std::mutex>& entry = registry[key];
  std::shared_ptr<std::mutex> writers = entry.lock();
  if (!writers) {
    writers = std::make_shared<std::mutex>();
    entry = writers;
  }
  return writers;
}

void Configure(SqliteDb& db, bool in_memory) {
  if (!in_memory) {
    // WAL with NORMAL: a commit survives the process being killed, and readers never wait.
    db.Exec("PRAGMA journal_mode=WAL");
    db.Exec("PRAGMA synchronous=NORMAL");
  }
  db.Exec("PRAGMA foreign_keys=ON");
  // A generated server of scale 10 is about 10 MB: keep it in the page cache.
  db.Exec("PRAGMA cache_size=-65536");
  if (SchemaVersion(db) == kSchemaVersion) return;
  db.Exec("BEGIN IMMEDIATE");
  try {
    // Read again under the write lock: another connection may have done it meanwhile.
    const int64_t found = SchemaVersion(db);
    Statement tables = db.Prepare("SELECT count(*) FROM sqlite_master");
    tables.Step();
    const int64_t table_count = tables.Int(0);
    tables.Reset();
    if (found == 0 && table_count == 0) {
      db.Exec(kSchema);
    } else if (found == 1) {
      // A server written before it had a count of its own keeps its passwords as one salted
      // digest each; they are kept anew with the default count as their users log in.
      db.Exec("ALTER TABLE server ADD COLUMN password_iterations INTEGER NOT NULL DEFAULT 4096");
    } else if (found != kSchemaVersion) {
      throw SqliteError(SQLITE_NOTADB, "the file is not a simulated server of this version");
    }
    db.Exec("PRAGMA user_version=" + std::to_string(kSchemaVersion));
    db.Exec("COMMIT");
  } catch (...) {
    db.Exec("ROLLBACK");
    throw;
  }
}

bool Flag(int64_t value) { return value != 0; }

}  // namespace

std::unique_ptr<Store> Store::OpenFile(const std::string& path, bool create) {
  auto db = std::make_unique<SqliteDb>(path, create);
  Configure(*db, false);
  return std::unique_ptr<Store>(new Store(std::move(db), WritersOf(path)));
}

std::unique_ptr<Store> Store::OpenMemory() {
  auto db = std::make_unique<SqliteDb>(":memory:", true);
  Configure(*db, true);
  return std::unique_ptr<Store>(new Store(std::move(db), nullptr));
}

Store::Store(std::unique_ptr<SqliteDb> db, std::shared_ptr<std::mutex> writers)
    : db_(std::move(db)), writers_(std::move(writers)), s_(std::make_unique<Statements>(*db_)) {}

Store::~Store() = default;

std::string Store::Serialize() {
  sqlite3_int64 size = 0;
  unsigned char* bytes = sqlite3_serialize(db_->handle(), "main", &size, 0);
  if (bytes == nullptr) throw SqliteError(SQLITE_NOMEM, "cannot serialize the server");
  std::string copy(reinterpret_cast<const char*>(bytes), static_cast<size_t>(size));
  sqlite3_free(bytes);
  return copy;
}

void Store::LoadPages(std::string_view pages) {
  const auto size = static_cast<sqlite3_int64>(pages.size());
  auto* copy = static_cast<unsigned char*>(sqlite3_malloc64(pages.size()));
  if (copy == nullptr) throw SqliteError(SQLITE_NOMEM, "cannot load the server's pages");
  std::memcpy(copy, pages.data(), pages.size());
  // SQLite owns the copy from here on, also when it refuses it.
  const int loaded =
      sqlite3_deserialize(db_->handle(), "main", copy, size, size,
                          SQLITE_DESERIALIZE_FREEONCLOSE | SQLITE_DESERIALIZE_RESIZEABLE);
  if (loaded != SQLITE_OK) throw SqliteError(loaded, sqlite3_errmsg(db_->handle()));
}

bool Store::HasPages(std::string_view pages) {
  sqlite3_int64 size = 0;
  const unsigned char* in_place =
      sqlite3_serialize(db_->handle(), "main", &size, SQLITE_SERIALIZE_NOCOPY);
  if (in_place != nullptr) {
    return static_cast<size_t>(size) == pages.size() &&
           std::memcmp(in_place, pages.data(), pages.size()) == 0;
  }
  return Serialize() == pages;
}

std::unique_ptr<Transaction> Store::Begin(bool write) {
  return std::make_unique<Transaction>(*db_, write ? s_->begin : s_->begin_read, s_->commit,
                                       s_->rollback, write ? writers_.get() : nullptr);
}

std::vector<std::string> Store::Names(Statement& statement) {
  std::vector<std::string> names;
  while (statement.Step()) names.push_back(statement.Text(0));
  return names;
}

// Settings ------------------------------------------------------------------------------

ImageGlobal Store::ReadGlobal() {
  Query q(s_->read_global);
  ImageGlobal g;
  if (!q->Step()) throw SqliteError(SQLITE_CORRUPT, "the server settings are missing");
  g.api_version = static_cast<uint32_t>(q->Int(0));
  g.security = Flag(q->Int(1));
  g.logins = Flag(q->Int(2));
  g.default_access = static_cast<uint16_t>(q->Int(3));
  g.validity = static_cast<int16_t>(q->Int(4));
  g.reserved = static_cast<int16_t>(q->Int(5));
  g.min_length = static_cast<int16_t>(q->Int(6));
  g.timeout = static_cast<int32_t>(q->Int(7));
  g.check_frequency = static_cast<int32_t>(q->Int(8));
  return g;
}

void Store::WriteGlobal(const ImageGlobal& g) {
  Query q(s_->write_global);
  q->Bind(1, int64_t{g.api_version});
  q->Bind(2, int64_t{g.security});
  q->Bind(3, int64_t{g.logins});
  q->Bind(4, int64_t{g.default_access});
  q->Bind(5, int64_t{g.validity});
  q->Bind(6, int64_t{g.reserved});
  q->Bind(7, int64_t{g.min_length});
  q->Bind(8, int64_t{g.timeout});
  q->Bind(9, int64_t{g.check_frequency});
  q->Run();
}

uint32_t Store::PasswordIterations() {
  Query q(s_->read_password_iterations);
  if (!q->Step()) throw SqliteError(SQLITE_CORRUPT, "the server settings are missing");
  const int64_t iterations = q->Int(0);
  if (!IsValidPasswordIterations(iterations)) {
    throw SqliteError(SQLITE_CORRUPT, "the server's password iteration count " +
                                          std::to_string(iterations) + " is out of range");
  }
  return static_cast<uint32_t>(iterations);
}

void Store::SetPasswordIterations(uint32_t iterations) {
  Query q(s_->write_password_iterations);
  q->Bind(1, int64_t{iterations});
  q->Run();
}

// Users and groups -------------------------------------------------------------------------

Principal Store::ReadPrincipal(Statement& st) {
  Principal p;
  p.id = st.Int(0);
  p.name = st.Text(1);
  p.is_group = Flag(st.Int(2));
  p.access = static_cast<uint16_t>(st.Int(3));
  p.supervisor = Flag(st.Int(4));
  p.disabled = Flag(st.Int(5));
  p.password_expired = Flag(st.Int(6));
  p.last_login = static_cast<int32_t>(st.Int(7));
  if (!st.IsNull(8)) p.password_hash = st.Text(8);
  return p;
}

std::optional<Principal> Store::FindPrincipal(std::string_view name) {
  Query q(s_->find_principal);
  q->Bind(1, name);
  if (!q->Step()) return std::nullopt;
  return ReadPrincipal(s_->find_principal);
}

std::optional<Principal> Store::PrincipalById(int64_t id) {
  Query q(s_->principal_by_id);
  q->Bind(1, id);
  if (!q->Step()) return std::nullopt;
  return ReadPrincipal(s_->principal_by_id);
}

std::vector<std::string> Store::PrincipalNames(bool groups) {
  Query q(s_->principal_names);
  q->Bind(1, int64_t{groups});
  return Names(s_->principal_names);
}

std::vector<std::string> Store::PrincipalNamesWithAccess(bool groups, int64_t app_id,
                                                         int64_t db_id) {
  Query q(s_->principal_names_with_access);
  q->Bind(1, int64_t{groups});
  q->Bind(2, app_id);
  q->Bind(3, db_id);
  return Names(s_->principal_names_with_access);
}

int64_t Store::CreatePrincipal(const std::string& name, bool is_group,
                               const std::optional<std::string>& password_hash) {
  Query q(s_->create_principal);
  q->Bind(1, name);
  q->Bind(2, int64_t{is_group});
  if (password_hash) {
    q->Bind(3, *password_hash);
  } else {
    q->BindNull(3);
  }
  q->Run();
  return db_->LastInsertId();
}

void Store::SetPasswordHash(int64_t id, const std::string& password_hash) {
  Query q(s_->set_password);
  q->Bind(1, id);
  q->Bind(2, password_hash);
  q->Run();
}

void Store::UpdatePrincipal(const Principal& p) {
  Query q(s_->update_principal);
  q->Bind(1, int64_t{p.access});
  q->Bind(2, int64_t{p.supervisor});
  q->Bind(3, int64_t{p.disabled});
  q->Bind(4, int64_t{p.password_expired});
  q->Bind(5, p.id);
  q->Run();
}

void Store::DeletePrincipal(int64_t id) {
  Query q(s_->delete_principal);
  q->Bind(1, id);
  q->Run();
}

bool Store::AddMembership(int64_t group_id, int64_t user_id) {
  Query q(s_->add_membership);
  q->Bind(1, group_id);
  q->Bind(2, user_id);
  q->Run();
  return db_->Changes() > 0;
}

std::vector<std::string> Store::MembersOf(int64_t group_id) {
  Query q(s_->members_of);
  q->Bind(1, group_id);
  return Names(s_->members_of);
}

std::vector<std::string> Store::GroupsOf(int64_t user_id) {
  Query q(s_->groups_of);
  q->Bind(1, user_id);
  return Names(s_->groups_of);
}

std::vector<int64_t> Store::GroupIdsOf(int64_t user_id) {
  Query q(s_->group_ids_of);
  q->Bind(1, user_id);
  std::vector<int64_t> ids;
  while (q->Step()) ids.push_back(q->Int(0));
  return ids;
}

// Applications and databases -------------------------------------------------------------

std::optional<AppRecord> Store::FindApp(std::string_view name) {
  Query q(s_->find_app);
  q->Bind(1, name);
  if (!q->Step()) return std::nullopt;
  AppRecord app;
  app.id = q->Int(0);
  ImageApplication& a = app.state;
  a.name = q->Text(1);
  a.description = q->Text(2);
  a.loadable = Flag(q->Int(3));
  a.autoload = Flag(q->Int(4));
  a.default_access = static_cast<uint16_t>(q->Int(5));
  a.connects = Flag(q->Int(6));
  a.commands = Flag(q->Int(7));
  a.updates = Flag(q->Int(8));
  a.lock_timeout = static_cast<int32_t>(q->Int(9));
  a.lro_size = static_cast<int32_t>(q->Int(10));
  a.security = Flag(q->Int(11));
  return app;
}

std::vector<std::string> Store::AppNames() {
  Query q(s_->app_names);
  return Names(s_->app_names);
}

void Store::UpdateApp(const AppRecord& app) {
  const ImageApplication& a = app.state;
  Query q(s_->update_app);
  q->Bind(1, a.description);
  q->Bind(2, int64_t{a.loadable});
  q->Bind(3, int64_t{a.autoload});
  q->Bind(4, int64_t{a.default_access});
  q->Bind(5, int64_t{a.connects});
  q->Bind(6, int64_t{a.commands});
  q->Bind(7, int64_t{a.updates});
  q->Bind(8, int64_t{a.lock_timeout});
  q->Bind(9, int64_t{a.lro_size});
  q->Bind(10, int64_t{a.security});
  q->Bind(11, app.id);
  q->Run();
}

std::optional<DbRecord> Store::FindDb(int64_t app_id, std::string_view name) {
  Query q(s_->find_db);
  q->Bind(1, app_id);
  q->Bind(2, name);
  if (!q->Step()) return std::nullopt;
  DbRecord db;
  db.id = q->Int(0);
  db.app_id = app_id;
  db.state.name = q->Text(1);
  db.state.description = q->Text(2);
  db.state.loadable = Flag(q->Int(3));
  db.state.autoload = Flag(q->Int(4));
  db.state.default_access = static_cast<uint16_t>(q->Int(5));
  return db;
}

std::vector<std::pair<std::string, std::string>> Store::DatabasePairs(int64_t app_id) {
  Statement& st = app_id == 0 ? s_->all_db_pairs : s_->db_pairs;
  Query q(st);
  if (app_id != 0) q->Bind(1, app_id);
  std::vector<std::pair<std::string, std::string>> pairs;
  while (q->Step()) pairs.emplace_back(q->Text(0), q->Text(1));
  return pairs;
}

void Store::UpdateDb(const DbRecord& db) {
  Query q(s_->update_db);
  q->Bind(1, db.state.description);
  q->Bind(2, int64_t{db.state.loadable});
  q->Bind(3, int64_t{db.state.autoload});
  q->Bind(4, int64_t{db.state.default_access});
  q->Bind(5, db.id);
  q->Run();
}

bool Store::HasMember(int64_t db_id, std::string_view name) {
  Query q(s_->has_member);
  q->Bind(1, db_id);
  q->Bind(2, name);
  return q->Step();
}

std::optional<std::string> Store::FindCalcScript(int64_t db_id, std::string_view name) {
  Query q(s_->find_calc_script);
  q->Bind(1, db_id);
  q->Bind(2, name);
  if (!q->Step()) return std::nullopt;
  return q->Text(0);
}

// Filters -------------------------------------------------------------------------------

std::optional<FilterRecord> Store::FindFilter(int64_t db_id, std::string_view name) {
  Query q(s_->find_filter);
  q->Bind(1, db_id);
  q->Bind(2, name);
  if (!q->Step()) return std::nullopt;
  FilterRecord f;
  f.id = q->Int(0);
  f.name = q->Text(1);
  f.active = Flag(q->Int(2));
  f.access = static_cast<uint16_t>(q->Int(3));
  return f;
}

std::vector<std::string> Store::FilterNames(int64_t db_id) {
  Query q(s_->filter_names);
  q->Bind(1, db_id);
  return Names(s_->filter_names);
}

std::vector<ImageFilterRow> Store::FilterRows(int64_t filter_id) {
  Query q(s_->filter_rows);
  q->Bind(1, filter_id);
  std::vector<ImageFilterRow> rows;
  while (q->Step()) {
    rows.push_back({static_cast<uint16_t>(q->Int(0)), q->Text(1)});
  }
  return rows;
}

void Store::ReplaceFilter(int64_t db_id, const std::string& name, bool active, uint16_t access,
                          const std::vector<ImageFilterRow>& rows) {
  Transaction t(*db_, s_->begin, s_->commit, s_->rollback);
  int64_t filter_id = 0;
  if (std::optional<FilterRecord> found = FindFilter(db_id, name)) {
    filter_id = found->id;
    Query update(s_->update_filter);
    update->Bind(1, int64_t{active});
    update->Bind(2, int64_t{access});
    update->Bind(3, filter_id);
    update->Run();
    Query clear(s_->delete_filter_rows);
    clear->Bind(1, filter_id);
    clear->Run();
  } else {
    Query insert(s_->insert_filter);
    insert->Bind(1, db_id);
    insert->Bind(2, name);
    insert->Bind(3, int64_t{active});
    insert->Bind(4, int64_t{access});
    insert->Run();
    filter_id = db_->LastInsertId();
  }
  int64_t seq = 0;
  for (const ImageFilterRow& row : rows) {
    Query insert(s_->insert_filter_row);
    insert->Bind(1, filter_id);
    insert->Bind(2, ++seq);
    insert->Bind(3, int64_t{row.access});
    insert->Bind(4, row.text);
    insert->Run();
  }
  t.Commit();
}

void Store::DeleteFilter(int64_t filter_id) {
  Query q(s_->delete_filter);
  q->Bind(1, filter_id);
  q->Run();
}

std::vector<std::string> Store::FilterHolders(int64_t filter_id) {
  Query q(s_->filter_holders);
  q->Bind(1, filter_id);
  return Names(s_->filter_holders);
}

void Store::SetFilterHolders(int64_t filter_id, int64_t db_id,
                             const std::vector<int64_t>& holders) {
  Transaction t(*db_, s_->begin, s_->commit, s_->rollback);
  {
    Query clear(s_->clear_filter_holders);
    clear->Bind(1, filter_id);
    clear->Run();
  }
  for (int64_t principal_id : holders) {
    Query assign(s_->assign_filter);
    assign->Bind(1, principal_id);
    assign->Bind(2, db_id);
    assign->Bind(3, filter_id);
    assign->Run();
  }
  t.Commit();
}

std::string Store::AssignedFilter(int64_t principal_id, int64_t db_id) {
  Query q(s_->assigned_filter);
  q->Bind(1, principal_id);
  q->Bind(2, db_id);
  if (!q->Step()) return {};
  return q->Text(0);
}

// Access --------------------------------------------------------------------------------

std::vector<NamedAccess> Store::AppAccessOfAll(int64_t app_id) {
  Query q(s_->app_access_of_all);
  q->Bind(1, app_id);
  std::vector<NamedAccess> entries;
  while (q->Step()) entries.push_back({q->Text(0), static_cast<uint16_t>(q->Int(1))});
  return entries;
}

uint16_t Store::AppAccess(int64_t principal_id, int64_t app_id) {
  Query q(s_->app_access);
  q->Bind(1, principal_id);
  q->Bind(2, app_id);
  return q->Step() ? static_cast<uint16_t>(q->Int(0)) : 0;
}

void Store::SetAppAccess(int64_t principal_id, int64_t app_id, uint16_t access) {
  Query q(s_->set_app_access);
  q->Bind(1, principal_id);
  q->Bind(2, app_id);
  q->Bind(3, int64_t{access});
  q->Run();
}

uint16_t Store::DbAccess(int64_t principal_id, int64_t db_id) {
  Query q(s_->db_access);
  q->Bind(1, principal_id);
  q->Bind(2, db_id);
  return q->Step() ? static_cast<uint16_t>(q->Int(0)) : 0;
}

std::vector<GroupGrant> Store::GroupGrantsOf(int64_t user_id, int64_t app_id, int64_t db_id) {
  Query q(s_->group_grants_of);
  q->Bind(1, user_id);
  q->Bind(2, app_id);
  q->Bind(3, db_id);
  std::vector<GroupGrant> grants;
  while (q->Step()) {
    grants.push_back(
        {Flag(q->Int(0)), static_cast<uint16_t>(q->Int(1)), static_cast<uint16_t>(q->Int(2))});
  }
  return grants;
}

void Store::ClearDbAccessInApp(int64_t principal_id, int64_t app_id) {
  Query q(s_->clear_db_access_in_app);
  q->Bind(1, principal_id);
  q->Bind(2, app_id);
  q->Run();
}

void Store::SetDbAccess(int64_t principal_id, int64_t db_id, uint16_t access,
                        std::optional<int64_t> filter_id) {
  Transaction t(*db_, s_->begin, s_->commit, s_->rollback);
  {
    Query q(s_->set_db_access);
    q->Bind(1, principal_id);
    q->Bind(2, db_id);
    q->Bind(3, int64_t{access});
    q->Run();
  }
  if (filter_id) {
    Query assign(s_->assign_filter);
    assign->Bind(1, principal_id);
    assign->Bind(2, db_id);
    assign->Bind(3, *filter_id);
    assign->Run();
  }
  t.Commit();
}

CalcList Store::GetCalcList(int64_t principal_id, int64_t db_id) {
  CalcList list;
  {
    Query q(s_->all_calcs);
    q->Bind(1, principal_id);
    q->Bind(2, db_id);
    if (q->Step()) list.all_calcs = Flag(q->Int(0));
  }
  Query q(s_->calc_names);
  q->Bind(1, principal_id);
  q->Bind(2, db_id);
  list.names = Names(s_->calc_names);
  return list;
}

void Store::SetCalcList(int64_t principal_id, int64_t db_id, const CalcList& list) {
  Transaction t(*db_, s_->begin, s_->commit, s_->rollback);
  {
    Query q(s_->set_all_calcs);
    q->Bind(1, principal_id);
    q->Bind(2, db_id);
    q->Bind(3, int64_t{list.all_calcs});
    q->Run();
  }
  {
    Query q(s_->clear_calc_names);
    q->Bind(1, principal_id);
    q->Bind(2, db_id);
    q->Run();
  }
  int64_t seq = 0;
  for (const std::string& name : list.names) {
    Query q(s_->insert_calc_name);
    q->Bind(1, principal_id);
    q->Bind(2, db_id);
    q->Bind(3, ++seq);
    q->Bind(4, name);
    q->Run();
  }
  t.Commit();
}

StoreCounts Store::Count() {
  Query q(s_->counts);
  StoreCounts c;
  if (q->Step()) {
    c.users = q->Int(0);
    c.groups = q->Int(1);
    c.applications = q->Int(2);
    c.databases = q->Int(3);
    c.filters = q->Int(4);
  }
  return c;
}

}  // namespace cubesec::sim
