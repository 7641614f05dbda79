#include "notice_bridge.h"

#include <QThread>

#include "catalog/found_file_catalog.h"

namespace ambrel::ui {

bool IsPostedNotice(std::uint32_t message) { return message == kNoticeThumbnail; }

void NoticeBridge::OnNotice(std::uint32_t message, std::uint64_t wparam, std::uint64_t lparam) {
  if (QThread::currentThread() == thread()) {
    emit notice(message, wparam, lparam);
    return;
  }
  const Qt::ConnectionType how =
      IsPostedNotice(message) ? Qt::QueuedConnection : Qt::BlockingQueuedConnection;
  QMetaObject::invokeMethod(this, [this, message, wparam, lparam] { emit notice(message, wparam, lparam); },
                            how);
}

}  // namespace ambrel::ui
