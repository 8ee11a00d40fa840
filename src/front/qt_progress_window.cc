#include "front/qt_progress_window.h"

#include <QCoreApplication>
#include <QLabel>
#include <QVBoxLayout>

#include "front/main_window_model.h"

namespace cubesec {
namespace {

// Often enough to repaint and answer the window system, seldom enough not to slow the run.
constexpr qint64 kPumpIntervalMs = 30;

}  // namespace

QtProgressWindow::QtProgressWindow(QWidget* parent) : QWidget(parent) {
  setObjectName("frmProgress");
  const std::string_view title = MainWindowModel::kTitle;
  setWindowTitle(QString::fromUtf8(title.data(), static_cast<qsizetype>(title.size())));
  auto* layout = new QVBoxLayout(this);
  label_ = new QLabel(this);
  label_->setObjectName("lblProgress");
  label_->setMinimumWidth(320);
  layout->addWidget(label_);
}

void QtProgressWindow::SetText(const QString& text) { label_->setText(text); }

QString QtProgressWindow::Text() const { return label_->text(); }

QtProgressObserver::QtProgressObserver(Platform& platform) : model_(platform) {
  since_pump_.start();
}

QtProgressObserver::~QtProgressObserver() = default;

void QtProgressObserver::OnProgress(const RunProgress& progress) {
  if (!model_.Take(progress)) return PumpEvents();
  if (!window_) {
    window_ = std::make_unique<QtProgressWindow>();
    window_->show();
  }
  window_->SetText(QString::fromStdString(model_.text()));
  PumpEvents();
}

void QtProgressObserver::PumpEvents() {
  if (since_pump_.elapsed() < kPumpIntervalMs) return;
  QCoreApplication::processEvents();
  since_pump_.restart();
}

void QtProgressObserver::Finish() { window_.reset(); }

}  // namespace cubesec
