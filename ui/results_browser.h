// The results browser: a folder tree beside a file list (or a picture list)
// in five views over the session catalogue, with the view buttons, the
// action buttons and the item context menu.
#pragma once

#include <QLabel>
#include <QListView>
#include <QPushButton>
#include <QSplitter>
#include <QStackedWidget>
#include <QTreeView>
#include <QWidget>
#include <array>
#include <memory>
#include <vector>

#include "session/worded_prompt.h"
#include "catalog/found_file_catalog.h"
#include "catalog/search_filter.h"
#include "catalog_models.h"
#include "copy_flow.h"
#include "notice_bridge.h"
#include "face_decoder.h"
#include "preview_pane.h"
#include "session/preview_service.h"

namespace ambrel::ui {

// Window command ids of the browser.
enum BrowserCommand : int {
  kCmdDirectoryView = 1106,
  kCmdTypeView = 1107,
  kCmdModifiedView = 1108,
  kCmdFilter = 1109,
  kCmdCreatedView = 1110,
  kCmdRename = 1232,
  kCmdIconList = 1234,
  kCmdDetailList = 1235,
  kCmdOpenItem = 1236,
  kCmdRecoverItem = 1237,
  kCmdPreviewItem = 1238,
};

class ResultsBrowser final : public QWidget {
  Q_OBJECT
 public:
  ResultsBrowser(FoundFileCatalog& catalog, WordedPrompt& prompt, QWidget* parent = nullptr);
  ~ResultsBrowser() override;

  // Drops every reference into the catalogue (before it is reset).
  void Clear();
  // Rebuilds the tree for the catalogue's view mode and shows the first row.
  void Rebuild();
  void Command(int command);
  // Runs a context-menu command on an item of the list (an invalid ref is
  // "no item under the cursor").
  void ItemCommand(int command, CatalogRef item);
  void setActionsEnabled(bool on);
  CopyFlow& copyFlow() { return copy_; }
  SearchFilter& filter() { return filter_; }

  FolderTreeModel& treeModel() { return tree_; }
  FileListModel& listModel() { return list_; }
  QTreeView* treeView() const { return treeView_; }
  QTreeView* detailView() const { return detailView_; }
  bool iconListShown() const { return lists_->currentWidget() == iconView_; }
  // The view the pressed view button shows (the filter's results press
  // the filter button): the command of the one checked button, 0 none.
  int checkedViewCommand() const;
  PreviewPane* previewPane() const { return pane_; }
  PreviewService& preview() { return preview_; }
  QListView* iconView() const { return iconView_; }
  // Shows the folder (row, id) in the list and selects it in the tree.
  void OpenFolder(std::uint32_t row, std::uint32_t id);

 private:
  void OnNotice(quint32 message, quint64 wparam, quint64 lparam);
  void SwitchView(ViewMode mode);
  void RunFilterDialog();
  void ShowContextMenu(const QPoint& at);
  void TreeSelected(const QModelIndex& index);
  void ListActivated(const QModelIndex& index);
  void RenameItem(CatalogRef item);
  void PreviewItem(CatalogRef item);
  void ListCurrentChanged(const QModelIndex& index);
  void ShowPreview(const PreviewResult& result);
  std::vector<std::uint32_t> RootRows() const;
  void MarkShownView();

  FoundFileCatalog& catalog_;
  WordedPrompt& prompt_;
  NoticeBridge bridge_;
  FolderTreeModel tree_;
  FileListModel list_;
  CopyFlow copy_;
  SearchFilter filter_;
  ViewMode shownMode_ = ViewMode::kDirectory;
  QTreeView* treeView_;
  QStackedWidget* lists_;
  QTreeView* detailView_;
  QListView* iconView_;
  std::vector<QPushButton*> classButtons_;
  std::vector<std::pair<QPushButton*, int>> viewButtons_;  // with their commands, the filter's last
  std::array<QPushButton*, 3> actions_{};
  // The preview pane and the thumbnails: one loader thread per browser.
  std::unique_ptr<ImageDecoder> decoder_ = imaging::MakeFaceDecoder();
  PreviewService preview_;
  PreviewPane* pane_;
};

}  // namespace ambrel::ui
