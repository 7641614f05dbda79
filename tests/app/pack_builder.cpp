#include "app/pack_builder.h"

#include <minizip/zip.h>

#include <cstdio>
#include <fstream>
#include <iterator>

#include "common/text.h"
#include "platform/files.h"
#include "platform/md5.h"
#include "support/test_paths.h"

namespace ambrel::test {

Bytes TextBytes(const std::string& text) { return Bytes(text.begin(), text.end()); }

Bytes Utf16File(const std::vector<std::string>& lines, bool finalNewline) {
  std::u16string text = u"\xFEFF";
  for (std::size_t i = 0; i < lines.size(); ++i) {
    text += Utf8ToUtf16(lines[i]);
    if (finalNewline || i + 1 < lines.size()) text += u"\r\n";
  }
  Bytes out;
  for (char16_t u : text) {
    out.push_back(static_cast<std::uint8_t>(u & 0xFF));
    out.push_back(static_cast<std::uint8_t>(u >> 8));
  }
  return out;
}

Bytes MakeZip(const std::vector<std::pair<std::string, Bytes>>& entries) {
  const std::string path = TempDir("zip") + "/pack.zip";
  zipFile zip = zipOpen(path.c_str(), APPEND_STATUS_CREATE);
  for (const auto& [name, data] : entries) {
    zip_fileinfo info{};
    zipOpenNewFileInZip(zip, name.c_str(), &info, nullptr, 0, nullptr, 0, nullptr, Z_DEFLATED, 6);
    zipWriteInFileInZip(zip, data.data(), static_cast<unsigned>(data.size()));
    zipCloseFileInZip(zip);
  }
  zipClose(zip, nullptr);
  Bytes out;
  ReadWholeFile(path, out);
  return out;
}

PackCheck WritePack(const std::string& folder, const std::vector<std::string>& identityLines,
                    const std::vector<std::pair<std::string, Bytes>>& packEntries) {
  const Bytes base = Utf16File(identityLines);
  WriteWholeFile(folder + "/Base.dat", base.data(), base.size());
  Bytes pack = MakeZip(packEntries);
  DescramblePack(pack.data(), pack.size());  // the same XOR scrambles
  WriteWholeFile(folder + "/Recovery.dat", pack.data(), pack.size());
  return PackCheck{pack.size(), Md5Hex(pack.data(), pack.size())};
}

}  // namespace ambrel::test
