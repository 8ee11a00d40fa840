#include "client/access_levels.h"
#include "client/dump_format.h"
#include "dump/dump.h"
#include "dump/name_list.h"
#include "tools/dates.h"
#include "tools/text.h"

namespace cubesec {

void WriteServerBlock(RunState& state) {
  EsbGlobalState global;
  // A failed call raises before the block begins: a block made of whatever the failed call
  // left would restore wrong settings.
  CheckStatus(state.client, "EsbGetGlobalState",
              state.client.api->EsbGetGlobalState(state.client.context, &global));
  state.BeginBlock("Server");
  WriteLine(state, "Server: %1", state.server);
  WriteLine(state, "   Date Made: %1", NowText(state.platform));
  WriteLine(state, "   Security: %1", YesNo(global.security));
  WriteLine(state, "   Logins: %1", YesNo(global.logins));
  WriteLine(state, "   Default Access: %1", AccessName(global.default_access));
  WriteLine(state, "   Validity: %1 Days", std::to_string(global.validity));
  WriteLine(state, "   MinLength: %1 Characters", std::to_string(global.min_length));
  WriteLine(state, "   TimeOut: %1 Seconds", std::to_string(global.timeout));
  WriteLine(state, "   Check Frequency: %1 Seconds", std::to_string(global.check_frequency));
  // Last, so that a reader that knows no formats passes it over as an unknown key.
  WriteLine(state, "   Format: %1", std::to_string(kDumpFormat));
  state.WriteDumpLine("");
}

void WriteEndBlock(RunState& state) {
  state.BeginBlock("End");
  WriteLine(state, "End: %1", std::string(kEndComplete));
  state.WriteDumpLine("");
}

}  // namespace cubesec
