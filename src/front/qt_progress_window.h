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

namespace cubesec {

/// objectName "frmProgress"; its label "lblProgress" names the block and the count.
class QtProgressWindow : public QWidget {
  Q_OBJECT

 public:
  explicit QtProgressWindow(QWidget* parent = nullptr);
  void SetText(const QString& text);
  QString Text() const;

 private:
  QLabel* label_;
};

class QtProgressObserver : public RunObserver {
 public:
  explicit QtProgressObserver(Platform& platform);
  ~QtProgressObserver() override;
  /// Shows the window (on the first report) with where the run stands.
  void OnProgress(const RunProgress& progress) override;
  /// Processes pending window events, at most every few milliseconds.
  void PumpEvents() override;
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
