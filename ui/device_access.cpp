#include "device_access.h"

#include <QDir>
#include <QFileInfo>

#include "qt_text.h"

namespace ambrel::ui {

const char* ImageCheckMessage(ImageCheck check) {
  switch (check) {
    case ImageCheck::kCannotOpen: return "打开文件失败！";
    case ImageCheck::kTooSmall: return "镜像文件太小，必须大于128(MB)！";
    case ImageCheck::kAccepted: break;
  }
  return "";
}

std::string PermissionProblem() {
  const QStringList names = QDir(QStringLiteral("/sys/block")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
  int present = 0, readable = 0;
  for (const QString& name : names) {
    if (name.startsWith(QLatin1String("loop")) || name.startsWith(QLatin1String("ram")) ||
        name.startsWith(QLatin1String("zram")))
      continue;
    const QFileInfo node(QStringLiteral("/dev/") + name);
    if (!node.exists()) continue;
    ++present;
    if (node.isReadable()) ++readable;
  }
  if (present == 0 || readable > 0) return {};
  return "没有读取磁盘设备的权限，无法列出磁盘和分区。\n"
         "请用管理员权限运行本程序：pkexec ambrel\n"
         "或者把当前用户加入 disk 组：sudo usermod -aG disk $USER（重新登录后生效）。\n"
         "也可以点击[打开镜像文件]恢复磁盘镜像文件中的数据。";
}

}  // namespace ambrel::ui
