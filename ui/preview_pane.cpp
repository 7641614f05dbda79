#include "preview_pane.h"

#include <QFontDatabase>
#include <QImage>
#include <QPixmap>
#include <QVBoxLayout>

#include "common/text.h"
#include "qt_text.h"
#include "session/texts.h"

namespace ambrel::ui {

namespace {

QString FromUtf16(const std::u16string& text) {
  return QString::fromUtf16(text.data(), qsizetype(text.size()));
}

// The panel's texts break lines with CR LF; the editor wants LF only.
QString Lines(QString text) { return text.replace(QStringLiteral("\r\n"), QStringLiteral("\n")); }

QImage ImageOf(const DecodedImage& image) {
  QImage view(reinterpret_cast<const uchar*>(image.pixels.data()), int(image.width), int(image.height),
              int(image.width * 4), QImage::Format_ARGB32);
  return view.copy();  // owns its pixels
}

}  // namespace

PreviewPane::PreviewPane(QWidget* parent) : QWidget(parent) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  pages_ = new QStackedWidget(this);
  text_ = new QPlainTextEdit(pages_);
  text_->setReadOnly(true);
  text_->setLineWrapMode(QPlainTextEdit::NoWrap);
  pictureArea_ = new QScrollArea(pages_);
  auto* pictureBox = new QWidget;
  auto* pictureLayout = new QVBoxLayout(pictureBox);
  infoAbovePicture_ = new QLabel(pictureBox);
  infoAbovePicture_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  infoAbovePicture_->setWordWrap(true);
  picture_ = new QLabel(pictureBox);
  picture_->setAlignment(Qt::AlignCenter);
  pictureLayout->addWidget(infoAbovePicture_);
  pictureLayout->addWidget(picture_, 1);
  pictureArea_->setWidget(pictureBox);
  pictureArea_->setWidgetResizable(true);
  pages_->addWidget(text_);
  pages_->addWidget(pictureArea_);
  layout->addWidget(pages_, 1);
  switch_ = new QPushButton(this);
  switch_->hide();
  layout->addWidget(switch_, 0, Qt::AlignRight);
  connect(switch_, &QPushButton::clicked, this, &PreviewPane::Toggle);
}

void PreviewPane::Expect(std::uint64_t serial) {
  if (serial != 0) expected_ = serial;
}

void PreviewPane::Clear() {
  expected_ = shown_ = 0;
  text_->clear();
  picture_->clear();
  infoAbovePicture_->clear();
  switch_->hide();
  pages_->setCurrentWidget(text_);
}

void PreviewPane::Show(const PreviewResult& result, const std::string& info) {
  if (result.request.serial != expected_) return;  // an older selection's result
  shown_ = result.request.serial;
  const PreviewContent& content = result.content;
  kind_ = content.kind;
  header_ = Lines(Q(info) + Q(PreviewNoticeText(content.kind)) + Q(PreviewDamageText(result)) + Q(PreviewPictureText(result)));
  body_ = content.kind == PreviewKind::kText ? Lines(FromUtf16(content.text)) : QString();
  dump_ = Lines(Q(HexDump(ByteSpan(content.data.data(), content.data.size()))));
  hasPicture_ = content.kind == PreviewKind::kImage && result.picture;
  if (hasPicture_) {
    picture_->setPixmap(QPixmap::fromImage(ImageOf(*result.picture)));
  } else {
    picture_->clear();
  }
  // The button keeps the words of the kind ("浏览图像", "浏览文字") and
  // switches between them and the dump.
  const std::string button = PreviewSwitchText(content.kind);
  switch_->setText(Q(button));
  switch_->setVisible(!button.empty());
  dumpShown_ = false;
  ShowPrimary();
}

void PreviewPane::ShowPrimary() {
  switch (kind_) {
    case PreviewKind::kImage:
      if (!hasPicture_) {
        ShowDump();
        return;
      }
      infoAbovePicture_->setText(header_.trimmed());
      pages_->setCurrentWidget(pictureArea_);
      break;
    case PreviewKind::kText:
      text_->setFont(QFont());
      text_->setPlainText(header_ + body_);
      pages_->setCurrentWidget(text_);
      break;
    default:
      ShowDump();
      return;
  }
}

void PreviewPane::ShowDump() {
  // The dump lines up in a fixed-pitch font.
  QFont fixed(QStringLiteral("Courier New"));
  fixed.setStyleHint(QFont::Monospace);
  text_->setFont(fixed);
  text_->setPlainText(header_ + dump_);
  pages_->setCurrentWidget(text_);
}

void PreviewPane::Toggle() {
  dumpShown_ = !dumpShown_;
  if (dumpShown_) {
    ShowDump();
  } else {
    ShowPrimary();
  }
}

}  // namespace ambrel::ui
