#include "catalog_models.h"

#include <QApplication>
#include <QStyle>
#include <algorithm>

#include "catalog/found_file_catalog.h"
#include "session/file_state.h"
#include "session/texts.h"
#include "item_texts.h"
#include "qt_text.h"

namespace ambrel::ui {

Qt::CheckState CheckStateOfMark(unsigned state) {
  if (state == 1) return Qt::Checked;
  if (state == 2) return Qt::PartiallyChecked;
  return Qt::Unchecked;
}

namespace {
QIcon StandardIcon(QStyle::StandardPixmap which) {
  return QApplication::style() ? QApplication::style()->standardIcon(which) : QIcon();
}
}  // namespace

// ---- file list ----

FileListModel::FileListModel(FoundFileCatalog& catalog, QObject* parent)
    : QAbstractTableModel(parent),
      catalog_(catalog),
      folderIcon_(StandardIcon(QStyle::SP_DirIcon)),
      fileIcon_(StandardIcon(QStyle::SP_FileIcon)) {}

void FileListModel::ShowFolder(std::uint32_t row, std::uint32_t folderId) {
  beginResetModel();
  row_ = row;
  folder_ = folderId;
  ids_.clear();
  if (folderId != 0) ids_ = catalog_.GetChildren(row, folderId, false);
  endResetModel();
}

CatalogRef FileListModel::RefAt(int listRow) const {
  if (listRow < 0 || std::size_t(listRow) >= ids_.size()) return {};
  return {row_, ids_[std::size_t(listRow)]};
}

void FileListModel::RefreshChecks() {
  if (ids_.empty()) return;
  emit dataChanged(index(0, kName), index(int(ids_.size()) - 1, kName), {Qt::CheckStateRole});
}

void FileListModel::RefreshAll() {
  if (ids_.empty()) return;
  emit dataChanged(index(0, 0), index(int(ids_.size()) - 1, kColumnCount - 1));
}

int FileListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : int(ids_.size());
}

int FileListModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : kColumnCount; }

QVariant FileListModel::data(const QModelIndex& index, int role) const {
  const CatalogRef ref = RefAt(index.row());
  if (!index.isValid() || !ref.valid()) return {};
  if (role == Qt::DisplayRole && index.column() == kName) return Q(catalog_.GetItemText(ref.row, ref.id));
  if (role != Qt::DisplayRole && role != Qt::CheckStateRole && role != Qt::DecorationRole &&
      role != Qt::TextAlignmentRole)
    return {};
  const std::optional<FoundFileNode> node = catalog_.GetNode(ref.row, ref.id);
  if (!node) return {};
  const bool folder = IsFolderKind(KindOf(*node));
  if (role == Qt::TextAlignmentRole)
    return index.column() == kSize ? QVariant(int(Qt::AlignRight | Qt::AlignVCenter)) : QVariant();
  if (index.column() == kName) {
    if (role == Qt::CheckStateRole) return CheckStateOfMark(CheckStateOf(*node));
    if (role == Qt::DecorationRole) return folder ? folderIcon_ : fileIcon_;
    return {};
  }
  if (role != Qt::DisplayRole) return {};
  if (index.column() == kSize) return SizeColumnText(*node);
  if (index.column() == kCreated) return TimeColumnText(node->created);
  if (index.column() == kModified) return TimeColumnText(node->modified);
  if (index.column() == kState && !folder) {
    // What the copy-out would make of the file: a deleted file's overwrite
    // state, a live file's damage.
    std::uint32_t slot = 0, id = 0;
    const PartitionInfo* part = catalog_.Resolve(ref.row, ref.id, slot, id) ? catalog_.Partition(slot) : nullptr;
    if (!part) return {};
    return Q(FileStateWords(FileStateOf(*part, *node)));
  }
  return {};
}

QVariant FileListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
  static const char* const kHeaders[kColumnCount] = {"名称", "大小", "创建时间", "修改时间", "状态"};
  if (section < 0 || section >= kColumnCount) return {};
  return Q(kHeaders[section]);
}

Qt::ItemFlags FileListModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
  if (index.column() == kName) f |= Qt::ItemIsUserCheckable;
  return f;
}

bool FileListModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  const CatalogRef ref = RefAt(index.row());
  if (role != Qt::CheckStateRole || index.column() != kName || !ref.valid()) return false;
  if (!catalog_.ToggleCheck(ref.row, ref.id, sender_)) return false;
  RefreshChecks();
  emit checkToggled(ref.row, ref.id);
  return true;
}

// ---- folder tree ----

FolderTreeModel::FolderTreeModel(FoundFileCatalog& catalog, QObject* parent)
    : QAbstractItemModel(parent), catalog_(catalog), folderIcon_(StandardIcon(QStyle::SP_DirIcon)) {}

FolderTreeModel::~FolderTreeModel() = default;

void FolderTreeModel::SetRoots(const std::vector<std::uint32_t>& rows) {
  beginResetModel();
  roots_.clear();
  for (std::uint32_t row : rows) {
    auto item = std::make_unique<Item>();
    item->row = row;
    item->id = kRootId;
    item->indexInParent = int(roots_.size());
    roots_.push_back(std::move(item));
  }
  endResetModel();
}

FolderTreeModel::Item* FolderTreeModel::ItemOf(const QModelIndex& index) const {
  return index.isValid() ? static_cast<Item*>(index.internalPointer()) : nullptr;
}

QModelIndex FolderTreeModel::IndexOfItem(Item* item) const {
  return item ? createIndex(item->indexInParent, 0, item) : QModelIndex();
}

CatalogRef FolderTreeModel::RefAt(const QModelIndex& index) const {
  const Item* item = ItemOf(index);
  return item ? CatalogRef{item->row, item->id} : CatalogRef{};
}

QModelIndex FolderTreeModel::index(int r, int column, const QModelIndex& parent) const {
  if (column != 0 || r < 0) return {};
  const Item* p = ItemOf(parent);
  const auto& list = p ? p->children : roots_;
  if (std::size_t(r) >= list.size()) return {};
  return createIndex(r, 0, list[std::size_t(r)].get());
}

QModelIndex FolderTreeModel::parent(const QModelIndex& child) const {
  const Item* item = ItemOf(child);
  return item ? IndexOfItem(item->parent) : QModelIndex();
}

int FolderTreeModel::rowCount(const QModelIndex& parent) const {
  if (parent.column() > 0) return 0;
  const Item* p = ItemOf(parent);
  return int(p ? p->children.size() : roots_.size());
}

int FolderTreeModel::columnCount(const QModelIndex&) const { return 1; }

bool FolderTreeModel::hasChildren(const QModelIndex& parent) const {
  const Item* p = ItemOf(parent);
  if (!p) return !roots_.empty();
  return !p->fetched || !p->children.empty();  // unknown until first opened
}

bool FolderTreeModel::canFetchMore(const QModelIndex& parent) const {
  const Item* p = ItemOf(parent);
  return p && !p->fetched;
}

void FolderTreeModel::fetchMore(const QModelIndex& parent) {
  Item* p = ItemOf(parent);
  if (!p || p->fetched) return;
  p->fetched = true;
  // Folders only: the tree shows what holds something; files stay in the list.
  const std::vector<std::uint32_t> ids = catalog_.GetChildren(p->row, p->id, true);
  if (ids.empty()) {
    emit dataChanged(parent, parent);  // the expander goes away
    return;
  }
  beginInsertRows(parent, 0, int(ids.size()) - 1);
  p->children.reserve(ids.size());
  for (std::uint32_t id : ids) {
    auto item = std::make_unique<Item>();
    item->row = p->row;
    item->id = id;
    item->parent = p;
    item->indexInParent = int(p->children.size());
    p->children.push_back(std::move(item));
  }
  endInsertRows();
}

QModelIndex FolderTreeModel::IndexOf(std::uint32_t row, std::uint32_t id) {
  Item* at = nullptr;
  for (auto& r : roots_)
    if (r->row == row) at = r.get();
  if (!at) return {};
  std::vector<std::uint32_t> path = catalog_.GetPath(row, id);  // id ... root
  if (path.empty() || path.back() != kRootId) return {};
  for (auto it = path.rbegin() + 1; it != path.rend(); ++it) {
    const QModelIndex here = IndexOfItem(at);
    if (!at->fetched) fetchMore(here);
    Item* next = nullptr;
    for (auto& c : at->children)
      if (c->id == *it) next = c.get();
    if (!next) return {};
    at = next;
  }
  return IndexOfItem(at);
}

QVariant FolderTreeModel::data(const QModelIndex& index, int role) const {
  const Item* item = ItemOf(index);
  if (!item) return {};
  // A volume's label with its file count is wider than the pane at 800 x
  // 600: the whole label shows on hovering as well as by scrolling.
  if (role == Qt::DisplayRole || role == Qt::ToolTipRole) return Q(catalog_.GetItemText(item->row, item->id));
  if (role == Qt::CheckStateRole) return CheckStateOfMark(catalog_.GetCheck(item->row, item->id));
  if (role == Qt::DecorationRole) return folderIcon_;
  return {};
}

Qt::ItemFlags FolderTreeModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable;
}

bool FolderTreeModel::setData(const QModelIndex& index, const QVariant&, int role) {
  const Item* item = ItemOf(index);
  if (!item || role != Qt::CheckStateRole) return false;
  if (!catalog_.ToggleCheck(item->row, item->id, sender_)) return false;
  RefreshChecks();
  emit checkToggled(item->row, item->id);
  return true;
}

void FolderTreeModel::EmitChecks(Item* item) {
  auto& list = item ? item->children : roots_;
  if (list.empty()) return;
  emit dataChanged(IndexOfItem(list.front().get()), IndexOfItem(list.back().get()), {Qt::CheckStateRole});
  for (auto& c : list)
    if (c->fetched) EmitChecks(c.get());
}

void FolderTreeModel::RefreshChecks() { EmitChecks(nullptr); }

std::size_t FolderTreeModel::itemCount() const {
  std::size_t n = 0;
  std::vector<const Item*> stack;
  for (auto& r : roots_) stack.push_back(r.get());
  while (!stack.empty()) {
    const Item* x = stack.back();
    stack.pop_back();
    ++n;
    for (auto& c : x->children) stack.push_back(c.get());
  }
  return n;
}

}  // namespace ambrel::ui
