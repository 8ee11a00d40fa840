#include "sim/sqlite_db.h"

#include <sqlite3.h>

#include <chrono>
#include <thread>
#include <utility>

namespace cubesec::sim {

namespace {

[[noreturn]] void Throw(sqlite3* db, int rc) {
  std::string what = db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
  throw SqliteError(rc, what);
}

// SQLite's own busy timeout sleeps a millisecond and more between tries, longer than a whole
// call takes: sessions writing the same file would spend their time asleep. The first tries
// come soon after each other, then every millisecond; after five seconds the call fails.
constexpr int kQuickTries = 1000;
constexpr auto kQuickPause = std::chrono::microseconds(20);
constexpr auto kSlowPause = std::chrono::milliseconds(1);
constexpr auto kGiveUpAfter = std::chrono::seconds(5);

int RetryWhileBusy(void*, int tries) {
  // A connection is used by one thread at a time, and SQLite counts the tries of one wait.
  thread_local std::chrono::steady_clock::time_point since;
  const auto now = std::chrono::steady_clock::now();
  if (tries == 0) since = now;
  if (now - since >= kGiveUpAfter) return 0;
  std::this_thread::sleep_for(tries < kQuickTries ? std::chrono::microseconds(kQuickPause)
                                                  : std::chrono::microseconds(kSlowPause));
  return 1;
}

}  // namespace

Statement::Statement(sqlite3* db, std::string_view sql) : db_(db) {
  int rc = sqlite3_prepare_v3(db, sql.data(), static_cast<int>(sql.size()),
                              SQLITE_PREPARE_PERSISTENT, &stmt_, nullptr);
  if (rc != SQLITE_OK) Throw(db, rc);
}

Statement::~Statement() {
  if (stmt_ != nullptr) sqlite3_finalize(stmt_);
}

Statement::Statement(Statement&& other) noexcept
    : db_(std::exchange(other.db_, nullptr)), stmt_(std::exchange(other.stmt_, nullptr)) {}

Statement& Statement::operator=(Statement&& other) noexcept {
  if (this != &other) {
    if (stmt_ != nullptr) sqlite3_finalize(stmt_);
    db_ = std::exchange(other.db_, nullptr);
    stmt_ = std::exchange(other.stmt_, nullptr);
  }
  return *this;
}

void Statement::Check(int rc) const {
  if (rc != SQLITE_OK) Throw(db_, rc);
}

void Statement::Bind(int index, int64_t value) { Check(sqlite3_bind_int64(stmt_, index, value)); }

void Statement::Bind(int index, std::string_view value) {
  Check(sqlite3_bind_text(stmt_, index, value.data(), static_cast<int>(value.size()),
                          SQLITE_TRANSIENT));
}

void Statement::BindNull(int index) { Check(sqlite3_bind_null(stmt_, index)); }

bool Statement::Step() {
  int rc = sqlite3_step(stmt_);
  if (rc == SQLITE_ROW) return true;
  if (rc == SQLITE_DONE) return false;
  Throw(db_, rc);
}

void Statement::Run() {
  while (Step()) {
  }
}

void Statement::Reset() {
  sqlite3_reset(stmt_);
  sqlite3_clear_bindings(stmt_);
}

int64_t Statement::Int(int column) const { return sqlite3_column_int64(stmt_, column); }

std::string Statement::Text(int column) const {
  const unsigned char* text = sqlite3_column_text(stmt_, column);
  if (text == nullptr) return {};
  return std::string(reinterpret_cast<const char*>(text),
                     static_cast<size_t>(sqlite3_column_bytes(stmt_, column)));
}

bool Statement::IsNull(int column) const {
  return sqlite3_column_type(stmt_, column) == SQLITE_NULL;
}

SqliteDb::SqliteDb(const std::string& path, bool create) {
  int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX;
  if (create) flags |= SQLITE_OPEN_CREATE;
  int rc = sqlite3_open_v2(path.c_str(), &db_, flags, nullptr);
  if (rc != SQLITE_OK) {
    std::string what = db_ != nullptr ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
    sqlite3_close(db_);
    db_ = nullptr;
    throw SqliteError(rc, what);
  }
  sqlite3_extended_result_codes(db_, 1);
  // Another connection may hold the write lock for a moment: a second tool, a second run, or
  // another session of this run, each of which has its own connection.
  sqlite3_busy_handler(db_, RetryWhileBusy, nullptr);
}

SqliteDb::~SqliteDb() {
  if (db_ != nullptr) sqlite3_close_v2(db_);
}

void SqliteDb::Exec(const std::string& sql) {
  char* error = nullptr;
  int rc = sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &error);
  if (rc != SQLITE_OK) {
    std::string what = error != nullptr ? error : sqlite3_errstr(rc);
    sqlite3_free(error);
    throw SqliteError(rc, what);
  }
}

Statement SqliteDb::Prepare(std::string_view sql) { return Statement(db_, sql); }

int64_t SqliteDb::LastInsertId() const { return sqlite3_last_insert_rowid(db_); }

int SqliteDb::Changes() const { return sqlite3_changes(db_); }

bool SqliteDb::InTransaction() const { return sqlite3_get_autocommit(db_) == 0; }

Transaction::Transaction(SqliteDb& db, Statement& begin, Statement& commit, Statement& rollback,
                         std::mutex* writers)
    : commit_(commit), rollback_(rollback), nested_(db.InTransaction()) {
  if (nested_) return;
  if (writers) writers_ = std::unique_lock<std::mutex>(*writers);
  Query q(begin);
  q->Run();
}

Transaction::~Transaction() {
  if (done_ || nested_) return;
  try {
    Query q(rollback_);
    q->Run();
  } catch (const SqliteError&) {
    // Nothing more can be done; SQLite rolls back on its own when the connection closes.
  }
}

void Transaction::Commit() {
  if (nested_) return;
  Query q(commit_);
  q->Run();
  done_ = true;
}

}  // namespace cubesec::sim
