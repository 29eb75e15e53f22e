#include "gui/progress_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QScreen>
#include <QVBoxLayout>

#include <algorithm>

#include "gui/own_texts.h"
#include "scan/scan_summary.h"

namespace morvane {

namespace {

// The widest the path of the source line may be drawn: the windows stay within a 1024-pixel
// screen whatever the path.
constexpr int kSourcePathWidth = 420;

}  // namespace

ProgressWindow::ProgressWindow(QWidget* parent) : QDialog(parent) {
  // A title bar without close, minimise or maximise buttons.
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
  setSizeGripEnabled(false);
  RateLine = NewProgressLabel(this, "RateLine");
}

void ProgressWindow::ShowSource(QLabel* sourceLine, const QString& prefix, const QString& path) {
  const QString shown = sourceLine->fontMetrics().elidedText(path, Qt::ElideMiddle, kSourcePathWidth);
  sourceLine->setText(prefix + QLatin1Char(' ') + shown);
  sourceLine->setToolTip(shown == path ? QString() : path);
}

void ProgressWindow::ShowRate(int64_t bytes, double seconds, int64_t done, int64_t total) {
  QFont plain = RateLine->font();
  plain.setBold(false);
  RateLine->setFont(plain);
  const double left = done > 0 && total >= done ? seconds * double(total - done) / double(done) : -1;
  RateLine->setText(QString::fromStdString(RateAndTimeLeft(bytes / std::max(seconds, 1e-3), left, CurrentLanguage())));
}

void ProgressWindow::ShowPaused(bool paused) {
  QFont bold = RateLine->font();
  bold.setBold(paused);
  RateLine->setFont(bold);
  RateLine->setText(paused ? Own(OwnText::Paused) : QString());
}

void ProgressWindow::BuildLayout(QLabel* sourceLine, std::initializer_list<QLabel*> lines,
                                 std::initializer_list<QWidget*> buttons) {
  auto* rule = new QFrame(this);
  rule->setFrameShape(QFrame::HLine);
  rule->setFrameShadow(QFrame::Sunken);

  auto* row = new QHBoxLayout;
  row->addStretch(1);
  for (QWidget* b : buttons) {
    b->setMinimumWidth(96);
    row->addWidget(b);
  }

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(18, 16, 18, 14);
  layout->setSpacing(8);
  layout->addWidget(sourceLine);
  layout->addWidget(rule);
  for (QLabel* l : lines) layout->addWidget(l);
  layout->addWidget(RateLine);
  layout->addSpacing(6);
  layout->addLayout(row);
  layout->setSizeConstraint(QLayout::SetFixedSize);
}

void ProgressWindow::reject() {
  if (MayClose()) QDialog::reject();
}

void ProgressWindow::closeEvent(QCloseEvent* event) {
  if (!MayClose()) {
    event->ignore();
    return;
  }
  QDialog::closeEvent(event);
}

void ProgressWindow::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape && !MayClose()) {
    event->accept();
    return;
  }
  QDialog::keyPressEvent(event);
}

void ApplyFaceFont(QWidget* window, const TFaceTexts& texts) {
  QFont f = QApplication::font();
  QStringList families{QString::fromStdString(texts.FontName())};
  families << QApplication::font().families();
  f.setFamilies(families);
  window->setFont(f);
}

QRect ScreenRoom(const QWidget* window) {
  const QScreen* screen = window->screen();
  if (!screen) return {};
  QRect room = screen->availableGeometry();
  const QRect frame = window->frameGeometry(), inside = window->geometry();
  const int left = inside.left() - frame.left(), top = inside.top() - frame.top();
  const int right = frame.right() - inside.right(), bottom = frame.bottom() - inside.bottom();
  const int titleBar = top > 0 ? top : 40;
  return room.adjusted(left, titleBar, -right, -bottom);
}

void KeepOnScreen(QWidget* window) {
  const QRect room = ScreenRoom(window);
  if (room.isEmpty()) return;
  QPoint at = window->geometry().topLeft();
  at.setX(std::max(room.left(), std::min(at.x(), room.right() + 1 - window->width())));
  at.setY(std::max(room.top(), std::min(at.y(), room.bottom() + 1 - window->height())));
  if (at != window->geometry().topLeft()) window->move(at + (window->pos() - window->geometry().topLeft()));
}

QLabel* NewProgressLabel(QWidget* parent, const char* objectName) {
  auto* label = new QLabel(parent);
  label->setObjectName(QString::fromLatin1(objectName));
  label->setTextFormat(Qt::PlainText);
  label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  label->setMinimumWidth(360);
  return label;
}

}  // namespace morvane
