#include "deep_scan_settings.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>
#include <mutex>

#include "session/program.h"
#include "file_type_page.h"
#include "qt_text.h"

namespace ambrel::ui {

namespace {

std::mutex g_optionsLock;
DeepScanOptions g_options;

const char* const kOptionLabels[11] = {
    "只恢复从簇边界开始的文件", "按簇扫描",        "搜索FAT分区",   "搜索NTFS分区",
    "搜索exFAT分区",            "恢复目录结构",    "恢复零字节文件", "按文件类型分类",
    "扫描全部扇区",             "去除重复的文件",  "扫描时显示已找到的文件"};

}  // namespace

DeepScanOptions CurrentDeepScanOptions() {
  std::lock_guard<std::mutex> hold(g_optionsLock);
  return g_options;
}

void StoreDeepScanOptions(const DeepScanOptions& options) {
  std::lock_guard<std::mutex> hold(g_optionsLock);
  g_options = options;
}

bool PriorityTextAccepted(const QString& text) {
  if (text.size() > 10) return false;
  for (QChar c : text)
    if (c < QLatin1Char('0') || c > QLatin1Char('9')) return false;
  if (text.size() == 10) {
    if (text[0] > QLatin1Char('4')) return false;
    if (text[0] == QLatin1Char('4') && text[1] > QLatin1Char('2')) return false;
  }
  return true;
}

QString PriorityGbText(const QString& text) {
  if (text.size() <= 3) return QStringLiteral("0(GB)");
  return QStringLiteral("%1(GB)").arg(std::uint32_t(text.toULongLong() >> 21));
}

DeepScanSettingsDialog::DeepScanSettingsDialog(const PartitionInfo& partition, DeepScanOptions options,
                                               WordedPrompt& prompt, QWidget* parent)
    : QDialog(parent), prompt_(prompt), options_(options) {
  options_.partStart = partition.startLba;
  options_.partSectors = partition.sectorCount;
  const std::uint64_t end = options_.partStart + options_.partSectors;
  if (options_.priorityStart < options_.partStart || options_.priorityStart + options_.priorityLength > end) {
    options_.priorityStart = options_.partStart;
    options_.priorityLength = 0;
  }
  setWindowTitle(Q("参数设置"));
  auto* outer = new QVBoxLayout(this);
  auto* pages = new QTabWidget(this);
  auto* normal = new QWidget(pages);
  auto* layout = new QVBoxLayout(normal);
  auto* range = new QGroupBox(Q("优先扫描范围(扇区)"), normal);
  auto* form = new QFormLayout(range);
  auto field = [&](QLineEdit*& edit, QLabel*& label, QString& accepted, std::uint64_t value, const char* caption,
                   const char* message) {
    accepted = QString::number(qulonglong(value));
    edit = new QLineEdit(accepted, range);
    label = new QLabel(PriorityGbText(accepted), range);
    auto* row = new QHBoxLayout;
    row->addWidget(edit);
    row->addWidget(label);
    form->addRow(Q(caption), row);
    QLineEdit* e = edit;
    QLabel* l = label;
    QString* a = &accepted;
    connect(edit, &QLineEdit::textEdited, this, [this, e, l, a, message] { FieldEdited(e, l, *a, message); });
  };
  field(start_, startGb_, startAccepted_, options_.priorityStart, "起始扇区:", "优先扫描地址输入不合法!");
  field(count_, countGb_, countAccepted_, options_.priorityLength, "扇区数:", "优先扫描范围输入不合法!");
  layout->addWidget(range);

  auto* opts = new QGroupBox(Q("扫描选项"), normal);
  auto* optLayout = new QVBoxLayout(opts);
  for (int number = 32; number <= 42; ++number) {
    QCheckBox*& box = boxes_[std::size_t(number - 32)];
    box = new QCheckBox(Q(kOptionLabels[number - 32]), opts);
    const std::uint8_t value = options_.Byte(number);
    box->setChecked(value != 0);
    box->setEnabled(number > 39 || value < 2);
    optLayout->addWidget(box);
  }
  layout->addWidget(opts);
  auto* video = new QGroupBox(Q("视频碎片重组"), normal);
  auto* videoLayout = new QVBoxLayout(video);
  movFrag_ = new QCheckBox(Q("重组碎片化的MOV/MP4视频"), video);
  mtsFrag_ = new QCheckBox(Q("重组碎片化的MTS视频"), video);
  movFrag_->setChecked(options_.videoChosen ? options_.movFragRecovery : SettingOn("MovFragRecovery"));
  mtsFrag_->setChecked(options_.videoChosen ? options_.mtsFragRecovery : SettingOn("MtsFragRecovery"));
  videoLayout->addWidget(movFrag_);
  videoLayout->addWidget(mtsFrag_);
  layout->addWidget(video);
  pages->addTab(normal, Q("常规"));
  filePage_ = new FileTypePage(options_.typesLeftOut, pages);
  pages->addTab(filePage_, Q("文件类型"));
  outer->addWidget(pages);

  auto* buttons = new QDialogButtonBox(this);
  QPushButton* help = buttons->addButton(Q("帮助"), QDialogButtonBox::HelpRole);
  buttons->addButton(Q("确定"), QDialogButtonBox::AcceptRole);
  buttons->addButton(Q("取消"), QDialogButtonBox::RejectRole);
  outer->addWidget(buttons);
  connect(help, &QPushButton::clicked, this, [] {
    const std::string target = GetSetting("HelpParam");
    if (!target.empty()) OpenWithDesktop(target);
  });
  connect(buttons, &QDialogButtonBox::accepted, this, [this] { TryAccept(); });
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

void DeepScanSettingsDialog::FieldEdited(QLineEdit* field, QLabel* label, QString& accepted, const char* message) {
  if (!PriorityTextAccepted(field->text())) {
    prompt_.ShowMessage(message);
    field->setText(accepted);
    return;
  }
  accepted = field->text();
  label->setText(PriorityGbText(accepted));
}

bool DeepScanSettingsDialog::TryAccept() {
  const QString startText = start_->text(), countText = count_->text();
  if (!PriorityTextAccepted(startText)) {
    prompt_.ShowMessage("优先扫描地址不合法!");
    return false;
  }
  if (!PriorityTextAccepted(countText)) {
    prompt_.ShowMessage("优先扫描范围不合法!");
    return false;
  }
  if (startText.size() > 3 && countText.size() > 3) {
    // 64-bit: the text check admits values up to 4,299,999,999.
    const std::uint64_t start = startText.toULongLong(), count = countText.toULongLong();
    const std::uint64_t first = options_.partStart, end = options_.partStart + options_.partSectors;
    if (start < first || start > end) {
      prompt_.ShowMessage("输入的优先扫描起始地址不合法！");
      return false;
    }
    if (start + count > end) {
      prompt_.ShowMessage("输入的优先扫描范围不合法！");
      return false;
    }
    options_.priorityStart = start;
    options_.priorityLength = count;
  }
  for (int number = 32; number <= 42; ++number) {
    std::uint8_t& value = options_.Byte(number);
    if (number <= 39 && value >= 2) continue;  // fixed by the mode
    value = boxes_[std::size_t(number - 32)]->isChecked() ? 1 : 0;
  }
  options_.typesLeftOut = filePage_->LeftOut();
  options_.videoChosen = true;
  options_.movFragRecovery = movFrag_->isChecked();
  options_.mtsFragRecovery = mtsFrag_->isChecked();
  accept();
  return true;
}


}  // namespace ambrel::ui
