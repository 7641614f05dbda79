#include "gui_prompt.h"

#include <QApplication>
#include <QMessageBox>
#include <QThread>
#include <utility>

#include "session/program.h"
#include "qt_text.h"
#include "scan_panel.h"

namespace ambrel::ui {

namespace {
QString BoxTitle() {
  const std::string name = SettingsLoaded() ? GetSetting("LocalName") : std::string();
  return name.empty() ? QStringLiteral("Ambrel") : Q(name);
}
}  // namespace

AnswerTexts AnswersFor(const QString& question) {
  if (question == Q(kKeepScanningQuestion)) return {Q("继续扫描"), Q("停止扫描"), true};
  return {Q("是"), Q("否")};
}

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
  QMessageBox box(QMessageBox::Information, BoxTitle(), text, QMessageBox::NoButton, window_);
  box.addButton(Q("确定"), QMessageBox::AcceptRole);
  box.exec();
}

bool GuiPrompt::AskOnGuiThread(const QString& text) {
  if (questionHook) return questionHook(text);
  const AnswerTexts answers = AnswersFor(text);
  QMessageBox box(QMessageBox::Question, BoxTitle(), text, QMessageBox::NoButton, window_);
  QPushButton* yes = box.addButton(answers.yes, QMessageBox::YesRole);
  QPushButton* no = box.addButton(answers.no, QMessageBox::NoRole);
  box.setDefaultButton(answers.keepIsYes ? yes : no);
  box.setEscapeButton(answers.keepIsYes ? yes : no);
  box.exec();
  return box.clickedButton() == yes;
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
