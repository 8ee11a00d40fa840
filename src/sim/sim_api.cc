#include "sim/sim_api.h"

#include <filesystem>
#include <stdexcept>

#include "sim/fixture_json.h"
#include "sim/simulated_api.h"

namespace cubesec::sim {

namespace {

class FolderSource : public ServerSource {
 public:
  explicit FolderSource(std::string folder) : folder_(std::move(folder)) {}

  std::shared_ptr<Store> Connect(const std::string& server, std::string* problem) override {
    if (!IsValidServerName(server)) return nullptr;
    std::string path = ServerPath(folder_, server);
    std::error_code ignored;
    if (!std::filesystem::is_regular_file(path, ignored)) return nullptr;
    try {
      return Store::OpenFile(path, false);
    } catch (const SqliteError& error) {
      *problem = "'" + path + "' is not a simulated server file: " + error.what();
      return nullptr;
    }
  }

  uint32_t ApiVersion() override { return kEsbApiVersion; }

  std::string SearchedPlace() const override {
    return "the simulated servers' folder '" + folder_ + "'";
  }

 private:
  std::string folder_;
};

class MemorySource : public ServerSource {
 public:
  explicit MemorySource(std::shared_ptr<Store> store) : store_(std::move(store)) {}
  std::shared_ptr<Store> Connect(const std::string&, std::string*) override { return store_; }
  uint32_t ApiVersion() override { return store_->ReadGlobal().api_version; }

 private:
  std::shared_ptr<Store> store_;
};

std::string NonEmpty(const std::optional<std::string>& value) { return value ? *value : ""; }

}  // namespace

std::unique_ptr<ServerSource> MakeFolderSource(std::string folder) {
  return std::make_unique<FolderSource>(std::move(folder));
}

std::unique_ptr<ServerSource> MakeMemorySource(std::shared_ptr<Store> store) {
  return std::make_unique<MemorySource>(std::move(store));
}

std::string ServerFolder(Platform& platform) {
  std::string dir = NonEmpty(platform.GetEnv("CUBESEC_SIM_DIR"));
  if (!dir.empty()) return dir;
  const std::string data = platform.UserDataFolder();
  if (!data.empty()) return ThisOs().Join(ThisOs().Join(data, "cubesec"), "servers");
  return "cubesec-servers";
}

std::unique_ptr<EsbApi> MakeSimulatedApi(std::string folder) {
  return std::make_unique<SimulatedApi>(MakeFolderSource(std::move(folder)));
}

std::unique_ptr<EsbApi> MakeInMemoryApi(const std::string& fixture_json) {
  std::string error;
  std::optional<ServerImage> image = ParseFixture(fixture_json, &error);
  if (!image) throw std::invalid_argument(error);
  std::shared_ptr<Store> store = Store::OpenMemory();
  store->Replace(*image);
  return std::make_unique<SimulatedApi>(MakeMemorySource(std::move(store)));
}

ResettableServer::ResettableServer(const std::string& fixture_json) {
  std::string error;
  std::optional<ServerImage> image = ParseFixture(fixture_json, &error);
  if (!image) throw std::invalid_argument(error);
  std::unique_ptr<Store> built = Store::OpenMemory();
  built->Replace(*image);
  built_pages_ = built->Serialize();
  live_ = Store::OpenMemory();
}

ResettableServer::~ResettableServer() = default;

std::unique_ptr<EsbApi> ResettableServer::Reset() {
  live_->LoadPages(built_pages_);
  return std::make_unique<SimulatedApi>(MakeMemorySource(live_));
}

bool ResettableServer::Unchanged() { return live_->HasPages(built_pages_); }

}  // namespace cubesec::sim
