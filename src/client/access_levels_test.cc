#include "client/access_levels.h"

#include <gtest/gtest.h>

#include <optional>
#include <utility>
#include <vector>

namespace cubesec {
namespace {

TEST(TakeBits, ClearsOnlyAFullMatch) {
  uint16_t value = 0x0113;
  EXPECT_TRUE(TakeBits(value, 0x0111));
  EXPECT_EQ(value, 0x0002);
  EXPECT_FALSE(TakeBits(value, 0x0003));
  EXPECT_EQ(value, 0x0002);
  EXPECT_TRUE(TakeBits(value, 0));
  EXPECT_EQ(value, 0x0002);
}

TEST(AccessName, EveryLevelOfTheTable) {
  EXPECT_EQ(AccessName(0xFFFF), "*** Supervisor ***");
  EXPECT_EQ(AccessName(0x0FFF), "All Application");
  EXPECT_EQ(AccessName(0x0377), "Application Designer");
  EXPECT_EQ(AccessName(0x00FF), "All Database");
  EXPECT_EQ(AccessName(0x0177), "Create Database");
  EXPECT_EQ(AccessName(0x0137), "Database Designer");
  EXPECT_EQ(AccessName(0x0117), "Calc");
  EXPECT_EQ(AccessName(0x0113), "Write");
  EXPECT_EQ(AccessName(0x0111), "Read");
  EXPECT_EQ(AccessName(0x0110), "Filtered");
  EXPECT_EQ(AccessName(0x0000), "None");
}

TEST(AccessName, SuffixesAndTheAddedLevelBit) {
  EXPECT_EQ(AccessName(0x0777), "Application Designer (Can Create Apps)");
  EXPECT_EQ(AccessName(0x1377), "Application Designer (Can Create Users)");
  EXPECT_EQ(AccessName(0x1777), "Application Designer (Can Create Users) (Can Create Apps)");
  EXPECT_EQ(AccessName(0x0011), "Read");  // 0x0100 is added first
  EXPECT_EQ(AccessName(0x1000), "None (Can Create Users)");
  EXPECT_EQ(AccessName(0x1FFF), "All Application (Can Create Users)");
  EXPECT_EQ(AccessName(0x0002), "None");  // leftover bits are ignored
  EXPECT_EQ(AccessName(0x0013), "Write");
}

TEST(AccessCode, EveryNameReadBack) {
  const std::pair<const char*, uint16_t> names[] = {
      {"Super", 0xFFFF},
      {"*** Supervisor ***", 0xFFFF},
      {"All_App", 0x0FFF},
      {"All Application", 0x0FFF},
      {"App_Create", 0x0777},
      {"Create Application", 0x0777},
      {"Application Designer", 0x0377},
      {"All_Db", 0x00FF},
      {"All Database", 0x00FF},
      {"DB_Create", 0x0177},
      {"Create Database", 0x0177},
      {"DB_Design", 0x0137},
      {"Database Designer", 0x0137},
      {"Calc", 0x0117},
      {"Write", 0x0113},
      {"Read", 0x0111},
      {"Filtered", 0x0110},
      {"None", 0x0000},
  };
  for (const auto& [name, code] : names) EXPECT_EQ(AccessCode(name), code) << name;
}

TEST(AccessCode, SuffixesCaseAndUnknownNames) {
  EXPECT_EQ(AccessCode("read"), 0);  // level names compare case-sensitively
  EXPECT_EQ(AccessCode("Read (can create users)"), 0x1111);
  EXPECT_EQ(AccessCode("None (Can Create Users)"), 0x1000);
  EXPECT_EQ(AccessCode("Read (Can Create Apps) (CAN CREATE USERS)"), 0x1511);
  EXPECT_EQ(AccessCode("  Write   (Can Create Apps)  "), 0x0513);
  EXPECT_EQ(AccessCode("Super (Can Create Users)"), 0xFFFF);
  EXPECT_EQ(AccessCode("Bogus"), 0);
  EXPECT_EQ(AccessCode("Bogus (Can Create Apps)"), 0x0400);
  EXPECT_EQ(AccessCode(""), 0);
}

TEST(ParseAccessName, OnlyALevelNameReadsWithOrWithoutSuffixes) {
  const std::vector<std::pair<std::string, std::optional<uint16_t>>> cases = {
      {"Read", 0x0111},
      {"Meta", 0x0110},
      {"*** Supervisor ***", 0xFFFF},
      {"Write (Can Create Apps)", 0x0513},
      {"(can create users) Calc", 0x1117},
      {"(Can Create Users)", std::nullopt},  // a suffix without a level
      {"Read(", std::nullopt},
      {"Read (Can Create Folks)", std::nullopt},
      {" Read", std::nullopt},  // only what a suffix leaves is trimmed
      {"Rea", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto& [name, code] : cases) EXPECT_EQ(ParseAccessName(name), code) << name;
}

TEST(AccessLevels, NamesAndCodesRoundTrip) {
  const uint16_t codes[] = {0xFFFF, 0x0FFF, 0x0777, 0x0377, 0x00FF, 0x0177, 0x0137,
                            0x0117, 0x0113, 0x0111, 0x0110, 0x0000, 0x1377, 0x1111,
                            0x1511, 0x1777, 0x0513, 0x1FFF, 0x1000};
  for (uint16_t code : codes) {
    EXPECT_EQ(AccessCode(AccessName(code)), code) << std::hex << code << " " << AccessName(code);
  }
}

}  // namespace
}  // namespace cubesec
