#include "front/qt_progress_window.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include "front/main_window_model.h"

namespace cubesec {
namespace {

// Often enough to repaint and answer the window system, seldom enough not to slow the run.
constexpr qint64 kPumpIntervalMs = 30;

}  // namespace

QtProgressWindow::QtProgressWindow(ProgressModel& model, QWidget* parent)
    : QWidget(parent), model_(model) {
  setObjectName("frmProgress");
  const std::string_view title = MainWindowModel::kTitle;
  setWindowTitle(QString::fromUtf8(title.data(), static_cast<qsizetype>(title.size())));
  auto* layout = new QVBoxLayout(this);
  label_ = new QLabel(this);
  label_->setObjectName("lblProgress");
  label_->setMinimumWidth(320);
  layout->addWidget(label_);
  bar_ = new QProgressBar(this);
  bar_->setObjectName("barProgress");
  bar_->setRange(0, 100);
  layout->addWidget(bar_);
  auto* buttons = new QHBoxLayout();
  buttons->addStretch();
  cancel_ = new QPushButton(this);
  cancel_->setObjectName("cmdCancel");
  buttons->addWidget(cancel_);
  layout->addLayout(buttons);
  connect(cancel_, &QPushButton::clicked, this, &QtProgressWindow::Cancel);
  Refresh();
}

void QtProgressWindow::Refresh() {
  label_->setText(QString::fromStdString(model_.text()));
  bar_->setValue(model_.percent());
  cancel_->setText(QString::fromUtf8(model_.cancel_caption()));
  cancel_->setEnabled(!model_.cancel_requested());
}

QString QtProgressWindow::Text() const { return label_->text(); }

void QtProgressWindow::closeEvent(QCloseEvent* event) {
  // The window goes when the run has stopped, not before: until then it shows that it stops.
  event->ignore();
  Cancel();
}

void QtProgressWindow::Cancel() {
  model_.RequestCancel();
  Refresh();
}

QtProgressObserver::QtProgressObserver(Platform& platform) : model_(platform) {
  since_pump_.start();
}

QtProgressObserver::~QtProgressObserver() = default;

void QtProgressObserver::OnProgress(const RunProgress& progress) {
  if (!model_.Take(progress)) return PumpEvents();
  if (!window_) {
    window_ = std::make_unique<QtProgressWindow>(model_);
    window_->show();
  }
  window_->Refresh();
  PumpEvents();
}

void QtProgressObserver::PumpEvents() {
  if (since_pump_.elapsed() < kPumpIntervalMs) return;
  QCoreApplication::processEvents();
  since_pump_.restart();
}

void QtProgressObserver::Finish() { window_.reset(); }

}  // namespace cubesec
