// The dump-file reader driving a whole restore: any bytes, read as a dump file, are restored
// onto the demo server held in memory, brought back to its built state before each input.
// The file is checked whole before anything is sent: a file that fails the check ends the
// run with the check's error and leaves the server byte for byte as it was; a file that
// passes never ends with a reading error or a number that does not fit. Whatever
// the file holds, the run ends through its closing step (logout, then the client's end) with either
// completion or an error of a kind the utility raises, and the server it leaves can still be dumped
// whole.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "client/api_decorators.h"
#include "client/call_check.h"
#include "front/run_driver.h"
#include "fuzz_check.h"
#include "restore/dump_check.h"
#include "sim/sim_api.h"
#include "tools/fake_platform.h"

namespace cubesec {
namespace {

class DiscardFile : public AppendFile {
 public:
  bool Write(std::string_view) override { return true; }
};

// A platform whose files are in memory and whose run log goes nowhere: a restore logs a line
// per object, which no input needs kept.
class FuzzPlatform : public FakePlatform {
 public:
  std::unique_ptr<AppendFile> OpenAppend(const std::string& path, bool owner_only,
                                         std::string* error) override {
    if (path.ends_with(".log")) {
      return std::make_unique<DiscardFile>();
    }
    return FakePlatform::OpenAppend(path, owner_only, error);
  }
  bool MakeOwnerOnly(const std::string&, std::string*) override { return true; }
};

const std::string& DemoFixture() {
  static const std::string* text = [] {
    std::ifstream in(CUBESEC_DEMO_FIXTURE, std::ios::binary);
    const std::string read(std::istreambuf_iterator<char>(in), {});
    if (read.empty()) {
      std::fprintf(stderr, "cannot read %s\n", CUBESEC_DEMO_FIXTURE);
      std::abort();
    }
    // Every input logs in: at the default count the key would take most of its time.
    nlohmann::json fixture = nlohmann::json::parse(read);
    fixture["password_iterations"] = 1;
    return new std::string(fixture.dump());
  }();
  return *text;
}

// Runs one command against `api` with `file` holding `text` in memory, tracing its calls
// into `calls`.
RunOutcome RunCommand(EsbApi& api, Command command, std::string_view text,
                      std::vector<std::string>& calls) {
  ApiTracer tracer(api, [&calls](const std::string& line) {
    const std::string call = line.substr(0, line.find(' '));
    if (call != "EsbGetMessage") calls.push_back(call);
  });
  FuzzPlatform platform;
  platform.executable_path = "/nonexistent/cubesec";
  platform.env["CUBESEC_LOG"] = "/nonexistent/cubesec.log";
  const std::string file = "security.txt";
  if (command == Command::kRestore) platform.files[file] = text;
  RunState state(platform, tracer);
  RunParameters params{command, file, "demo", "admin", "demo-password"};
  // One session: an input must run the same way each time it is tried, and the calls that
  // are checked (and gathered above without a lock) come from one thread, in one order.
  params.sessions = 1;
  return CarryOutRun(state, params);
}

void CheckReleased(const std::vector<std::string>& calls) {
  FUZZ_CHECK(calls.size() >= 2);
  FUZZ_CHECK(calls[calls.size() - 2] == "EsbLogout");
  FUZZ_CHECK(calls.back() == "EsbTerm");
}

}  // namespace
}  // namespace cubesec

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace cubesec;
  static sim::ResettableServer demo(DemoFixture());
  std::unique_ptr<EsbApi> server = demo.Reset();

  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const bool sound = ErrorCount(CheckDumpFile(input)) == 0;
  std::vector<std::string> calls;
  const RunOutcome restore = RunCommand(*server, Command::kRestore, input, calls);
  FUZZ_CHECK(restore.completed != restore.error.has_value());
  if (!sound) {
    // Refused before the login: no call reached the server, nothing changed.
    FUZZ_CHECK(restore.error && restore.error->number() == kErrorUnsoundDumpFile);
    FUZZ_CHECK(std::find(calls.begin(), calls.end(), "EsbLogin") == calls.end());
    FUZZ_CHECK(demo.Unchanged());
    return 0;
  }
  CheckReleased(calls);
  if (restore.error) {
    // A file that the check passed holds no number that does not fit and nothing that a
    // reader refuses: only a call that the server refused (99) may end its restore.
    const int number = restore.error->number();
    if (number != kErrorClientCall) {
      std::fprintf(stderr, "restore of a sound file ended with error %d: %s\n", number,
                   restore.error->description().c_str());
    }
    FUZZ_CHECK(number == kErrorClientCall);
  }

  // Whatever the restore made of the server, it can be dumped whole. A server left as it was
  // built is the demo server, whose dump the tests check; dumping it per input would only
  // halve the rate.
  if (demo.Unchanged()) return 0;
  calls.clear();
  const RunOutcome dump = RunCommand(*server, Command::kDump, {}, calls);
  CheckReleased(calls);
  if (!dump.completed) {
    std::fprintf(stderr, "dump after restore failed: %s\n",
                 dump.error ? dump.error->description().c_str() : "(no error)");
  }
  FUZZ_CHECK(dump.completed);
  return 0;
}
