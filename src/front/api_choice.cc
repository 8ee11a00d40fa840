#include "front/api_choice.h"

#include <mutex>
#include <optional>
#include <vector>

#include "sim/latency_api.h"
#include "sim/sim_api.h"

namespace cubesec {
namespace {

std::optional<std::string> NonEmptyEnv(Platform& platform, const char* name) {
  std::optional<std::string> value = platform.GetEnv(name);
  if (value && value->empty()) return std::nullopt;
  return value;
}

}  // namespace

std::unique_ptr<ChosenApi> WrapApi(Platform& platform, std::unique_ptr<EsbApi> server,
                                   std::string* error) {
  auto chosen = std::make_unique<ChosenApi>();
  chosen->server_ = std::move(server);
  chosen->top_ = chosen->server_.get();

  if (std::optional<std::string> plan = NonEmptyEnv(platform, "CUBESEC_SIM_FAULTS")) {
    std::string why;
    std::optional<std::vector<FaultSpec>> faults = ParseFaultSpecs(*plan, &why);
    if (!faults) {
      *error = "CUBESEC_SIM_FAULTS: " + why;
      return nullptr;
    }
    chosen->faults_ = std::make_unique<FaultInjector>(*chosen->top_, std::move(*faults));
    chosen->top_ = chosen->faults_.get();
  }

  if (std::optional<std::string> latency = NonEmptyEnv(platform, "CUBESEC_SIM_LATENCY_US")) {
    std::string why;
    std::optional<std::chrono::microseconds> delay = sim::ParseLatency(*latency, &why);
    if (!delay) {
      *error = "CUBESEC_SIM_LATENCY_US: " + why;
      return nullptr;
    }
    // Above the injected faults: every call the run makes pays the round trip.
    chosen->latency_ = std::make_unique<sim::LatencyApi>(*chosen->top_, *delay);
    chosen->top_ = chosen->latency_.get();
  }

  if (std::optional<std::string> path = NonEmptyEnv(platform, "CUBESEC_SIM_TRACE")) {
    std::string why;
    std::unique_ptr<AppendFile> file = platform.OpenAppend(*path, false, &why);
    if (!file) {
      *error = "CUBESEC_SIM_TRACE: cannot open '" + *path + "': " + why;
      return nullptr;
    }
    chosen->trace_file_ = std::move(file);
    // Each line reaches the file before the next call, so a trace of a run that was killed
    // still shows the calls it made.
    // Sessions of one run trace from threads of their own, one whole line at a time.
    std::shared_ptr<AppendFile> sink_file = chosen->trace_file_;
    auto sink_mutex = std::make_shared<std::mutex>();
    chosen->tracer_ = std::make_unique<ApiTracer>(*chosen->top_,
                                                  [sink_file, sink_mutex](const std::string& line) {
                                                    std::lock_guard<std::mutex> lock(*sink_mutex);
                                                    sink_file->Write(line + "\n");
                                                  });
    chosen->top_ = chosen->tracer_.get();
  }
  return chosen;
}

std::unique_ptr<ChosenApi> ChooseApi(Platform& platform, std::string* error) {
  return WrapApi(platform, sim::MakeSimulatedApi(sim::ServerFolder(platform)), error);
}

}  // namespace cubesec
