#include "file_type_page.h"

#include <QHeaderView>
#include <QVBoxLayout>

#include "qt_text.h"

namespace ambrel::ui {

namespace {
constexpr int kCodeRole = Qt::UserRole + 1;
}

FileTypePage::FileTypePage(const std::bitset<kTypeSlots>& leftOut, QWidget* parent)
    : QWidget(parent), tree_(new QTreeWidget(this)) {
  auto* layout = new QVBoxLayout(this);
  tree_->setHeaderHidden(true);
  // The type names are long ("Microsoft Word 文档 (*.doc)"): the column
  // takes the widest one and the page scrolls sideways rather than cut it.
  tree_->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
  tree_->header()->setStretchLastSection(false);
  tree_->setMinimumSize(460, 360);
  layout->addWidget(tree_);
  for (const FileCategory& category : GetCategories(false)) {
    if (category.typeCodes.empty()) continue;
    auto* folder = new QTreeWidgetItem(tree_, QStringList(Q(category.name)));
    // Qt keeps a category's box in step with its types (tri-state).
    folder->setFlags(folder->flags() | Qt::ItemIsUserCheckable | Qt::ItemIsAutoTristate);
    for (std::uint32_t code : category.typeCodes) {
      const FileTypeEntry* type = FindFileType(code);
      if (!type) continue;
      const QString text = Q(type->description) + QStringLiteral(" (*.") + Q(type->extension) + QStringLiteral(")");
      auto* item = new QTreeWidgetItem(folder, QStringList(text));
      item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
      item->setData(0, kCodeRole, code);
      item->setCheckState(0, code < leftOut.size() && leftOut.test(code) ? Qt::Unchecked : Qt::Checked);
    }
  }
}

std::bitset<kTypeSlots> FileTypePage::LeftOut() const {
  std::bitset<kTypeSlots> out;
  for (int i = 0; i < tree_->topLevelItemCount(); ++i) {
    const QTreeWidgetItem* folder = tree_->topLevelItem(i);
    for (int j = 0; j < folder->childCount(); ++j) {
      const QTreeWidgetItem* item = folder->child(j);
      const std::uint32_t code = item->data(0, kCodeRole).toUInt();
      if (code < out.size() && item->checkState(0) != Qt::Checked) out.set(code);
    }
  }
  return out;
}

}  // namespace ambrel::ui
