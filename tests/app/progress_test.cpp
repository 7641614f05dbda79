#include "app/progress.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "common/text.h"

namespace ambrel {
namespace {

ScanProgress CounterRecord(std::uint32_t stage, std::uint32_t done, std::uint32_t total) {
  ScanProgress r;
  r.stage = stage;
  r.u.counter.done = done;
  r.u.counter.total = total;
  return r;
}

TEST(ProgressMailbox, SecondPublicationIsDroppedUntilTaken) {
  ProgressMailbox box;
  ProgressBinding bound(&box);
  ScanProgress out;
  EXPECT_FALSE(box.Take(out));
  PublishProgress(CounterRecord(kStageLoadScan, 1, 10));
  PublishProgress(CounterRecord(kStageSaveScan, 2, 10));
  ASSERT_TRUE(box.Take(out));
  EXPECT_EQ(out.stage, kStageLoadScan);
  EXPECT_EQ(out.u.counter.done, 1u);
  EXPECT_FALSE(box.Take(out));
  EXPECT_EQ(out.stage, kStageLoadScan);  // untouched by the failed take
  PublishProgress(CounterRecord(kStageSaveScan, 3, 10));
  ASSERT_TRUE(box.Take(out));
  EXPECT_EQ(out.stage, kStageSaveScan);
  EXPECT_EQ(out.u.counter.done, 3u);
}

TEST(ProgressMailbox, ClearEmptiesIt) {
  ProgressMailbox box;
  ProgressBinding bound(&box);
  PublishProgress(CounterRecord(kStageClassify, 5, 6));
  box.Clear();
  ScanProgress out;
  EXPECT_FALSE(box.Take(out));
  PublishProgress(CounterRecord(kStageClassify, 6, 6));
  EXPECT_TRUE(box.Take(out));
}

TEST(ProgressMailbox, NoticeTitleAndTextAreCutByCharacters) {
  ProgressMailbox box;
  ProgressBinding bound(&box);
  std::string title;
  for (int i = 0; i < 50; ++i) title += "准";
  std::string text(200, 'x');
  PostNotice(title.c_str(), text.c_str());
  ScanProgress out;
  ASSERT_TRUE(box.Take(out));
  EXPECT_EQ(out.stage, kStageNotice);
  EXPECT_EQ(Utf8Length(out.u.notice.title), 39u);
  EXPECT_EQ(std::strlen(out.u.notice.text), 109u);
  PostNotice("准备恢复文件", "处理搜索到的信息");
  ASSERT_TRUE(box.Take(out));
  EXPECT_STREQ(out.u.notice.title, "准备恢复文件");
  EXPECT_STREQ(out.u.notice.text, "处理搜索到的信息");
}

TEST(ProgressMailbox, ConcurrentPublishersNeverTearARecord) {
  ProgressMailbox box;
  std::atomic<bool> stop{false};
  std::vector<std::thread> publishers;
  for (std::uint32_t t = 1; t <= 4; ++t)
    publishers.emplace_back([t, &stop, &box] {
      ProgressBinding bound(&box);
      ScanProgress r;
      r.stage = kStageDeepScan;
      for (std::uint64_t i = 0; !stop; ++i) {
        // Every field of one record carries the same value.
        r.u.scan.totalSectors = r.u.scan.doneSectors = i * 8 + t;
        r.u.scan.filesFound = static_cast<std::uint32_t>(i * 8 + t);
        for (auto& k : r.u.scan.kinds) k = static_cast<std::uint32_t>(i * 8 + t);
        PublishProgress(r);
      }
    });
  int taken = 0;
  while (taken < 2000) {
    ScanProgress out;
    if (!box.Take(out)) {
      std::this_thread::yield();
      continue;
    }
    ++taken;
    ASSERT_EQ(out.stage, kStageDeepScan);
    ASSERT_EQ(out.u.scan.totalSectors, out.u.scan.doneSectors);
    for (auto k : out.u.scan.kinds) ASSERT_EQ(k, out.u.scan.filesFound);
    ASSERT_EQ(out.u.scan.filesFound, static_cast<std::uint32_t>(out.u.scan.totalSectors));
  }
  stop = true;
  for (auto& p : publishers) p.join();
}

// Two tasks on two threads: each view sees its own task's records only,
// and a thread with no mailbox bound publishes nowhere.
TEST(ProgressMailbox, EachTaskHasItsOwn) {
  ProgressMailbox first, second;
  std::thread a([&] {
    ProgressBinding bound(&first);
    PublishProgress(CounterRecord(kStageLoadScan, 1, 2));
  });
  std::thread b([&] {
    ProgressBinding bound(&second);
    PublishProgress(CounterRecord(kStageSaveScan, 7, 9));
  });
  std::thread none([] { PublishProgress(CounterRecord(kStageCopy, 3, 3)); });
  a.join();
  b.join();
  none.join();
  ScanProgress out;
  ASSERT_TRUE(first.Take(out));
  EXPECT_EQ(out.stage, kStageLoadScan);
  EXPECT_FALSE(first.Take(out));
  ASSERT_TRUE(second.Take(out));
  EXPECT_EQ(out.stage, kStageSaveScan);
  EXPECT_EQ(out.u.counter.done, 7u);
}

}  // namespace
}  // namespace ambrel
