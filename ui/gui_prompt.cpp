#include "gui_prompt.h"

#include <QApplication>
#include <QMessageBox>
#include <QThread>
#include <utility>

#include "session/program.h"
#include "qt_text.h"

namespace ambrel::ui {

namespace {
QString BoxTitle() {
  const std::string name = SettingsLoaded() ? GetSetting("LocalName") : std::string();
  return name.empty() ? QStringLiteral("Ambrel") : Q(name);
}
}  // namespace

GuiPrompt::GuiPrompt(QObject* parent) : QObject(parent) {}

void GuiPrompt::ShowMessage(const std::string& text) {
  const QString message = Q(text);
  if (QThread::currentThread() == thread()) {
    ShowOnGuiThread(message);
    return;
  }
  QMetaObject::invokeMethod(this, [this, message] { ShowOnGuiThread(message); },
                            Qt::BlockingQueuedConnection);
}

bool GuiPrompt::AskYesNo(const std::string& text) {
  const QString question = Q(text);
  if (QThread::currentThread() == thread()) return AskOnGuiThread(question);
  bool answer = false;
  QMetaObject::invokeMethod(this, [this, question, &answer] { answer = AskOnGuiThread(question); },
                            Qt::BlockingQueuedConnection);
  return answer;
}

void GuiPrompt::ShowOnGuiThread(const QString& text) {
  if (messageHook) {
    messageHook(text);
    return;
  }
  QMessageBox::information(window_, BoxTitle(), text);
}

bool GuiPrompt::AskOnGuiThread(const QString& text) {
  if (questionHook) return questionHook(text);
  return QMessageBox::question(window_, BoxTitle(), text, QMessageBox::Yes | QMessageBox::No,
                               QMessageBox::No) == QMessageBox::Yes;
}

void DeferredPrompt::ShowMessage(const std::string& text) {
  std::lock_guard<std::mutex> hold(lock_);
  messages_.push_back(text);
}

std::vector<std::string> DeferredPrompt::TakeMessages() {
  std::lock_guard<std::mutex> hold(lock_);
  return std::exchange(messages_, {});
}

}  // namespace ambrel::ui
