// What the two progress windows (TForm2, TForm3) share: no close button, the language's
// font, plain left-aligned progress lines, and a close that is refused while work runs.
#pragma once

#include <QDialog>
#include <QRect>
#include <QString>

#include <cstdint>
#include <initializer_list>

#include "app/language.h"

class QLabel;
class QWidget;

namespace morvane {

class ProgressWindow : public QDialog {
  Q_OBJECT

 public:
  explicit ProgressWindow(QWidget* parent = nullptr);

  // The line of the read rate and the time left (or "Paused"), below the progress lines.
  QLabel* RateLine;
  // "12.5 MB/s  left 3m20s" from the bytes read in `seconds` and the share done; a share
  // of none gives the rate only.
  void ShowRate(int64_t bytes, double seconds, int64_t done, int64_t total);
  void ShowPaused(bool paused);

 public slots:
  // Escape and the dialog's own reject: ignored while the work runs.
  void reject() override;

 protected:
  // Lays the window out: the source line, a rule, the progress lines, the rate line, then
  // the buttons at the bottom right.
  void BuildLayout(QLabel* sourceLine, std::initializer_list<QLabel*> lines, std::initializer_list<QWidget*> buttons);
  // "Source: " + the path, shortened in the middle to a width that keeps the window on a
  // small screen; the whole path is the line's tooltip.
  void ShowSource(QLabel* sourceLine, const QString& prefix, const QString& path);

  // Whether the user may close the window now.
  virtual bool MayClose() const = 0;
  void closeEvent(QCloseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
};

// The language's font on `window`, falling back to the application font's families.
void ApplyFaceFont(QWidget* window, const TFaceTexts& texts);
// The part of its screen's available area that `window`'s inside may take: less its frame,
// or a 40-pixel title bar while the window manager has not framed it yet.
QRect ScreenRoom(const QWidget* window);
// Moves a top-level `window` up and left until its frame lies in its screen's available area,
// as far as its size allows.
void KeepOnScreen(QWidget* window);
// A progress line: plain text, left-aligned, wide enough not to make the window jump.
QLabel* NewProgressLabel(QWidget* parent, const char* objectName);

}  // namespace morvane
