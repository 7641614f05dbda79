#include "preview/preview_test_support.h"

#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "common/text.h"
#include "support/test_paths.h"

namespace ambrel::test {

PreviewReader ReaderOfBytes(std::vector<std::uint8_t> bytes) {
  return [bytes = std::move(bytes)](const PreviewRequest&, std::uint64_t) {
    PreviewBytes b;
    b.found = true;
    b.data = bytes;
    b.readable = bytes.size();
    return b;
  };
}

std::vector<std::uint8_t> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

std::vector<std::string> CorpusFiles(const std::string& folder) {
  std::vector<std::string> files;
  std::string corpus = CorpusDir();
  // A worktree outside the main checkout names the corpus explicitly.
  if (corpus.empty() && std::getenv("AMBREL_CORPUS_DIR")) corpus = std::getenv("AMBREL_CORPUS_DIR");
  if (corpus.empty() || !std::filesystem::is_directory(corpus + "/" + folder)) return files;
  for (const auto& e : std::filesystem::directory_iterator(corpus + "/" + folder))
    if (e.is_regular_file()) files.push_back(e.path().string());
  std::sort(files.begin(), files.end());
  return files;
}

bool HaveTool(const std::string& tool) {
  return std::system(("command -v " + tool + " >/dev/null 2>&1").c_str()) == 0;
}

std::string RunCommand(const std::string& command) {
  std::string out;
  FILE* pipe = popen((command + " 2>/dev/null").c_str(), "r");
  if (!pipe) return out;
  char buf[4096];
  std::size_t n;
  while ((n = fread(buf, 1, sizeof buf, pipe)) > 0) out.append(buf, n);
  pclose(pipe);
  return out;
}

std::string ShellQuote(const std::string& text) {
  std::string q = "'";
  for (char c : text) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

std::vector<std::string> Words(const std::string& utf8) {
  std::vector<std::string> words;
  std::string cur;
  for (unsigned char c : utf8) {
    const bool wordByte = std::isalnum(c) || c >= 0x80;
    if (wordByte) {
      cur.push_back(static_cast<char>(c));
    } else if (!cur.empty()) {
      words.push_back(cur);
      cur.clear();
    }
  }
  if (!cur.empty()) words.push_back(cur);
  return words;
}

std::size_t WordsInOrder(const std::vector<std::string>& words, const std::string& text) {
  std::size_t pos = 0, found = 0;
  for (const auto& w : words) {
    const std::size_t at = text.find(w, pos);
    if (at == std::string::npos) continue;
    ++found;
    pos = at + w.size();
  }
  return found;
}

std::string ToUtf8(const std::u16string& text) { return Utf16ToUtf8(text); }

bool ValidUtf16(const std::u16string& t) {
  for (std::size_t i = 0; i < t.size(); ++i) {
    if (t[i] >= 0xD800 && t[i] <= 0xDBFF) {
      if (i + 1 >= t.size() || t[i + 1] < 0xDC00 || t[i + 1] > 0xDFFF) return false;
      ++i;
    } else if (t[i] >= 0xDC00 && t[i] <= 0xDFFF) {
      return false;
    }
  }
  return true;
}

void PutU16(std::vector<std::uint8_t>& b, std::size_t off, std::uint16_t v) {
  if (b.size() < off + 2) b.resize(off + 2);
  b[off] = v & 0xFF;
  b[off + 1] = v >> 8;
}

void PutU32(std::vector<std::uint8_t>& b, std::size_t off, std::uint32_t v) {
  PutU16(b, off, v & 0xFFFF);
  PutU16(b, off + 2, v >> 16);
}

namespace {

void PutEntry(std::vector<std::uint8_t>& b, std::size_t off, const std::string& name,
              std::uint8_t kind, std::uint32_t start, std::uint32_t size) {
  for (std::size_t i = 0; i < name.size(); ++i) PutU16(b, off + 2 * i, std::uint8_t(name[i]));
  PutU16(b, off + 64, static_cast<std::uint16_t>((name.size() + 1) * 2));
  b[off + 66] = kind;
  PutU32(b, off + 68, 0xFFFFFFFF);
  PutU32(b, off + 72, 0xFFFFFFFF);
  PutU32(b, off + 76, 0xFFFFFFFF);
  PutU32(b, off + 116, start);
  PutU32(b, off + 120, size);
}

}  // namespace

std::vector<std::uint8_t> BuildCompound(const std::vector<CompoundStream>& streams) {
  std::uint32_t dataSectors = 0;
  for (const auto& st : streams) dataSectors += static_cast<std::uint32_t>((st.bytes.size() + 511) / 512);
  // FAT sectors first, then the directory, then the streams.
  std::uint32_t fatSectors = 1;
  while (fatSectors * 128 < fatSectors + 1 + dataSectors) ++fatSectors;
  const std::uint32_t dirSector = fatSectors;
  std::vector<std::uint8_t> file(512 * (fatSectors + 2), 0);
  const std::uint8_t sig[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
  std::copy(sig, sig + 8, file.begin());
  PutU16(file, 0x1A, 3);
  PutU16(file, 0x1C, 0xFFFE);
  PutU16(file, 0x1E, 9);
  PutU16(file, 0x20, 6);
  PutU32(file, 0x2C, fatSectors);
  PutU32(file, 0x30, dirSector);
  PutU32(file, 0x38, 4096);
  PutU32(file, 0x3C, 0xFFFFFFFE);    // no mini FAT
  PutU32(file, 0x44, 0xFFFFFFFE);    // no DIFAT sectors
  for (std::uint32_t i = 0; i < 109; ++i) PutU32(file, 0x4C + 4 * i, i < fatSectors ? i : 0xFFFFFFFF);
  std::vector<std::uint32_t> fat(std::size_t{fatSectors} * 128, 0xFFFFFFFF);
  for (std::uint32_t i = 0; i < fatSectors; ++i) fat[i] = 0xFFFFFFFD;
  fat[dirSector] = 0xFFFFFFFE;
  const std::size_t dir = (dirSector + 1) * 512;
  PutEntry(file, dir, "Root Entry", 5, 0xFFFFFFFE, 0);
  std::uint32_t next = dirSector + 1;
  for (std::size_t s = 0; s < streams.size() && s < 3; ++s) {
    const auto& st = streams[s];
    const std::uint32_t sectors = static_cast<std::uint32_t>((st.bytes.size() + 511) / 512);
    PutEntry(file, dir + 128 * (s + 1), st.name, 2, sectors ? next : 0xFFFFFFFE,
             static_cast<std::uint32_t>(st.bytes.size()));
    for (std::uint32_t k = 0; k < sectors; ++k)
      fat.at(next + k) = k + 1 < sectors ? next + k + 1 : 0xFFFFFFFE;
    std::vector<std::uint8_t> padded = st.bytes;
    padded.resize(std::size_t{sectors} * 512, 0);
    file.insert(file.end(), padded.begin(), padded.end());
    next += sectors;
  }
  for (std::size_t i = 0; i < fat.size(); ++i) PutU32(file, 512 + 4 * i, fat[i]);
  return file;
}

std::vector<std::uint8_t> BuildStoredZip(const std::vector<ZipMember>& members, std::uint16_t flags) {
  std::vector<std::uint8_t> zip, central;
  for (const auto& m : members) {
    const std::uint32_t crc = static_cast<std::uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(m.bytes.data()), static_cast<uInt>(m.bytes.size())));
    const std::uint32_t offset = static_cast<std::uint32_t>(zip.size());
    const std::uint32_t size = static_cast<std::uint32_t>(m.bytes.size());
    std::vector<std::uint8_t> h(30, 0);
    PutU32(h, 0, 0x04034B50);
    PutU16(h, 4, 10);
    PutU16(h, 6, flags);
    PutU16(h, 12, 0x5A21);   // 2025-01-01
    PutU32(h, 14, crc);
    PutU32(h, 18, size);
    PutU32(h, 22, size);
    PutU16(h, 26, static_cast<std::uint16_t>(m.name.size()));
    zip.insert(zip.end(), h.begin(), h.end());
    zip.insert(zip.end(), m.name.begin(), m.name.end());
    zip.insert(zip.end(), m.bytes.begin(), m.bytes.end());
    std::vector<std::uint8_t> c(46, 0);
    PutU32(c, 0, 0x02014B50);
    PutU16(c, 4, 20);
    PutU16(c, 6, 10);
    PutU16(c, 8, flags);
    PutU16(c, 14, 0x5A21);
    PutU32(c, 16, crc);
    PutU32(c, 20, size);
    PutU32(c, 24, size);
    PutU16(c, 28, static_cast<std::uint16_t>(m.name.size()));
    PutU32(c, 42, offset);
    central.insert(central.end(), c.begin(), c.end());
    central.insert(central.end(), m.name.begin(), m.name.end());
  }
  const std::uint32_t cdOffset = static_cast<std::uint32_t>(zip.size());
  zip.insert(zip.end(), central.begin(), central.end());
  std::vector<std::uint8_t> e(22, 0);
  PutU32(e, 0, 0x06054B50);
  PutU16(e, 8, static_cast<std::uint16_t>(members.size()));
  PutU16(e, 10, static_cast<std::uint16_t>(members.size()));
  PutU32(e, 12, static_cast<std::uint32_t>(central.size()));
  PutU32(e, 16, cdOffset);
  zip.insert(zip.end(), e.begin(), e.end());
  return zip;
}

}  // namespace ambrel::test
