#include "front/qt_session.h"

#include <QApplication>
#include <vector>

#include "front/main_window_model.h"
#include "front/qt_display.h"
#include "front/qt_main_window.h"
#include "front/qt_message_box.h"
#include "front/qt_progress_window.h"
#include "front/session_texts.h"

namespace cubesec {
namespace {

class QtSession : public InteractiveSession {
 public:
  QtSession(Platform& platform, std::string program_name, const char* argv0,
            std::string qt_platforms)
      : platform_(platform),
        program_name_(std::move(program_name)),
        arg0_(argv0),
        qt_platforms_(std::move(qt_platforms)),
        presenter_(program_name_),
        progress_(platform) {
    if (QApplication::instance() == nullptr) {
      qt_argv_ = {arg0_.data(), option_.data(), qt_platforms_.data(), nullptr};
      app_ = std::make_unique<QApplication>(qt_argc_, qt_argv_.data());
    }
    platform_.SetMessageBoxPresenter(&presenter_);
  }

  ~QtSession() override {
    platform_.SetMessageBoxPresenter(nullptr);
    progress_.Finish();
  }

  InteractiveResult Ask(RunParameters& params, const FormRequest& request) override {
    // The progress of a run that failed goes before the form comes back.
    progress_.Finish();
    MainWindowModel model(platform_, program_name_, params);
    if (request.mend_field >= 0) model.ShowRunError(request.mend_field, request.error);
    {
      QtMainWindow window(model);
      window.ShowModal();
    }
    if (!model.WantsRun()) return InteractiveResult::kCancelled;
    params = model.Result();
    return InteractiveResult::kRun;
  }

  RunObserver& observer() override { return progress_; }

  void ShowCompletion(Command command, RunEnd end, const std::string& log_path) override {
    progress_.Finish();
    presenter_.Show(CompletionNote(command, end, log_path));
  }

 private:
  Platform& platform_;
  std::string program_name_;
  std::string arg0_;
  std::string option_ = "-platform";
  std::string qt_platforms_;
  int qt_argc_ = 3;
  std::vector<char*> qt_argv_;
  std::unique_ptr<QApplication> app_;
  QtMessageBoxPresenter presenter_;
  QtProgressObserver progress_;
};

}  // namespace

std::unique_ptr<InteractiveSession> MakeQtSession(Platform& platform,
                                                  const std::string& program_name, int argc,
                                                  char** argv, std::string* why) {
  const char* argv0 = argc > 0 && argv != nullptr && argv[0] != nullptr ? argv[0] : "cubesec";
  std::string qt_platforms;
  if (QApplication::instance() == nullptr) {
    qt_platforms = UsableQtPlatforms(platform, why);
    if (qt_platforms.empty()) return nullptr;
  }
  return std::make_unique<QtSession>(platform, program_name, argv0, std::move(qt_platforms));
}

}  // namespace cubesec
