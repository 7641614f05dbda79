#include "ui_test_support.h"

#include <QCoreApplication>
#include <QDir>
#include <QStandardPaths>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <vector>
#include <unistd.h>

#include "app/resource_pack.h"
#include "app/settings.h"
#include "app/startup.h"
#include "catalog/node_table.h"

namespace ambrel::test {

void LoadBuiltSettings() {
  if (!SettingsLoaded()) LoadSettings(AMBREL_PACK_DIR, BuiltPackCheck());
}

namespace {

FoundFileNode Node(std::uint32_t id, std::uint32_t parent, NodeKind kind, std::uint64_t size) {
  FoundFileNode n{};
  n.id = id;
  n.parentId = parent;
  n.size = size;
  n.created = PackPackedTime(2021, 3, 4, 5, 6, 7);
  n.modified = PackPackedTime(2022, 8, 9, 10, 11, 12);
  SetKind(n, kind);
  return n;
}

}  // namespace

std::unique_ptr<PartitionInfo> SyntheticPartition(std::uint32_t bigFiles) {
  auto part = std::make_unique<PartitionInfo>();
  part->fsKind = kFsFat32;
  part->fsName = "FAT32";
  part->volumeLabel = "SYNTH";
  part->sectorCount = 1 << 20;
  InitTable(part->table);
  FoundFileTable& t = part->table;
  AddNodeNamed(t, Node(kDocsId, kRootId, kPresentFolder, 0), "docs", true);
  AddNodeNamed(t, Node(kTopFileId, kRootId, kPresentFile, 1536), "top.txt", true);
  AddNodeNamed(t, Node(kBigId, kDocsId, kPresentFolder, 0), "big", true);
  std::string name;
  for (std::uint32_t i = 0; i < bigFiles; ++i) {
    name = "file" + std::to_string(i) + ".txt";
    AddNodeNamed(t, Node(kFirstBigFile + i, kBigId, kPresentFile, std::uint64_t(i) * 100), name, true);
  }
  return part;
}

std::unique_ptr<FoundFileCatalog> SyntheticCatalog(std::uint32_t bigFiles) {
  auto catalog = std::make_unique<FoundFileCatalog>();
  catalog->Reset(nullptr, false);
  catalog->AddPartition(SyntheticPartition(bigFiles), nullptr, false);
  return catalog;
}

namespace {

// The folders handed out are removed when the test program exits, so runs
// leave nothing behind (AMBREL_KEEP_TEST_TEMP=1 keeps them).
class TempFolders {
 public:
  void Add(const std::string& p) {
    std::lock_guard<std::mutex> lock(mutex_);
    paths_.push_back(p);
  }
  ~TempFolders() {
    if (::getpid() != owner_) return;
    if (const char* keep = std::getenv("AMBREL_KEEP_TEST_TEMP"); keep && std::strcmp(keep, "0") != 0) return;
    for (const auto& p : paths_) {
      std::error_code ec;
      std::filesystem::remove_all(p, ec);
    }
  }

 private:
  std::mutex mutex_;
  std::vector<std::string> paths_;
  pid_t owner_ = ::getpid();
};

TempFolders& Folders() {
  static TempFolders folders;
  return folders;
}

}  // namespace

std::string TempFolder(const std::string& name) {
  const QString path = QDir::tempPath() + QStringLiteral("/ambrel-ui-test-") + QString::fromStdString(name) +
                       QStringLiteral("-") + QString::number(QCoreApplication::applicationPid());
  QDir(path).removeRecursively();
  QDir().mkpath(path);
  Folders().Add(path.toStdString());
  return path.toStdString();
}

}  // namespace ambrel::test
