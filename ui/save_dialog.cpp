#include "save_dialog.h"

#include <QDialogButtonBox>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QRadioButton>
#include <QTimer>
#include <QVBoxLayout>

#include "qt_text.h"

namespace ambrel::ui {

namespace {
QString g_lastFolder;
constexpr int kAutoConfirmMs = 1000;

QString SizeText(std::uint64_t bytes) {
  if (bytes >= (std::uint64_t(1) << 30)) return QString::asprintf("%.2f GB", double(bytes) / double(1 << 30));
  if (bytes >= (std::uint64_t(1) << 20)) return QString::asprintf("%.2f MB", double(bytes) / double(1 << 20));
  return QString::asprintf("%.2f KB", double(bytes) / 1024.0);
}

QGroupBox* PolicyBox(QWidget* parent, const char* title, QButtonGroup& group,
                     std::initializer_list<const char*> choices, std::uint32_t chosen) {
  auto* box = new QGroupBox(Q(title), parent);
  auto* layout = new QVBoxLayout(box);
  int id = 0;
  for (const char* text : choices) {
    auto* button = new QRadioButton(Q(text), box);
    group.addButton(button, id);
    button->setChecked(std::uint32_t(id) == chosen);
    layout->addWidget(button);
    ++id;
  }
  box->hide();
  return box;
}

}  // namespace

QString SaveDialog::LastFolder() { return g_lastFolder; }
void SaveDialog::SetLastFolder(const QString& folder) { g_lastFolder = folder; }

SaveDialog::SaveDialog(std::uint64_t itemCount, std::uint64_t byteTotal, std::string sourcePath,
                       WordedPrompt& prompt, QWidget* parent)
    : QDialog(parent), byteTotal_(byteTotal), sourcePath_(std::move(sourcePath)), prompt_(prompt) {
  setWindowTitle(Q("准备恢复文件"));
  setMinimumWidth(480);  // a whole folder path in view
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel(Q("已选择 %1 个文件，共 %2").arg(qulonglong(itemCount)).arg(SizeText(byteTotal)), this));
  auto* row = new QHBoxLayout;
  row->addWidget(new QLabel(Q("恢复到:"), this));
  folder_ = new QLineEdit(g_lastFolder, this);
  row->addWidget(folder_, 1);
  auto* pick = new QPushButton(Q("选择目录"), this);
  row->addWidget(pick);
  layout->addLayout(row);
  connect(pick, &QPushButton::clicked, this, &SaveDialog::PickFolder);

  overwriteBox_ = PolicyBox(this, "文件已存在时：", overwrite_, {"提示用户", "覆盖文件", "跳过文件"},
                            parameters_.overwrite);
  readErrorBox_ = PolicyBox(this, "遇到磁盘读写错误时：", readErrors_,
                            {"清空当前文件", "保留已恢复的数据，并跳过当前文件", "恢复文件全部数据"},
                            parameters_.readErrors);
  layout->addWidget(overwriteBox_);
  layout->addWidget(readErrorBox_);

  auto* buttons = new QDialogButtonBox(this);
  advanced_ = buttons->addButton(Q("高级设置"), QDialogButtonBox::ActionRole);
  buttons->addButton(Q("确定"), QDialogButtonBox::AcceptRole);
  buttons->addButton(Q("取消"), QDialogButtonBox::RejectRole);
  layout->addWidget(buttons);
  connect(advanced_, &QPushButton::clicked, this, &SaveDialog::ToggleAdvanced);
  connect(buttons, &QDialogButtonBox::accepted, this, [this] { TryAccept(); });
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

void SaveDialog::setAutoConfirm(bool on) {
  if (on) QTimer::singleShot(kAutoConfirmMs, this, [this] { TryAccept(); });
}

void SaveDialog::setOverwrite(std::uint32_t policy) {
  if (QAbstractButton* b = overwrite_.button(int(policy))) b->setChecked(true);
}

void SaveDialog::setReadErrors(std::uint32_t policy) {
  if (QAbstractButton* b = readErrors_.button(int(policy))) b->setChecked(true);
}

void SaveDialog::PickFolder() {
  const QString folder = QFileDialog::getExistingDirectory(this, Q("选择路径"), folder_->text(),
                                                           QFileDialog::ShowDirsOnly);
  if (!folder.isEmpty()) folder_->setText(folder);
}

void SaveDialog::ToggleAdvanced() {
  const bool show = overwriteBox_->isHidden();
  if (show) prompt_.ShowMessage("非专业用户请勿修改高级设置！");
  overwriteBox_->setVisible(show);
  readErrorBox_->setVisible(show);
  advanced_->setText(show ? Q("普通设置") : Q("高级设置"));
}

bool SaveDialog::TryAccept() {
  const std::string folder = U8(folder_->text().trimmed());
  if (const CopyRefusal refusal = ValidateTarget(folder, byteTotal_, sourcePath_); refusal != CopyRefusal::kNone) {
    prompt_.ShowMessage(CopyRefusalText(refusal, "恢复"));
    return false;
  }
  parameters_.folder = folder;
  parameters_.overwrite = std::uint32_t(std::max(0, overwrite_.checkedId()));
  parameters_.readErrors = std::uint32_t(std::max(0, readErrors_.checkedId()));
  g_lastFolder = Q(folder);
  accept();
  return true;
}

}  // namespace ambrel::ui
