#pragma once
// A client API decorator that makes every call take longer, as the round trip to a server on
// another machine does, so that a simulated server shows what the number of calls costs.

#include <chrono>
#include <functional>
#include <optional>
#include <string>

#include "client/api_decorators.h"

namespace cubesec::sim {

/// Runs every call of `inner`, then waits `delay` before returning its status.
class LatencyApi : public EsbApiDecorator {
 public:
  using Sleep = std::function<void(std::chrono::microseconds)>;
  /// `sleep` waits at least the time it is given; by default the thread sleeps.
  LatencyApi(EsbApi& inner, std::chrono::microseconds delay, Sleep sleep = {});

 protected:
  EsbStatus Intercept(const char* name, const std::function<EsbStatus()>& call) override;

 private:
  std::chrono::microseconds delay_;
  Sleep sleep_;
};

/// The delay of CUBESEC_SIM_LATENCY_US: a whole number of microseconds from 0 to 10000000 (ten
/// seconds). nullopt, with `error` set, for anything else.
std::optional<std::chrono::microseconds> ParseLatency(const std::string& text, std::string* error);

}  // namespace cubesec::sim
