#include "sim/latency_api.h"

#include <gtest/gtest.h>

#include <vector>

#include "sim/sim_api.h"
#include "sim/status_codes.h"
#include "sim/test_server.h"

namespace cubesec::sim {
namespace {

using std::chrono::microseconds;

TEST(LatencyApiTest, EveryCallWaitsAfterItRanAndKeepsItsStatus) {
  std::unique_ptr<EsbApi> server = MakeInMemoryApi(kTestFixture);
  std::vector<microseconds> waits;
  EsbHandle instance = 0, context = 0;
  std::vector<EsbHandle> context_at_wait;
  LatencyApi slow(*server, microseconds(500), [&](microseconds time) {
    waits.push_back(time);
    context_at_wait.push_back(context);
  });
  uint16_t apps = 0;
  ASSERT_EQ(slow.EsbInit(EsbInitRecord{}, &instance), 0);
  ASSERT_EQ(slow.EsbLogin(instance, "any", "admin", "pw-admin", &apps, &context), 0);
  // The login had given its context before its wait began.
  EXPECT_EQ(context_at_wait, (std::vector<EsbHandle>{0, context}));
  uint32_t count = 0;
  EXPECT_EQ(slow.EsbListDatabases(context, "Nope", &count), kStatusAppNotFound);
  char text[kEsbMessageSize] = {};
  int32_t level = 0, number = 0;
  EXPECT_EQ(slow.EsbGetMessage(instance, &level, &number, text, sizeof text), 0);
  EXPECT_EQ(number, kStatusAppNotFound);
  EXPECT_EQ(waits, std::vector<microseconds>(4, microseconds(500)));

  LatencyApi none(*server, microseconds(0), [&](microseconds time) { waits.push_back(time); });
  EXPECT_EQ(none.EsbListApplications(context, &count), 0);
  EXPECT_EQ(waits.size(), 4u);  // no latency: no wait at all
}

TEST(LatencyApiTest, TheDefaultWaitSleeps) {
  std::unique_ptr<EsbApi> server = MakeInMemoryApi(kTestFixture);
  LatencyApi slow(*server, microseconds(2000));
  uint32_t version = 0;
  auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < 10; ++i) ASSERT_EQ(slow.EsbGetAPIVersion(&version), 0);
  EXPECT_GE(std::chrono::steady_clock::now() - start, microseconds(10 * 2000));
}

TEST(LatencyApiTest, OnlyWholeMicrosecondsUpToTenSecondsParse) {
  struct Case {
    const char* text;
    int64_t expected;  // -1: refused
  };
  const Case cases[] = {{"0", 0},
                        {"500", 500},
                        {"10000000", 10000000},
                        {"10000001", -1},
                        {"-1", -1},
                        {"+5", -1},
                        {"5us", -1},
                        {" 5", -1},
                        {"1.5", -1},
                        {"", -1},
                        {"99999999999999999999", -1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    std::string error;
    std::optional<microseconds> parsed = ParseLatency(c.text, &error);
    if (c.expected < 0) {
      EXPECT_FALSE(parsed.has_value());
      EXPECT_NE(error.find(std::string("'") + c.text + "'"), std::string::npos) << error;
    } else {
      ASSERT_TRUE(parsed.has_value()) << error;
      EXPECT_EQ(parsed->count(), c.expected);
    }
  }
}

}  // namespace
}  // namespace cubesec::sim
