#include "front/form_return.h"

#include "client/esb_status.h"
#include "front/main_window_model.h"

namespace cubesec {
namespace {

// The field that mends a refused login.
int FieldOfRefusedLogin(EsbStatus status) {
  switch (status) {
    case kStatusServerUnreachable:
      return MainWindowModel::kServer;
    case kStatusUserNotFound:
    case kStatusAccountDisabled:
      return MainWindowModel::kUser;
    default:
      // A wrong password, or a refusal that no field explains: the password is to be typed
      // again in any case.
      return MainWindowModel::kPassword;
  }
}

}  // namespace

std::optional<FormReturn> FormReturnFor(const RunOutcome& outcome) {
  if (outcome.completed || outcome.server_changed || outcome.failed_deletions > 0) {
    return std::nullopt;
  }
  if (outcome.interrupt_signal != 0 || !outcome.log_failure.empty()) return std::nullopt;
  if (outcome.declined) {
    return FormReturn{MainWindowModel::kPassword,
                      "Security reset not confirmed; nothing was deleted."};
  }
  if (!outcome.error) return std::nullopt;
  switch (outcome.error->number()) {
    case kErrorInterrupted:
      return std::nullopt;
    case kErrorDumpFileNotFound:
    case kErrorFileIo:  // the run log could be written, so it is the dump file
    case kErrorUnsoundDumpFile:
      return FormReturn{MainWindowModel::kDumpFile, outcome.error->description()};
    default:
      break;
  }
  if (outcome.refused_login != 0) {
    return FormReturn{FieldOfRefusedLogin(outcome.refused_login), outcome.error->description()};
  }
  // Nothing names a field: the password, which is to be typed again anyway.
  return FormReturn{MainWindowModel::kPassword, outcome.error->description()};
}

}  // namespace cubesec
