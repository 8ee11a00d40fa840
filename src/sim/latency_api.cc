#include "sim/latency_api.h"

#include <charconv>
#include <thread>

namespace cubesec::sim {

namespace {

constexpr int64_t kMaxLatency = 10'000'000;

}  // namespace

LatencyApi::LatencyApi(EsbApi& inner, std::chrono::microseconds delay, Sleep sleep)
    : EsbApiDecorator(inner), delay_(delay), sleep_(std::move(sleep)) {
  if (!sleep_) sleep_ = [](std::chrono::microseconds time) { std::this_thread::sleep_for(time); };
}

EsbStatus LatencyApi::Intercept(const char*, const std::function<EsbStatus()>& call) {
  EsbStatus status = call();
  if (delay_.count() > 0) sleep_(delay_);
  return status;
}

std::optional<std::chrono::microseconds> ParseLatency(const std::string& text, std::string* error) {
  int64_t value = -1;
  auto [end, problem] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (problem != std::errc() || end != text.data() + text.size() || value < 0 ||
      value > kMaxLatency) {
    if (error != nullptr) {
      *error = "'" + text + "' is not a whole number of microseconds from 0 to " +
               std::to_string(kMaxLatency);
    }
    return std::nullopt;
  }
  return std::chrono::microseconds(value);
}

}  // namespace cubesec::sim
