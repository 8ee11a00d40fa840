#pragma once
// Tells whether a run sent the server anything that changes its security, so that a run
// that failed before it did can be offered again with nothing to undo.

#include <atomic>
#include <functional>

#include "client/api_decorators.h"

namespace cubesec {

/// Forwards every call; notes each call that creates, sets, assigns or deletes. A write
/// counts when it is sent, whatever its status: the server may have taken part of it.
class ChangeWatch : public EsbApiDecorator {
 public:
  explicit ChangeWatch(EsbApi& inner) : EsbApiDecorator(inner) {}
  /// True once a call that may change the server was sent.
  bool changed() const { return changed_; }

 protected:
  EsbStatus Intercept(const char* name, const std::function<EsbStatus()>& call) override;

 private:
  // Sessions of one run may call from several threads.
  std::atomic<bool> changed_{false};
};

}  // namespace cubesec
