#include "client/client_settings.h"

#include "tools/text.h"

namespace cubesec {
namespace {

constexpr const char kSettingsKey[] = "Software\\Hyperion Solutions\\Essbase\\";
constexpr uint16_t kMaxHandles = 20;
constexpr uint16_t kErrorStackDepth = 100;

}  // namespace

EsbStatus InitAPI(ClientContext& client, Platform& platform) {
  EsbInitRecord record;
  record.version = kEsbApiVersion;
  record.max_handles = kMaxHandles;
  // POSIX environments are case-sensitive and the client's own scripts set ARBORPATH.
  std::string arbor_path = platform.GetEnv("ArborPath").value_or("");
  if (arbor_path.empty()) arbor_path = platform.GetEnv("ARBORPATH").value_or("");
  CopyToField(arbor_path, record.local_path);
  const OsConventions& os = ThisOs();
  std::string message_file = arbor_path;
  // A folder given with a separator at its end has one separator after it, not two.
  if (!message_file.empty() && os.separators.find(message_file.back()) != std::string::npos) {
    message_file.pop_back();
  }
  message_file += std::string(1, os.path_separator) + "Bin" + os.path_separator + "Essbase.mdb";
  CopyToField(message_file, record.message_file);
  record.client_error = 1;
  record.error_stack = kErrorStackDepth;

  EsbStatus status = client.api->EsbInit(record, &client.instance);

  // The version is asked for whatever EsbInit returned: an unusable library is reported as
  // such rather than as a failed start.
  uint32_t version = 0;
  client.version_status = client.api->EsbGetAPIVersion(&version);
  client.api_version = version;
  if (client.version_status != 0) {
    throw RunError(kErrorUnusableClient, "Unable to validate client API.");
  }
  if (version < kEsbMinApiVersion) throw RunError(kErrorUnusableClient, "Unsupported client API.");
  return status;
}

std::string GetEssbaseSetting(Platform& platform, const std::string& section,
                              const std::string& key) {
  if (std::optional<std::string> value = platform.ReadRegistryValue(kSettingsKey + section, key)) {
    return Trim(*value);
  }
  const std::string folder = platform.WindowsDirectory();
  if (folder.empty()) return {};
  return platform.ReadIniValue(ThisOs().Join(folder, "essbase.ini"), section, key).value_or("");
}

}  // namespace cubesec
