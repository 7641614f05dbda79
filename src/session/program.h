// What the faces use of the program as a whole: the start-up sequence and
// its identity and pack, the settings table, the process-wide prompt of
// start-up, the diagnostic log, the crash handler, the program folder, the
// Ctrl+C and terminal keys of the command line, the desktop opener and the
// machine's device lists. These are the process-wide services; everything
// that belongs to one source or one task lives in a session or a job.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/resource_pack.h"
#include "app/settings.h"
#include "app/startup.h"
#include "app/user_prompt.h"
#include "device/device_enum.h"
#include "diag/crash_dump.h"
#include "diag/format_size.h"
#include "diag/log.h"
#include "platform/desktop.h"
#include "platform/files.h"
#include "platform/interrupt.h"
#include "platform/terminal_keys.h"

namespace ambrel {

// Lists the machine's disks and volumes with the boot-sector judge of the
// file-system layer (see DeviceEnumerator::Enumerate).
bool EnumerateMachineDevices(DeviceEnumerator& enumerator, std::vector<DeviceInfo>& out, int view,
                             const std::function<bool()>& cancelRequested = {},
                             std::shared_ptr<ProgressMailbox> progress = nullptr);

// A disk image chosen by the user as a device row; why not otherwise.
enum class ImageCheck { kAccepted, kCannotOpen, kTooSmall };
// Images below 128 MiB are refused unless they hold a partition table or a
// volume the readers can parse.
inline constexpr std::uint64_t kMinImageSectors = 0x40000;
ImageCheck ImageRowFromFile(const std::string& path, DeviceInfo& row);

}  // namespace ambrel
