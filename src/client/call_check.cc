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

int32_t GetMessageText(ClientContext& client, EsbStatus status, std::string& text) {
  // A library holds a bounded number of messages; this many older ones are passed over.
  constexpr int kOlderMessagesPassedOver = 16;
  text.clear();
  for (int fetched = 0; fetched <= kOlderMessagesPassedOver; ++fetched) {
    std::string message;
    const int32_t number = GetMessageText(client, message);
    if (client.last_status != 0) break;  // no message (left) to fetch
    if (number == status || number == 0) {
      text = std::move(message);
      break;
    }
  }
  client.last_status = status;
  return status;
}

void CheckStatus(ClientContext& client, std::string_view function, EsbStatus status) {
  if (status == 0) return;
  std::string text;
  const int32_t number = GetMessageText(client, text);
  // A failed call is a failure whether or not the library explains it: without a message
  // number the call's own status is the reference, so nothing is ever taken as done.
  client.last_status = number != 0 ? number : status;
  std::string heading =
      FormatMsg("Essbase Error calling %1 (ref=%2)%3",
                {std::string(function), std::to_string(client.last_status), std::string("\r\n")});
  throw RunError(kErrorClientCall, heading + text);
}

}  // namespace cubesec
