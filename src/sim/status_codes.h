#pragma once
// Every status that the simulated server returns, with its message text, in one table.
// "%1" in a text is replaced by the name or value that the failure is about.

#include <array>
#include <string>
#include <string_view>

#include "client/esb_api.h"

namespace cubesec::sim {

inline constexpr EsbStatus kStatusOk = 0;
// Handles, lists and messages.
inline constexpr EsbStatus kStatusNoMessage = 1030001;
inline constexpr EsbStatus kStatusBadHandle = 1030002;
inline constexpr EsbStatus kStatusNotLoggedIn = 1030003;
inline constexpr EsbStatus kStatusListExhausted = 1030004;
inline constexpr EsbStatus kStatusWrongItemType = 1030005;
inline constexpr EsbStatus kStatusInvalidParameter = 1030006;
// Logging in.
inline constexpr EsbStatus kStatusServerUnreachable = 1042006;
inline constexpr EsbStatus kStatusLoginFailed = 1051293;
inline constexpr EsbStatus kStatusLoginsDisabled = 1051016;
inline constexpr EsbStatus kStatusAccountDisabled = 1051017;
inline constexpr EsbStatus kStatusPasswordExpired = 1051018;
// Users and groups.
inline constexpr EsbStatus kStatusNoPrivilege = 1051002;
inline constexpr EsbStatus kStatusAlreadyExists = 1051008;
inline constexpr EsbStatus kStatusInvalidName = 1051010;
inline constexpr EsbStatus kStatusUserNotFound = 1051012;
inline constexpr EsbStatus kStatusGroupNotFound = 1051013;
inline constexpr EsbStatus kStatusPasswordTooShort = 1051019;
inline constexpr EsbStatus kStatusCannotDeleteSelf = 1051020;
// Applications and databases.
inline constexpr EsbStatus kStatusAppNotFound = 1051030;
inline constexpr EsbStatus kStatusDbNotFound = 1023003;
// Filters and calc scripts.
inline constexpr EsbStatus kStatusUnknownMember = 1053001;
inline constexpr EsbStatus kStatusFilterInvalid = 1053002;
inline constexpr EsbStatus kStatusFilterNotFound = 1053003;
inline constexpr EsbStatus kStatusNoVerification = 1053004;
inline constexpr EsbStatus kStatusNoFilterRead = 1053005;
inline constexpr EsbStatus kStatusNoFilterWrite = 1053006;
inline constexpr EsbStatus kStatusCalcNotFound = 1053007;
// The server's own storage.
inline constexpr EsbStatus kStatusStoreFailure = 1054001;

struct StatusText {
  EsbStatus status;
  std::string_view text;
};

inline constexpr std::array<StatusText, 29> kStatusTable = {{
    {kStatusOk, "Success"},
    {kStatusNoMessage, "No message is pending"},
    {kStatusBadHandle, "Invalid instance or context handle"},
    {kStatusNotLoggedIn, "Not logged in: the context has been logged out"},
    {kStatusListExhausted, "No more items in the list"},
    {kStatusWrongItemType, "Item type %1 does not match the current list"},
    {kStatusInvalidParameter, "Invalid parameter: %1"},
    {kStatusServerUnreachable, "Cannot connect to server %1"},
    {kStatusLoginFailed, "Login failed: wrong user name or password for %1"},
    {kStatusLoginsDisabled, "Logins are not allowed on this server"},
    {kStatusAccountDisabled, "Account %1 is disabled"},
    {kStatusPasswordExpired, "The password of %1 has expired"},
    {kStatusNoPrivilege, "Insufficient privilege: %1 is not a supervisor"},
    {kStatusAlreadyExists, "User or group %1 already exists"},
    {kStatusInvalidName, "Invalid name [%1]"},
    {kStatusUserNotFound, "User %1 does not exist"},
    {kStatusGroupNotFound, "Group %1 does not exist"},
    {kStatusPasswordTooShort, "The password is shorter than the minimum of %1 characters"},
    {kStatusCannotDeleteSelf, "The logged-in user %1 cannot be deleted"},
    {kStatusAppNotFound, "Application %1 does not exist"},
    {kStatusDbNotFound, "Database %1 does not exist"},
    {kStatusUnknownMember, "Unknown member %1 in filter row"},
    {kStatusFilterInvalid, "The filter has rows that failed verification"},
    {kStatusFilterNotFound, "Filter %1 does not exist"},
    {kStatusNoVerification, "No filter verification has been started"},
    {kStatusNoFilterRead, "No filter is being read"},
    {kStatusNoFilterWrite, "No filter is being written"},
    {kStatusCalcNotFound, "Calc script %1 does not exist"},
    {kStatusStoreFailure, "Server storage failure: %1"},
}};

/// The table's text for `status`, "%1" replaced by `subject`; "Unknown status N" when the
/// table has none.
std::string StatusMessage(EsbStatus status, std::string_view subject = {});

}  // namespace cubesec::sim
