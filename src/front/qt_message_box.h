#pragma once
// Message boxes as Qt dialogs, for runs that have the window toolkit up.

#include "tools/platform.h"

namespace cubesec {

/// Shows each request as a modal QMessageBox with its title, text, icon and buttons; a
/// Yes/No box starts on No when the request says so, and Escape answers No.
class QtMessageBoxPresenter : public MessageBoxPresenter {
 public:
  MessageBoxAnswer Show(const MessageBoxRequest& request) override;
};

}  // namespace cubesec
