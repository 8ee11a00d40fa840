#include "tools/testing/owner_only.h"
#include "tools/testing/win32_access.h"

namespace cubesec {

::testing::AssertionResult OnlyTheOwnerMayOpen(const std::string& path) {
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  const std::vector<std::string> entries = AccessEntries(path, &control);
  if (entries.empty()) return ::testing::AssertionFailure() << path << ": no access list entries";
  for (const std::string& entry : entries) {
    if (!IsAllowedOwnerOnlyEntry(entry)) {
      return ::testing::AssertionFailure() << path << " lets " << entry << " in";
    }
  }
  return ::testing::AssertionSuccess();
}

}  // namespace cubesec
