// The device selection panel: the disks, volumes or removable devices of
// the recovery mode, disk image files added by the user, and the start of
// the recovery of the chosen entry.
#pragma once

#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QWidget>
#include <vector>

#include "session/worded_prompt.h"
#include "catalog/partition_info.h"
#include "session/program.h"

namespace ambrel::ui {

enum DevicePanelCommand : int {
  kCmdBack = 1000,
  kCmdRefresh = 1002,
  kCmdAddImage = 1003,
  kCmdProDown = 1004,
};

class DevicePanel final : public QWidget {
  Q_OBJECT
 public:
  DevicePanel(WordedPrompt& prompt, QWidget* parent = nullptr);
  // Enumerates the devices of the current mode behind the progress dialog.
  void Refresh();
  // Adds an image file as a device row; false (after the message) when
  // it is refused.
  bool AddImage(const QString& path);
  // The rows shown, and the message shown instead of an empty list.
  const std::vector<DeviceInfo>& rows() const { return rows_; }
  QString messageText() const { return message_->text(); }
  bool messageShown() const { return !message_->isHidden(); }
  // The line naming the recovery mode the list serves.
  QString modeText() const { return mode_->text(); }
  void SelectRow(int index);
  const DeviceInfo* SelectedRow() const;
  // Sets the list from rows (the enumeration's result), then the images.
  void ShowRows(std::vector<DeviceInfo> enumerated, const std::string& emptyText);

 signals:
  void backRequested();
  void startRequested(const ambrel::DeviceInfo& row);
  void settingsRequested(const ambrel::DeviceInfo& row);

 private:
  void Redraw();
  void PickImage();
  void Start();

  WordedPrompt& prompt_;
  std::vector<DeviceInfo> enumerated_;
  DeviceEnumerator enumerator_;  // this panel's lists

 public:
  // The machine's lists of the last enumeration (the real volumes a scan
  // of one of these disks finds).
  DeviceLists deviceLists() const { return enumerator_.Lists(); }
  std::vector<DeviceInfo> images_;
  std::vector<DeviceInfo> rows_;
  QTreeWidget* list_;
  QLabel* message_;
  QLabel* caption_;
  QLabel* mode_;
};

}  // namespace ambrel::ui
