#include "thumbnail_delegate.h"

#include <QImage>
#include <QPainter>

namespace ambrel::ui {

ThumbnailDelegate::ThumbnailDelegate(PreviewService& preview, const FileListModel& list, QObject* parent)
    : QStyledItemDelegate(parent), preview_(preview), list_(list) {}

QSize ThumbnailDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const {
  const int side = int(kThumbnailSide);
  return QSize(side + 16, side + option.fontMetrics.height() * 2 + 12);
}

void ThumbnailDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const {
  const CatalogRef ref = list_.RefAt(index.row());
  std::optional<DecodedImage> thumb;
  if (ref.valid()) {
    thumb = preview_.Thumbnail(ref.row, ref.id);
    if (!thumb) preview_.RequestThumbnail(ref.row, ref.id);  // once per file: the node's mark
  }
  if (!thumb) {
    QStyledItemDelegate::paint(painter, option, index);
    return;
  }
  painter->save();
  if (option.state & QStyle::State_Selected) painter->fillRect(option.rect, option.palette.highlight());
  const QImage image(reinterpret_cast<const uchar*>(thumb->pixels.data()), int(thumb->width), int(thumb->height),
                     int(thumb->width * 4), QImage::Format_ARGB32);
  const int side = int(kThumbnailSide);
  const QRect box(option.rect.x() + (option.rect.width() - side) / 2, option.rect.y() + 4, side, side);
  const QRect target(box.x() + (side - image.width()) / 2, box.y() + (side - image.height()) / 2, image.width(),
                     image.height());
  painter->drawImage(target, image);
  const QRect textRect(option.rect.x() + 2, box.bottom() + 4, option.rect.width() - 4,
                       option.rect.bottom() - box.bottom() - 4);
  painter->drawText(textRect, Qt::AlignHCenter | Qt::AlignTop | Qt::TextWrapAnywhere,
                    index.data(Qt::DisplayRole).toString());
  painter->restore();
}

}  // namespace ambrel::ui
