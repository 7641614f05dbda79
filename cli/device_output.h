// Text and JSON output of device rows for the devices and info commands.
#pragma once

#include <cstdio>
#include <string>

#include "catalog/partition_info.h"
#include "json_output.h"

namespace ambrel::cli {

// One volume row as a JSON object / as one indented text line.
Json VolumeJson(const DeviceInfo& v);
void PrintVolumeLine(std::FILE* out, const DeviceInfo& v);

}  // namespace ambrel::cli
