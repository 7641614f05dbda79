// A catalogue of 1,000,000 found files in one folder in the results
// browser, at the window's first size: open the folder, scroll the file
// list from its first row to its last (every page drawn), check the
// folder, switch to the by-type view; the time of each step and the
// memory per row (resident set growth) of the catalogue and of the open
// folder.
//   build/bench/ui/bench_ui_million [FILES] [PAGES_PER_STEP]
// PAGES_PER_STEP (default 1: every page) makes the scroll jump, as a
// dragged scroll bar does, drawing one page in so many.
#include <QApplication>
#include <algorithm>
#include <QScrollBar>
#include <QTreeView>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <unistd.h>

#include "catalog/found_file_catalog.h"
#include "catalog/node_table.h"
#include "results_browser.h"
#include "session/worded_prompt.h"

namespace {

using namespace ambrel;
using Clock = std::chrono::steady_clock;

constexpr std::uint32_t kDocs = 6, kBig = 7, kFirstFile = 8;

class QuietPrompt final : public WordedPrompt {
 public:
  void ShowMessage(const std::string&) override {}
  bool AskYesNo(const std::string&) override { return false; }
};

std::uint64_t ResidentBytes() {
  std::ifstream statm("/proc/self/statm");
  std::uint64_t size = 0, resident = 0;
  statm >> size >> resident;
  return resident * std::uint64_t(sysconf(_SC_PAGESIZE));
}

double Ms(Clock::time_point since) {
  return std::chrono::duration<double, std::milli>(Clock::now() - since).count();
}

std::unique_ptr<PartitionInfo> MakePartition(std::uint32_t files) {
  auto part = std::make_unique<PartitionInfo>();
  part->fsKind = kFsFat32;
  InitTable(part->table);
  auto node = [](std::uint32_t id, std::uint32_t parent, NodeKind kind, std::uint64_t size, int day) {
    FoundFileNode n{};
    n.id = id;
    n.parentId = parent;
    n.size = size;
    n.created = PackPackedTime(2021, 3, 1 + day % 28, 5, 6, 7);
    n.modified = PackPackedTime(2022, 1 + day % 12, 9, 10, 11, 12);
    SetKind(n, kind);
    return n;
  };
  AddNodeNamed(part->table, node(kDocs, kRootId, kPresentFolder, 0, 0), "docs", true);
  AddNodeNamed(part->table, node(kBig, kDocs, kPresentFolder, 0, 0), "big", true);
  static const char* const kExtensions[] = {".jpg", ".doc", ".txt", ".mp4", ".zip", ".pdf"};
  for (std::uint32_t i = 0; i < files; ++i)
    AddNodeNamed(part->table, node(kFirstFile + i, kBig, kPresentFile, 1000ull + i, int(i)),
                 "file" + std::to_string(i) + kExtensions[i % 6], true);
  return part;
}

}  // namespace

int main(int argc, char** argv) {
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
  const std::uint32_t files = argc > 1 ? std::uint32_t(std::strtoul(argv[1], nullptr, 10)) : 1000000;
  const int pagesPerStep = argc > 2 ? std::max(1, std::atoi(argv[2])) : 1;
  QuietPrompt prompt;

  std::uint64_t rss = ResidentBytes();
  auto start = Clock::now();
  FoundFileCatalog catalog;
  catalog.Reset(nullptr, false);
  catalog.AddPartition(MakePartition(files), nullptr, false);
  std::printf("catalogue of %u files: %.0f ms, %.1f bytes per file\n", files, Ms(start),
              double(ResidentBytes() - rss) / files);

  {
    ui::ResultsBrowser browser(catalog, prompt);
    browser.resize(800, 560);
    browser.show();
    browser.Rebuild();
    QApplication::processEvents();

    rss = ResidentBytes();
    start = Clock::now();
    browser.OpenFolder(kFirstPartitionSlot, kBig);
    QApplication::processEvents();
    QTreeView* list = browser.detailView();
    list->viewport()->repaint();
    std::printf("open the folder (%d rows): %.0f ms, %.1f bytes per row\n", browser.listModel().rowCount(),
                Ms(start), double(ResidentBytes() - rss) / files);

    QScrollBar* bar = list->verticalScrollBar();
    start = Clock::now();
    int pages = 0;
    for (int value = 0;; value += bar->pageStep() * pagesPerStep) {
      bar->setValue(value);
      list->viewport()->repaint();  // each page drawn: its cells asked for
      ++pages;
      if (value >= bar->maximum()) break;
    }
    const double scroll = Ms(start);
    std::printf("scroll end to end: %d pages drawn (one in %d) in %.0f ms (%.3f ms per page)\n", pages, pagesPerStep,
                scroll, scroll / pages);

    start = Clock::now();
    catalog.ToggleCheck(kFirstPartitionSlot, kBig);
    QApplication::processEvents();
    list->viewport()->repaint();
    std::printf("check the folder: %.0f ms, %u checked\n", Ms(start), catalog.GetCheck(kFirstPartitionSlot, kBig));

    rss = ResidentBytes();
    start = Clock::now();
    browser.Command(ui::kCmdTypeView);
    QApplication::processEvents();
    browser.treeView()->expandToDepth(1);
    browser.treeView()->viewport()->repaint();
    std::printf("switch to the by-type view: %.0f ms, %.1f bytes per file more\n", Ms(start),
                double(ResidentBytes() - rss) / files);
    std::printf("resident set: %.0f MiB\n", double(ResidentBytes()) / 1048576.0);
    browser.Clear();
  }
  return 0;
}
