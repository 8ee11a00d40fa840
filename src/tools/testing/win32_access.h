#pragma once
// For tests on Windows: who may open a file, read back from its access list.

#define WIN32_LEAN_AND_MEAN
#include <windows.h>
// After <windows.h>, which they need.
#include <aclapi.h>
#include <sddl.h>

#include <string>
#include <vector>

namespace cubesec {

inline bool RunsUnderWine() {
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

// "type:SID" for every entry of the file's access list; empty when it cannot be read.
inline std::vector<std::string> AccessEntries(const std::string& path,
                                              SECURITY_DESCRIPTOR_CONTROL* control) {
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  std::vector<std::string> entries;
  if (GetNamedSecurityInfoA(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                            nullptr, &dacl, nullptr, &descriptor) != ERROR_SUCCESS) {
    return entries;
  }
  DWORD revision = 0;
  GetSecurityDescriptorControl(descriptor, control, &revision);
  for (DWORD i = 0; dacl != nullptr && i < dacl->AceCount; ++i) {
    ACCESS_ALLOWED_ACE* ace = nullptr;
    if (!GetAce(dacl, i, reinterpret_cast<void**>(&ace))) continue;
    char* sid = nullptr;
    ConvertSidToStringSidA(&ace->SidStart, &sid);
    entries.push_back(std::to_string(ace->Header.AceType) + ":" + (sid ? sid : "?"));
    if (sid) LocalFree(sid);
  }
  LocalFree(descriptor);
  return entries;
}

// The entry that allows the user this process runs as; empty when the user is not known.
inline std::string AllowedCurrentUserEntry() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return {};
  char buffer[256];
  DWORD size = sizeof buffer;
  const bool known = GetTokenInformation(token, TokenUser, buffer, size, &size);
  CloseHandle(token);
  char* user = nullptr;
  if (!known || !ConvertSidToStringSidA(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, &user)) {
    return {};
  }
  const std::string entry = std::to_string(ACCESS_ALLOWED_ACE_TYPE) + ":" + user;
  LocalFree(user);
  return entry;
}

// Wine keeps no access lists of its own on Linux: it derives one from the file's mode bits,
// with an entry for SYSTEM. That entry is allowed there, and only there.
inline bool IsAllowedOwnerOnlyEntry(const std::string& entry) {
  return entry == AllowedCurrentUserEntry() ||
         (RunsUnderWine() && entry == std::to_string(ACCESS_ALLOWED_ACE_TYPE) + ":S-1-5-18");
}

}  // namespace cubesec
