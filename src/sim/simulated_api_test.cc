#include "sim/simulated_api.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <thread>
#include <vector>

#include "sim/names.h"
#include "sim/status_codes.h"
#include "sim/test_server.h"
#include "tools/text.h"

namespace cubesec::sim {
namespace {

using ::testing::ElementsAre;

std::string Repeat(const std::string& text, size_t times) {
  std::string out;
  for (size_t i = 0; i < times; ++i) out += text;
  return out;
}

EsbUserApp UserApp(const std::string& user, const std::string& app, uint16_t access) {
  EsbUserApp record;
  std::memset(record.user, ' ', kEsbNameSize);  // padded fields, as the restore fills them
  std::memcpy(record.user, user.data(), user.size());
  std::strncpy(record.app, app.c_str(), kEsbNameSize);
  record.access = access;
  return record;
}

EsbUserDb UserDb(const std::string& user, const std::string& app, const std::string& db,
                 const std::string& filter, uint16_t access) {
  EsbUserDb record;
  std::strncpy(record.user, user.c_str(), kEsbNameSize);
  std::strncpy(record.app, app.c_str(), kEsbNameSize);
  std::strncpy(record.db, db.c_str(), kEsbNameSize);
  std::memset(record.filter, ' ', kEsbNameSize);
  std::memcpy(record.filter, filter.data(), filter.size());
  record.access = access;
  return record;
}

// Start, login and handles ------------------------------------------------------------------

TEST_F(SimApiTest, ApiVersionComesFromTheFixture) {
  uint32_t version = 0;
  ASSERT_EQ(api_->EsbGetAPIVersion(&version), 0);
  EXPECT_EQ(version, 458753u);
  auto defaulted = MakeInMemoryApi("{}");
  ASSERT_EQ(defaulted->EsbGetAPIVersion(&version), 0);
  EXPECT_EQ(version, kEsbApiVersion);
}

TEST_F(SimApiTest, LoginRefusesWrongCredentialsAndLockedAccounts) {
  EsbHandle context = 0;
  EXPECT_EQ(Login("admin", "wrong", &context), kStatusLoginFailed);
  std::string text;
  EXPECT_EQ(Message(&text), kStatusLoginFailed);
  EXPECT_NE(text.find("admin"), std::string::npos);
  EXPECT_EQ(Login("nobody", "pw", &context), kStatusLoginFailed);
  EXPECT_EQ(Login("Analysts", "", &context), kStatusLoginFailed);  // groups cannot log in
  EXPECT_EQ(Login("carol", "carol-pw", &context), kStatusAccountDisabled);
  EXPECT_EQ(Login("dave", "dave-pw", &context), kStatusPasswordExpired);
  EXPECT_EQ(Login("ADMIN", "pw-admin", &context), 0);  // the name without regard to case
  EXPECT_EQ(Login("admin", "PW-ADMIN", &context), kStatusLoginFailed);
  uint16_t apps = 0;
  EXPECT_EQ(api_->EsbLogin(instance_ + 100, "x", "admin", "pw-admin", &apps, &context),
            kStatusBadHandle);
  ASSERT_EQ(api_->EsbLogin(instance_, "x", "admin", "pw-admin", &apps, &context), 0);
  EXPECT_EQ(apps, 2);
}

TEST_F(SimApiTest, LoginsNotAllowedStopAllButSupervisors) {
  EsbGlobalState state;
  ASSERT_EQ(api_->EsbGetGlobalState(context_, &state), 0);
  state.logins = 0;
  ASSERT_EQ(api_->EsbSetGlobalState(context_, state), 0);
  EsbHandle context = 0;
  EXPECT_EQ(Login("bob", "bob-pw", &context), kStatusLoginsDisabled);
  EXPECT_EQ(Login("boss", "boss-pw", &context), 0);
}

TEST_F(SimApiTest, SecurityCallsNeedASupervisor) {
  EsbHandle bob = 0;
  ASSERT_EQ(Login("bob", "bob-pw", &bob), 0);
  uint32_t count = 0;
  EXPECT_EQ(api_->EsbListUsers(bob, "", "", &count), kStatusNoPrivilege);
  EXPECT_EQ(Message(), kStatusNoPrivilege);
  EsbUserInfo info;
  EXPECT_EQ(api_->EsbGetUser(bob, "bob", &info), kStatusNoPrivilege);
  EXPECT_EQ(api_->EsbCreateGroup(bob, "Mine"), kStatusNoPrivilege);
  // A user marked supervisor without the supervisor access code is one too.
  EsbHandle boss = 0;
  ASSERT_EQ(Login("boss", "boss-pw", &boss), 0);
  EXPECT_EQ(api_->EsbListUsers(boss, "", "", &count), 0);
  // Losing the right during the session takes effect at once.
  ASSERT_EQ(api_->EsbGetUser(context_, "boss", &info), 0);
  info.access = 0x0111;
  ASSERT_EQ(api_->EsbSetUser(context_, info), 0);
  EXPECT_EQ(api_->EsbListUsers(boss, "", "", &count), kStatusNoPrivilege);
}

TEST_F(SimApiTest, LoggedOutAndUnknownHandlesFailWithTheirOwnStatus) {
  uint32_t count = 0;
  EXPECT_EQ(api_->EsbListUsers(9999, "", "", &count), kStatusBadHandle);
  EXPECT_EQ(Message(), kStatusBadHandle);
  ASSERT_EQ(api_->EsbLogout(context_), 0);
  EXPECT_EQ(api_->EsbListUsers(context_, "", "", &count), kStatusNotLoggedIn);
  EXPECT_EQ(api_->EsbLogout(context_), kStatusNotLoggedIn);
  EsbHandle again = 0;
  ASSERT_EQ(Login("admin", "pw-admin", &again), 0);
  EXPECT_NE(again, context_);
  ASSERT_EQ(api_->EsbTerm(instance_), 0);
  EXPECT_EQ(api_->EsbListUsers(again, "", "", &count), kStatusNotLoggedIn);
  EXPECT_EQ(api_->EsbTerm(instance_), kStatusBadHandle);
  int32_t level = 0, number = 0;
  char buffer[10];
  EXPECT_EQ(api_->EsbGetMessage(instance_, &level, &number, buffer, sizeof buffer),
            kStatusBadHandle);
}

TEST_F(SimApiTest, MessageIsHandedOutOnceAndCutToTheBuffer) {
  EXPECT_EQ(Message(), -1);  // nothing pending
  EsbUserInfo info;
  ASSERT_EQ(api_->EsbGetUser(context_, "ghost", &info), kStatusUserNotFound);
  int32_t level = 0, number = 0;
  char buffer[8];
  std::memset(buffer, 'x', sizeof buffer);
  ASSERT_EQ(api_->EsbGetMessage(instance_, &level, &number, buffer, sizeof buffer), 0);
  EXPECT_EQ(number, kStatusUserNotFound);
  EXPECT_EQ(level, 2);
  EXPECT_STREQ(buffer, "User gh");
  EXPECT_EQ(api_->EsbGetMessage(instance_, &level, &number, buffer, sizeof buffer),
            kStatusNoMessage);
}

// Lists ---------------------------------------------------------------------------------

TEST_F(SimApiTest, ListsComeInCreationOrderItemByItem) {
  uint32_t count = 0;
  ASSERT_EQ(api_->EsbListUsers(context_, "", "", &count), 0);
  EXPECT_THAT(Items(kItemUserName, count),
              ElementsAre("admin", "Alice", "bob", "carol", "dave", "boss"));
  ASSERT_EQ(api_->EsbListGroups(context_, "", "", &count), 0);
  EXPECT_THAT(Items(kItemGroupName, count), ElementsAre("Analysts", "Planners", "Idle"));
  ASSERT_EQ(api_->EsbListApplications(context_, &count), 0);
  EXPECT_THAT(Items(kItemAppName, count), ElementsAre("Sample", "Archive"));
  ASSERT_EQ(api_->EsbListDatabases(context_, "", &count), 0);
  EXPECT_THAT(Items(kItemAppDb, count), ElementsAre("Sample/Basic", "Sample/Interim"));
  ASSERT_EQ(api_->EsbListDatabases(context_, "archive", &count), 0);
  EXPECT_EQ(count, 0u);
  ASSERT_EQ(api_->EsbListFilters(context_, "Sample", "Basic", &count), 0);
  EXPECT_THAT(Items(kItemFilterName, count), ElementsAre("EastRead", "Spare"));
}

TEST_F(SimApiTest, NextItemFailsOnAWrongTypeAndAtTheEnd) {
  uint32_t count = 0;
  ASSERT_EQ(api_->EsbListGroups(context_, "", "", &count), 0);
  EsbItem item;
  EXPECT_EQ(api_->EsbGetNextItem(context_, kItemUserName, &item), kStatusWrongItemType);
  EXPECT_EQ(Message(), kStatusWrongItemType);
  // The wrong type took nothing from the list.
  EXPECT_THAT(Items(kItemGroupName, 3), ElementsAre("Analysts", "Planners", "Idle"));
  EXPECT_EQ(api_->EsbGetNextItem(context_, kItemGroupName, &item), kStatusListExhausted);
  EXPECT_EQ(Message(), kStatusListExhausted);
  // A new list replaces the old one.
  ASSERT_EQ(api_->EsbListGroups(context_, "", "", &count), 0);
  ASSERT_EQ(api_->EsbListApplications(context_, &count), 0);
  EXPECT_EQ(api_->EsbGetNextItem(context_, kItemGroupName, &item), kStatusWrongItemType);
  EXPECT_THAT(Items(kItemAppName, count), ElementsAre("Sample", "Archive"));
}

TEST_F(SimApiTest, EachSessionHasItsOwnList) {
  EsbHandle other = 0;
  ASSERT_EQ(Login("admin", "pw-admin", &other), 0);
  uint32_t count = 0;
  ASSERT_EQ(api_->EsbListGroups(context_, "", "", &count), 0);
  ASSERT_EQ(api_->EsbListApplications(other, &count), 0);
  EXPECT_THAT(Items(kItemGroupName, 1), ElementsAre("Analysts"));
}

TEST_F(SimApiTest, ListsOfMissingObjectsFailWithTheNamedStatuses) {
  uint32_t count = 0;
  EXPECT_EQ(api_->EsbListDatabases(context_, "Nope", &count), kStatusAppNotFound);
  EXPECT_EQ(api_->EsbListFilters(context_, "Nope", "Basic", &count), kStatusAppNotFound);
  EXPECT_EQ(api_->EsbListFilters(context_, "Sample", "Nope", &count), kStatusDbNotFound);
  std::string text;
  EXPECT_EQ(Message(&text), kStatusDbNotFound);
  EXPECT_EQ(text, "Database Sample:Nope does not exist");
  EXPECT_EQ(api_->EsbGetGroupList(context_, "Nope", &count), kStatusUserNotFound);
  EXPECT_EQ(api_->EsbGetFilterList(context_, "Sample", "Basic", "Nope", &count),
            kStatusFilterNotFound);
}

TEST_F(SimApiTest, UsersAndGroupsOfAnApplicationAreThoseWithAccess) {
  uint32_t count = 0;
  ASSERT_EQ(api_->EsbListUsers(context_, "Sample", "", &count), 0);
  EXPECT_THAT(Items(kItemUserName, count), ElementsAre("Alice"));
  ASSERT_EQ(api_->EsbListGroups(context_, "Sample", "Basic", &count), 0);
  EXPECT_THAT(Items(kItemGroupName, count), ElementsAre("Analysts", "Planners"));
  ASSERT_EQ(api_->EsbListGroups(context_, "Sample", "Interim", &count), 0);
  EXPECT_THAT(Items(kItemGroupName, count), ElementsAre("Analysts", "Planners"));  // app access
  EXPECT_EQ(api_->EsbListUsers(context_, "Sample", "Nope", &count), kStatusDbNotFound);
}

TEST_F(SimApiTest, GroupListGivesMembersOfAGroupAndGroupsOfAUser) {
  uint32_t count = 0;
  ASSERT_EQ(api_->EsbGetGroupList(context_, "ANALYSTS", &count), 0);
  EXPECT_THAT(Items(kItemName, count), ElementsAre("Alice", "bob"));
  ASSERT_EQ(api_->EsbGetGroupList(context_, "alice", &count), 0);
  EXPECT_THAT(Items(kItemName, count), ElementsAre("Analysts", "Planners"));
  ASSERT_EQ(api_->EsbGetGroupList(context_, "Idle", &count), 0);
  EXPECT_EQ(count, 0u);
}

// Users and groups --------------------------------------------------------------------------

TEST_F(SimApiTest, GetUserFindsUsersAndGroupsGetGroupOnlyGroups) {
  EsbUserInfo info;
  ASSERT_EQ(api_->EsbGetUser(context_, "BOB", &info), 0);
  EXPECT_STREQ(info.name, "bob");
  EXPECT_EQ(info.type, kUserTypeUser);
  EXPECT_EQ(info.last_login, 1790000000);
  ASSERT_EQ(api_->EsbGetUser(context_, "planners", &info), 0);
  EXPECT_STREQ(info.name, "Planners");
  EXPECT_EQ(info.type, kUserTypeGroup);
  ASSERT_EQ(api_->EsbGetUser(context_, "admin", &info), 0);
  EXPECT_EQ(info.type, kUserTypeSupervisor);
  ASSERT_EQ(api_->EsbGetUser(context_, "boss", &info), 0);
  EXPECT_EQ(info.type, kUserTypeSupervisor);
  EXPECT_EQ(info.access, 0);
  ASSERT_EQ(api_->EsbGetUser(context_, "carol", &info), 0);
  EXPECT_EQ(info.disabled, 1);
  ASSERT_EQ(api_->EsbGetUser(context_, "dave", &info), 0);
  EXPECT_EQ(info.password_expired, 1);
  EXPECT_EQ(api_->EsbGetUser(context_, "ghost", &info), kStatusUserNotFound);
  EXPECT_EQ(api_->EsbGetGroup(context_, "bob", &info), kStatusGroupNotFound);
  EXPECT_EQ(api_->EsbGetGroup(context_, "ghost", &info), kStatusGroupNotFound);
  ASSERT_EQ(api_->EsbGetGroup(context_, "idle", &info), 0);
  EXPECT_STREQ(info.name, "Idle");
}

TEST_F(SimApiTest, CreateUserChecksNameNamespaceAndPasswordLength) {
  EXPECT_EQ(api_->EsbCreateUser(context_, "ALICE", "long-enough"), kStatusAlreadyExists);
  EXPECT_EQ(api_->EsbCreateUser(context_, "analysts", "long-enough"), kStatusAlreadyExists);
  EXPECT_EQ(api_->EsbCreateUser(context_, "Eve", "abc"), kStatusPasswordTooShort);
  std::string text;
  EXPECT_EQ(Message(&text), kStatusPasswordTooShort);
  EXPECT_NE(text.find('4'), std::string::npos);
  EXPECT_EQ(api_->EsbCreateUser(context_, "", "long-enough"), kStatusInvalidName);
  EXPECT_EQ(api_->EsbCreateUser(context_, std::string(121, 'x'), "long-enough"),
            kStatusInvalidName);
  // Limits count characters, not bytes; control characters name nothing.
  const std::string u_umlaut = "\u00fc";
  struct NameCase {
    std::string name;
    bool valid;
  };
  const NameCase cases[] = {
      {Repeat(u_umlaut, 61), true},
      {Repeat(u_umlaut, 120), true},
      {Repeat("\U0001F600", 120), true},  // four bytes each
      {Repeat(u_umlaut, 121), false},
      {"Jos\u00e9 M\u00fcller, R&D", true},
      {"tab\tin", false},
      {"line\nbreak", false},
      {"del\x7f", false},
      {"next\u0085line", false},  // a control character of the second range
      {"nbsp\u00a0ok", true},
      {"Caf\xe9", true},  // bytes that are no UTF-8 stay as they are
      {"cut\xc3", true},
  };
  for (const NameCase& c : cases) {
    SCOPED_TRACE(c.name);
    EsbStatus expected = c.valid ? 0 : kStatusInvalidName;
    EXPECT_EQ(api_->EsbCreateGroup(context_, c.name), expected);
    EXPECT_EQ(api_->EsbCreateUser(context_, "u" + c.name, "long-enough"),
              c.valid && CharacterCount(c.name) < kEsbNameSize ? 0 : kStatusInvalidName);
    if (!c.valid) continue;
    // The whole name comes back through the fixed-width fields.
    EsbUserInfo info;
    ASSERT_EQ(api_->EsbGetGroup(context_, c.name, &info), 0);
    EXPECT_EQ(std::string(info.name), c.name);
    uint32_t count = 0;
    ASSERT_EQ(api_->EsbListGroups(context_, "", "", &count), 0);
    EXPECT_EQ(Items(kItemGroupName, count).back(), c.name);
  }
  ASSERT_EQ(api_->EsbCreateUser(context_, "Eve", "abcd"), 0);
  EsbUserInfo info;
  ASSERT_EQ(api_->EsbGetUser(context_, "eve", &info), 0);
  EXPECT_STREQ(info.name, "Eve");
  EXPECT_EQ(info.type, kUserTypeUser);
  EXPECT_EQ(info.access, 0);
  EsbHandle eve = 0;
  EXPECT_EQ(Login("Eve", "abcd", &eve), 0);
  EXPECT_EQ(api_->EsbCreateGroup(context_, "EVE"), kStatusAlreadyExists);
  ASSERT_EQ(api_->EsbCreateGroup(context_, "Testers"), 0);
  ASSERT_EQ(api_->EsbGetGroup(context_, "testers", &info), 0);
  EXPECT_EQ(info.type, kUserTypeGroup);
}

TEST_F(SimApiTest, SetUserStoresAccessAndFlags) {
  EsbUserInfo info;
  ASSERT_EQ(api_->EsbGetUser(context_, "bob", &info), 0);
  info.access = 0x1000;
  info.disabled = 1;
  info.password_expired = 1;
  std::strcpy(info.name, "BOB");
  ASSERT_EQ(api_->EsbSetUser(context_, info), 0);
  EsbUserInfo read;
  ASSERT_EQ(api_->EsbGetUser(context_, "bob", &read), 0);
  EXPECT_EQ(read.access, 0x1000);
  EXPECT_EQ(read.disabled, 1);
  EXPECT_EQ(read.password_expired, 1);
  EXPECT_STREQ(read.name, "bob");
  info.access = 0xFFFF;
  ASSERT_EQ(api_->EsbSetUser(context_, info), 0);
  ASSERT_EQ(api_->EsbGetUser(context_, "bob", &read), 0);
  EXPECT_EQ(read.type, kUserTypeSupervisor);
  // Setting a flag alone keeps a supervisor a supervisor.
  ASSERT_EQ(api_->EsbGetUser(context_, "boss", &info), 0);
  info.password_expired = 1;
  ASSERT_EQ(api_->EsbSetUser(context_, info), 0);
  ASSERT_EQ(api_->EsbGetUser(context_, "boss", &read), 0);
  EXPECT_EQ(read.type, kUserTypeSupervisor);
  EXPECT_EQ(read.password_expired, 1);
  std::strcpy(info.name, "Analysts");
  EXPECT_EQ(api_->EsbSetUser(context_, info), kStatusUserNotFound);
  std::strcpy(info.name, "bob");
  EXPECT_EQ(api_->EsbSetGroup(context_, info), kStatusGroupNotFound);
  ASSERT_EQ(api_->EsbGetGroup(context_, "Idle", &info), 0);
  info.access = 0x0111;
  ASSERT_EQ(api_->EsbSetGroup(context_, info), 0);
  ASSERT_EQ(api_->EsbGetGroup(context_, "Idle", &read), 0);
  EXPECT_EQ(read.access, 0x0111);
}

TEST_F(SimApiTest, AddToGroupIsIdempotentAndNamesWhatIsMissing) {
  ASSERT_EQ(api_->EsbAddToGroup(context_, "idle", "BOB"), 0);
  ASSERT_EQ(api_->EsbAddToGroup(context_, "Idle", "bob"), 0);
  uint32_t count = 0;
  ASSERT_EQ(api_->EsbGetGroupList(context_, "Idle", &count), 0);
  EXPECT_THAT(Items(kItemName, count), ElementsAre("bob"));
  EXPECT_EQ(api_->EsbAddToGroup(context_, "Nope", "bob"), kStatusGroupNotFound);
  EXPECT_EQ(api_->EsbAddToGroup(context_, "bob", "Alice"), kStatusGroupNotFound);
  EXPECT_EQ(api_->EsbAddToGroup(context_, "Idle", "ghost"), kStatusUserNotFound);
  EXPECT_EQ(api_->EsbAddToGroup(context_, "Idle", "Planners"), kStatusUserNotFound);
}

TEST_F(SimApiTest, DeletingAUserRemovesEverythingItHeld) {
  ASSERT_EQ(api_->EsbDeleteUser(context_, "alice"), 0);
  uint32_t count = 0;
  ASSERT_EQ(api_->EsbGetGroupList(context_, "Analysts", &count), 0);
  EXPECT_THAT(Items(kItemName, count), ElementsAre("bob"));
  ASSERT_EQ(api_->EsbGetApplicationAccess(context_, "", "Sample", &count), 0);
  std::vector<std::string> entries = Items(kItemUserApp, count);
  for (const std::string& entry : entries) EXPECT_EQ(entry.find("Alice"), std::string::npos);
  // Recreated under the same name, nothing of the old user comes back.
  ASSERT_EQ(api_->EsbCreateUser(context_, "Alice", "alice-pw"), 0);
  ASSERT_EQ(api_->EsbGetGroupList(context_, "Alice", &count), 0);
  EXPECT_EQ(count, 0u);
  int16_t all = 0;
  ASSERT_EQ(api_->EsbGetCalcList(context_, "Alice", "Sample", "Basic", &all, &count), 0);
  EXPECT_EQ(all, 0);
  ASSERT_EQ(api_->EsbGetDatabaseAccess(context_, "Alice", "Sample", "Basic", &count), 0);
  EsbItem item;
  ASSERT_EQ(api_->EsbGetNextItem(context_, kItemUserDb, &item), 0);
  EXPECT_EQ(item.user_db.access, 0);
  EXPECT_EQ(api_->EsbDeleteUser(context_, "Analysts"), kStatusUserNotFound);
  EXPECT_EQ(api_->EsbDeleteUser(context_, "ghost"), kStatusUserNotFound);
  EXPECT_EQ(api_->EsbDeleteUser(context_, "ADMIN"), kStatusCannotDeleteSelf);
}

TEST_F(SimApiTest, DeletingAGroupRemovesMembershipsAccessAndAssignments) {
  ASSERT_EQ(api_->EsbDeleteGroup(context_, "ANALYSTS"), 0);
  uint32_t count = 0;
  ASSERT_EQ(api_->EsbGetGroupList(context_, "bob", &count), 0);
  EXPECT_EQ(count, 0u);
  ASSERT_EQ(api_->EsbGetFilterList(context_, "Sample", "Basic", "EastRead", &count), 0);
  EXPECT_EQ(count, 0u);
  // bob's highest access no longer includes the group's.
  ASSERT_EQ(api_->EsbGetDatabaseAccess(context_, "bob", "Sample", "Basic", &count), 0);
  EsbItem item;
  ASSERT_EQ(api_->EsbGetNextItem(context_, kItemUserDb, &item), 0);
  EXPECT_EQ(item.user_db.max_access, 0);
  EXPECT_EQ(api_->EsbDeleteGroup(context_, "bob"), kStatusGroupNotFound);
  EXPECT_EQ(api_->EsbDeleteGroup(context_, "Analysts"), kStatusGroupNotFound);
}

// Global, application and database state ------------------------------------------------------

TEST_F(SimApiTest, GlobalStateIsReadAndWrittenWhole) {
  EsbGlobalState state;
  ASSERT_EQ(api_->EsbGetGlobalState(context_, &state), 0);
  EXPECT_EQ(state.security, 1);
  EXPECT_EQ(state.validity, 30);
  EXPECT_EQ(state.reserved, 7);
  EXPECT_EQ(state.min_length, 4);
  EXPECT_EQ(state.timeout, 600);
  EXPECT_EQ(state.check_frequency, 60);
  EsbGlobalState written{0, 1, 0x0111, -3, 12, 9, 123456, 789};
  ASSERT_EQ(api_->EsbSetGlobalState(context_, written), 0);
  EsbGlobalState read;
  ASSERT_EQ(api_->EsbGetGlobalState(context_, &read), 0);
  EXPECT_EQ(std::memcmp(&read, &written, sizeof read), 0);
  uint32_t version = 0;
  ASSERT_EQ(api_->EsbGetAPIVersion(&version), 0);
  EXPECT_EQ(version, 458753u);  // not part of the global state
}

TEST_F(SimApiTest, ApplicationStateKeepsTheDescriptionAsSent) {
  EsbAppState state;
  ASSERT_EQ(api_->EsbGetApplicationState(context_, "SAMPLE", &state), 0);
  EXPECT_STREQ(state.description, "Sample app");
  EXPECT_EQ(state.loadable, 1);
  EXPECT_EQ(state.lock_timeout, 30);
  EXPECT_EQ(state.lro_size, 5);
  EXPECT_EQ(state.security, 1);
  std::memset(state.description, ' ', kEsbDescriptionSize);
  std::memcpy(state.description, "Padded", 6);
  state.autoload = 1;
  state.updates = 1;
  state.default_access = 0x0111;
  ASSERT_EQ(api_->EsbSetApplicationState(context_, "sample", state), 0);
  EsbAppState read;
  ASSERT_EQ(api_->EsbGetApplicationState(context_, "Sample", &read), 0);
  EXPECT_EQ(std::string(read.description), "Padded" + std::string(kEsbDescriptionSize - 6, ' '));
  EXPECT_EQ(read.autoload, 1);
  EXPECT_EQ(read.updates, 1);
  EXPECT_EQ(read.default_access, 0x0111);
  EXPECT_EQ(read.lock_timeout, 30);
  EXPECT_EQ(api_->EsbGetApplicationState(context_, "Nope", &read), kStatusAppNotFound);
  EXPECT_EQ(api_->EsbSetApplicationState(context_, "Nope", read), kStatusAppNotFound);
}

TEST_F(SimApiTest, DescriptionsHoldTheirCharactersWhateverTheyTake) {
  const std::string controls = "tab\there\r\nbell\a\x1b[0m ";
  struct DescriptionCase {
    std::string sent, kept;
  };
  const DescriptionCase cases[] = {
      {controls, controls},
      {Repeat("\u00fc", 320), Repeat("\u00fc", 320)},
      {Repeat("\u00fc", 321), Repeat("\u00fc", 320)},  // the field holds 320 characters
      {"x" + Repeat("\U0001F600", 319) + "\u00e9", "x" + Repeat("\U0001F600", 319)},
  };
  for (const DescriptionCase& c : cases) {
    SCOPED_TRACE(c.sent);
    EsbAppState app;
    CopyToField(app.description, c.sent);
    ASSERT_EQ(api_->EsbSetApplicationState(context_, "Sample", app), 0);
    ASSERT_EQ(api_->EsbGetApplicationState(context_, "Sample", &app), 0);
    EXPECT_EQ(std::string(app.description), c.kept);
    EsbDbState db;
    CopyToField(db.description, c.sent);
    ASSERT_EQ(api_->EsbSetDatabaseState(context_, "Sample", "Basic", db), 0);
    ASSERT_EQ(api_->EsbGetDatabaseState(context_, "Sample", "Basic", &db), 0);
    EXPECT_EQ(std::string(db.description), c.kept);
  }
}

TEST_F(SimApiTest, DatabaseStateIsReadAndWritten) {
  EsbDbState state;
  ASSERT_EQ(api_->EsbGetDatabaseState(context_, "Sample", "BASIC", &state), 0);
  EXPECT_STREQ(state.description, "Basic db");
  state.default_access = 0x0113;
  state.autoload = 1;
  std::strcpy(state.description, "Changed");
  ASSERT_EQ(api_->EsbSetDatabaseState(context_, "sample", "basic", state), 0);
  EsbDbState read;
  ASSERT_EQ(api_->EsbGetDatabaseState(context_, "Sample", "Basic", &read), 0);
  EXPECT_STREQ(read.description, "Changed");
  EXPECT_EQ(read.default_access, 0x0113);
  EXPECT_EQ(read.autoload, 1);
  EXPECT_EQ(api_->EsbGetDatabaseState(context_, "Nope", "Basic", &read), kStatusAppNotFound);
  EXPECT_EQ(api_->EsbGetDatabaseState(context_, "Sample", "Nope", &read), kStatusDbNotFound);
  EXPECT_EQ(api_->EsbSetDatabaseState(context_, "Archive", "Basic", read), kStatusDbNotFound);
}

// Filters -----------------------------------------------------------------------------------

TEST_F(SimApiTest, FilterRowsAreReadInOrderThenAnEmptyRow) {
  int16_t active = 0;
  uint16_t access = 0;
  ASSERT_EQ(api_->EsbGetFilter(context_, "Sample", "Basic", "eastread", &active, &access), 0);
  EXPECT_EQ(active, 1);
  EXPECT_EQ(access, 273);
  std::string row;
  ASSERT_EQ(api_->EsbGetFilterRow(context_, &row, &access), 0);
  EXPECT_EQ(row, "@IDESCENDANTS(\"East\")");
  EXPECT_EQ(access, 273);
  ASSERT_EQ(api_->EsbGetFilterRow(context_, &row, &access), 0);
  EXPECT_EQ(row, "\"West\"");
  EXPECT_EQ(access, 0);
  ASSERT_EQ(api_->EsbGetFilterRow(context_, &row, &access), 0);
  EXPECT_EQ(row, "");
  EXPECT_EQ(api_->EsbGetFilterRow(context_, &row, &access), kStatusNoFilterRead);
  EXPECT_EQ(api_->EsbGetFilter(context_, "Sample", "Basic", "Nope", &active, &access),
            kStatusFilterNotFound);
  EXPECT_EQ(api_->EsbGetFilterRow(context_, &row, &access), kStatusNoFilterRead);
}

TEST_F(SimApiTest, SetFilterReplacesTheDefinitionAndKeepsAssignments) {
  ASSERT_EQ(api_->EsbSetFilter(context_, "Sample", "Basic", "EASTREAD", 0, 0x0111), 0);
  ASSERT_EQ(api_->EsbSetFilterRow(context_, true, "\"Sales\"", 0x0113), 0);
  ASSERT_EQ(api_->EsbSetFilterRow(context_, true, "   ", 0x0111), 0);  // blank: dropped
  ASSERT_EQ(api_->EsbSetFilterRow(context_, true, "\t\"East\",\x1b\r", 0x0111), 0);
  ASSERT_EQ(api_->EsbSetFilterRow(context_, false, "", 0), 0);
  int16_t active = 1;
  uint16_t access = 0;
  ASSERT_EQ(api_->EsbGetFilter(context_, "Sample", "Basic", "EastRead", &active, &access), 0);
  EXPECT_EQ(active, 0);
  EXPECT_EQ(access, 0x0111);
  std::string row;
  ASSERT_EQ(api_->EsbGetFilterRow(context_, &row, &access), 0);
  EXPECT_EQ(row, "\"Sales\"");
  EXPECT_EQ(access, 0x0113);
  ASSERT_EQ(api_->EsbGetFilterRow(context_, &row, &access), 0);
  EXPECT_EQ(row, "\t\"East\",\x1b\r");  // control characters kept as sent
  ASSERT_EQ(api_->EsbGetFilterRow(context_, &row, &access), 0);
  EXPECT_EQ(row, "");
  uint32_t count = 0;
  ASSERT_EQ(api_->EsbListFilters(context_, "Sample", "Basic", &count), 0);
  EXPECT_THAT(Items(kItemFilterName, count), ElementsAre("EastRead", "Spare"));  // name kept
  ASSERT_EQ(api_->EsbGetFilterList(context_, "Sample", "Basic", "EastRead", &count), 0);
  EXPECT_THAT(Items(kItemName, count), ElementsAre("Analysts"));
}

TEST_F(SimApiTest, SetFilterCreatesANewFilterOnlyWhenItsRowsEnd) {
  ASSERT_EQ(api_->EsbSetFilter(context_, "Sample", "Interim", "Fresh", 1, 0), 0);
  uint32_t count = 0;
  ASSERT_EQ(api_->EsbListFilters(context_, "Sample", "Interim", &count), 0);
  EXPECT_EQ(count, 0u);
  ASSERT_EQ(api_->EsbSetFilterRow(context_, false, "", 0), 0);
  ASSERT_EQ(api_->EsbListFilters(context_, "Sample", "Interim", &count), 0);
  EXPECT_THAT(Items(kItemFilterName, count), ElementsAre("Fresh"));
  EXPECT_EQ(api_->EsbSetFilterRow(context_, true, "x", 0), kStatusNoFilterWrite);
  EXPECT_EQ(api_->EsbSetFilter(context_, "Sample", "Nope", "F", 1, 0), kStatusDbNotFound);
  EXPECT_EQ(api_->EsbSetFilterRow(context_, false, "", 0), kStatusNoFilterWrite);
  EXPECT_EQ(api_->EsbSetFilter(context_, "Sample", "Basic", "", 1, 0), kStatusInvalidName);
}

TEST_F(SimApiTest, SetFilterListAssignsExactlyTheListedNames) {
  ASSERT_EQ(api_->EsbSetFilterList(context_, "Sample", "Basic", "Spare", "ALICE\r\nbob", 2), 0);
  uint32_t count = 0;
  ASSERT_EQ(api_->EsbGetFilterList(context_, "Sample", "Basic", "Spare", &count), 0);
  EXPECT_THAT(Items(kItemName, count), ElementsAre("Alice", "bob"));
  // Moving Analysts onto Spare takes it off EastRead: one filter per name and database.
  ASSERT_EQ(api_->EsbSetFilterList(context_, "Sample", "Basic", "Spare", "Analysts", 1), 0);
  ASSERT_EQ(api_->EsbGetFilterList(context_, "Sample", "Basic", "Spare", &count), 0);
  EXPECT_THAT(Items(kItemName, count), ElementsAre("Analysts"));
  ASSERT_EQ(api_->EsbGetFilterList(context_, "Sample", "Basic", "EastRead", &count), 0);
  EXPECT_EQ(count, 0u);
  // An unknown name changes nothing.
  EXPECT_EQ(api_->EsbSetFilterList(context_, "Sample", "Basic", "Spare", "bob\r\nghost", 2),
            kStatusUserNotFound);
  ASSERT_EQ(api_->EsbGetFilterList(context_, "Sample", "Basic", "Spare", &count), 0);
  EXPECT_THAT(Items(kItemName, count), ElementsAre("Analysts"));
  ASSERT_EQ(api_->EsbSetFilterList(context_, "Sample", "Basic", "Spare", "", 0), 0);
  ASSERT_EQ(api_->EsbGetFilterList(context_, "Sample", "Basic", "Spare", &count), 0);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(api_->EsbSetFilterList(context_, "Sample", "Basic", "Nope", "", 0),
            kStatusFilterNotFound);
}

TEST_F(SimApiTest, DeleteFilterRemovesItsAssignments) {
  ASSERT_EQ(api_->EsbDeleteFilter(context_, "Sample", "Basic", "eastread"), 0);
  uint32_t count = 0;
  ASSERT_EQ(api_->EsbGetDatabaseAccess(context_, "Analysts", "Sample", "Basic", &count), 0);
  EsbItem item;
  ASSERT_EQ(api_->EsbGetNextItem(context_, kItemUserDb, &item), 0);
  EXPECT_STREQ(item.user_db.filter, "");
  EXPECT_EQ(item.user_db.access, 273);  // the access itself stays
  EXPECT_EQ(api_->EsbDeleteFilter(context_, "Sample", "Basic", "EastRead"), kStatusFilterNotFound);
}

TEST_F(SimApiTest, VerificationChecksEveryNamedMemberAgainstTheOutline) {
  ASSERT_EQ(api_->EsbVerifyFilter(context_, "Sample", "Basic"), 0);
  EXPECT_EQ(api_->EsbVerifyFilterRow(context_, true, "@IDESCENDANTS(\"east\"), Sales"), 0);
  EXPECT_EQ(api_->EsbVerifyFilterRow(context_, true, "\"New York\", &CurMonth, 2024"), 0);
  EXPECT_EQ(api_->EsbVerifyFilterRow(context_, false, ""), 0);

  ASSERT_EQ(api_->EsbVerifyFilter(context_, "Sample", "Basic"), 0);
  EXPECT_EQ(api_->EsbVerifyFilterRow(context_, true, "\"Atlantis\", \"Sales\""),
            kStatusUnknownMember);
  std::string text;
  EXPECT_EQ(Message(&text), kStatusUnknownMember);
  EXPECT_NE(text.find("Atlantis"), std::string::npos);
  EXPECT_EQ(api_->EsbVerifyFilterRow(context_, true, "West"), 0);
  EXPECT_EQ(api_->EsbVerifyFilterRow(context_, false, ""), kStatusFilterInvalid);
  // The verification is over; a new one starts clean.
  EXPECT_EQ(api_->EsbVerifyFilterRow(context_, false, ""), kStatusNoVerification);
  ASSERT_EQ(api_->EsbVerifyFilter(context_, "Sample", "Basic"), 0);
  EXPECT_EQ(api_->EsbVerifyFilterRow(context_, false, ""), 0);
  // Another database's outline is its own.
  ASSERT_EQ(api_->EsbVerifyFilter(context_, "Sample", "Interim"), 0);
  EXPECT_EQ(api_->EsbVerifyFilterRow(context_, true, "Sales"), kStatusUnknownMember);
  EXPECT_EQ(api_->EsbVerifyFilter(context_, "Sample", "Nope"), kStatusDbNotFound);
  EXPECT_EQ(api_->EsbVerifyFilterRow(context_, true, "Sales"), kStatusNoVerification);
}

// Access ----------------------------------------------------------------------------------

TEST_F(SimApiTest, ApplicationAccessListsEveryGroupAndUser) {
  uint32_t count = 0;
  ASSERT_EQ(api_->EsbGetApplicationAccess(context_, "", "sample", &count), 0);
  EXPECT_THAT(Items(kItemUserApp, count),
              ElementsAre("Analysts=256", "Planners=256", "Idle=0", "admin=0", "Alice=256", "bob=0",
                          "carol=0", "dave=0", "boss=0"));  // Planners: by its db access
  ASSERT_EQ(api_->EsbGetApplicationAccess(context_, "ALICE", "Sample", &count), 0);
  EXPECT_THAT(Items(kItemUserApp, count), ElementsAre("Alice=256"));
  EXPECT_EQ(api_->EsbGetApplicationAccess(context_, "ghost", "Sample", &count),
            kStatusUserNotFound);
  EXPECT_EQ(api_->EsbGetApplicationAccess(context_, "", "Nope", &count), kStatusAppNotFound);
  ASSERT_EQ(api_->EsbSetApplicationAccess(context_, UserApp("bob", "SAMPLE", 512)), 0);
  ASSERT_EQ(api_->EsbGetApplicationAccess(context_, "bob", "Sample", &count), 0);
  EXPECT_THAT(Items(kItemUserApp, count), ElementsAre("bob=512"));
  EXPECT_EQ(api_->EsbSetApplicationAccess(context_, UserApp("ghost", "Sample", 1)),
            kStatusUserNotFound);
  EXPECT_EQ(api_->EsbSetApplicationAccess(context_, UserApp("bob", "Nope", 1)), kStatusAppNotFound);
}

TEST_F(SimApiTest, HighestAccessCombinesOwnGroupAndDatabaseDefault) {
  auto entry = [&](const std::string& name, const std::string& db) {
    uint32_t count = 0;
    EsbItem item;
    EXPECT_EQ(api_->EsbGetDatabaseAccess(context_, name, "Sample", db, &count), 0);
    EXPECT_EQ(count, 1u);
    EXPECT_EQ(api_->EsbGetNextItem(context_, kItemUserDb, &item), 0);
    return item.user_db;
  };
  EsbUserDb bob = entry("bob", "Basic");
  EXPECT_STREQ(bob.user, "bob");
  EXPECT_STREQ(bob.app, "Sample");
  EXPECT_STREQ(bob.db, "Basic");
  EXPECT_EQ(bob.access, 0);
  EXPECT_EQ(bob.max_access, 273);  // from Analysts
  EXPECT_STREQ(bob.filter, "");
  EsbUserDb alice = entry("alice", "Basic");
  EXPECT_EQ(alice.access, 275);
  EXPECT_EQ(alice.max_access, 275 | 273 | 279);
  EXPECT_EQ(entry("Analysts", "basic").max_access, 273);
  EXPECT_STREQ(entry("Analysts", "Basic").filter, "EastRead");
  EXPECT_EQ(entry("admin", "Basic").max_access, 0xFFFF);
  EXPECT_EQ(entry("boss", "Basic").max_access, 0xFFFF);
  EXPECT_EQ(entry("bob", "Interim").max_access, 272);  // the database default
  EXPECT_EQ(entry("bob", "Interim").access, 0);
  // Application Designer on the application, the name's own or a group's, is designer on each
  // of its databases; a supervisor group makes its members supervisors.
  ASSERT_EQ(api_->EsbSetApplicationAccess(context_, UserApp("bob", "Sample", 0x0200)), 0);
  EXPECT_EQ(entry("bob", "Basic").max_access, 0x0377 | 273);
  EXPECT_EQ(entry("bob", "Basic").access, 0);  // its own entry is not rewritten
  EXPECT_EQ(entry("bob", "Interim").max_access, 0x0377);
  ASSERT_EQ(api_->EsbSetApplicationAccess(context_, UserApp("Planners", "Sample", 0x0200)), 0);
  EXPECT_EQ(entry("alice", "Interim").max_access, 0x0377);
  EXPECT_EQ(entry("Planners", "Interim").max_access, 0x0377);
  EXPECT_EQ(entry("dave", "Interim").max_access, 272);
  EsbUserInfo idle{};
  CopyToField(idle.name, "Idle");
  idle.access = 0xFFFF;
  ASSERT_EQ(api_->EsbSetGroup(context_, idle), 0);
  ASSERT_EQ(api_->EsbAddToGroup(context_, "Idle", "dave"), 0);
  EXPECT_EQ(entry("dave", "Interim").max_access, 0xFFFF);
  EXPECT_EQ(entry("carol", "Interim").max_access, 272);
  uint32_t count = 0;
  EXPECT_EQ(api_->EsbGetDatabaseAccess(context_, "ghost", "Sample", "Basic", &count),
            kStatusUserNotFound);
  EXPECT_EQ(api_->EsbGetDatabaseAccess(context_, "bob", "Sample", "Nope", &count),
            kStatusDbNotFound);
}

TEST_F(SimApiTest, SetDatabaseAccessSetsTheFilterOnlyWhenOneIsNamed) {
  ASSERT_EQ(api_->EsbSetDatabaseAccess(context_, UserDb("bob", "Sample", "Basic", "spare", 275)),
            0);
  uint32_t count = 0;
  EsbItem item;
  ASSERT_EQ(api_->EsbGetDatabaseAccess(context_, "bob", "Sample", "Basic", &count), 0);
  ASSERT_EQ(api_->EsbGetNextItem(context_, kItemUserDb, &item), 0);
  EXPECT_EQ(item.user_db.access, 275);
  EXPECT_STREQ(item.user_db.filter, "Spare");
  ASSERT_EQ(api_->EsbSetDatabaseAccess(context_, UserDb("bob", "Sample", "Basic", "", 273)), 0);
  ASSERT_EQ(api_->EsbGetDatabaseAccess(context_, "bob", "Sample", "Basic", &count), 0);
  ASSERT_EQ(api_->EsbGetNextItem(context_, kItemUserDb, &item), 0);
  EXPECT_EQ(item.user_db.access, 273);
  EXPECT_STREQ(item.user_db.filter, "Spare");
  EXPECT_EQ(api_->EsbSetDatabaseAccess(context_, UserDb("bob", "Sample", "Basic", "Nope", 1)),
            kStatusFilterNotFound);
  EXPECT_EQ(api_->EsbSetDatabaseAccess(context_, UserDb("ghost", "Sample", "Basic", "", 1)),
            kStatusUserNotFound);
  EXPECT_EQ(api_->EsbSetDatabaseAccess(context_, UserDb("bob", "Sample", "Nope", "", 1)),
            kStatusDbNotFound);
}

TEST_F(SimApiTest, DatabaseAccessAndApplicationAccessAgree) {
  auto app_access = [&](const std::string& name) {
    uint32_t count = 0;
    EXPECT_EQ(api_->EsbGetApplicationAccess(context_, name, "Sample", &count), 0);
    std::vector<std::string> items = Items(kItemUserApp, count);
    return items.empty() ? std::string() : items[0];
  };
  auto db_access = [&](const std::string& name, const std::string& db) {
    uint32_t count = 0;
    EsbItem item;
    EXPECT_EQ(api_->EsbGetDatabaseAccess(context_, name, "Sample", db, &count), 0);
    EXPECT_EQ(api_->EsbGetNextItem(context_, kItemUserDb, &item), 0);
    return item.user_db.access;
  };
  // A grant above None on a database gives access to its application, keeping a higher one.
  ASSERT_EQ(api_->EsbSetDatabaseAccess(context_, UserDb("bob", "Sample", "Interim", "", 273)), 0);
  EXPECT_EQ(app_access("bob"), "bob=256");
  uint32_t count = 0;
  ASSERT_EQ(api_->EsbListUsers(context_, "Sample", "", &count), 0);
  EXPECT_THAT(Items(kItemUserName, count), ElementsAre("Alice", "bob"));
  ASSERT_EQ(api_->EsbSetApplicationAccess(context_, UserApp("dave", "Sample", 0x0200)), 0);
  ASSERT_EQ(api_->EsbSetDatabaseAccess(context_, UserDb("dave", "Sample", "Basic", "", 273)), 0);
  EXPECT_EQ(app_access("dave"), "dave=512");
  ASSERT_EQ(api_->EsbSetDatabaseAccess(context_, UserDb("carol", "Sample", "Basic", "", 0)), 0);
  EXPECT_EQ(app_access("carol"), "carol=0");
  // Taking the application access away takes the access to each of its databases.
  ASSERT_EQ(api_->EsbSetDatabaseAccess(context_, UserDb("bob", "Sample", "Basic", "Spare", 275)),
            0);
  ASSERT_EQ(api_->EsbSetApplicationAccess(context_, UserApp("bob", "Sample", 0)), 0);
  EXPECT_EQ(db_access("bob", "Basic"), 0);
  EXPECT_EQ(db_access("bob", "Interim"), 0);
  EXPECT_EQ(db_access("alice", "Basic"), 275);
  ASSERT_EQ(api_->EsbListUsers(context_, "Sample", "Basic", &count), 0);
  EXPECT_THAT(Items(kItemUserName, count), ElementsAre("Alice", "dave"));
}

TEST_F(SimApiTest, CalcListsAreReadAndReplaced) {
  int16_t all = 0;
  uint32_t count = 0;
  ASSERT_EQ(api_->EsbGetCalcList(context_, "Planners", "Sample", "Basic", &all, &count), 0);
  EXPECT_EQ(all, 0);
  EXPECT_THAT(Items(kItemCalcName, count), ElementsAre("Rollup"));
  ASSERT_EQ(api_->EsbGetCalcList(context_, "alice", "Sample", "Basic", &all, &count), 0);
  EXPECT_EQ(all, 1);
  EXPECT_EQ(count, 0u);
  ASSERT_EQ(api_->EsbSetCalcList(context_, "bob", "Sample", "Basic", 0, "rollup\r\nCALCALL", 2), 0);
  ASSERT_EQ(api_->EsbGetCalcList(context_, "bob", "Sample", "Basic", &all, &count), 0);
  EXPECT_THAT(Items(kItemCalcName, count), ElementsAre("Rollup", "CalcAll"));
  ASSERT_EQ(api_->EsbSetCalcList(context_, "bob", "Sample", "Basic", 1, "", 0), 0);
  ASSERT_EQ(api_->EsbGetCalcList(context_, "bob", "Sample", "Basic", &all, &count), 0);
  EXPECT_EQ(all, 1);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(api_->EsbSetCalcList(context_, "bob", "Sample", "Basic", 0, "Missing", 1),
            kStatusCalcNotFound);
  EXPECT_EQ(api_->EsbSetCalcList(context_, "ghost", "Sample", "Basic", 0, "", 0),
            kStatusUserNotFound);
  EXPECT_EQ(api_->EsbGetCalcList(context_, "bob", "Sample", "Nope", &all, &count),
            kStatusDbNotFound);
  // The calc list does not change the access.
  ASSERT_EQ(api_->EsbGetDatabaseAccess(context_, "bob", "Sample", "Basic", &count), 0);
  EsbItem item;
  ASSERT_EQ(api_->EsbGetNextItem(context_, kItemUserDb, &item), 0);
  EXPECT_EQ(item.user_db.access, 0);
}

// Sessions at once ---------------------------------------------------------------------------

// Each of `sessions` threads logs in on its own, creates users and reads them back through its
// own list while the others do the same; every session then sees every other's writes.
void RunSessionsAtOnce(EsbApi& api, int sessions) {
  constexpr int kUsersEach = 20;
  std::vector<EsbHandle> contexts(sessions), instances(sessions);
  for (int s = 0; s < sessions; ++s) {
    uint16_t apps = 0;
    ASSERT_EQ(api.EsbInit(EsbInitRecord{}, &instances[s]), 0);
    ASSERT_EQ(api.EsbLogin(instances[s], "server", "admin", "pw-admin", &apps, &contexts[s]), 0);
  }
  std::vector<std::string> problems(sessions);
  std::vector<std::thread> threads;
  for (int s = 0; s < sessions; ++s) {
    threads.emplace_back([&, s] {
      const EsbHandle context = contexts[s];
      for (int i = 0; i < kUsersEach && problems[s].empty(); ++i) {
        const std::string name = "s" + std::to_string(s) + "u" + std::to_string(i);
        if (api.EsbCreateUser(context, name, "password") != 0) problems[s] = "create " + name;
        // Another session's list call in between would change this session's list.
        uint32_t count = 0;
        if (api.EsbGetGroupList(context, "Alice", &count) != 0 || count != 2) {
          problems[s] = "group list of Alice";
        }
        EsbUserInfo info;
        if (api.EsbGetUser(context, name, &info) != 0) problems[s] = "read " + name;
        EsbItem item;
        for (uint32_t k = 0; k < count; ++k) {
          if (api.EsbGetNextItem(context, kItemName, &item) != 0) problems[s] = "item";
        }
        if (CutAtNul(item.name) != "Planners")
          problems[s] = "list mixed up: " + CutAtNul(item.name);
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (int s = 0; s < sessions; ++s) EXPECT_EQ(problems[s], "") << "session " << s;
  for (int s = 0; s < sessions; ++s) {
    uint32_t count = 0;
    ASSERT_EQ(api.EsbListUsers(contexts[s], "", "", &count), 0);
    EXPECT_EQ(count, 6u + static_cast<uint32_t>(sessions * kUsersEach));
    EXPECT_EQ(api.EsbLogout(contexts[s]), 0);
    EXPECT_EQ(api.EsbTerm(instances[s]), 0);
  }
}

TEST(SimApiSessionsTest, SessionsOfAServerFileRunAtOnceEachWithItsOwnListAndConnection) {
  const std::filesystem::path folder =
      std::filesystem::temp_directory_path() /
      ("cubesec-sessions-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
       "-" + std::to_string(reinterpret_cast<uintptr_t>(&folder)));
  std::filesystem::create_directories(folder);
  ASSERT_EQ(LoadFixture(folder.string(), "server", kTestFixture), "");
  {
    std::unique_ptr<EsbApi> api = MakeSimulatedApi(folder.string());
    RunSessionsAtOnce(*api, 4);
  }
  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
}

TEST(SimApiSessionsTest, SessionsOfAServerInMemoryTakeTurnsOnItsOneConnection) {
  std::unique_ptr<EsbApi> api = MakeInMemoryApi(kTestFixture);
  RunSessionsAtOnce(*api, 4);
}

TEST(SimApiFixtureTest, InMemoryApiRejectsABadFixture) {
  EXPECT_THROW(MakeInMemoryApi("{\"users\": 3}"), std::invalid_argument);
}

}  // namespace
}  // namespace cubesec::sim
