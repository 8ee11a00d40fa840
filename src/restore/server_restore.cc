// The server block: the server-wide security settings.
#include <cstdint>
#include <limits>

#include "client/access_levels.h"
#include "restore/restore.h"
#include "restore/restore_support.h"
#include "tools/text.h"

namespace cubesec {
namespace {

int16_t WholeInt16(const std::string& value) {
  return static_cast<int16_t>(LeadingWholeNumber(value, std::numeric_limits<int16_t>::min(),
                                                 std::numeric_limits<int16_t>::max()));
}

int32_t WholeInt32(const std::string& value) {
  return static_cast<int32_t>(LeadingWholeNumber(value, std::numeric_limits<int32_t>::min(),
                                                 std::numeric_limits<int32_t>::max()));
}

}  // namespace

void RestoreServerState(RunState& state, RestoreState& restore) {
  state.BeginBlock("Server");
  EsbGlobalState global;
  EsbStatus status = state.client.api->EsbGetGlobalState(state.client.context, &global);
  // Writing back a record that was never read would reset the fields the block does not
  // name, so a failed read raises before anything is sent.
  CheckStatus(state.client, "EsbGetGlobalState", status);

  // Every value is converted before anything is sent: an overflow leaves the server as it was.
  std::string key, value;
  while (state.ReadKeyLine(key, value)) {
    if (key == "Security") {
      global.security = ParseFlag(value);
    } else if (key == "Logins") {
      global.logins = ParseFlag(value);
    } else if (key == "Default Access") {
      global.default_access = AccessCode(value);
    } else if (key == "Validity") {
      global.validity = WholeInt16(value);
    } else if (key == "MinLength") {
      global.min_length = WholeInt16(value);
    } else if (key == "TimeOut") {
      global.timeout = WholeInt32(value);
    } else if (key == "Check Frequency") {
      global.check_frequency = WholeInt32(value);
    }
  }

  status = state.client.api->EsbSetGlobalState(state.client.context, global);
  // Whatever happened, the minimum that users are created against is read again if unsure.
  restore.file.min_password_length = -1;
  CheckStatus(state.client, "EsbSetGlobalState", status);
  restore.file.min_password_length = global.min_length > 0 ? global.min_length : 0;
  ++restore.restored.values_changed;
  LogTabbed(state, "%1Restored Global Server State", {});
}

}  // namespace cubesec
