// Every size walker over cut copies of the real files: a file cut at a
// quarter, a half or just before its end is never measured as complete.
// It either asks for more data or is rejected; no crash, no endless walk.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "preview/carve_source.h"
#include "preview/compound_probe.h"
#include "preview/mp3_probe.h"
#include "preview/tiff_raw_probe.h"
#include "preview/walk_result.h"
#include "preview/zip_walk.h"
#include "preview_test_support.h"

namespace ambrel {
namespace {

using Probe = std::function<SizeProbe(ByteSpan)>;

struct Walker {
  const char* name;
  std::vector<const char*> folders;
  Probe probe;
};

SizeProbe ThroughSource(ByteSpan bytes, SizeProbe (*probe)(CarveSource&)) {
  BufferCarveSource source(bytes);
  return probe(source);
}

std::vector<Walker> Walkers() {
  return {
      {"CompoundFileSize", {"doc", "xls", "ppt"}, [](ByteSpan b) { return CompoundFileSize(b); }},
      {"ZipArchiveSize", {"docx", "xlsx", "pptx"}, [](ByteSpan b) { return ZipArchiveSize(b); }},
      {"ProbeTiffRaw", {"cr2", "nef", "arw", "dng", "pef", "rw2", "tif"},
       [](ByteSpan b) { return ThroughSource(b, ProbeTiffRaw); }},
      {"ProbeMp3", {"mp3"}, [](ByteSpan b) { return ThroughSource(b, ProbeMp3); }},
  };
}

TEST(CutFiles, NoWalkerMeasuresACutFileAsComplete) {
  std::size_t checked = 0;
  for (const Walker& walker : Walkers()) {
    for (const char* folder : walker.folders) {
      for (const std::string& path : test::CorpusFiles(folder)) {
        const std::vector<std::uint8_t> bytes = test::ReadBytes(path);
        const SizeProbe whole = walker.probe(ByteSpan(bytes.data(), bytes.size()));
        if (whole.result != kWalkOk) continue;  // not a file this walker measures
        for (unsigned percent : {25u, 50u, 99u}) {
          const std::size_t cut = bytes.size() * percent / 100;
          const SizeProbe part = walker.probe(ByteSpan(bytes.data(), cut));
          ++checked;
          if (part.result == kWalkOk) {
            // Only a file whose own structure ends inside the cut (a TIFF
            // whose last strip lies before trailing data) may still be
            // measured, and then to the same size as the whole.
            EXPECT_LE(part.size, cut) << walker.name << " " << path << " at " << percent << "%";
            EXPECT_EQ(part.size, whole.size) << walker.name << " " << path << " at " << percent << "%";
          } else {
            EXPECT_TRUE(part.result == kWalkNeedMore || part.result == kWalkMalformed ||
                        part.result == kWalkUnknown)
                << walker.name << " " << path << " at " << percent << "%: " << part.result;
          }
        }
      }
    }
  }
  if (checked == 0) GTEST_SKIP() << "no corpus";
}

}  // namespace
}  // namespace ambrel
