// Carries the core's numbered notices to the GUI thread. The catalogue and
// the deep scan raise them on their worker threads; a synchronous notice
// blocks the worker until the GUI thread has handled it (so the views
// redraw from a catalogue that does not change under them), the posted
// thumbnail notice (1233) does not. A notice raised on the GUI thread is
// handled at once.
//
// The bridge must outlive every worker that may raise a notice, and it must
// be unregistered from the catalogue before it is destroyed.
#pragma once

#include <QObject>
#include <cstdint>

#include "app/notify.h"

namespace ambrel::ui {

class NoticeBridge final : public QObject, public NoticeListener {
  Q_OBJECT
 public:
  explicit NoticeBridge(QObject* parent = nullptr) : QObject(parent) {}
  void OnNotice(std::uint32_t message, std::uint64_t wparam, std::uint64_t lparam) override;

 signals:
  void notice(quint32 message, quint64 wparam, quint64 lparam);
};

// Whether a notice is posted (not waited for).
bool IsPostedNotice(std::uint32_t message);

}  // namespace ambrel::ui
