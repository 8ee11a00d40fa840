#pragma once
// The one place that picks the client API a run talks to: the simulated servers, traced when
// CUBESEC_SIM_TRACE names a file, with failures injected when CUBESEC_SIM_FAULTS plans some,
// slowed by CUBESEC_SIM_LATENCY_US microseconds a call.

#include <memory>
#include <string>

#include "client/api_decorators.h"
#include "client/esb_api.h"
#include "tools/platform.h"

namespace cubesec {

/// A client API with the decorators that the environment asked for, owning all of them.
class ChosenApi {
 public:
  /// The outermost layer: the tracer when there is one (so that it also sees the injected
  /// failures), else the fault injector, else the server itself.
  EsbApi& api() { return *top_; }

 private:
  friend std::unique_ptr<ChosenApi> WrapApi(Platform&, std::unique_ptr<EsbApi>, std::string*);
  std::unique_ptr<EsbApi> server_;
  std::unique_ptr<FaultInjector> faults_;
  std::unique_ptr<EsbApi> latency_;
  std::shared_ptr<AppendFile> trace_file_;
  std::unique_ptr<ApiTracer> tracer_;
  EsbApi* top_ = nullptr;
};

/// Wraps `server` as the environment of `platform` asks. nullptr, with `error` set, when
/// CUBESEC_SIM_FAULTS is malformed or the trace file cannot be opened.
std::unique_ptr<ChosenApi> WrapApi(Platform& platform, std::unique_ptr<EsbApi> server,
                                   std::string* error);

/// The simulated servers of sim::ServerFolder(platform), wrapped as WrapApi says.
std::unique_ptr<ChosenApi> ChooseApi(Platform& platform, std::string* error);

/// How the program gets its client API: ChooseApi, or what a test hands in.
using ApiChooser = std::unique_ptr<ChosenApi> (*)(Platform& platform, std::string* error);

}  // namespace cubesec
