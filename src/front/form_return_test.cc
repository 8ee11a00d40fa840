#include "front/form_return.h"

#include <gtest/gtest.h>

#include "front/main_window_model.h"

namespace cubesec {
namespace {

using M = MainWindowModel;

TEST(FormReturnTest, AFailureThatChangedNothingGoesBackToTheFieldThatMendsIt) {
  struct Case {
    const char* name;
    RunOutcome outcome;
    int field;  // -1: the run ends the program
  };
  auto failed = [](int number, EsbStatus refused_login = 0) {
    RunOutcome outcome;
    outcome.error = RunError(number, "what went wrong");
    outcome.refused_login = refused_login;
    return outcome;
  };
  auto with = [](RunOutcome outcome, auto change) {
    change(outcome);
    return outcome;
  };
  const Case cases[] = {
      {"wrong password", failed(kErrorClientCall, 1051293), M::kPassword},
      {"unknown server", failed(kErrorClientCall, 1042006), M::kServer},
      {"disabled account", failed(kErrorClientCall, 1051017), M::kUser},
      {"missing dump file", failed(kErrorDumpFileNotFound), M::kDumpFile},
      {"refused dump file", failed(kErrorUnsoundDumpFile), M::kDumpFile},
      {"dump file not writable", failed(kErrorFileIo), M::kDumpFile},
      {"a dump that failed after login", failed(kErrorClientCall), M::kPassword},
      {"declined reset", with(RunOutcome{}, [](RunOutcome& o) { o.declined = true; }),
       M::kPassword},
      {"completed", with(RunOutcome{}, [](RunOutcome& o) { o.completed = true; }), -1},
      {"a restore that sent a change",
       with(failed(kErrorClientCall), [](RunOutcome& o) { o.server_changed = true; }), -1},
      {"a reset that deleted part",
       with(RunOutcome{}, [](RunOutcome& o) { o.failed_deletions = 2; }), -1},
      {"interrupted",
       with(failed(kErrorInterrupted), [](RunOutcome& o) { o.interrupt_signal = 2; }), -1},
      {"the run log failed",
       with(failed(kErrorFileIo), [](RunOutcome& o) { o.log_failure = "disk full"; }), -1},
      {"no command ran", RunOutcome{}, -1},
  };
  for (const Case& c : cases) {
    const std::optional<FormReturn> back = FormReturnFor(c.outcome);
    if (c.field < 0) {
      EXPECT_FALSE(back.has_value()) << c.name;
      continue;
    }
    ASSERT_TRUE(back.has_value()) << c.name;
    EXPECT_EQ(back->field, c.field) << c.name;
    EXPECT_EQ(back->error, c.outcome.declined ? "Security reset not confirmed; nothing was deleted."
                                              : "what went wrong")
        << c.name;
  }
}

}  // namespace
}  // namespace cubesec
