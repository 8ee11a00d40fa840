#pragma once
// The small window that shows an interactive run's progress, and the observer that feeds
// it and keeps the windows responsive while the run works on the one thread.

#include <QElapsedTimer>
#include <QWidget>
#include <memory>
#include <string>

#include "client/run_state.h"
#include "front/progress_model.h"

class QLabel;
class QProgressBar;
class QPushButton;

namespace cubesec {

/// objectName "frmProgress": the label "lblProgress" names the phase, the count and the
/// item, the bar "barProgress" shows the phase's share done, and "cmdCancel" asks the run
/// to stop (closing the window does the same).
class QtProgressWindow : public QWidget {
  Q_OBJECT

 public:
  explicit QtProgressWindow(ProgressModel& model, QWidget* parent = nullptr);
  /// Shows what the model holds now.
  void Refresh();
  QString Text() const;

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void Cancel();

  ProgressModel& model_;
  QLabel* label_;
  QProgressBar* bar_;
  QPushButton* cancel_;
};

class QtProgressObserver : public RunObserver {
 public:
  explicit QtProgressObserver(Platform& platform);
  ~QtProgressObserver() override;
  /// Shows the window (on the first report) with where the run stands.
  void OnProgress(const RunProgress& progress) override;
  /// Processes pending window events, at most every few milliseconds.
  void PumpEvents() override;
  /// The window's Cancel was pressed (or the window closed).
  bool CancelRequested() override { return model_.cancel_requested(); }
  /// Closes the progress window.
  void Finish();
  /// The window, once the first block has shown it; nullptr before.
  QtProgressWindow* window() const { return window_.get(); }

 private:
  ProgressModel model_;
  std::unique_ptr<QtProgressWindow> window_;
  QElapsedTimer since_pump_;
};

}  // namespace cubesec
