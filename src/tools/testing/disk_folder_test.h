#pragma once
// A fixture for the tests of what the system itself does with files, which the fake platform
// cannot show: a folder of the test's own on the real disk, removed after it, and the real
// platform.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "tools/fake_platform.h"

namespace cubesec {

class DiskFolderTest : public ::testing::Test {
 protected:
  void TearDown() override { std::filesystem::remove_all(dir_); }
  std::string Path(const std::string& name) const { return (dir_ / name).string(); }
  std::string Read(const std::string& name) const {
    std::ifstream in(Path(name), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  std::filesystem::path dir_ = MakeTestFolder("cubesec_files");
  Platform& platform_ = SystemPlatform();
};

}  // namespace cubesec
