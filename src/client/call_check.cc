#include "client/call_check.h"

#include "tools/text.h"

namespace cubesec {

int32_t GetMessageText(ClientContext& client, std::string& text) {
  char buffer[kEsbMessageSize] = {};
  int32_t level = 0;
  int32_t number = 0;
  EsbStatus status =
      client.api->EsbGetMessage(client.instance, &level, &number, buffer, sizeof buffer);
  client.last_status = status;
  if (status != 0) return 0;
  // The whole buffer is bounded, so a message that fills it without a NUL is still safe.
  text = CutAtNul(buffer);
  return number;
}

void CheckStatus(ClientContext& client, std::string_view function, EsbStatus status) {
  if (status == 0) return;
  std::string text;
  client.last_status = GetMessageText(client, text);
  std::string heading =
      FormatMsg("Essbase Error calling %1 (ref=%2)%3",
                {std::string(function), std::to_string(client.last_status), std::string("\r\n")});
  if (client.last_status != 0) throw RunError(kErrorClientCall, heading + text);
}

}  // namespace cubesec
