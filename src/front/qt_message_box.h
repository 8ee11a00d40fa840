#pragma once
// Message boxes as Qt dialogs, for runs that have the window toolkit up.

#include <string>

#include "tools/platform.h"

namespace cubesec {

/// Shows each request as a modal QMessageBox with its title (followed by the program's
/// name), text, icon and buttons; a Yes/No box starts on No when the request says so, and
/// Escape answers No.
class QtMessageBoxPresenter : public MessageBoxPresenter {
 public:
  explicit QtMessageBoxPresenter(std::string program_name = {})
      : program_name_(std::move(program_name)) {}
  MessageBoxAnswer Show(const MessageBoxRequest& request) override;

 private:
  std::string program_name_;
};

}  // namespace cubesec
