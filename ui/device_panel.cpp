#include "device_panel.h"

#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QVBoxLayout>

#include "device_access.h"
#include "progress_dialog.h"
#include "qt_text.h"
#include "recovery_modes.h"

namespace ambrel::ui {

namespace {

QString CapacityText(std::uint64_t sectors) {
  const double gib = double(sectors) / 2097152.0;
  if (gib >= 1.0) return QString::asprintf("%.2f GB", gib);
  return QString::asprintf("%.1f MB", double(sectors) / 2048.0);
}

QString KindText(const DeviceInfo& row) {
  if (row.kind == 1) return Q("分区");
  return row.removable ? Q("移动磁盘") : Q("磁盘");
}

}  // namespace

DevicePanel::DevicePanel(WordedPrompt& prompt, QWidget* parent) : QWidget(parent), prompt_(prompt) {
  auto* layout = new QVBoxLayout(this);
  mode_ = new QLabel(this);
  layout->addWidget(mode_);
  caption_ = new QLabel(Q("请选择需要恢复数据的磁盘或分区:"), this);
  layout->addWidget(caption_);
  list_ = new QTreeWidget(this);
  list_->setColumnCount(4);
  list_->setHeaderLabels({Q("设备"), Q("类型"), Q("容量"), Q("文件系统")});
  list_->setRootIsDecorated(false);
  list_->header()->resizeSection(0, 340);
  layout->addWidget(list_, 1);
  message_ = new QLabel(this);
  message_->setWordWrap(true);
  message_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  message_->hide();
  layout->addWidget(message_);

  auto* buttons = new QHBoxLayout;
  auto add = [&](const char* text) {
    auto* b = new QPushButton(Q(text), this);
    buttons->addWidget(b);
    return b;
  };
  QPushButton* back = add("返回");
  QPushButton* refresh = add("刷新");
  QPushButton* image = add("打开镜像文件");
  QPushButton* settings = add("参数设置");
  buttons->addStretch(1);
  if (!GetSetting("ProDown").empty()) {
    QPushButton* pro = add("下载专业版");
    connect(pro, &QPushButton::clicked, this, [] { OpenWithDesktop(GetSetting("ProDown")); });
  }
  QPushButton* start = add("开始恢复");
  start->setDefault(true);
  layout->addLayout(buttons);
  connect(back, &QPushButton::clicked, this, &DevicePanel::backRequested);
  connect(refresh, &QPushButton::clicked, this, &DevicePanel::Refresh);
  connect(image, &QPushButton::clicked, this, &DevicePanel::PickImage);
  connect(start, &QPushButton::clicked, this, &DevicePanel::Start);
  connect(settings, &QPushButton::clicked, this, [this] {
    if (const DeviceInfo* row = SelectedRow()) emit settingsRequested(*row);
  });
  connect(list_, &QTreeWidget::itemDoubleClicked, this, &DevicePanel::Start);
}

void DevicePanel::Refresh() {
  const int mode = CurrentRecoveryMode();
  const RecoveryMode* chosen = FindMode(mode);
  mode_->setText(chosen ? Q("当前恢复模式：%1（%2）").arg(Q(chosen->title), Q(chosen->description)) : QString());
  const int view = DeviceViewForMode(mode, SettingOn("ShowDev"));
  std::vector<DeviceInfo> found;
  auto mailbox = std::make_shared<ProgressMailbox>();
  RunBehindProgress(
      this,
      [&](TaskStatus& status) {
        EnumerateMachineDevices(enumerator_, found, view, [&status] { return status.load() == 2; }, mailbox);
      },
      mailbox);
  std::string empty = EmptyDeviceListText(mode, SettingOn("ShowUsbDev"));
  const std::string permission = found.empty() ? PermissionProblem() : std::string();
  if (!permission.empty()) empty += "\n" + permission;
  ShowRows(std::move(found), empty);
}

void DevicePanel::ShowRows(std::vector<DeviceInfo> enumerated, const std::string& emptyText) {
  enumerated_ = std::move(enumerated);
  message_->setText(Q(emptyText));
  Redraw();
}

void DevicePanel::Redraw() {
  rows_ = enumerated_;
  rows_.insert(rows_.end(), images_.begin(), images_.end());
  list_->clear();
  for (const DeviceInfo& row : rows_) {
    auto* item = new QTreeWidgetItem(list_);
    item->setText(0, Q(row.displayName.empty() ? row.diskPath : row.displayName));
    item->setToolTip(0, Q(row.diskPath.empty() ? row.volumePath : row.diskPath));
    item->setText(1, KindText(row));
    item->setText(2, CapacityText(row.sectorCount));
    item->setText(3, Q(row.fsName));
  }
  // The empty-list message goes once an image fills the list.
  message_->setVisible(rows_.empty() && !message_->text().isEmpty());
  if (!rows_.empty() && !list_->currentItem()) SelectRow(0);
}

void DevicePanel::SelectRow(int index) {
  if (QTreeWidgetItem* item = list_->topLevelItem(index)) list_->setCurrentItem(item);
}

const DeviceInfo* DevicePanel::SelectedRow() const {
  const int index = list_->indexOfTopLevelItem(list_->currentItem());
  if (index < 0 || std::size_t(index) >= rows_.size()) return nullptr;
  return &rows_[std::size_t(index)];
}

bool DevicePanel::AddImage(const QString& path) {
  DeviceInfo row;
  const ImageCheck check = ImageRowFromFile(U8(path), row);
  if (check != ImageCheck::kAccepted) {
    prompt_.ShowMessage(ImageCheckMessage(check));
    return false;
  }
  images_.push_back(row);
  Redraw();
  SelectRow(int(rows_.size()) - 1);
  return true;
}

void DevicePanel::PickImage() {
  const QString path = QFileDialog::getOpenFileName(this, Q("打开镜像文件"));
  if (!path.isEmpty()) AddImage(path);
}

void DevicePanel::Start() {
  const DeviceInfo* row = SelectedRow();
  if (!row) {
    prompt_.ShowMessage("请选择需要恢复数据的磁盘或分区！");
    return;
  }
  emit startRequested(*row);
}

}  // namespace ambrel::ui
