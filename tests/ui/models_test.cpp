// The results browser's models over a synthetic table of 100,000 files.
#include <QApplication>
#include <QtTest>

#include "catalog_models.h"
#include "item_texts.h"
#include "ui_test_support.h"

using namespace ambrel;
using namespace ambrel::ui;
using namespace ambrel::test;

class ModelsTest : public QObject {
  Q_OBJECT
  static constexpr std::uint32_t kFiles = 100000;
  std::unique_ptr<FoundFileCatalog> catalog_;

 private slots:
  void initTestCase() {
    LoadBuiltSettings();
    catalog_ = SyntheticCatalog(kFiles);
  }

  void listShowsEveryChildWithItsFiveColumns() {
    FileListModel list(*catalog_);
    QCOMPARE(list.columnCount(), 5);
    QCOMPARE(list.headerData(0, Qt::Horizontal, Qt::DisplayRole).toString(), QString::fromUtf8("名称"));
    QCOMPARE(list.headerData(1, Qt::Horizontal, Qt::DisplayRole).toString(), QString::fromUtf8("大小"));
    QCOMPARE(list.headerData(2, Qt::Horizontal, Qt::DisplayRole).toString(), QString::fromUtf8("创建时间"));
    QCOMPARE(list.headerData(3, Qt::Horizontal, Qt::DisplayRole).toString(), QString::fromUtf8("修改时间"));
    QCOMPARE(list.headerData(4, Qt::Horizontal, Qt::DisplayRole).toString(), QString::fromUtf8("状态"));
    list.ShowFolder(4, kBigId);
    QCOMPARE(list.rowCount(), int(kFiles));
    // File 15 has 1500 bytes: 1 KB (the remainder 476 is below 500).
    const int row = 15;
    QCOMPARE(list.RefAt(row).id, kFirstBigFile + 15);
    QCOMPARE(list.data(list.index(row, 0), Qt::DisplayRole).toString(), QStringLiteral("file15.txt"));
    QCOMPARE(list.data(list.index(row, 1), Qt::DisplayRole).toString(), QStringLiteral("      1 KB"));
    QCOMPARE(list.data(list.index(row, 2), Qt::DisplayRole).toString(), QStringLiteral("2021-03-04  05:06:07"));
    QCOMPARE(list.data(list.index(row, 3), Qt::DisplayRole).toString(), QStringLiteral("2022-08-09  10:11:12"));
    // The state is the copy-out's judgement: the synthetic volume has no
    // boot sector, so no file's data can be located.
    QCOMPARE(list.data(list.index(row, 4), Qt::DisplayRole).toString(), QString::fromUtf8("损坏"));
    QCOMPARE(list.data(list.index(int(kFiles) - 1, 0), Qt::DisplayRole).toString(),
             QStringLiteral("file%1.txt").arg(kFiles - 1));
    QVERIFY(!list.data(list.index(int(kFiles), 0), Qt::DisplayRole).isValid());
  }

  void folderRowsShowTheirFileCount() {
    FileListModel list(*catalog_);
    list.ShowFolder(4, kRootId);
    QCOMPARE(list.rowCount(), 2);
    QCOMPARE(list.data(list.index(0, 0), Qt::DisplayRole).toString(),
             QString::fromUtf8("docs     (%1个文件)").arg(kFiles));
    QCOMPARE(list.data(list.index(0, 1), Qt::DisplayRole).toString(), QStringLiteral("      "));
    QCOMPARE(list.data(list.index(1, 1), Qt::DisplayRole).toString(), QStringLiteral("      2 KB"));  // 1536 bytes
  }

  void sizeAndTimeTexts() {
    QCOMPARE(SizeColumnText(false, 0), QStringLiteral("      0 KB"));
    QCOMPARE(SizeColumnText(false, 1023), QStringLiteral("      1 KB"));
    QCOMPARE(SizeColumnText(false, 1500), QStringLiteral("      1 KB"));
    QCOMPARE(SizeColumnText(false, 1524), QStringLiteral("      2 KB"));
    QCOMPARE(SizeColumnText(false, 1536), QStringLiteral("      2 KB"));
    QCOMPARE(SizeColumnText(false, 123456789ull * 1024), QStringLiteral("123456789 KB"));
    QCOMPARE(TimeColumnText(0), QStringLiteral("1900-01-01  00:00"));
  }

  void treeOpensFoldersOnlyWhenAsked() {
    FolderTreeModel tree(*catalog_);
    tree.SetRoots({4});
    QCOMPARE(tree.rowCount(), 1);
    QCOMPARE(tree.itemCount(), std::size_t(1));
    const QModelIndex root = tree.index(0, 0);
    QVERIFY(tree.hasChildren(root));
    QVERIFY(tree.canFetchMore(root));
    QCOMPARE(tree.rowCount(root), 0);  // nothing fetched yet
    // A label cut by the pane's width shows whole as its tool tip.
    QVERIFY(!tree.data(root, Qt::DisplayRole).toString().isEmpty());
    QCOMPARE(tree.data(root, Qt::ToolTipRole), tree.data(root, Qt::DisplayRole));
    tree.fetchMore(root);
    QCOMPARE(tree.rowCount(root), 1);  // "docs"; the file top.txt stays in the list
    QCOMPARE(tree.RefAt(tree.index(0, 0, root)).id, kDocsId);
    QCOMPARE(tree.itemCount(), std::size_t(2));
    const QModelIndex big = tree.IndexOf(4, kBigId);
    QVERIFY(big.isValid());
    QCOMPARE(tree.RefAt(big).id, kBigId);
    QCOMPARE(tree.data(big, Qt::DisplayRole).toString(), QString::fromUtf8("big     (%1个文件)").arg(kFiles));
    tree.fetchMore(big);  // 100,000 files and no folder: no tree item is made
    QCOMPARE(tree.rowCount(big), 0);
    QVERIFY(!tree.hasChildren(big));
    QCOMPARE(tree.itemCount(), std::size_t(3));
  }

  void checkMarksPropagateBothWays() {
    FolderTreeModel tree(*catalog_);
    FileListModel list(*catalog_);
    tree.SetRoots({4});
    const QModelIndex big = tree.IndexOf(4, kBigId);
    list.ShowFolder(4, kBigId);
    QSignalSpy treeChanged(&tree, &QAbstractItemModel::dataChanged);
    QVERIFY(list.setData(list.index(3, 0), Qt::Checked, Qt::CheckStateRole));
    QCOMPARE(list.data(list.index(3, 0), Qt::CheckStateRole).toInt(), int(Qt::Checked));
    QCOMPARE(list.data(list.index(4, 0), Qt::CheckStateRole).toInt(), int(Qt::Unchecked));
    QCOMPARE(tree.data(big, Qt::CheckStateRole).toInt(), int(Qt::PartiallyChecked));
    QCOMPARE(tree.data(tree.index(0, 0), Qt::CheckStateRole).toInt(), int(Qt::PartiallyChecked));
    QCOMPARE(catalog_->SumSelected().files, 1u);
    // Checking the folder checks all 100,000 files below it.
    QVERIFY(tree.setData(big, Qt::Checked, Qt::CheckStateRole));
    QVERIFY(treeChanged.count() > 0);
    QCOMPARE(tree.data(big, Qt::CheckStateRole).toInt(), int(Qt::Checked));
    QCOMPARE(list.data(list.index(4, 0), Qt::CheckStateRole).toInt(), int(Qt::Checked));
    QCOMPARE(list.data(list.index(int(kFiles) - 1, 0), Qt::CheckStateRole).toInt(), int(Qt::Checked));
    QCOMPARE(catalog_->SumSelected().files, std::uint64_t(kFiles));
    QCOMPARE(tree.data(tree.index(0, 0), Qt::CheckStateRole).toInt(), int(Qt::PartiallyChecked));  // top.txt
    QVERIFY(tree.setData(big, Qt::Unchecked, Qt::CheckStateRole));
    QCOMPARE(catalog_->SumSelected().files, 0u);
  }

  void classificationRowsAreTrees() {
    QVERIFY(catalog_->SetViewMode(ViewMode::kByType));
    FolderTreeModel tree(*catalog_);
    tree.SetRoots({kClassRow});
    const QModelIndex root = tree.index(0, 0);
    tree.fetchMore(root);
    QVERIFY(tree.rowCount(root) >= 1);  // a category folder holding the .txt files
    QVERIFY(catalog_->SetViewMode(ViewMode::kDirectory));
  }
};

QTEST_MAIN(ModelsTest)
#include "models_test.moc"
