// The preview pane beside the file list: the information block, then the
// picture, the text or the hexadecimal dump of the selected file, and the
// switch button between the picture or text and the dump of the same
// bytes. The loader thread of the session's preview builds the content;
// the pane only shows the newest result, so a quick run of selections never
// leaves an older file on screen.
#pragma once

#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QStackedWidget>
#include <QWidget>
#include <cstdint>
#include <memory>

#include "session/preview_service.h"

namespace ambrel::ui {

class PreviewPane final : public QWidget {
  Q_OBJECT
 public:
  explicit PreviewPane(QWidget* parent = nullptr);

  // A preview was asked for with this serial: older results are dropped.
  void Expect(std::uint64_t serial);
  // Shows a result (on the interface thread); ignored unless it is the newest.
  void Show(const PreviewResult& result, const std::string& info);
  void Clear();
  std::uint64_t shownSerial() const { return shown_; }
  QPushButton* switchButton() const { return switch_; }
  QString shownText() const { return text_->toPlainText(); }
  bool pictureShown() const { return pages_->currentWidget() == pictureArea_; }

 private:
  void Toggle();
  void ShowPrimary();
  void ShowDump();

  std::uint64_t expected_ = 0;
  std::uint64_t shown_ = 0;
  PreviewKind kind_ = PreviewKind::kHex;
  bool dumpShown_ = false;
  bool hasPicture_ = false;  // a picture that did not decode shows the dump under its reason
  QString header_;   // information block and notice
  QString body_;     // the text of a text preview
  QString dump_;     // the dump of the same bytes
  QStackedWidget* pages_;
  QPlainTextEdit* text_;
  QScrollArea* pictureArea_;
  QLabel* infoAbovePicture_;
  QLabel* picture_;
  QPushButton* switch_;
};

}  // namespace ambrel::ui
