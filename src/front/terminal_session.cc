#include "front/terminal_session.h"

#include <iostream>
#include <utility>

#include "front/main_window_model.h"
#include "front/session_texts.h"
#include "front/terminal_form.h"

namespace cubesec {

namespace {

// `text` cut to `width` characters (UTF-8), and the count of characters kept.
std::pair<std::string, size_t> CutToWidth(const std::string& text, size_t width) {
  size_t characters = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    const bool starts_character = (static_cast<unsigned char>(text[i]) & 0xC0) != 0x80;
    if (!starts_character) continue;
    if (characters == width) return {text.substr(0, i), characters};
    ++characters;
  }
  return {text, characters};
}

}  // namespace

TerminalProgressLine::TerminalProgressLine(Platform& platform, TerminalIo& io)
    : platform_(platform), io_(io), last_shown_ms_(platform.SteadyMilliseconds()) {}

void TerminalProgressLine::OnProgress(const RunProgress& progress) {
  const int64_t now = platform_.SteadyMilliseconds();
  if (now - last_shown_ms_ < kIntervalMs) return;
  last_shown_ms_ = now;
  auto [text, length] = CutToWidth(ProgressText(progress), kWidth);
  // Blanks wipe what is left of a longer previous text.
  const size_t pad = shown_length_ > length ? shown_length_ - length : 0;
  io_.Write("\r" + text + std::string(pad, ' '));
  shown_length_ = length;
}

void TerminalProgressLine::Finish() {
  if (shown_length_ == 0) return;
  io_.Write("\r" + std::string(shown_length_, ' ') + "\r");
  shown_length_ = 0;
}

TerminalSession::TerminalSession(Platform& platform, std::string program_name, TerminalIo& io,
                                 std::istream& in, std::ostream& out)
    : platform_(platform),
      program_name_(std::move(program_name)),
      io_(io),
      presenter_(in, out),
      progress_(platform, io) {
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
      if (i == MainWindowModel::kDumpFile && params.command == Command::kReset) continue;
      request.fields.push_back(i);
    }
  }
  RunTerminalForm(model, io_, request);
  if (!model.WantsRun()) return InteractiveResult::kCancelled;
  params = model.Result();
  return InteractiveResult::kRun;
}

void TerminalSession::ShowCompletion(Command command, RunEnd end, const std::string& log_path) {
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
  void ShowCompletion(Command command, RunEnd end, const std::string& log_path) override {
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
