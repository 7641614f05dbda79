// The picture list's items drawn with their thumbnails: the thumbnail the
// preview loader made, else the list's own icon while one is asked for.
// Asking happens when an item is first drawn, so only the visible part of a
// large folder is read, and never on the interface thread.
#pragma once

#include <QStyledItemDelegate>

#include "catalog_models.h"
#include "session/preview_service.h"

namespace ambrel::ui {

class ThumbnailDelegate final : public QStyledItemDelegate {
  Q_OBJECT
 public:
  ThumbnailDelegate(PreviewService& preview, const FileListModel& list, QObject* parent = nullptr);
  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

 private:
  PreviewService& preview_;
  const FileListModel& list_;
};

}  // namespace ambrel::ui
