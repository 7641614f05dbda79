// Text and JSON output of device rows for the devices and info commands.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "catalog/partition_info.h"

namespace ambrel::cli {

std::string JsonQuote(const std::string& text);
const char* FsKindName(std::int32_t kind);
// One volume row as a JSON object / as one indented text line.
std::string VolumeJson(const DeviceInfo& v);
void PrintVolumeLine(std::FILE* out, const DeviceInfo& v);

}  // namespace ambrel::cli
