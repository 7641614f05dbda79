// The core's UserPrompt on the desktop: message boxes on the GUI thread.
// A worker that shows a message or asks a question waits until the user has
// answered (the call is handed to the GUI thread and blocks the worker).
#pragma once

#include <QObject>
#include <QPointer>
#include <QWidget>
#include <functional>
#include <mutex>
#include <vector>
#include <string>

#include "session/worded_prompt.h"

namespace ambrel::ui {

class GuiPrompt final : public QObject, public WordedPrompt {
  Q_OBJECT
 public:
  explicit GuiPrompt(QObject* parent = nullptr);
  // The window the boxes are centred on (may be null).
  void setWindow(QWidget* window) { window_ = window; }
  void ShowMessage(const std::string& text) override;
  bool AskYesNo(const std::string& text) override;

  // Replace the boxes (tests, scripted runs); called on the GUI thread.
  std::function<void(const QString&)> messageHook;
  std::function<bool(const QString&)> questionHook;

 private:
  void ShowOnGuiThread(const QString& text);
  bool AskOnGuiThread(const QString& text);
  QPointer<QWidget> window_;
};

// The two answer buttons of a question: "是" / "否", except where a bare
// yes or no could be misread (the stop question: which answer stops?).
// `keepIsYes`: Escape and Enter give yes (going on is the harmless answer).
struct AnswerTexts {
  QString yes;
  QString no;
  bool keepIsYes = false;
};
AnswerTexts AnswersFor(const QString& question);

// Collects messages for later (a copying run shows its report after the
// progress dialog closed) and hands questions to another prompt at once.
class DeferredPrompt final : public WordedPrompt {
 public:
  explicit DeferredPrompt(WordedPrompt& questions) : questions_(questions) {}
  void ShowMessage(const std::string& text) override;
  bool AskYesNo(const std::string& text) override { return questions_.AskYesNo(text); }
  std::vector<std::string> TakeMessages();

 private:
  WordedPrompt& questions_;
  std::mutex lock_;
  std::vector<std::string> messages_;
};

}  // namespace ambrel::ui
