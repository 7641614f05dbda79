// The six recovery modes: their log names, menu lines and the device list
// view each one asks for.
#pragma once

#include <array>
#include <string>

namespace ambrel::ui {

struct RecoveryMode {
  int number;
  const char* logName;      // written to the log when chosen
  const char* description;  // first line of the mode's menu entry
  const char* title;        // the entry's caption
};

const std::array<RecoveryMode, 6>& RecoveryModes();
const RecoveryMode* FindMode(int number);
// Modes of the three-entry menu.
inline constexpr std::array<int, 3> kShortMenuModes{2, 3, 6};

// The device list view: 0 volumes then disks (mode 1, or "ShowDev" on),
// 2 disks (mode 6), 3 removable devices (mode 4), 1 volumes (2, 3, 5).
int DeviceViewForMode(int mode, bool showDevOn);
// The text shown when the device list comes back empty.
std::string EmptyDeviceListText(int mode, bool showUsbDevOn);

// The recovery mode chosen last (read by the scan start); 0 before any.
int CurrentRecoveryMode();
void SetCurrentRecoveryMode(int mode);

}  // namespace ambrel::ui
