#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>

#include "sim/fixture_json.h"
#include "sim/sim_api.h"
#include "sim/status_codes.h"
#include "sim/store.h"
#include "sim/test_server.h"

namespace cubesec::sim {
namespace {

EsbHandle LogIn(EsbApi& api, EsbHandle* instance) {
  EsbHandle context = 0;
  uint16_t apps = 0;
  EXPECT_EQ(api.EsbInit(EsbInitRecord{}, instance), 0);
  EXPECT_EQ(api.EsbLogin(*instance, "any", "admin", "pw-admin", &apps, &context), 0);
  return context;
}

TEST(ResettableServer, ResetUndoesEveryChangeAndTellsWhetherAnythingChanged) {
  ResettableServer server(kTestFixture);
  std::unique_ptr<EsbApi> api = server.Reset();
  EXPECT_TRUE(server.Unchanged());

  EsbHandle instance = 0;
  EsbHandle context = LogIn(*api, &instance);
  EsbUserInfo info;
  ASSERT_EQ(api->EsbGetUser(context, "Alice", &info), 0);
  EXPECT_TRUE(server.Unchanged());  // logging in and reading write nothing
  ASSERT_EQ(api->EsbCreateUser(context, "newcomer", "newcomer-password-1"), 0);
  EXPECT_FALSE(server.Unchanged());
  ASSERT_EQ(api->EsbGetUser(context, "newcomer", &info), 0);

  api = server.Reset();
  EXPECT_TRUE(server.Unchanged());
  context = LogIn(*api, &instance);
  EXPECT_EQ(api->EsbGetUser(context, "newcomer", &info), kStatusUserNotFound);
  EXPECT_EQ(api->EsbGetUser(context, "Alice", &info), 0);  // the built content is back
}

TEST(Store, LoadedPagesAreTheSourcesAndAreComparedByteForByte) {
  std::string error;
  const std::optional<ServerImage> image = ParseFixture(kTestFixture, &error);
  ASSERT_TRUE(image) << error;
  std::unique_ptr<Store> source = Store::OpenMemory();
  source->Replace(*image);
  const std::string pages = source->Serialize();

  std::unique_ptr<Store> copy = Store::OpenMemory();
  EXPECT_FALSE(copy->HasPages(pages));  // an empty store, compared through a copy of its own
  copy->LoadPages(pages);
  EXPECT_TRUE(copy->HasPages(pages));
  EXPECT_EQ(copy->Serialize(), pages);
  EXPECT_EQ(copy->Count().users, source->Count().users);  // its statements work on the load
  std::string other = pages;
  other[other.size() / 2] ^= 1;
  EXPECT_FALSE(copy->HasPages(other));
  EXPECT_FALSE(copy->HasPages(std::string_view(pages).substr(0, pages.size() - 1)));
  copy->LoadPages(pages);  // loading again replaces the loaded pages
  EXPECT_TRUE(copy->HasPages(pages));
}

TEST(ResettableServer, RefusesAFixtureWithAProblem) {
  EXPECT_THROW(ResettableServer("{\"users\": [{\"name\": \"a\", \"groups\": [\"Nope\"]}]}"),
               std::invalid_argument);
}

}  // namespace
}  // namespace cubesec::sim
