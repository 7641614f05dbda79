#include "preview/ooxml_text.h"

#include <vector>

#include "app/zip_memory.h"
#include "common/text.h"
#include "preview/utf16_text.h"
#include "preview/zip_walk.h"

namespace ambrel {
namespace {

constexpr std::size_t kMaxMemberBytes = 0xA0000;
constexpr std::size_t kMaxSlideBytes = 0x10000;
constexpr std::size_t kMaxTextUnits = 0x10000;
constexpr int kSlideNumbers = 20;

// The first `cap` bytes of member `name` (all of it when smaller). The
// stated size is not trusted: reading stops at the cap whatever it claims.
bool ReadMemberPrefix(ZipInMemory& zip, const std::string& name, std::size_t cap, std::string& out) {
  out.clear();
  unzFile z = zip.handle();
  if (!z || unzLocateFile(z, name.c_str(), 0) != UNZ_OK) return false;
  if (unzOpenCurrentFile(z) != UNZ_OK) return false;
  std::vector<char> chunk(0x10000);
  bool ok = true;
  while (out.size() < cap) {
    const std::size_t want = std::min(chunk.size(), cap - out.size());
    const int got = unzReadCurrentFile(z, chunk.data(), static_cast<unsigned>(want));
    if (got < 0) ok = false;
    if (got <= 0) break;
    out.append(chunk.data(), static_cast<std::size_t>(got));
  }
  unzCloseCurrentFile(z);
  return ok;
}

std::string MemberXml(std::uint32_t typeCode, ZipInMemory& zip) {
  std::string xml;
  if (typeCode == 37) ReadMemberPrefix(zip, "word/document.xml", kMaxMemberBytes, xml);
  if (typeCode == 38) ReadMemberPrefix(zip, "xl/sharedStrings.xml", kMaxMemberBytes, xml);
  if (typeCode != 89) return xml;
  std::string slide;
  for (int n = 0; n < kSlideNumbers && xml.size() < kMaxSlideBytes; ++n) {
    if (ReadMemberPrefix(zip, Format("ppt/slides/slide%d.xml", n), kMaxMemberBytes, slide))
      xml += slide;
  }
  return xml;
}

}  // namespace

std::string StripMarkup(std::string_view xml) {
  if (xml.size() > kMaxMemberBytes) xml = xml.substr(0, kMaxMemberBytes);
  std::string text;
  std::size_t open = xml.find('>');
  while (open != std::string_view::npos) {
    const std::size_t close = xml.find('<', open + 1);
    if (close == std::string_view::npos) break;
    if (close - open - 1 >= 2) text.append(xml.substr(open + 1, close - open - 1));
    open = xml.find('>', close + 1);
  }
  return text;
}

std::optional<std::u16string> ExtractOoxmlText(std::uint32_t typeCode, ByteSpan data) {
  if (typeCode != 37 && typeCode != 38 && typeCode != 89) return std::nullopt;
  // Archives whose entries carry data descriptors or zip64 sizes cannot be
  // walked record by record but still open through the central directory.
  const int walk = WalkZipRecords(data).result;
  if (walk != kWalkOk && walk != kWalkUnknown) return std::nullopt;
  ZipInMemory zip(data.data(), data.size());
  if (!zip.handle()) return std::nullopt;
  std::u16string text = Utf8ToValidUtf16(StripMarkup(MemberXml(typeCode, zip)));
  const std::size_t first = text.find_first_not_of(u"\r\n");
  if (first == std::u16string::npos) return std::nullopt;
  return std::u16string(CutUtf16(std::u16string_view(text).substr(first), kMaxTextUnits));
}

}  // namespace ambrel
