#pragma once
// Whether only a file's owner may open it, as the system at hand keeps rights: no group or
// other bits on POSIX, no entry but its owner's in its access list on Windows. For the tests of
// files that hold secrets (server files, run logs).

#include <gtest/gtest.h>

#include <string>

namespace cubesec {

::testing::AssertionResult OnlyTheOwnerMayOpen(const std::string& path);

}  // namespace cubesec
