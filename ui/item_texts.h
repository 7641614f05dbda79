// Texts of the file list's columns.
#pragma once

#include <QString>

#include "catalog/found_file_node.h"

namespace ambrel::ui {

// "大小": six spaces for a folder; "      0 KB" for 0 bytes; "      1 KB"
// below 1024 bytes; otherwise "%7d KB" with KiB rounded up from 500 bytes.
QString SizeColumnText(const FoundFileNode& node);
QString SizeColumnText(bool folder, std::uint64_t size);
// "创建时间" / "修改时间": "%d-%02d-%02d  %02d:%02d:%02d", or
// "1900-01-01  00:00" when no time is known.
QString TimeColumnText(PackedTime time);

}  // namespace ambrel::ui
