// Texts the catalogue shows for rows and nodes.
#pragma once

#include <cstdint>
#include <string>

#include "catalog/partition_info.h"

namespace ambrel {

// "%02u " with slot - 3, then "%s盘 " with the drive letter when given,
// the volume label and " ", "删除文件 " or "正常文件 " by listing scope, the
// file-system name, then " (%u个文件)".
std::string PartitionLabel(std::uint32_t slot, const PartitionInfo& part, const std::string& letter);
// "%02u  " with k, the tree's name, then "     (%u个文件)".
std::string ClassTreeLabel(unsigned k, std::uint32_t files);
// "%s     (%u个文件)".
std::string FolderText(const char* name, std::uint32_t files);

}  // namespace ambrel
