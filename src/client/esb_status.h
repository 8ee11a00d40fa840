#pragma once
// The statuses of the client API: what a server answers when a call fails. The client acts on
// some of them (a name not found is created, a list at its end is done); the simulated server
// answers with all of them.

#include "client/esb_api.h"

namespace cubesec {

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

}  // namespace cubesec
