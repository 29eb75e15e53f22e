// The program's message boxes: every text and caption comes from the language texts.
//
// All boxes go through one place, so a test (or a scripted run) can answer them without a
// modal loop: SetMessageBoxResponder installs a function that receives every box instead of
// the user. Without a responder a real QMessageBox is shown.
#pragma once

#include <QString>

#include <functional>
#include <vector>

#include "app/language.h"
#include "scan/observer.h"

class QWidget;

namespace morvane {

enum class MessageBoxKind {
  Information,       // one OK button, information icon
  Warning,           // one OK button, warning icon
  Error,             // one OK button, error icon
  AbortRetryIgnore,  // a recovered file could not be written
  YesNo,             // a question
};

enum class MessageBoxAnswer { Ok, Abort, Retry, Ignore, Yes, No, Extra };

struct MessageBoxRequest {
  MessageBoxKind Kind = MessageBoxKind::Information;
  QString Caption;  // empty: the application's name
  QString Text;
  QString ExtraButton;  // a second button beside OK (answered Extra); empty: none
};

using MessageBoxResponder = std::function<MessageBoxAnswer(QWidget* parent, const MessageBoxRequest& box)>;

// Installs `responder` for every following box; an empty function restores the real boxes.
void SetMessageBoxResponder(MessageBoxResponder responder);

// For tests: answers every box with `answer` (Ok for boxes without that button) and keeps
// the boxes shown, until it goes out of scope.
class ScopedMessageBoxRecorder {
 public:
  explicit ScopedMessageBoxRecorder(MessageBoxAnswer answer = MessageBoxAnswer::Ok);
  ~ScopedMessageBoxRecorder();
  ScopedMessageBoxRecorder(const ScopedMessageBoxRecorder&) = delete;
  ScopedMessageBoxRecorder& operator=(const ScopedMessageBoxRecorder&) = delete;

  void SetAnswer(MessageBoxAnswer answer) { answer_ = answer; }
  const std::vector<MessageBoxRequest>& Boxes() const { return boxes_; }
  // Text of the last box; empty when none was shown.
  QString LastText() const { return boxes_.empty() ? QString() : boxes_.back().Text; }
  void Clear() { boxes_.clear(); }

 private:
  MessageBoxAnswer answer_;
  std::vector<MessageBoxRequest> boxes_;
};

// Shows one box and returns the answer (Ok for boxes with one button).
MessageBoxAnswer ShowMessageBox(QWidget* parent, const MessageBoxRequest& box);

// Language text n as a QString.
QString FaceText(const TFaceTexts& texts, int n);

// A box with language text `textNumber` and caption language text `captionNumber`; the
// error icon when the caption is "Error" (17 or 61), else the information icon.
void ShowMessageBox(QWidget* parent, const TFaceTexts& texts, int textNumber, int captionNumber);
// The same with a text of its own.
void ShowMessageText(QWidget* parent, const TFaceTexts& texts, const QString& text, int captionNumber);
// A plain message with the application's name as caption ("No enough memory!",
// "Can't create TMP file!", the invalid photo date messages).
void ShowPlainMessage(QWidget* parent, const QString& text);
// A Yes/No question (text and caption language texts); true for Yes.
bool AskYesNo(QWidget* parent, const TFaceTexts& texts, int textNumber, int captionNumber);
bool AskYesNoText(QWidget* parent, const TFaceTexts& texts, const QString& text, int captionNumber);

// A recovered file could not be written: language text 28 ("Failed save file: " and two
// line breaks) + the file name, caption language text 17, Abort / Retry / Ignore.
// Closing the box without a choice counts as Abort.
SaveFailureChoice AskAbortRetryIgnore(QWidget* parent, const TFaceTexts& texts, const QString& fileName);
// A warning (the warning icon) with the language's "Error" caption.
void ShowWarningText(QWidget* parent, const TFaceTexts& texts, const QString& text);

}  // namespace morvane
