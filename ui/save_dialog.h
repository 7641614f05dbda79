// The save-parameter dialog "准备恢复文件": the target folder (pre-filled
// with the folder used last), the folder picker, and the overwrite and
// read-error policies behind "高级设置". OK runs the target checks.
#pragma once

#include <QButtonGroup>
#include <QDialog>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <cstdint>
#include <string>

#include "session/worded_prompt.h"
#include "session/texts.h"

namespace ambrel::ui {

class SaveDialog final : public QDialog {
  Q_OBJECT
 public:
  SaveDialog(std::uint64_t itemCount, std::uint64_t byteTotal, std::string sourcePath, WordedPrompt& prompt,
             QWidget* parent = nullptr);
  // Presses OK by itself one second after opening.
  void setAutoConfirm(bool on);
  const SaveParameters& parameters() const { return parameters_; }
  // The OK button's work; true when the checks passed and the dialog closed.
  bool TryAccept();
  void ToggleAdvanced();

  QLineEdit* folderField() const { return folder_; }
  QPushButton* advancedButton() const { return advanced_; }
  bool advancedShown() const { return !overwriteBox_->isHidden(); }
  void setOverwrite(std::uint32_t policy);
  void setReadErrors(std::uint32_t policy);

  // The folder remembered for the next dialog.
  static QString LastFolder();
  static void SetLastFolder(const QString& folder);

 private:
  void PickFolder();

  std::uint64_t byteTotal_;
  std::string sourcePath_;
  WordedPrompt& prompt_;
  SaveParameters parameters_;
  QLineEdit* folder_;
  QPushButton* advanced_;
  QGroupBox* overwriteBox_;
  QGroupBox* readErrorBox_;
  QButtonGroup overwrite_;
  QButtonGroup readErrors_;
};

}  // namespace ambrel::ui
