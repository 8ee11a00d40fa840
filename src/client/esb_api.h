#pragma once
// The server's client API, as a C library would offer it: every call returns an int32_t
// status (0 for success), records carry fixed-width text fields. The simulated server
// implements this interface; a binding to a real client library could too. Decorators
// (ApiTracer, FaultInjector) wrap any implementation.

#include <cstdint>
#include <string>

namespace cubesec {

using EsbStatus = int32_t;
using EsbHandle = uint32_t;  // Instance and context handles; 0 means none.

// Field sizes, in characters, without the terminating NUL that each field also has room for.
inline constexpr size_t kEsbNameSize = 120;         // user, group, application, database, filter
inline constexpr size_t kEsbDescriptionSize = 320;  // application and database descriptions

/// The bytes of a text field of `characters` characters: texts are UTF-8, so a character takes
/// up to four bytes, and the terminating NUL one more.
constexpr size_t EsbTextField(size_t characters) { return 4 * characters + 1; }
inline constexpr size_t kEsbPathSize = 1024;    // paths of the start record
inline constexpr size_t kEsbMessageSize = 500;  // message texts

inline constexpr uint32_t kEsbApiVersion = 0x00070000;     // asked for by InitAPI
inline constexpr uint32_t kEsbMinApiVersion = 0x00050000;  // the oldest library accepted

/// Item types of EsbGetNextItem. Each list call fills a list of one type.
enum EsbItemType : uint16_t {
  kItemUserName = 1,     // EsbListUsers: EsbItem::name
  kItemGroupName = 2,    // EsbListGroups: EsbItem::name
  kItemAppName = 3,      // EsbListApplications: EsbItem::name
  kItemName = 4,         // EsbGetGroupList, EsbGetFilterList: EsbItem::name
  kItemAppDb = 7,        // EsbListDatabases: EsbItem::app_db
  kItemUserApp = 11,     // EsbGetApplicationAccess: EsbItem::user_app
  kItemFilterName = 12,  // EsbListFilters: EsbItem::name
  kItemUserDb = 13,      // EsbGetDatabaseAccess: EsbItem::user_db
  kItemCalcName = 14,    // EsbGetCalcList: EsbItem::name
};

/// User types of EsbUserInfo::type.
inline constexpr uint16_t kUserTypeUser = 1;
inline constexpr uint16_t kUserTypeGroup = 2;
inline constexpr uint16_t kUserTypeSupervisor = 3;

/// The start record handed to EsbInit.
struct EsbInitRecord {
  uint32_t version = 0;
  uint16_t max_handles = 0;
  char local_path[kEsbPathSize + 1] = {};
  char message_file[kEsbPathSize + 1] = {};
  uint32_t reserved1 = 0;
  uint16_t client_error = 0;  // 1: the library reports errors through messages
  uint16_t error_stack = 0;   // depth of the message stack
  uint32_t reserved2 = 0;
};

/// Server-wide security settings (EsbGetGlobalState / EsbSetGlobalState).
struct EsbGlobalState {
  int16_t security = 0;         // security enabled
  int16_t logins = 0;           // logins allowed
  uint16_t default_access = 0;  // access code
  int16_t validity = 0;         // password validity, days
  int16_t reserved = 0;         // not shown by the utility, kept as read
  int16_t min_length = 0;       // minimum password length, characters
  int32_t timeout = 0;          // inactivity time-out, seconds
  int32_t check_frequency = 0;  // inactivity check frequency, seconds
};

/// A user or a group (EsbGetUser, EsbGetGroup, EsbSetUser, EsbSetGroup).
struct EsbUserInfo {
  int32_t last_login = 0;         // seconds since 1970-01-01 UTC; 0 when unknown
  uint16_t type = 0;              // kUserType*
  uint16_t access = 0;            // access code
  uint16_t disabled = 0;          // 1: account disabled
  uint16_t password_expired = 0;  // 1: must change the password at the next login
  char name[EsbTextField(kEsbNameSize)] = {};
};

/// Application state (EsbGetApplicationState / EsbSetApplicationState).
struct EsbAppState {
  char description[EsbTextField(kEsbDescriptionSize)] = {};
  int16_t loadable = 0;
  int16_t autoload = 0;
  uint16_t default_access = 0;
  int16_t connects = 0;
  int16_t commands = 0;
  int16_t updates = 0;
  int32_t lock_timeout = 0;  // not shown by the utility
  int32_t lro_size = 0;      // not shown by the utility
  int16_t security = 0;
};

/// Database state (EsbGetDatabaseState / EsbSetDatabaseState).
struct EsbDbState {
  char description[EsbTextField(kEsbDescriptionSize)] = {};
  int16_t loadable = 0;
  int16_t autoload = 0;
  uint16_t default_access = 0;
};

struct EsbAppDb {
  char app[EsbTextField(kEsbNameSize)] = {};
  char db[EsbTextField(kEsbNameSize)] = {};
};

/// Access of a user or group to an application.
struct EsbUserApp {
  char user[EsbTextField(kEsbNameSize)] = {};
  char app[EsbTextField(kEsbNameSize)] = {};
  uint16_t access = 0;
};

/// Access of a user or group to a database. On reading, max_access is the highest access
/// that the name holds there (its own, its groups', the database default).
struct EsbUserDb {
  char app[EsbTextField(kEsbNameSize)] = {};
  char db[EsbTextField(kEsbNameSize)] = {};
  char user[EsbTextField(kEsbNameSize)] = {};
  char filter[EsbTextField(kEsbNameSize)] = {};  // blank or empty: no filter
  uint16_t access = 0;
  uint16_t max_access = 0;
};

/// One item of a server-side list; which member is filled depends on the item type.
struct EsbItem {
  char name[EsbTextField(kEsbNameSize)] = {};
  EsbAppDb app_db;
  EsbUserApp user_app;
  EsbUserDb user_db;
};

/// The client API. Every call returns 0 for success; on failure the library keeps a
/// message that EsbGetMessage hands out once.
class EsbApi {
 public:
  virtual ~EsbApi() = default;

  // Start and end.
  virtual EsbStatus EsbInit(const EsbInitRecord& init, EsbHandle* instance) = 0;
  virtual EsbStatus EsbGetAPIVersion(uint32_t* version) = 0;
  virtual EsbStatus EsbLogin(EsbHandle instance, const std::string& server, const std::string& user,
                             const std::string& password, uint16_t* app_count,
                             EsbHandle* context) = 0;
  virtual EsbStatus EsbLogout(EsbHandle context) = 0;
  virtual EsbStatus EsbTerm(EsbHandle instance) = 0;

  // Messages.
  /// Copies the pending message (at most `size` - 1 characters and a NUL) and clears it.
  /// Fails when no message is pending.
  virtual EsbStatus EsbGetMessage(EsbHandle instance, int32_t* level, int32_t* number, char* buffer,
                                  size_t size) = 0;

  // Lists: each fills the context's one server-side list and reports its item count.
  virtual EsbStatus EsbListUsers(EsbHandle context, const std::string& app, const std::string& db,
                                 uint32_t* count) = 0;
  virtual EsbStatus EsbListGroups(EsbHandle context, const std::string& app, const std::string& db,
                                  uint32_t* count) = 0;
  virtual EsbStatus EsbListApplications(EsbHandle context, uint32_t* count) = 0;
  /// Databases of `app`, or of every application when `app` is empty.
  virtual EsbStatus EsbListDatabases(EsbHandle context, const std::string& app,
                                     uint32_t* count) = 0;
  virtual EsbStatus EsbListFilters(EsbHandle context, const std::string& app, const std::string& db,
                                   uint32_t* count) = 0;
  /// The members of a group, or the groups of a user.
  virtual EsbStatus EsbGetGroupList(EsbHandle context, const std::string& name,
                                    uint32_t* count) = 0;
  /// The users and groups that a filter is assigned to.
  virtual EsbStatus EsbGetFilterList(EsbHandle context, const std::string& app,
                                     const std::string& db, const std::string& filter,
                                     uint32_t* count) = 0;
  /// The calc scripts that `name` may run on app/db; names follow as kItemCalcName items.
  virtual EsbStatus EsbGetCalcList(EsbHandle context, const std::string& name,
                                   const std::string& app, const std::string& db,
                                   int16_t* all_calcs, uint32_t* count) = 0;
  /// Hands out the next item of the list; fails on a wrong type or when none is left.
  virtual EsbStatus EsbGetNextItem(EsbHandle context, uint16_t item_type, EsbItem* item) = 0;

  // Read.
  virtual EsbStatus EsbGetGlobalState(EsbHandle context, EsbGlobalState* state) = 0;
  /// Finds a user or a group.
  virtual EsbStatus EsbGetUser(EsbHandle context, const std::string& name, EsbUserInfo* info) = 0;
  /// Finds groups only.
  virtual EsbStatus EsbGetGroup(EsbHandle context, const std::string& name, EsbUserInfo* info) = 0;
  virtual EsbStatus EsbGetApplicationState(EsbHandle context, const std::string& app,
                                           EsbAppState* state) = 0;
  virtual EsbStatus EsbGetDatabaseState(EsbHandle context, const std::string& app,
                                        const std::string& db, EsbDbState* state) = 0;
  /// With an empty user: every user and group, as kItemUserApp items.
  virtual EsbStatus EsbGetApplicationAccess(EsbHandle context, const std::string& user,
                                            const std::string& app, uint32_t* count) = 0;
  /// One kItemUserDb item for `user` on app/db.
  virtual EsbStatus EsbGetDatabaseAccess(EsbHandle context, const std::string& user,
                                         const std::string& app, const std::string& db,
                                         uint32_t* count) = 0;
  /// Starts reading a filter; its rows follow through EsbGetFilterRow.
  virtual EsbStatus EsbGetFilter(EsbHandle context, const std::string& app, const std::string& db,
                                 const std::string& filter, int16_t* active, uint16_t* access) = 0;
  /// The next row of the filter being read; an empty row ends the rows.
  virtual EsbStatus EsbGetFilterRow(EsbHandle context, std::string* row, uint16_t* access) = 0;

  // Write.
  virtual EsbStatus EsbSetGlobalState(EsbHandle context, const EsbGlobalState& state) = 0;
  virtual EsbStatus EsbCreateUser(EsbHandle context, const std::string& name,
                                  const std::string& password) = 0;
  /// Stores access, disabled and password-expired flags of the user named in `info`.
  virtual EsbStatus EsbSetUser(EsbHandle context, const EsbUserInfo& info) = 0;
  virtual EsbStatus EsbCreateGroup(EsbHandle context, const std::string& name) = 0;
  virtual EsbStatus EsbSetGroup(EsbHandle context, const EsbUserInfo& info) = 0;
  /// Idempotent.
  virtual EsbStatus EsbAddToGroup(EsbHandle context, const std::string& group,
                                  const std::string& user) = 0;
  virtual EsbStatus EsbSetApplicationState(EsbHandle context, const std::string& app,
                                           const EsbAppState& state) = 0;
  virtual EsbStatus EsbSetDatabaseState(EsbHandle context, const std::string& app,
                                        const std::string& db, const EsbDbState& state) = 0;
  virtual EsbStatus EsbSetApplicationAccess(EsbHandle context, const EsbUserApp& access) = 0;
  /// Sets the access and, when the filter field is not blank, the filter assignment.
  virtual EsbStatus EsbSetDatabaseAccess(EsbHandle context, const EsbUserDb& access) = 0;
  /// Starts replacing a filter's definition (creating it when new); rows follow through
  /// EsbSetFilterRow, and EsbSetFilterRow with `has_row` false ends them.
  virtual EsbStatus EsbSetFilter(EsbHandle context, const std::string& app, const std::string& db,
                                 const std::string& filter, int16_t active, uint16_t access) = 0;
  virtual EsbStatus EsbSetFilterRow(EsbHandle context, bool has_row, const std::string& row,
                                    uint16_t access) = 0;
  /// Starts verifying rows against app/db's outline.
  virtual EsbStatus EsbVerifyFilter(EsbHandle context, const std::string& app,
                                    const std::string& db) = 0;
  /// Verifies one row; with `has_row` false ends the verification, failing when any row
  /// since EsbVerifyFilter failed.
  virtual EsbStatus EsbVerifyFilterRow(EsbHandle context, bool has_row, const std::string& row) = 0;
  /// Assigns the filter to exactly the listed names (CRLF-separated) on that database.
  virtual EsbStatus EsbSetFilterList(EsbHandle context, const std::string& app,
                                     const std::string& db, const std::string& filter,
                                     const std::string& names, uint32_t count) = 0;
  /// Sets the calc scripts of `name` on app/db (names CRLF-separated).
  virtual EsbStatus EsbSetCalcList(EsbHandle context, const std::string& name,
                                   const std::string& app, const std::string& db, int16_t all_calcs,
                                   const std::string& names, uint32_t count) = 0;

  // Delete.
  virtual EsbStatus EsbDeleteUser(EsbHandle context, const std::string& name) = 0;
  virtual EsbStatus EsbDeleteGroup(EsbHandle context, const std::string& name) = 0;
  virtual EsbStatus EsbDeleteFilter(EsbHandle context, const std::string& app,
                                    const std::string& db, const std::string& filter) = 0;
};

}  // namespace cubesec
