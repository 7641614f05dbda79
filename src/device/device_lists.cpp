// The disk and volume lists of an enumeration, the enumeration thread and
// the views that the device selection shows.
#include <chrono>
#include <functional>
#include <mutex>
#include <thread>

#include "app/progress.h"
#include "app/settings.h"
#include "device/device_enum.h"
#include "diag/threads.h"

namespace ambrel {

bool DeviceLists::VolumesInRange(std::vector<DeviceInfo>& out, int diskNumber, std::uint64_t first,
                                 std::uint64_t end) const {
  bool found = false;
  for (const DeviceInfo& v : volumes) {
    if (v.diskNumber == diskNumber && v.startLba >= first && v.startLba < end) {
      out.push_back(v);
      found = true;
    }
  }
  return found;
}

void DeviceLists::FillView(std::vector<DeviceInfo>& out, int view) const {
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

bool GetAllPartInfoThread(EnumerationStatus status, SectorJudge judge, DeviceLists& lists) {
  ThreadBegin("GetAllPartInfoThread");
  bool found = false;
  if (!ListDisks(lists.disks)) {
    status->store(2);
  } else {
    ListVolumes(lists.disks, lists.volumes, *status, judge);
    found = true;
  }
  ThreadEnd("GetAllPartInfoThread");
  return found;
}

DeviceLists DeviceEnumerator::Lists() const {
  std::lock_guard<std::mutex> guard(state_->lock);
  return state_->lists;
}

void DeviceEnumerator::ReplaceLists(DeviceLists lists) {
  std::lock_guard<std::mutex> guard(state_->lock);
  state_->lists = std::move(lists);
}

bool DeviceEnumerator::WaitUntilIdle(std::uint32_t timeoutMs) const {
  for (std::uint32_t waited = 0; state_->running.load(); waited += 10) {
    if (waited >= timeoutMs) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

bool DeviceEnumerator::Enumerate(std::vector<DeviceInfo>& out, int view, SectorJudge judge,
                                 const std::function<bool()>& cancelRequested,
                                 std::shared_ptr<ProgressMailbox> progress) {
  bool idle = false;
  if (!state_->running.compare_exchange_strong(idle, true)) return false;
  if (progress) progress->Clear();
  ReplaceLists({});
  // The status word and the lists are shared with the thread, which
  // outlives a waiter that gives up; the running flag is cleared only when
  // the thread ends, so no second enumeration starts while the first still
  // writes the lists.
  EnumerationStatus status = std::make_shared<std::atomic<int>>(0);
  std::shared_ptr<Shared> shared = state_;
  std::thread([status, judge, shared, progress] {
    ProgressBinding binding(progress.get());
    DeviceLists lists;
    if (GetAllPartInfoThread(status, judge, lists)) {
      {
        std::lock_guard<std::mutex> guard(shared->lock);
        shared->lists = std::move(lists);
      }
      status->store(3);  // also after a cancel: the lists hold what was done
    }
    shared->running.store(false);
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
  WaitUntilIdle(1000);  // the thread's last steps after setting 3
  Lists().FillView(out, view);
  return !out.empty();
}

}  // namespace ambrel
