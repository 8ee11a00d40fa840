#pragma once
// Turning failed client API calls into raised errors.

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

#include "client/esb_api.h"

namespace cubesec {

/// Error numbers of raised errors.
inline constexpr int kErrorSyntax = 50;  // unrecognised command-line token
inline constexpr int kErrorMissingParameter = 51;
inline constexpr int kErrorDumpFileNotFound = 56;
inline constexpr int kErrorFileIo = 57;   // a file cannot be written or read
inline constexpr int kErrorOverflow = 6;  // a number does not fit its field
inline constexpr int kErrorClientCall = 99;
inline constexpr int kErrorUnsoundDumpFile = 60;  // a restore's file fails the check
inline constexpr int kErrorUncarriedName = 61;    // a name that no dump line can hold
inline constexpr int kErrorInterrupted = 62;      // a signal or the user asked the run to stop
inline constexpr int kErrorResume = 49;           // cleared by the driver, the run goes on
inline constexpr int kErrorUnusableClient = 9999;

/// The one failure type above the client layer: an error number and a description.
class RunError : public std::runtime_error {
 public:
  RunError(int number, std::string description)
      : std::runtime_error(description), number_(number), description_(std::move(description)) {}
  int number() const { return number_; }
  const std::string& description() const { return description_; }

 private:
  int number_;
  std::string description_;
};

/// The client API of a run with its handles and the last status of any call.
struct ClientContext {
  explicit ClientContext(EsbApi& api_in) : api(&api_in) {}
  EsbApi* api;
  EsbHandle instance = 0;
  EsbHandle context = 0;
  int32_t last_status = 0;
  uint32_t api_version = 0;
  EsbStatus version_status = 0;
};

/// Fetches the library's pending message. Stores EsbGetMessage's status as the last
/// status; on success `text` is the message cut at NUL and trimmed and the result is the
/// message number, otherwise `text` is left alone and the result is 0.
int32_t GetMessageText(ClientContext& client, std::string& text);

/// The message of a call that failed with `status`, for a line that reports the failure
/// and goes on. The library hands out the oldest message it holds, which a call that left
/// none of its own does not replace: a message numbered neither `status` nor 0 was left by an
/// earlier call, is dropped, and the next one is fetched. `text` is the call's message, cut
/// at NUL and trimmed, or empty when it left none. The result, and the last status, is
/// `status`: the failure's own reference either way.
int32_t GetMessageText(ClientContext& client, EsbStatus status, std::string& text);

/// Does nothing for status 0. Otherwise fetches the message and raises error 99
/// "Essbase Error calling NAME (ref=NUMBER)\r\nTEXT". NUMBER is the library's message
/// number, or the status itself when the library gives none (TEXT is then empty).
void CheckStatus(ClientContext& client, std::string_view function, EsbStatus status);

}  // namespace cubesec
