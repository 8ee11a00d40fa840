#pragma once
// A thin owner of one SQLite connection and its prepared statements. Failures are thrown as
// SqliteError; the server turns them into its storage-failure status.

#include <cstdint>
#include <mutex>
#include <stdexcept>
#include <string>
#include <string_view>

struct sqlite3;
struct sqlite3_stmt;

namespace cubesec::sim {

class SqliteError : public std::runtime_error {
 public:
  SqliteError(int code, const std::string& what) : std::runtime_error(what), code_(code) {}
  int code() const { return code_; }

 private:
  int code_;
};

/// A statement prepared once and reused: Bind..., Step until false, then Reset (done by
/// the Query guard below).
class Statement {
 public:
  Statement() = default;
  Statement(sqlite3* db, std::string_view sql);
  ~Statement();
  Statement(Statement&& other) noexcept;
  Statement& operator=(Statement&& other) noexcept;
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  void Bind(int index, int64_t value);
  void Bind(int index, std::string_view value);
  void BindNull(int index);
  /// True while a row is available.
  bool Step();
  /// Steps a statement that returns no rows.
  void Run();
  void Reset();
  int64_t Int(int column) const;
  std::string Text(int column) const;
  bool IsNull(int column) const;

 private:
  void Check(int rc) const;
  sqlite3* db_ = nullptr;
  sqlite3_stmt* stmt_ = nullptr;
};

/// Resets the statement when the guard goes out of scope, also on an exception.
class Query {
 public:
  explicit Query(Statement& statement) : statement_(statement) {}
  ~Query() { statement_.Reset(); }
  Query(const Query&) = delete;
  Query& operator=(const Query&) = delete;
  Statement* operator->() { return &statement_; }

 private:
  Statement& statement_;
};

class SqliteDb {
 public:
  /// Opens `path` (":memory:" for a private in-memory database). With `create` false a
  /// missing file fails.
  SqliteDb(const std::string& path, bool create);
  ~SqliteDb();
  SqliteDb(const SqliteDb&) = delete;
  SqliteDb& operator=(const SqliteDb&) = delete;

  void Exec(const std::string& sql);
  Statement Prepare(std::string_view sql);
  int64_t LastInsertId() const;
  int Changes() const;
  /// True inside an explicit transaction.
  bool InTransaction() const;
  sqlite3* handle() { return db_; }

 private:
  sqlite3* db_ = nullptr;
};

/// Runs `begin` on construction, ROLLBACK on destruction unless Commit() was called. Inside
/// a transaction that is already open it does nothing: the outer one commits or rolls back.
class Transaction {
 public:
  /// `writers`, when given, is held from the start to the end of the transaction (unless it
  /// is nested in another).
  Transaction(SqliteDb& db, Statement& begin, Statement& commit, Statement& rollback,
              std::mutex* writers = nullptr);
  ~Transaction();
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;
  void Commit();

 private:
  std::unique_lock<std::mutex> writers_;  // first: released after the rollback
  Statement& commit_;
  Statement& rollback_;
  bool done_ = false;
  bool nested_ = false;
};

}  // namespace cubesec::sim
