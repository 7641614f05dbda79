// Text and JSON output of device rows for the devices and info commands.
#pragma once

#include <cstdio>
#include <string>

#include "catalog/partition_info.h"
#include "json_output.h"

namespace ambrel::cli {

const char* FsKindName(std::int32_t kind);
// The kind name of a volume row: "FAT12" for a FAT16-family volume with
// 12-bit entries, else FsKindName.
const char* VolumeKindName(const DeviceInfo& v);
// One volume row as a JSON object / as one indented text line.
Json VolumeJson(const DeviceInfo& v);
void PrintVolumeLine(std::FILE* out, const DeviceInfo& v);

}  // namespace ambrel::cli
