#pragma once
// Starting the client API and reading the installed client's settings.

#include <string>

#include "client/call_check.h"
#include "tools/platform.h"

namespace cubesec {

/// Fills the start record (local path and message file from "ArborPath"), calls EsbInit
/// (its instance handle goes to client.instance) and checks the library version: error
/// 9999 "Unable to validate client API." when it cannot be read, "Unsupported client
/// API." below 0x00050000. Returns EsbInit's status, for the caller to check.
EsbStatus InitAPI(ClientContext& client, Platform& platform);

/// A client setting: the registry value under "Software\Hyperion Solutions\Essbase\SECTION"
/// first, else KEY of SECTION in "essbase.ini" of the Windows directory; empty when neither.
std::string GetEssbaseSetting(Platform& platform, const std::string& section,
                              const std::string& key);

}  // namespace cubesec
