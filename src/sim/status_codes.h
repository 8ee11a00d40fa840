#pragma once
// The message text of every status that the simulated server returns (client/esb_status.h),
// in one table.
// "%1" in a text is replaced by the name or value that the failure is about.

#include <array>
#include <string>
#include <string_view>

#include "client/esb_status.h"

namespace cubesec::sim {

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
