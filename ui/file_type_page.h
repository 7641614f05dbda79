// The file page of the deep-scan settings: the categories and file types
// of the type catalogue as a tree of check boxes. A category's box checks
// or clears all its types; unchecked types are left out of the results.
#pragma once

#include <QTreeWidget>
#include <QWidget>
#include <bitset>

#include "catalog/file_types.h"

namespace ambrel::ui {

class FileTypePage final : public QWidget {
  Q_OBJECT
 public:
  FileTypePage(const std::bitset<kTypeSlots>& leftOut, QWidget* parent = nullptr);
  // The types whose boxes are clear.
  std::bitset<kTypeSlots> LeftOut() const;
  QTreeWidget* tree() const { return tree_; }

 private:
  QTreeWidget* tree_;
};

}  // namespace ambrel::ui
