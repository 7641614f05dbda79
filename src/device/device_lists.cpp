// The process-wide disk and volume lists, the enumeration thread and the
// views that the device selection shows.
#include <chrono>
#include <functional>
#include <mutex>
#include <thread>

#include "app/progress.h"
#include "app/settings.h"
#include "device/device_enum.h"
#include "diag/threads.h"

namespace ambrel {
namespace {

std::mutex& ListLock() {
  static std::mutex lock;
  return lock;
}
std::vector<DeviceInfo>& Disks() {
  static std::vector<DeviceInfo> rows;
  return rows;
}
std::vector<DeviceInfo>& Volumes() {
  static std::vector<DeviceInfo> rows;
  return rows;
}
std::atomic<bool> g_enumerationRunning{false};

}  // namespace

std::vector<DeviceInfo> DiskList() {
  std::lock_guard<std::mutex> guard(ListLock());
  return Disks();
}

std::vector<DeviceInfo> VolumeList() {
  std::lock_guard<std::mutex> guard(ListLock());
  return Volumes();
}

void ReplaceDeviceLists(std::vector<DeviceInfo> disks, std::vector<DeviceInfo> volumes) {
  std::lock_guard<std::mutex> guard(ListLock());
  Disks() = std::move(disks);
  Volumes() = std::move(volumes);
}

bool VolumesInRange(std::vector<DeviceInfo>& out, int diskNumber, std::uint64_t first,
                    std::uint64_t end) {
  bool found = false;
  for (const DeviceInfo& v : VolumeList()) {
    if (v.diskNumber == diskNumber && v.startLba >= first && v.startLba < end) {
      out.push_back(v);
      found = true;
    }
  }
  return found;
}

void GetAllPartInfoThread(EnumerationStatus status, SectorJudge judge) {
  ThreadBegin("GetAllPartInfoThread");
  ReplaceDeviceLists({}, {});
  std::vector<DeviceInfo> disks, volumes;
  if (!ListDisks(disks)) {
    status->store(2);
  } else {
    ListVolumes(disks, volumes, *status, judge);
    ReplaceDeviceLists(std::move(disks), std::move(volumes));
    status->store(3);  // also after a cancel: the lists hold what was done
  }
  ThreadEnd("GetAllPartInfoThread");
}

void FillDeviceView(std::vector<DeviceInfo>& out, int view) {
  std::vector<DeviceInfo> disks = DiskList(), volumes = VolumeList();
  if (SettingOn("ShowUsbDev")) {
    for (const DeviceInfo& v : volumes)
      if (v.removable) out.push_back(v);
    for (const DeviceInfo& d : disks)
      if (d.removable) out.push_back(d);
    return;
  }
  if (view != 2 && view != 3) out.insert(out.end(), volumes.begin(), volumes.end());
  if (view != 1 && view != 3) out.insert(out.end(), disks.begin(), disks.end());
}


bool EnumerationRunning() { return g_enumerationRunning.load(); }

bool WaitForEnumeration(std::uint32_t timeoutMs) {
  for (std::uint32_t waited = 0; g_enumerationRunning.load(); waited += 10) {
    if (waited >= timeoutMs) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

bool EnumerateDevices(std::vector<DeviceInfo>& out, int view, SectorJudge judge,
                      const std::function<bool()>& cancelRequested) {
  bool idle = false;
  if (!g_enumerationRunning.compare_exchange_strong(idle, true)) return false;
  ClearProgress();
  // The status word is shared with the thread, which outlives a waiter that
  // gives up; the running flag is cleared only when the thread ends, so no
  // second enumeration starts while the first still writes the lists.
  EnumerationStatus status = std::make_shared<std::atomic<int>>(0);
  std::thread([status, judge] {
    GetAllPartInfoThread(status, judge);
    g_enumerationRunning.store(false);
  }).detach();
  // The wait of the progress dialog: it closes on 2 (cancel or failure) or 3.
  for (;;) {
    int running = 0;
    if (cancelRequested && cancelRequested()) status->compare_exchange_strong(running, 2);
    int now = status->load();
    if (now == 2 || now == 3) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (status->load() != 3) return false;
  WaitForEnumeration(1000);  // the thread's last steps after setting 3
  FillDeviceView(out, view);
  return !out.empty();
}


}  // namespace ambrel
