// The preview pane and the picture list over a FAT32 volume: the texts and
// the switch button of each kind, a burst of selections that ends in the
// last one only, and thumbnails made off the interface thread.
#include <QApplication>
#include <QtTest>
#include <cstdlib>
#include <fstream>

#include "results_browser.h"
#include "session/program.h"
#include "session/source_session.h"
#include "ui_test_support.h"

using namespace ambrel;
using namespace ambrel::ui;
using namespace ambrel::test;

namespace {

constexpr int kTextFiles = 40;

std::string Quote(const std::string& s) { return "'" + s + "'"; }

// The corpus photo and kTextFiles small texts "Note-N.txt" on a FAT32
// volume; empty when the tools or the corpus are missing.
std::string MakeVolume() {
  const std::string photo = std::string(AMBREL_SOURCE_DIR) + "/../shared/corpus/jpg/court-exif.jpg";
  if (std::system("command -v mcopy >/dev/null && command -v mkfs.vfat >/dev/null") != 0) return {};
  if (!std::ifstream(photo)) return {};
  const std::string dir = TempFolder("preview-pane");
  const std::string image = dir + "/pane.img";
  std::string script = "truncate -s 40M " + Quote(image) + " && mkfs.vfat -F 32 " + Quote(image) + " >/dev/null" +
                       " && MTOOLS_SKIP_CHECK=1 mcopy -i " + Quote(image) + " " + Quote(photo) + " ::/Court-Photo.jpg";
  for (int i = 0; i < kTextFiles; ++i) {
    const std::string file = dir + "/Note-" + std::to_string(i) + ".txt";
    std::ofstream(file) << "note number " << i << "\r\n";
    script += " && MTOOLS_SKIP_CHECK=1 mcopy -i " + Quote(image) + " " + Quote(file) + " ::/";
  }
  return std::system(script.c_str()) == 0 ? image : std::string();
}

}  // namespace

class PreviewPaneTest : public QObject {
  Q_OBJECT
  std::unique_ptr<FoundFileCatalog> catalog_;
  std::uint32_t slot_ = 0;
  std::map<std::string, std::uint32_t> ids_;

 private slots:
  void initTestCase() {
    LoadBuiltSettings();
    OverrideSetting("ParseFileSys", "1");
    const std::string image = MakeVolume();
    if (image.empty()) QSKIP("mtools, mkfs.vfat or the corpus missing");
    std::unique_ptr<SourceSession> source = SourceSession::Open(image);
    QVERIFY(source);
    catalog_ = std::make_unique<FoundFileCatalog>();
    catalog_->Reset(nullptr, false);
    source->ListInto(*catalog_, 0, ListScope::kAll);
    for (std::uint32_t slot = kFirstPartitionSlot; slot < catalog_->partitionCount(); ++slot) {
      const PartitionInfo* p = catalog_->Partition(slot);
      for (std::uint32_t id = 0; p && id < p->table.count; ++id)
        if (const FoundFileNode* n = NodeAt(p->table, id); n && n->name && IsFileKind(KindOf(*n))) {
          ids_[n->name] = id;
          slot_ = slot;
        }
    }
    QVERIFY(ids_.count("Court-Photo.jpg") == 1);
    QVERIFY(ids_.count("Note-0.txt") == 1);
  }

  void textPictureAndDumpWithTheirButton() {
    RecordingPrompt prompt;
    ResultsBrowser browser(*catalog_, prompt);
    PreviewPane* pane = browser.previewPane();
    browser.ItemCommand(kCmdPreviewItem, CatalogRef{slot_, ids_["Note-3.txt"]});
    QTRY_VERIFY_WITH_TIMEOUT(pane->shownSerial() != 0, 20000);
    QVERIFY(pane->shownText().startsWith(QString::fromUtf8("文件名: Note-3.txt\n文件大小: 0.01 KB\n")));
    QVERIFY(pane->shownText().contains(QString::fromUtf8("预览数据仅供参考")));
    QVERIFY(pane->shownText().endsWith(QStringLiteral("note number 3\n")));
    QCOMPARE(pane->switchButton()->text(), QString::fromUtf8("浏览文字"));
    QVERIFY(!pane->switchButton()->isHidden());
    pane->switchButton()->click();  // the dump of the same bytes
    QVERIFY(pane->shownText().contains(QStringLiteral("Offset  0  1  2  3")));
    QVERIFY(pane->shownText().contains(QStringLiteral("000000 6E 6F 74 65")));
    pane->switchButton()->click();
    QVERIFY(pane->shownText().endsWith(QStringLiteral("note number 3\n")));

    const std::uint64_t before = pane->shownSerial();
    browser.ItemCommand(kCmdPreviewItem, CatalogRef{slot_, ids_["Court-Photo.jpg"]});
    QTRY_VERIFY_WITH_TIMEOUT(pane->shownSerial() != before, 20000);
    QVERIFY(pane->pictureShown());
    QCOMPARE(pane->switchButton()->text(), QString::fromUtf8("浏览图像"));
    pane->switchButton()->click();
    QVERIFY(!pane->pictureShown());
    QVERIFY(pane->shownText().contains(QStringLiteral("000000 FF D8 FF")));
  }

  void burstOfSelectionsShowsTheLastOnly() {
    RecordingPrompt prompt;
    ResultsBrowser browser(*catalog_, prompt);
    PreviewPane* pane = browser.previewPane();
    QStringList shown;
    // Every result that reaches the pane is recorded: only the last may.
    for (int i = 0; i < 1000; ++i) {
      const std::string name = "Note-" + std::to_string(i % kTextFiles) + ".txt";
      browser.ItemCommand(kCmdPreviewItem, CatalogRef{slot_, ids_[name]});
      if (i % 100 == 0) QCoreApplication::processEvents();
    }
    const QString last = QStringLiteral("note number %1\n").arg(999 % kTextFiles);
    QTRY_VERIFY_WITH_TIMEOUT(pane->shownText().endsWith(last), 20000);
    QVERIFY(browser.preview().WaitingRequests() == 0);
    // Nothing older arrives afterwards.
    QTest::qWait(200);
    QVERIFY(pane->shownText().endsWith(last));
  }

  void pictureListGetsItsThumbnail() {
    RecordingPrompt prompt;
    ResultsBrowser browser(*catalog_, prompt);
    browser.resize(900, 600);
    browser.Rebuild();
    browser.Command(kCmdIconList);
    browser.OpenFolder(slot_, kRootId);
    browser.show();
    const std::uint32_t photo = ids_["Court-Photo.jpg"];
    QTRY_VERIFY_WITH_TIMEOUT(browser.preview().Thumbnail(slot_, photo).has_value(), 20000);
    const std::optional<DecodedImage> thumb = browser.preview().Thumbnail(slot_, photo);
    QCOMPARE(thumb->width, 128u);
    QCOMPARE(thumb->height, 96u);
    QCOMPARE(thumb->sourceWidth, 500u);
    // A text file gets no thumbnail, and its mark says so.
    QTRY_VERIFY_WITH_TIMEOUT(MarkOf(*catalog_->GetNode(slot_, ids_["Note-0.txt"])) == 1, 20000);
    QVERIFY(!browser.preview().Thumbnail(slot_, ids_["Note-0.txt"]));
  }
};

QTEST_MAIN(PreviewPaneTest)
#include "preview_pane_test.moc"
