#include "recovery_modes.h"

#include <atomic>

namespace ambrel::ui {

namespace {
std::atomic<int> g_mode{0};
}

const std::array<RecoveryMode, 6>& RecoveryModes() {
  static const std::array<RecoveryMode, 6> modes{{
      {1, "Recovery all file", "深度磁盘扫描，适用绝大多数情况", "万能恢复"},
      {2, "Recovery del file", "恢复误删除的文件或目录", "删除文件恢复"},
      {3, "Recovery part file", "恢复误格式化前的文件及目录结构", "误格式化恢复"},
      {4, "Recovery usb file", "恢复USB存储设备的数据", "U盘/内存卡恢复"},
      {5, "Recovery recycle file", "恢复回收站被清空的文件", "误清空回收站"},
      {6, "Recovery disk file", "恢复丢失分区中的文件", "硬盘分区丢失"},
  }};
  return modes;
}

const RecoveryMode* FindMode(int number) {
  for (const RecoveryMode& m : RecoveryModes())
    if (m.number == number) return &m;
  return nullptr;
}

int DeviceViewForMode(int mode, bool showDevOn) {
  if (mode == 1 || showDevOn) return 0;
  if (mode == 6) return 2;
  if (mode == 4) return 3;
  return 1;
}

std::string EmptyDeviceListText(int mode, bool showUsbDevOn) {
  if (mode == 4 || showUsbDevOn)
    return "获取USB存储设备信息失败!\n可能是USB设备未连接电脑，或USB接触不良，请确保USB设备已连接电脑，"
           "再点击下面的[刷新]按钮！";
  return "获取设备信息失败!";
}

int CurrentRecoveryMode() { return g_mode.load(); }
void SetCurrentRecoveryMode(int mode) { g_mode.store(mode); }

}  // namespace ambrel::ui
