#include "results_browser.h"

#include <QDesktopServices>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QInputDialog>
#include <QMenu>
#include <QUrl>
#include <QVBoxLayout>

#include "session/program.h"
#include "filter_dialog.h"
#include "item_texts.h"
#include "qt_text.h"
#include "session/texts.h"
#include "thumbnail_delegate.h"

namespace ambrel::ui {

namespace {

FilterSettings TodayDefaults() {
  const QDate today = QDate::currentDate();
  return DefaultFilterSettings(today.year(), today.month(), today.day());
}

ViewMode ModeOfCommand(int command) {
  switch (command) {
    case kCmdTypeView: return ViewMode::kByType;
    case kCmdCreatedView: return ViewMode::kByCreated;
    case kCmdModifiedView: return ViewMode::kByModified;
    default: return ViewMode::kDirectory;
  }
}

}  // namespace

ResultsBrowser::ResultsBrowser(FoundFileCatalog& catalog, WordedPrompt& prompt, QWidget* parent)
    : QWidget(parent),
      catalog_(catalog),
      prompt_(prompt),
      tree_(catalog),
      list_(catalog),
      copy_(catalog, prompt, this),
      preview_(catalog, decoder_.get()) {
  filter_.Store(TodayDefaults());
  tree_.setSender(&bridge_);
  list_.setSender(&bridge_);
  catalog_.RegisterListener(&bridge_);
  connect(&bridge_, &NoticeBridge::notice, this, &ResultsBrowser::OnNotice);

  auto* layout = new QVBoxLayout(this);
  auto* viewRow = new QHBoxLayout;
  auto addViewButton = [&](const char* text, int command, bool classView) {
    auto* b = new QPushButton(Q(text), this);
    b->setCheckable(true);
    connect(b, &QPushButton::clicked, this, [this, command] {
      Command(command);
      MarkShownView();
    });
    viewRow->addWidget(b);
    viewButtons_.emplace_back(b, command);
    if (classView) classButtons_.push_back(b);
  };
  addViewButton("目录结构", kCmdDirectoryView, false);
  addViewButton("文件类型", kCmdTypeView, true);
  addViewButton("创建时间", kCmdCreatedView, true);
  addViewButton("修改时间", kCmdModifiedView, true);
  viewRow->addStretch(1);
  layout->addLayout(viewRow);
  for (QPushButton* b : classButtons_) b->setVisible(SettingOn("ClassifyFile"));

  auto* split = new QSplitter(this);
  split->setObjectName(QStringLiteral("browserSplit"));  // its position is kept between runs
  treeView_ = new QTreeView(split);
  treeView_->setModel(&tree_);
  treeView_->setHeaderHidden(true);
  treeView_->setUniformRowHeights(true);
  // Folder labels carry their file count: the pane scrolls sideways
  // rather than cut them.
  treeView_->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
  treeView_->header()->setStretchLastSection(false);
  lists_ = new QStackedWidget(split);
  detailView_ = new QTreeView(lists_);
  detailView_->setModel(&list_);
  detailView_->setRootIsDecorated(false);
  detailView_->setUniformRowHeights(true);
  detailView_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  detailView_->setContextMenuPolicy(Qt::CustomContextMenu);
  // Name, size and both times fit beside the tree at 800 x 600.
  detailView_->header()->resizeSection(0, 175);
  detailView_->header()->resizeSection(1, 70);
  detailView_->header()->resizeSection(2, 145);
  detailView_->header()->resizeSection(3, 145);
  iconView_ = new QListView(lists_);
  iconView_->setModel(&list_);
  iconView_->setViewMode(QListView::IconMode);
  iconView_->setResizeMode(QListView::Adjust);
  iconView_->setUniformItemSizes(true);
  iconView_->setContextMenuPolicy(Qt::CustomContextMenu);
  lists_->addWidget(detailView_);
  lists_->addWidget(iconView_);
  iconView_->setItemDelegate(new ThumbnailDelegate(preview_, list_, iconView_));
  // The preview goes under the list: the list keeps the window's width, so
  // its name, size and both times stay in view at 800 x 600.
  auto* listAndPreview = new QSplitter(Qt::Vertical, split);
  listAndPreview->setObjectName(QStringLiteral("listPreviewSplit"));  // kept between runs too
  pane_ = new PreviewPane(listAndPreview);
  split->addWidget(treeView_);
  listAndPreview->addWidget(lists_);
  listAndPreview->addWidget(pane_);
  listAndPreview->setStretchFactor(0, 3);
  listAndPreview->setStretchFactor(1, 2);
  split->addWidget(listAndPreview);
  split->setStretchFactor(1, 3);
  // The loader's results come on its thread; the pane is drawn on this one.
  preview_.OnPreview([this](const PreviewResult& result) {
    auto held = std::make_shared<PreviewResult>(result);
    QMetaObject::invokeMethod(this, [this, held] { ShowPreview(*held); }, Qt::QueuedConnection);
  });
  preview_.OnThumbnail([this](std::uint32_t, std::uint32_t) {
    QMetaObject::invokeMethod(iconView_->viewport(), qOverload<>(&QWidget::update), Qt::QueuedConnection);
  });
  preview_.Start();
  split->setSizes({180, 600});
  layout->addWidget(split, 1);

  auto* actionRow = new QHBoxLayout;
  actionRow->addStretch(1);
  const char* const actionTexts[3] = {"文件过滤", "打开恢复目录", "恢复"};
  for (int i = 0; i < 3; ++i) {
    actions_[std::size_t(i)] = new QPushButton(Q(actionTexts[i]), this);
    actionRow->addWidget(actions_[std::size_t(i)]);
  }
  layout->addLayout(actionRow);
  actions_[0]->setCheckable(true);
  viewButtons_.emplace_back(actions_[0], kCmdFilter);
  connect(actions_[0], &QPushButton::clicked, this, [this] {
    Command(kCmdFilter);
    MarkShownView();
  });
  connect(actions_[1], &QPushButton::clicked, this, [this] {
    const std::string folder = copy_.LastOutputFolder();
    if (!folder.empty()) QDesktopServices::openUrl(QUrl::fromLocalFile(Q(folder)));
  });
  connect(actions_[2], &QPushButton::clicked, this, [this] { copy_.RecoverChecked(); });

  connect(treeView_->selectionModel(), &QItemSelectionModel::currentChanged, this,
          [this](const QModelIndex& index) { TreeSelected(index); });
  connect(&tree_, &FolderTreeModel::checkToggled, this, [this] { list_.RefreshChecks(); });
  connect(&list_, &FileListModel::checkToggled, this, [this] { tree_.RefreshChecks(); });
  connect(detailView_->selectionModel(), &QItemSelectionModel::currentChanged, this,
          [this](const QModelIndex& index) { ListCurrentChanged(index); });
  connect(iconView_->selectionModel(), &QItemSelectionModel::currentChanged, this,
          [this](const QModelIndex& index) { ListCurrentChanged(index); });
  connect(detailView_, &QTreeView::doubleClicked, this, &ResultsBrowser::ListActivated);
  connect(iconView_, &QListView::doubleClicked, this, &ResultsBrowser::ListActivated);
  connect(detailView_, &QWidget::customContextMenuRequested, this, &ResultsBrowser::ShowContextMenu);
  connect(iconView_, &QWidget::customContextMenuRequested, this, &ResultsBrowser::ShowContextMenu);
}

ResultsBrowser::~ResultsBrowser() {
  preview_.Stop();  // no result may arrive for a browser being taken down
  catalog_.UnregisterListener(&bridge_);
}

void ResultsBrowser::Clear() {
  preview_.Forget();  // the loader holds no reference into the catalogue any more
  pane_->Clear();
  list_.Clear();
  tree_.Clear();
}

std::vector<std::uint32_t> ResultsBrowser::RootRows() const {
  const ViewMode mode = catalog_.viewMode();
  if (IsClassView(mode)) return {kClassRow + std::uint32_t(ViewNumber(mode))};
  std::vector<std::uint32_t> rows;
  for (std::uint32_t slot = kSignatureSlot; slot < catalog_.partitionCount(); ++slot) {
    if (!catalog_.GetNode(slot, kRootId)) continue;  // not visible in this view
    if (slot == kSignatureSlot && catalog_.GetChildren(slot, kRootId, false).empty()) continue;
    rows.push_back(slot);
  }
  return rows;
}

void ResultsBrowser::MarkShownView() {
  for (auto& [button, command] : viewButtons_) {
    const bool on = command == kCmdFilter ? shownMode_ == ViewMode::kFilter : shownMode_ == ModeOfCommand(command);
    button->setChecked(on);
  }
}

int ResultsBrowser::checkedViewCommand() const {
  for (const auto& [button, command] : viewButtons_)
    if (button->isChecked()) return command;
  return 0;
}

void ResultsBrowser::Rebuild() {
  shownMode_ = catalog_.viewMode();
  MarkShownView();
  list_.Clear();
  tree_.SetRoots(RootRows());
  const QModelIndex first = tree_.index(0, 0);
  if (!first.isValid()) return;
  treeView_->expand(first);
  treeView_->setCurrentIndex(first);
  const CatalogRef ref = tree_.RefAt(first);
  list_.ShowFolder(ref.row, ref.id);
}

void ResultsBrowser::OpenFolder(std::uint32_t row, std::uint32_t id) {
  const QModelIndex index = tree_.IndexOf(row, id);
  if (index.isValid()) {
    treeView_->scrollTo(index);
    treeView_->setCurrentIndex(index);  // shows it in the list
  }
  if (list_.folder().row != row || list_.folder().id != id) list_.ShowFolder(row, id);
}

void ResultsBrowser::TreeSelected(const QModelIndex& index) {
  const CatalogRef ref = tree_.RefAt(index);
  if (!ref.valid()) return;
  list_.ShowFolder(ref.row, ref.id);
}

void ResultsBrowser::ListActivated(const QModelIndex& index) {
  const CatalogRef ref = list_.RefAt(index.row());
  const std::optional<FoundFileNode> node = ref.valid() ? catalog_.GetNode(ref.row, ref.id) : std::nullopt;
  if (node && IsFolderKind(KindOf(*node))) catalog_.Navigate(ref.row, ref.id);
}

void ResultsBrowser::SwitchView(ViewMode mode) {
  if (mode == shownMode_ && mode == catalog_.viewMode()) return;  // the current view again: nothing
  catalog_.SetViewMode(mode);  // recomputes the checks; 1227 comes back to Rebuild
}

void ResultsBrowser::Command(int command) {
  switch (command) {
    case kCmdDirectoryView:
    case kCmdTypeView:
    case kCmdCreatedView:
    case kCmdModifiedView: SwitchView(ModeOfCommand(command)); break;
    case kCmdFilter: RunFilterDialog(); break;
    case kCmdIconList: lists_->setCurrentWidget(iconView_); break;
    case kCmdDetailList: lists_->setCurrentWidget(detailView_); break;
    default: break;
  }
}

void ResultsBrowser::RunFilterDialog() {
  FilterDialog dialog(filter_.settings(), prompt_, this);
  if (dialog.exec() != QDialog::Accepted) return;
  filter_.Store(dialog.chosen());
  const std::string message = RunFilter(catalog_, filter_);  // 1228 switches the view
  if (!message.empty()) prompt_.ShowMessage(message);
}

void ResultsBrowser::ItemCommand(int command, CatalogRef item) {
  const std::optional<FoundFileNode> node = item.valid() ? catalog_.GetNode(item.row, item.id) : std::nullopt;
  const bool folder = node && IsFolderKind(KindOf(*node));
  switch (command) {
    case kCmdOpenItem:
      if (!node) {
        prompt_.ShowMessage("请在需要打开的文件(目录)上点鼠标右键！");
      } else if (folder) {
        catalog_.Navigate(item.row, item.id);
      } else if (!copy_.QuickOpen(item.row, item.id)) {
        prompt_.ShowMessage("打开文件失败！");
      }
      break;
    case kCmdRecoverItem:
      if (node) copy_.QuickSave(item.row, item.id);
      break;
    case kCmdRename: RenameItem(node ? item : CatalogRef{}); break;
    case kCmdPreviewItem:
      if (node && !folder) PreviewItem(item);
      break;
    default: Command(command); break;
  }
}

void ResultsBrowser::RenameItem(CatalogRef item) {
  if (!item.valid()) {
    prompt_.ShowMessage("未选中任何文件！请在需要修改的文件上点鼠标右键，选择修改文件(目录)名。");
    return;
  }
  const std::optional<FoundFileNode> node = catalog_.GetNode(item.row, item.id);
  if (!node) return;
  bool ok = false;
  const QString name = QInputDialog::getText(this, Q("修改文件名"), Q("新的名称:"), QLineEdit::Normal,
                                             Q(node->name ? node->name : ""), &ok);
  if (!ok) return;
  const bool renamed = !name.isEmpty() && catalog_.Rename(item.row, item.id, U8(name));
  prompt_.ShowMessage(renamed ? "修改成功！" : "修改失败！");
}

void ResultsBrowser::PreviewItem(CatalogRef item) { pane_->Expect(preview_.RequestPreview(item.row, item.id)); }

void ResultsBrowser::ListCurrentChanged(const QModelIndex& index) {
  if (!index.isValid()) return;
  const CatalogRef ref = list_.RefAt(index.row());
  const std::optional<FoundFileNode> node = ref.valid() ? catalog_.GetNode(ref.row, ref.id) : std::nullopt;
  if (node && IsFileKind(KindOf(*node))) PreviewItem(ref);
}

void ResultsBrowser::ShowPreview(const PreviewResult& result) {
  const std::optional<FoundFileNode> node = catalog_.GetNode(result.request.row, result.request.col);
  if (!node) return;
  pane_->Show(result, FormatFileInfo(*node));
}

void ResultsBrowser::ShowContextMenu(const QPoint& at) {
  QAbstractItemView* view = iconListShown() ? static_cast<QAbstractItemView*>(iconView_) : detailView_;
  const QModelIndex index = view->indexAt(at);
  const CatalogRef item = index.isValid() ? list_.RefAt(index.row()) : CatalogRef{};
  const std::optional<FoundFileNode> node = item.valid() ? catalog_.GetNode(item.row, item.id) : std::nullopt;
  const bool folder = !node || IsFolderKind(KindOf(*node));
  QMenu menu(this);
  auto add = [&](const char* text, int command) {
    QAction* a = menu.addAction(Q(text));
    connect(a, &QAction::triggered, this, [this, command, item] { ItemCommand(command, item); });
  };
  if (folder) {
    add("打开当前目录", kCmdOpenItem);
    add("恢复当前目录", kCmdRecoverItem);
    add("修改当前目录名", kCmdRename);
  } else {
    add("预览当前文件", kCmdPreviewItem);
    add("打开当前文件", kCmdOpenItem);
    add("恢复当前文件", kCmdRecoverItem);
    add("修改当前文件名", kCmdRename);
  }
  menu.addSeparator();
  if (iconListShown())
    add("显示详细信息", kCmdDetailList);
  else
    add("显示文件图标", kCmdIconList);
  menu.exec(view->viewport()->mapToGlobal(at));
}

void ResultsBrowser::setActionsEnabled(bool on) {
  for (QPushButton* b : actions_) b->setEnabled(on);
}

void ResultsBrowser::OnNotice(quint32 message, quint64 wparam, quint64 lparam) {
  switch (message) {
    case kNoticeNavigate: OpenFolder(std::uint32_t(wparam), std::uint32_t(lparam)); break;
    case kNoticeCheckChanged:
      tree_.RefreshChecks();
      list_.RefreshChecks();
      break;
    case kNoticeViewMode:
    case kNoticeResultsLoaded:
    case kNoticeSlotAdded: Rebuild(); break;
    case kNoticeFilterApplied:
      Rebuild();
      OpenFolder(std::uint32_t(wparam), kRootId);
      break;
    case kNoticeFoundFileAdded:
    case kNoticeRenamed: list_.RefreshAll(); break;
    default: break;
  }
}

}  // namespace ambrel::ui
