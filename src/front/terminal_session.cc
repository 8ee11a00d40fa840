#include "front/terminal_session.h"

#include <iostream>

#include "front/main_window_model.h"
#include "front/session_texts.h"
#include "front/terminal_form.h"

namespace cubesec {

void TerminalProgressLine::OnBlock(std::string_view key_word, int blocks) {
  const std::string text = ProgressText(command_, key_word, blocks);
  // Blanks wipe what is left of a longer previous text.
  const size_t pad = shown_length_ > text.size() ? shown_length_ - text.size() : 0;
  io_.Write("\r" + text + std::string(pad, ' '));
  shown_length_ = text.size();
  open_ = true;
}

void TerminalProgressLine::Finish() {
  if (!open_) return;
  io_.Write("\n");
  open_ = false;
  shown_length_ = 0;
}

TerminalSession::TerminalSession(Platform& platform, std::string program_name, TerminalIo& io,
                                 std::istream& in, std::ostream& out)
    : platform_(platform),
      program_name_(std::move(program_name)),
      io_(io),
      presenter_(in, out),
      progress_(io) {
  platform_.SetMessageBoxPresenter(&presenter_);
}

TerminalSession::~TerminalSession() { platform_.SetMessageBoxPresenter(nullptr); }

InteractiveResult TerminalSession::Ask(RunParameters& params, const FormRequest& form) {
  progress_.Finish();
  MainWindowModel model(platform_, program_name_, params);
  // The window empties a given password so as not to show it; the terminal shows none, and
  // asks only for what was not given.
  if (!params.password.empty()) model.SetField(MainWindowModel::kPassword, params.password);
  TerminalFormRequest request;
  request.chosen = params.command;
  request.fields = form.fields.value_or(MainWindowModel::MissingFields(params));
  if (form.mend_field >= 0) {
    // Back after a failed run: the field to mend first, then what is empty (the password).
    request.error = form.error;
    request.fields = {form.mend_field};
    for (int i = 0; i < MainWindowModel::kFieldCount; ++i) {
      if (i == form.mend_field || !model.Field(i).empty()) continue;
      if (i == MainWindowModel::kDumpFile && params.command == "C") continue;
      request.fields.push_back(i);
    }
  }
  RunTerminalForm(model, io_, request);
  if (!model.WantsRun()) return InteractiveResult::kCancelled;
  params = model.Result();
  progress_.SetCommand(params.command);
  return InteractiveResult::kRun;
}

void TerminalSession::ShowCompletion(const std::string& command, RunEnd end,
                                     const std::string& log_path) {
  progress_.Finish();
  io_.Write(CompletionText(command, end, log_path) + "\n");
}

}  // namespace cubesec

namespace cubesec {
namespace {

// Owns the console terminal that the session it wraps talks through.
class ConsoleSession : public InteractiveSession {
 public:
  ConsoleSession(Platform& platform, const std::string& program_name)
      : terminal_(platform, std::cin, std::cerr),
        session_(platform, program_name, terminal_, std::cin, std::cerr) {}
  InteractiveResult Ask(RunParameters& params, const FormRequest& request) override {
    return session_.Ask(params, request);
  }
  RunObserver& observer() override { return session_.observer(); }
  void ShowCompletion(const std::string& command, RunEnd end,
                      const std::string& log_path) override {
    session_.ShowCompletion(command, end, log_path);
  }

 private:
  ConsoleTerminal terminal_;
  TerminalSession session_;
};

}  // namespace

std::unique_ptr<InteractiveSession> MakeTerminalSession(Platform& platform,
                                                        const std::string& program_name) {
  return std::make_unique<ConsoleSession>(platform, program_name);
}

}  // namespace cubesec
