#include "item_texts.h"

namespace ambrel::ui {

QString SizeColumnText(bool folder, std::uint64_t size) {
  if (folder) return QStringLiteral("      ");
  if (size == 0) return QStringLiteral("      0 KB");
  if (size < 1024) return QStringLiteral("      1 KB");
  std::uint64_t kb = size / 1024;
  if (size % 1024 >= 500) ++kb;
  return QStringLiteral("%1 KB").arg(qulonglong(kb), 7);
}

QString SizeColumnText(const FoundFileNode& node) {
  const std::uint64_t size = node.size;
  return SizeColumnText(IsFolderKind(KindOf(node)), size);
}

QString TimeColumnText(PackedTime time) {
  if (time == 0) return QStringLiteral("1900-01-01  00:00");
  const UnpackedTime t = UnpackPackedTime(time);
  return QString::asprintf("%d-%02d-%02d  %02d:%02d:%02d", t.year, t.month, t.day, t.hour, t.minute, t.second);
}

}  // namespace ambrel::ui
