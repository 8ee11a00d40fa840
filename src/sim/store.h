#pragma once
// The store of one simulated server: an SQLite database with its statements prepared once.
// Every method that changes something commits before it returns. Names are looked up
// without regard to case and kept with the case they were created with. Failures of SQLite
// are thrown as SqliteError.

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "client/access_levels.h"
#include "sim/server_image.h"
#include "sim/sqlite_db.h"

namespace cubesec::sim {

/// A user or a group.
struct Principal {
  int64_t id = 0;
  bool is_group = false;
  std::string name;
  uint16_t access = 0;
  bool supervisor = false;
  bool disabled = false;
  bool password_expired = false;
  int32_t last_login = 0;
  std::optional<std::string> password_hash;
  /// Supervisors hold every privilege: marked so, or holding the supervisor access code.
  bool IsSupervisor() const { return supervisor || access == kAccessSupervisor; }
};

struct AppRecord {
  int64_t id = 0;
  ImageApplication state;  // access and databases left empty
};

struct DbRecord {
  int64_t id = 0;
  int64_t app_id = 0;
  ImageDatabase state;  // members, calc scripts, filters and access left empty
};

struct FilterRecord {
  int64_t id = 0;
  std::string name;
  bool active = false;
  uint16_t access = 0;
};

struct CalcList {
  bool all_calcs = false;
  std::vector<std::string> names;
};

struct NamedAccess {
  std::string name;
  uint16_t access = 0;
};

/// What one group of a user brings to the user's access on a database.
struct GroupGrant {
  bool supervisor = false;
  uint16_t app_access = 0;  // on the database's application
  uint16_t db_access = 0;
};

struct StoreCounts {
  int64_t users = 0;
  int64_t groups = 0;
  int64_t applications = 0;
  int64_t databases = 0;
  int64_t filters = 0;
};

class Store {
 public:
  /// Opens a server file; with `create` false a missing file fails. A file that holds no
  /// tables yet gets the schema; a file of another kind fails.
  static std::unique_ptr<Store> OpenFile(const std::string& path, bool create);
  /// A private server held in memory.
  static std::unique_ptr<Store> OpenMemory();
  ~Store();

  /// Starts a transaction that the calls made until its Commit() join: a read one (one
  /// snapshot, and one round of file locking instead of one per statement) or a write one
  /// (the write lock taken at once, one commit for the whole call). Rolled back when it is
  /// destroyed without Commit().
  std::unique_ptr<Transaction> Begin(bool write);

  // Server-wide settings.
  ImageGlobal ReadGlobal();
  void WriteGlobal(const ImageGlobal& global);
  /// The PBKDF2 iteration count with which the server keeps passwords.
  uint32_t PasswordIterations();
  void SetPasswordIterations(uint32_t iterations);

  // Users and groups.
  std::optional<Principal> FindPrincipal(std::string_view name);
  std::optional<Principal> PrincipalById(int64_t id);
  /// Names of the users (or groups), in creation order.
  std::vector<std::string> PrincipalNames(bool groups);
  /// Users (or groups) with access to the application: an application access entry, or a
  /// database access entry on `db_id` (on any database of the application when 0).
  std::vector<std::string> PrincipalNamesWithAccess(bool groups, int64_t app_id, int64_t db_id);
  int64_t CreatePrincipal(const std::string& name, bool is_group,
                          const std::optional<std::string>& password_hash);
  /// Keeps `password_hash` (from HashPassword) as the password of the user `id`.
  void SetPasswordHash(int64_t id, const std::string& password_hash);
  /// Stores access, supervisor, disabled and password-expired of `principal`.
  void UpdatePrincipal(const Principal& principal);
  /// Deletes the principal with its memberships, access entries, filter assignments and
  /// calc lists.
  void DeletePrincipal(int64_t id);
  /// False when the user was already a member.
  bool AddMembership(int64_t group_id, int64_t user_id);
  std::vector<std::string> MembersOf(int64_t group_id);
  std::vector<std::string> GroupsOf(int64_t user_id);
  std::vector<int64_t> GroupIdsOf(int64_t user_id);

  // Applications and databases.
  std::optional<AppRecord> FindApp(std::string_view name);
  std::vector<std::string> AppNames();
  void UpdateApp(const AppRecord& app);
  std::optional<DbRecord> FindDb(int64_t app_id, std::string_view name);
  /// (application, database) pairs of one application, or of all when `app_id` is 0.
  std::vector<std::pair<std::string, std::string>> DatabasePairs(int64_t app_id);
  void UpdateDb(const DbRecord& db);
  bool HasMember(int64_t db_id, std::string_view name);
  /// The stored name of a calc script of the database.
  std::optional<std::string> FindCalcScript(int64_t db_id, std::string_view name);

  // Filters.
  std::optional<FilterRecord> FindFilter(int64_t db_id, std::string_view name);
  std::vector<std::string> FilterNames(int64_t db_id);
  std::vector<ImageFilterRow> FilterRows(int64_t filter_id);
  /// Creates the filter or replaces its flag, access and rows; its assignments stay.
  void ReplaceFilter(int64_t db_id, const std::string& name, bool active, uint16_t access,
                     const std::vector<ImageFilterRow>& rows);
  void DeleteFilter(int64_t filter_id);
  std::vector<std::string> FilterHolders(int64_t filter_id);
  /// Makes the filter the one of exactly these principals on its database.
  void SetFilterHolders(int64_t filter_id, int64_t db_id, const std::vector<int64_t>& holders);
  /// The filter of the principal on the database; empty when none.
  std::string AssignedFilter(int64_t principal_id, int64_t db_id);

  // Access.
  /// Every group and user in creation order, with its access to the application (0
  /// without an entry).
  std::vector<NamedAccess> AppAccessOfAll(int64_t app_id);
  uint16_t AppAccess(int64_t principal_id, int64_t app_id);
  void SetAppAccess(int64_t principal_id, int64_t app_id, uint16_t access);
  uint16_t DbAccess(int64_t principal_id, int64_t db_id);
  /// The grants of every group that the user belongs to, on the database and its application.
  std::vector<GroupGrant> GroupGrantsOf(int64_t user_id, int64_t app_id, int64_t db_id);
  /// Takes away the principal's database access on every database of the application; its
  /// filters and calc lists stay, as they do when the access is set to None one by one.
  void ClearDbAccessInApp(int64_t principal_id, int64_t app_id);
  /// Sets the access and, when `filter_id` is given, assigns that filter; one commit.
  void SetDbAccess(int64_t principal_id, int64_t db_id, uint16_t access,
                   std::optional<int64_t> filter_id);
  CalcList GetCalcList(int64_t principal_id, int64_t db_id);
  void SetCalcList(int64_t principal_id, int64_t db_id, const CalcList& list);

  // The whole server.
  /// Replaces everything with the image (checked beforehand with ValidateImage), in one
  /// transaction. Passwords are kept with the image's iteration count.
  void Replace(const ServerImage& image);
  /// Everything but passwords.
  ServerImage Export();
  StoreCounts Count();
  /// The database's pages as one byte string, for telling whether anything changed.
  std::string Serialize();
  /// Makes the database the one whose pages `pages` holds (from Serialize()), at the cost of
  /// one copy of them, far cheaper than Replace(): for bringing a server back to a saved
  /// state many times. The database then lives in one block of memory, byte for byte
  /// `pages`, until it grows.
  void LoadPages(std::string_view pages);
  /// True when the database's pages are byte for byte `pages`; after LoadPages() this
  /// compares them where they lie, without a copy.
  bool HasPages(std::string_view pages);

  /// Held by a session for each call on this store. Its connection serves one thread at a
  /// time: a store that several sessions share (one held in memory) takes their calls one
  /// by one, while each login to a server file has a store and a connection of its own.
  std::mutex& CallMutex() { return call_mutex_; }

 private:
  struct Statements;
  Store(std::unique_ptr<SqliteDb> db, std::shared_ptr<std::mutex> writers);
  Principal ReadPrincipal(Statement& statement);
  std::vector<std::string> Names(Statement& statement);

  std::unique_ptr<SqliteDb> db_;
  // Shared by the stores of this process that open the same file: see WritersOf.
  std::shared_ptr<std::mutex> writers_;
  std::unique_ptr<Statements> s_;
  std::mutex call_mutex_;
};

}  // namespace cubesec::sim
