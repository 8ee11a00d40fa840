#include <sys/stat.h>

#include "tools/testing/owner_only.h"

namespace cubesec {

::testing::AssertionResult OnlyTheOwnerMayOpen(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return ::testing::AssertionFailure() << path << ": no file";
  if ((info.st_mode & 077) != 0) {
    return ::testing::AssertionFailure()
           << path << " has mode " << std::oct << (info.st_mode & 0777);
  }
  return ::testing::AssertionSuccess();
}

}  // namespace cubesec
