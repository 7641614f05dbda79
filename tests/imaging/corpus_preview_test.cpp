// Every corpus file previewed from a FAT32 volume and from the files a deep
// scan carved out of a raw image: the kind chosen is the one the original's
// bytes give, a picture decodes to the size of the original, a document's
// text is the walkers' text of the original. And
// hostile pictures (cut, corrupted, a decompression bomb) end in a bounded
// preview or none, never in the end of the program.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>

#include "catalog/file_types.h"
#include "catalog/node_table.h"
#include "deepscan/corpus_image_support.h"
#include "preview/document_text.h"
#include "preview/preview_test_support.h"
#include "imaging/picture_samples.h"
#include "preview/isolated_decoder.h"
#include "qt_image_decoder.h"
#include "session/preview_service.h"
#include "session/program.h"
#include "session/scan_job.h"
#include "session/source_session.h"
#include "support/test_paths.h"

namespace ambrel {
namespace {

namespace fs = std::filesystem;

ByteSpan Span(const std::vector<std::uint8_t>& v) { return {v.data(), v.size()}; }

// Short names without a long name come back in upper case.
std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

struct CorpusImage {
  std::string image;
  std::map<std::string, std::string> originals;  // "folder/name" -> path of the original
};

// A FAT32 volume holding the corpus, one folder per type. Empty without the
// corpus or the tools.
const CorpusImage& CorpusVolume() {
  static const CorpusImage made = [] {
    CorpusImage out;
    std::string corpus = test::CorpusDir();
    if (corpus.empty() && std::getenv("AMBREL_CORPUS_DIR")) corpus = std::getenv("AMBREL_CORPUS_DIR");
    if (corpus.empty() || !test::HaveTool("mkfs.vfat") || !test::HaveTool("mcopy")) return out;
    const std::string image = test::TempDir("corpus-preview") + "/corpus.img";
    const std::string q = test::ShellQuote(image);
    std::string script = "truncate -s 96M " + q + " && mkfs.vfat -F 32 -n CORPUS " + q + " >/dev/null";
    for (const auto& folder : fs::directory_iterator(corpus)) {
      if (!folder.is_directory()) continue;
      const std::string name = folder.path().filename().string();
      script += " && MTOOLS_SKIP_CHECK=1 mmd -i " + q + " ::/" + name;
      for (const std::string& file : test::CorpusFiles(name)) {
        script += " && MTOOLS_SKIP_CHECK=1 mcopy -i " + q + " " + test::ShellQuote(file) + " ::/" + name + "/";
        out.originals[Lower(name + "/" + fs::path(file).filename().string())] = file;
      }
    }
    if (std::system(script.c_str()) != 0) return CorpusImage{};
    out.image = image;
    return out;
  }();
  return made;
}

std::string PathOf(const FoundFileTable& table, const FoundFileNode& node) {
  const FoundFileNode* parent = NodeAt(table, node.parentId);
  std::string path = node.name;
  if (parent && parent->id != kRootId && parent->name) path = std::string(parent->name) + "/" + path;
  return path;
}

struct PreviewTally {
  std::size_t pictures = 0, texts = 0;
};

// Checks the preview `shown` of a copy of the original `bytes` (a file of
// the corpus folder `folder`) against what the original's own bytes give,
// previewed as the type `typeCode` and name `name` say.
PreviewTally ExpectPreviewOfOriginal(const PreviewResult& shown, const std::vector<std::uint8_t>& bytes,
                                     std::uint32_t typeCode, const char* name, const std::string& folder,
                                     IsolatedDecoder& decoder) {
  PreviewTally tally;
  EXPECT_TRUE(shown.found);
  if (!shown.found) return tally;
  EXPECT_FALSE(shown.damaged);
  // What the original's own bytes give (a document or archive whose
  // walker finds nothing, or of 1023 bytes or less, is dumped).
  const std::uint32_t type = PreviewTypeCode(typeCode, name);
  const bool large = bytes.size() > kPreviewLargeFile;
  std::vector<std::uint8_t> head = bytes;
  if (large) head.resize(kPreviewLargeRead);
  const PreviewContent expected = BuildPreviewContent(type, head, bytes.size(), large || type == kTypeUnknown);
  EXPECT_EQ(int(shown.content.kind), int(expected.kind));
  EXPECT_TRUE(shown.content.text == expected.text);
  EXPECT_TRUE(shown.content.data == expected.data);
  if (folder == "jpg" || folder == "png" || folder == "gif" || folder == "bmp" || folder == "ico") {
    EXPECT_EQ(int(shown.content.kind), int(PreviewKind::kImage));
  }
  if (folder == "txt") {
    EXPECT_EQ(int(shown.content.kind), int(PreviewKind::kText));
  }
  if (folder == "docx" || folder == "doc" || folder == "xls") {
    const std::optional<std::u16string> walked = ExtractDocumentText(type, Span(bytes));
    if (walked) {
      EXPECT_TRUE(shown.content.text == *walked);
    }
  }
  if (shown.content.kind == PreviewKind::kText) ++tally.texts;
  if (shown.content.kind != PreviewKind::kImage) return tally;
  // The picture decodes to the size of the original.
  const DecodeOutcome whole = decoder.Decode(Span(bytes), 0);
  EXPECT_EQ(shown.picture.has_value(), whole.has_value());
  if (!whole || !shown.picture) return tally;
  ++tally.pictures;
  EXPECT_EQ(shown.picture->sourceWidth, whole->sourceWidth);
  EXPECT_EQ(shown.picture->sourceHeight, whole->sourceHeight);
  EXPECT_LE(std::max(shown.picture->width, shown.picture->height), kPanePictureSide);
  EXPECT_EQ(shown.picture->damaged, whole->damaged);
  EXPECT_EQ(shown.picture->frames, whole->frames);
  return tally;
}

TEST(CorpusPreview, FromFat32TheKindTextAndPictureSizeOfTheOriginal) {
  const CorpusImage& corpus = CorpusVolume();
  if (corpus.image.empty()) GTEST_SKIP() << "corpus, mkfs.vfat or mtools missing";
  SetSettingsLoaded(true);
  OverrideSetting("ParseFileSys", "1");
  std::unique_ptr<SourceSession> source = SourceSession::Open(corpus.image);
  ASSERT_TRUE(source);
  VolumeListing listing = source->ListVolume(1, ListScope::kAll);
  ASSERT_TRUE(listing.volume);
  const PartitionInfo& volume = *listing.volume;
  IsolatedDecoder decoder(AMBREL_DECODE_HELPER, AMBREL_DECODE_MEDIA_HELPER);
  std::size_t seen = 0, pictures = 0, texts = 0;
  for (std::uint32_t id = 0; id < volume.table.count; ++id) {
    const FoundFileNode* node = NodeAt(volume.table, id);
    if (!node || !node->name || !IsFileKind(KindOf(*node))) continue;
    const std::string path = Lower(PathOf(volume.table, *node));
    auto original = corpus.originals.find(path);
    if (original == corpus.originals.end()) continue;
    SCOPED_TRACE(path);
    ++seen;
    const PreviewResult shown = PreviewVolumeFile(volume, id, &decoder);
    const PreviewTally tally = ExpectPreviewOfOriginal(shown, test::ReadBytes(original->second), node->typeCode,
                                                       node->name, path.substr(0, path.find('/')), decoder);
    pictures += tally.pictures;
    texts += tally.texts;
  }
  EXPECT_EQ(seen, corpus.originals.size());
  EXPECT_GE(pictures, 10u);
  EXPECT_GE(texts, 10u);
}

const char* KindName(PreviewKind kind) {
  switch (kind) {
    case PreviewKind::kImage: return "picture";
    case PreviewKind::kText: return "text";
    case PreviewKind::kHex: return "dump";
  }
  return "other";
}

// Containers whose extension is not the primary one of their type: the
// name table matches primary extensions only, so such a file listed by name
// is of unknown type and dumped, while the carver names it by its signature
// (mkv, wmv, m2t), a video previewed by a frame.
const std::set<std::string> kNamedApart = {"webm", "asf", "wma", "ts"};

// The files a deep scan (all files) carved out of a raw image holding every
// corpus file once among junk and decoys: each carved file whose bytes are
// those of a corpus file previews as the original, named as it was, does.
TEST(CorpusPreview, FromCarvedFilesTheKindTextAndPictureSizeOfTheOriginal) {
  const test::CorpusImageLayout layout = test::BuildCorpusImage(20);
  if (layout.image.empty()) GTEST_SKIP() << "corpus missing";
  const std::string image = test::TempDir("carved-preview") + "/corpus.img";
  {
    std::ofstream out(image, std::ios::binary);
    out.write(reinterpret_cast<const char*>(layout.image.data()), std::streamsize(layout.image.size()));
    ASSERT_TRUE(out.good());
  }
  // The originals by their bytes: a carved file is compared only when it
  // holds exactly the bytes of one of them.
  std::map<std::string, const test::PlantedFile*> byBytes;
  for (const test::PlantedFile& file : layout.files)
    byBytes.emplace(std::string(file.bytes.begin(), file.bytes.end()), &file);

  SetSettingsLoaded(true);
  OverrideSetting("ParseFileSys", "1");
  std::unique_ptr<SourceSession> source = SourceSession::Open(image);
  ASSERT_TRUE(source);
  std::optional<PartitionInfo> area = source->ScanArea();
  ASSERT_TRUE(area);
  const RecoveryMode mode = ModeFromNumber(1);
  const DeepScanSettings settings = DefaultScanSettings(*area, mode);
  ScanJobOptions options;
  options.organiseDelayMs = 0;
  options.useStateFile = false;
  ScanJob scan(std::move(*area), mode, settings, std::move(options));
  ASSERT_TRUE(scan.Start());
  scan.Join();
  ASSERT_TRUE(scan.Completed());
  const std::vector<std::unique_ptr<PartitionInfo>> results = scan.TakeResults();
  const PartitionInfo* found = FoundFilesOf(results);
  ASSERT_TRUE(found);

  IsolatedDecoder decoder(AMBREL_DECODE_HELPER, AMBREL_DECODE_MEDIA_HELPER);
  std::map<std::string, std::size_t> compared;  // kind shown -> carved files
  std::size_t pictures = 0, texts = 0;
  for (std::uint32_t id = 0; id < found->table.count; ++id) {
    const FoundFileNode* node = NodeAt(found->table, id);
    if (!node || !IsFileKind(KindOf(*node))) continue;
    const std::uint64_t at = std::uint64_t{node->dataSector} * 512, size = node->size;
    if (at > layout.image.size() || size > layout.image.size() - at) continue;
    const auto original = byBytes.find(std::string(layout.image.begin() + std::ptrdiff_t(at),
                                                   layout.image.begin() + std::ptrdiff_t(at + size)));
    if (original == byBytes.end()) continue;
    const test::PlantedFile& file = *original->second;
    SCOPED_TRACE(file.path + " carved as " + (node->name ? node->name : "?"));
    const std::string folder = file.path.substr(0, file.path.find('/'));
    const std::string name = fs::path(file.path).filename().string();
    const std::uint32_t carvedType = node->typeCode;
    const PreviewResult shown = PreviewVolumeFile(*found, id, &decoder);
    // The original's bytes previewed as the type the carver gave them...
    const PreviewTally tally = ExpectPreviewOfOriginal(shown, file.bytes, carvedType, node->name, folder, decoder);
    // ...which is the kind its own name gives.
    const std::uint32_t namedType = PreviewTypeCode(TypeCodeOfName(name), name);
    if (carvedType != namedType) std::printf("%s carved as %s (type %u, by its name %u)\n", file.path.c_str(),
                                              node->name ? node->name : "?", carvedType, namedType);
    if (!kNamedApart.count(folder)) {
      const bool dumped = file.bytes.size() > kPreviewLargeFile || namedType == kTypeUnknown;
      const PreviewContent named = BuildPreviewContent(namedType, file.bytes, file.bytes.size(), dumped);
      EXPECT_EQ(int(shown.content.kind), int(named.kind));
    }
    pictures += tally.pictures;
    texts += tally.texts;
    ++compared[KindName(shown.content.kind)];
  }
  std::size_t all = 0;
  for (const auto& [kind, count] : compared) {
    std::printf("%zu carved files previewed as %s\n", count, kind.c_str());
    all += count;
  }
  std::printf("%zu of %zu corpus files carved whole and compared\n", all, layout.files.size());
  EXPECT_GE(all, layout.files.size() * 3 / 4);
  EXPECT_GE(pictures, 10u);
  EXPECT_GE(texts, 5u);
}

std::vector<std::uint8_t> CorpusFile(const std::string& folder, const std::string& name) {
  for (const std::string& f : test::CorpusFiles(folder))
    if (fs::path(f).filename() == name) return test::ReadBytes(f);
  return {};
}

TEST(HostilePictures, CutCorruptAndBombEndInABoundedPictureOrNone) {
  imaging::QtImageDecoder decoder;
  const std::vector<std::uint8_t> jpeg = CorpusFile("jpg", "court-exif.jpg");
  if (jpeg.empty()) GTEST_SKIP() << "corpus missing";
  // Cut in half: the decoded part, called damaged.
  std::vector<std::uint8_t> cut(jpeg.begin(), jpeg.begin() + jpeg.size() / 2);
  const DecodeOutcome half = decoder.Decode(Span(cut), kThumbnailSide);
  ASSERT_TRUE(half);
  EXPECT_TRUE(half->damaged);
  EXPECT_EQ(half->sourceWidth, 500u);
  // Zeros padding a whole file (a carved or cluster-padded copy) are no damage.
  std::vector<std::uint8_t> padded = jpeg;
  padded.resize(jpeg.size() + 3000, 0);
  ASSERT_TRUE(decoder.Decode(Span(padded), kThumbnailSide));
  EXPECT_FALSE(decoder.Decode(Span(padded), kThumbnailSide)->damaged);
  // Corrupted all over: a picture of bounded size, or none.
  std::vector<std::uint8_t> noisy = jpeg;
  std::uint32_t seed = 12345;
  for (std::size_t i = 600; i < noisy.size(); i += 97) {
    seed = seed * 1103515245u + 12345u;
    noisy[i] = std::uint8_t(seed >> 16);
  }
  if (const DecodeOutcome d = decoder.Decode(Span(noisy), kThumbnailSide)) {
    EXPECT_LE(std::max(d->width, d->height), kThumbnailSide);
  }
  // Only a header: nothing.
  EXPECT_FALSE(decoder.Decode(Span(std::vector<std::uint8_t>(jpeg.begin(), jpeg.begin() + 20)), 0));
  // A bomb: 100000 x 100000 pixels in a few KB is refused by its header.
  const std::vector<std::uint8_t> bomb = test::BombPng(100000, 100000, 64);
  EXPECT_LT(bomb.size(), 64u * 1024);
  EXPECT_FALSE(decoder.Decode(Span(bomb), kThumbnailSide));
  // Below the pixel limit a PNG whose data stops early decodes no more than it holds.
  const std::vector<std::uint8_t> shortRows = test::BombPng(2000, 2000, 10);
  if (const DecodeOutcome d = decoder.Decode(Span(shortRows), kThumbnailSide)) {
    EXPECT_LE(std::max(d->width, d->height), kThumbnailSide);
  }
}

}  // namespace
}  // namespace ambrel
