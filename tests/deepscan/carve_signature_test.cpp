// The signature test of every carved type on crafted first sectors and on
// real files, with the edge cases of the table: filler sectors, docx
// against zip, FUJIFILM, the JPEG markers, the HTML line breaks.
#include <gtest/gtest.h>

#include <string>

#include "carve_support.h"
#include "deepscan/carve/signature_detect.h"
#include "support/test_paths.h"

namespace ambrel {
namespace {

using test::Bytes;
using test::SectorWith;

int TypeOf(const Bytes& sector) {
  auto match = DetectSignature(ByteSpan(sector.data(), sector.size()));
  return match ? match->type : -1;
}

std::string B(std::initializer_list<int> bytes) {
  std::string s;
  for (int b : bytes) s.push_back(static_cast<char>(b));
  return s;
}

// A sector of `fill` with pieces at offsets.
Bytes Crafted(std::initializer_list<std::pair<std::size_t, std::string>> pieces, std::uint8_t fill = 0x20) {
  Bytes sector(512, fill);
  for (const auto& [at, text] : pieces) std::copy(text.begin(), text.end(), sector.begin() + at);
  return sector;
}

struct Row {
  const char* name;
  Bytes sector;
  int type;
};

std::vector<Row> EveryRow() {
  return {
      {"doc", Crafted({{0, B({0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1})}}), 36},
      {"docx", Crafted({{0, "PK" + B({3, 4})}, {30, "[Content_Types].xml"}}), 37},
      {"mdb", Crafted({{0, B({0, 1, 0, 0})}, {4, "Standard Jet DB"}}), 77},
      {"accdb", Crafted({{0, B({0, 1, 0, 0})}, {4, "Standard ACE DB"}}), 78},
      {"chm", Crafted({{0, "ITSF"}, {8, B({0x60})}}), 39},
      {"pdf", Crafted({{0, "%PDF-1.4"}}), 40},
      {"hlp", Crafted({{0, B({0x3F, 0x5F, 0x03, 0x00})}}), 41},
      {"hlp2", Crafted({{0, B({0x4C, 0x4E, 0x02, 0x00})}}), 41},
      {"pub", Crafted({{0, B({0x01, 0xC3, 0x5B, 0x50})}}), 42},
      {"mht-bom", Crafted({{0, B({0xEF, 0xBB, 0xBF}) + "MIME-Version"}}), 43},
      {"mht", Crafted({{0, "MIME-Version: 1.0"}}), 43},
      {"mht-from", Crafted({{0, "From: someone"}}), 43},
      {"png", Crafted({{0, B({0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A})}}), 44},
      {"gif", Crafted({{0, "GIF89a"}}), 45},
      {"gif87", Crafted({{0, "GIF87a"}}), 45},
      {"mkv", Crafted({{0, B({0x1A, 0x45, 0xDF, 0xA3})}}), 86},
      {"cab", Crafted({{0, "MSCF" + B({0, 0, 0, 0})}}), 84},
      {"cab-is", Crafted({{0, "ISc("}}), 84},
      {"mcb", Crafted({{0, "MCVL"}}), 145},
      {"rtf", Crafted({{0, "{\\rtf1\\ansi"}}), 164},
      {"rtf-bom", Crafted({{0, B({0xEF, 0xBB, 0xBF}) + "{\\rtf1"}}), 164},
      {"jpg", Crafted({{0, B({0xFF, 0xD8, 0xFF, 0xE0})}}), 46},
      {"jpg-e1", Crafted({{0, B({0xFF, 0xD8, 0xFF, 0xE1})}}), 46},
      {"mts", Crafted({{0, B({0, 0, 0, 0, 0x47, 0x40, 0x00, 0x10})}}), 88},
      {"m2t", Crafted({{0, B({0x47, 0x48, 0x10, 0x11, 0x00, 0x00, 0x01})}}), 143},
      {"psd", Crafted({{0, "8BPS" + B({0, 1, 0, 0})}}), 47},
      {"ai", Crafted({{0, "%!PS-Adobe-3.0"}}), 83},
      {"bmp", Crafted({{0, "BM" + B({0x36, 0x10, 0, 0, 0, 0, 0, 0, 0x36, 0, 0, 0, 0x28, 0})}}), 48},
      {"cr2", Crafted({{0, B({'I', 'I', 0x2A, 0})}}), 49},
      {"tiff-mm", Crafted({{0, B({'M', 'M', 0, 0x2A})}}), 49},
      {"orf", Crafted({{0, "IIRO"}}), 49},
      {"rw2", Crafted({{0, B({'I', 'I', 'U', 0})}}), 49},
      {"raf", Crafted({{0, "FUJIFILMCCD-RAW"}}), 144},
      {"wav", Crafted({{0, "RIFF"}, {8, "WAVEfmt "}}), 53},
      {"mp3", Crafted({{0, "ID3" + B({3, 0})}}), 54},
      {"mid", Crafted({{0, "MThd"}}), 57},
      {"wmv", Crafted({{0, B({0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11})}}), 108},
      {"wma", Crafted({{0, B({0xFF, 0xFA, 0x90, 0x40})}}), 59},
      {"wma2", Crafted({{0, B({0xFF, 0xE3, 0x20, 0xC0})}}), 59},
      {"ogg", Crafted({{0, "OggS"}}), 55},
      {"ape", Crafted({{0, "MAC "}}), 56},
      {"7z", Crafted({{0, B({'7', 'z', 0xBC, 0xAF, 0x27})}}), 60},
      {"zip", Crafted({{0, "PK" + B({3, 4})}, {30, "readme.txt"}}), 61},
      {"zip-span", Crafted({{0, "PK00"}}), 61},
      {"zip-empty", Crafted({{0, "PK" + B({5, 6})}}), 61},
      {"rar", Crafted({{0, "Rar!" + B({0x1A, 0x07, 0x00})}}), 62},
      {"jar", Crafted({{0, B({0x5F, 0x27, 0xA8, 0x89})}}), 63},
      {"flv", Crafted({{0, "FLV" + B({1})}}), 64},
      {"ram", Crafted({{0, B({0x2E, 0x72, 0x61, 0x3F})}}), 65},
      {"rmvb", Crafted({{0, ".RMF"}}), 66},
      {"ani", Crafted({{0, "RIFF"}, {8, "ACONanih"}}), 85},
      {"m4a", Crafted({{4, "ftypM4A "}}), 69},
      {"3gp", Crafted({{4, "ftyp3gp4"}}), 68},
      {"m4v", Crafted({{4, "ftypM4V "}}), 71},
      {"mp4", Crafted({{4, "ftypisom"}}), 72},
      {"mp4-mmp4", Crafted({{4, "ftypmmp4"}}), 72},
      {"mov", Crafted({{4, "ftypqt  "}}), 67},
      {"mpg1", Crafted({{0, B({0, 0, 1, 0xBA, 0x21, 0x00, 0x01, 0x00})}}), 82},
      {"mpg2", Crafted({{0, B({0, 0, 1, 0xBA, 0x44, 0x00, 0x04, 0x00})}}), 82},
      {"avi", Crafted({{0, "RIFF"}, {8, "AVI LIST"}}), 73},
      {"dwg", Crafted({{0, "AC1015"}}), 75},
      {"dsw", Crafted({{0, "Microsoft Developer Studio Workspace File"}}), 80},
      {"sln", Crafted({{0, "Microsoft Visual Studio Solution File"}}), 81},
      {"sln-bom", Crafted({{0, B({0xEF, 0xBB, 0xBF, 0x0D, 0x0A})}, {28, " Sol"}}), 81},
      {"xml-ui", Crafted({{0, "<Ui xmlns=\"x\">"}}), 163},
      {"html-xml", Crafted({{0, "<?xml version=\"1.0\"?>"}}), 79},
      {"html-head", Crafted({{0, "<HEAD>"}}), 79},
      {"html-script", Crafted({{0, "<script>"}}), 79},
      {"html-utf16", Crafted({{0, B({0xFF, 0xFE, '<', 0})}}), 79},
      {"html-bom", Crafted({{0, B({0xEF, 0xBB, 0xBF, '<'})}}), 79},
      {"html", Crafted({{0, "<html>"}}), 79},
      {"html-doctype", Crafted({{0, "<!DOCTYPE html>"}}), 79},
      {"html-comment", Crafted({{0, "<!-- x -->"}}), 79},
      {"xsd", Crafted({{0, "<xs:schema xmlns"}}), 79},
      {"plain", Crafted({{0, "Just some text"}}), -1},
  };
}

TEST(CarveSignature, EveryRowOfTheTable) {
  for (const Row& row : EveryRow()) EXPECT_EQ(TypeOf(row.sector), row.type) << row.name;
}

TEST(CarveSignature, FillerSectorsAreNeverHits) {
  // Eight zero bytes or eight 0x7F bytes first: whatever follows.
  EXPECT_EQ(TypeOf(Crafted({{8, "%PDF-1.4"}}, 0)), -1);
  EXPECT_EQ(TypeOf(Crafted({{8, "WAVEfmt "}}, 0)), -1);
  EXPECT_EQ(TypeOf(Crafted({{8, "WAVEfmt "}}, 0x7F)), -1);
  EXPECT_EQ(TypeOf(Bytes(512, 0)), -1);
  EXPECT_EQ(TypeOf(Bytes(512, 0x7F)), -1);
  // A filler prefix of four bytes only is not filler: the transport stream test holds.
  EXPECT_EQ(TypeOf(Crafted({{0, B({0, 0, 0, 0, 0x47, 0x40, 0x00, 0x10})}}, 0)), 88);
}

TEST(CarveSignature, ContentTypesFirstMakesADocx) {
  EXPECT_EQ(TypeOf(Crafted({{0, "PK" + B({3, 4})}, {30, "[Content_Types].xml"}})), 37);
  EXPECT_EQ(TypeOf(Crafted({{0, "PK" + B({3, 4})}, {30, "[Content_Types].txt"}})), 61);
  const Bytes docx = test::CorpusFile("docx/tbl-having-tables.docx");
  // Word wrote this one with the relationships first: a plain zip by its first entry.
  const Bytes relsFirst = test::CorpusFile("docx/testWORD.docx");
  const Bytes zip = test::CorpusFile("zip/test-documents.zip");
  if (docx.empty() || zip.empty()) GTEST_SKIP() << "corpus not found";
  EXPECT_EQ(TypeOf(Bytes(docx.begin(), docx.begin() + 512)), 37);
  EXPECT_EQ(TypeOf(Bytes(zip.begin(), zip.begin() + 512)), 61);
  EXPECT_EQ(TypeOf(Bytes(relsFirst.begin(), relsFirst.begin() + 512)), 61);
}

TEST(CarveSignature, FujifilmNeedsAllEightLetters) {
  EXPECT_EQ(TypeOf(Crafted({{0, "FUJIFILM"}})), 144);
  EXPECT_EQ(TypeOf(Crafted({{0, "FUJIFOTO"}})), -1);
  EXPECT_EQ(TypeOf(Crafted({{0, "FUJI"}})), -1);
}

TEST(CarveSignature, JpegMarkersOutsideTheListAreNoHit) {
  EXPECT_EQ(TypeOf(Crafted({{0, B({0xFF, 0xD8, 0xFF, 0xE2})}})), -1);
  for (int marker : {0xDB, 0xE0, 0xE1, 0xEB, 0xEE, 0xFE, 0xC4, 0xE9})
    EXPECT_EQ(TypeOf(Crafted({{0, B({0xFF, 0xD8, 0xFF, marker})}})), 46) << marker;
}

TEST(CarveSignature, HtmlAfterTenLineBreaksButNotEleven) {
  EXPECT_EQ(TypeOf(Crafted({{0, std::string(10, '\n') + "<html>"}})), 79);
  EXPECT_EQ(TypeOf(Crafted({{0, "\r\n\r\n\r\n\r\n\r\n<!DOCTYPE html>"}})), 79);
  EXPECT_EQ(TypeOf(Crafted({{0, std::string(11, '\n') + "<html>"}})), -1);
  EXPECT_EQ(TypeOf(Crafted({{0, "\n\nhello <html>"}})), -1);
  EXPECT_EQ(TypeOf(Crafted({{0, "<?xml" + B({0})}})), 79);
}

TEST(CarveSignature, BitmapHeaderSizesOfTheTest) {
  for (int header : {0x0C, 0x28, 0x6C, 0x7C})
    EXPECT_EQ(TypeOf(Crafted({{0, "BM" + B({1, 2, 3, 4, 0, 0, 0, 0, 0, 0, 0, 0, header, 0})}})), 48) << header;
  EXPECT_EQ(TypeOf(Crafted({{0, "BM" + B({1, 2, 3, 4, 0, 0, 0, 0, 0, 0, 0, 0, 0x38, 0})}})), -1);
}

TEST(CarveSignature, FirstTestThatHoldsWins) {
  // A RIFF with "AVI " and "anih" at 12 is an animated cursor: its row comes first.
  EXPECT_EQ(TypeOf(Crafted({{0, "RIFF"}, {8, "AVI anih"}})), 85);
  // A RIFF WAVE is found by the WAVE test before the RIFF types.
  EXPECT_EQ(TypeOf(Crafted({{0, "RIFF"}, {8, "WAVEfmt "}})), 53);
}

// The first sector of every corpus file whose type the table knows.
TEST(CarveSignature, RealFilesAreRecognised) {
  struct Expect {
    const char* path;
    int type;
  };
  const Expect files[] = {
      {"jpg/tokyo.jpg", 46},          {"jpg/court-exif.jpg", 46},   {"png/testPNG.png", 44},
      {"gif/testGIF.gif", 45},        {"bmp/testBMP.bmp", 48},      {"pdf/testPDF.pdf", 40},
      {"doc/testWORD.doc", 36},       {"xls/testEXCEL.xls", 36},    {"docx/tbl-having-tables.docx", 37},
      {"xlsx/testEXCEL.xlsx", 37},    {"pptx/testPPT.pptx", 37},    {"zip/test-documents.zip", 61},
      {"rar/rar3-solid.rar", 62},     {"7z/test-documents.7z", 60}, {"cab/test-documents.cab", 84},
      {"wav/testWAV.wav", 53},        {"mp3/testMP3id3v24.mp3", 54}, {"mid/testMID.mid", 57},
      {"ogg/testVORBIS.ogg", 55},     {"wmv/testWMV.wmv", 108},     {"asf/testASF.asf", 108},
      {"flv/testFLV.flv", 64},        {"mkv/testMKV.mkv", 86},      {"avi/sample.avi", 73},
      {"psd/testPSD.psd", 47},        {"rtf/testRTF.rtf", 164},     {"chm/testChm.chm", 39},
      {"mdb/testACCESS.mdb", 77},     {"accdb/testAccess2.accdb", 78}, {"raf/FujiFilm.raf", 144},
      {"cr2/testCR2.cr2", 49},        {"nef/testNEF.nef", 49},      {"mp4/testVideoMp4.mp4", 72},
  };
  if (test::CorpusDir().empty()) GTEST_SKIP() << "corpus not found";
  for (const Expect& e : files) {
    Bytes file = test::CorpusFile(e.path);
    ASSERT_FALSE(file.empty()) << e.path;
    file.resize(512, 0);
    EXPECT_EQ(TypeOf(file), e.type) << e.path;
  }
}

}  // namespace
}  // namespace ambrel
