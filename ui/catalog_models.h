// Qt item models straight over the session catalogue: the folder tree and
// the file list of the results browser. They hold (row, id) references into
// the catalogue's node tables and ask the catalogue for each cell, so no
// node record is copied into the model; the only state they keep is the id
// list of the folder on show and the folders of the tree opened so far
// (children are fetched when a folder is first expanded).
//
// Threads: GUI thread only. The catalogue takes its own locks per lookup.
// A model must be cleared (ShowFolder/SetRoots with nothing) before the
// catalogue is reset.
#pragma once

#include <QAbstractItemModel>
#include <QAbstractTableModel>
#include <QIcon>
#include <cstdint>
#include <memory>
#include <vector>

namespace ambrel {
class FoundFileCatalog;
class NoticeListener;
}

namespace ambrel::ui {

struct CatalogRef {
  std::uint32_t row = 0;
  std::uint32_t id = 0;
  bool valid() const { return id != 0; }
};

Qt::CheckState CheckStateOfMark(unsigned state);

class FileListModel final : public QAbstractTableModel {
  Q_OBJECT
 public:
  enum Column { kName = 0, kSize, kCreated, kModified, kState, kColumnCount };

  explicit FileListModel(FoundFileCatalog& catalog, QObject* parent = nullptr);
  // Shows the visible children of (row, folderId); folderId 0 shows nothing.
  void ShowFolder(std::uint32_t row, std::uint32_t folderId);
  void Reload() { ShowFolder(row_, folder_); }
  void Clear() { ShowFolder(0, 0); }
  CatalogRef folder() const { return {row_, folder_}; }
  CatalogRef RefAt(int listRow) const;
  // Redraws the check marks of every row (after a toggle anywhere).
  void RefreshChecks();
  void RefreshAll();
  // Toggles are sent with this listener as the sender (it then gets no
  // echo of its own change).
  void setSender(NoticeListener* sender) { sender_ = sender; }

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role) override;

 signals:
  void checkToggled(quint32 row, quint32 id);

 private:
  FoundFileCatalog& catalog_;
  NoticeListener* sender_ = nullptr;
  std::uint32_t row_ = 0;
  std::uint32_t folder_ = 0;
  std::vector<std::uint32_t> ids_;
  QIcon folderIcon_, fileIcon_;
};

class FolderTreeModel final : public QAbstractItemModel {
  Q_OBJECT
 public:
  explicit FolderTreeModel(FoundFileCatalog& catalog, QObject* parent = nullptr);
  ~FolderTreeModel() override;
  // One top-level item per row: the row's root (id 5).
  void SetRoots(const std::vector<std::uint32_t>& rows);
  void Clear() { SetRoots({}); }
  CatalogRef RefAt(const QModelIndex& index) const;
  // The item of (row, id), opening the folders on its path; invalid when the
  // folder is not in the tree.
  QModelIndex IndexOf(std::uint32_t row, std::uint32_t id);
  void RefreshChecks();
  void setSender(NoticeListener* sender) { sender_ = sender; }
  // Number of tree items created so far (roots included).
  std::size_t itemCount() const;

  QModelIndex index(int r, int column, const QModelIndex& parent = {}) const override;
  QModelIndex parent(const QModelIndex& child) const override;
  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  bool hasChildren(const QModelIndex& parent = {}) const override;
  bool canFetchMore(const QModelIndex& parent) const override;
  void fetchMore(const QModelIndex& parent) override;
  QVariant data(const QModelIndex& index, int role) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role) override;

 signals:
  void checkToggled(quint32 row, quint32 id);

 private:
  struct Item {
    std::uint32_t row = 0;
    std::uint32_t id = 0;
    Item* parent = nullptr;
    int indexInParent = 0;
    bool fetched = false;
    std::vector<std::unique_ptr<Item>> children;
  };
  Item* ItemOf(const QModelIndex& index) const;
  QModelIndex IndexOfItem(Item* item) const;
  void EmitChecks(Item* item);

  FoundFileCatalog& catalog_;
  NoticeListener* sender_ = nullptr;
  std::vector<std::unique_ptr<Item>> roots_;
  QIcon folderIcon_;
};

}  // namespace ambrel::ui
