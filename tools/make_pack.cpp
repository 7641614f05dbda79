// Build tool: writes the identity file "Base.dat", the resource pack
// "Recovery.dat" and a header with the pack's exact size and MD5, so that a
// build and its pack are always made together.
//
//   make_pack <input folder> <output folder> <header path>
//
// The input folder holds Base.txt (identity lines) and VerCfg.txt (settings
// lines), both UTF-8. Text files in the pack are UTF-16LE with a byte-order
// mark and CR LF line ends. The skin bitmaps are small generated pictures.
// The zip is made with fixed entry times, so equal inputs give an equal pack
// and an unchanged header (nothing is rebuilt needlessly).
//
// This tool is built before the core library and does not link it.
#include <md5.h>
#include <zip.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr std::uint16_t kScrambleWord = 0x7A3D;

bool ReadFile(const std::string& path, std::string& out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return true;
}

bool WriteFile(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

// Decodes one UTF-8 character at text[i]; advances i. Invalid bytes become U+FFFD.
char32_t NextCodePoint(const std::string& text, std::size_t& i) {
  const auto b = static_cast<unsigned char>(text[i++]);
  int extra = b >= 0xF0 ? 3 : b >= 0xE0 ? 2 : b >= 0xC0 ? 1 : 0;
  if (b >= 0x80 && extra == 0) return 0xFFFD;
  char32_t cp = extra == 0 ? b : extra == 1 ? (b & 0x1F) : extra == 2 ? (b & 0x0F) : (b & 0x07);
  while (extra-- > 0) {
    if (i >= text.size() || (static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) return 0xFFFD;
    cp = (cp << 6) | (static_cast<unsigned char>(text[i++]) & 0x3F);
  }
  return cp;
}

void PutUnit(Bytes& out, std::uint32_t unit) {
  out.push_back(static_cast<std::uint8_t>(unit & 0xFF));
  out.push_back(static_cast<std::uint8_t>(unit >> 8));
}

// UTF-8 lines to UTF-16LE with a byte-order mark, every line ended by CR LF.
Bytes Utf16Text(const std::string& utf8) {
  Bytes out;
  PutUnit(out, 0xFEFF);
  std::istringstream lines(utf8);
  for (std::string line; std::getline(lines, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    for (std::size_t i = 0; i < line.size();) {
      char32_t cp = NextCodePoint(line, i);
      if (cp >= 0x10000) {
        cp -= 0x10000;
        PutUnit(out, 0xD800 + (cp >> 10));
        PutUnit(out, 0xDC00 + (cp & 0x3FF));
      } else {
        PutUnit(out, cp);
      }
    }
    PutUnit(out, '\r');
    PutUnit(out, '\n');
  }
  return out;
}

void PutLe(Bytes& out, std::uint32_t v, int width) {
  for (int i = 0; i < width; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

// A small 24-bit BMP whose colour is derived from the entry name, so every
// skin element is a distinct valid picture.
Bytes SkinBitmap(const std::string& name) {
  std::uint32_t h = 2166136261u;
  for (unsigned char c : name) h = (h ^ c) * 16777619u;
  const std::uint32_t width = 8, height = 8, rowBytes = width * 3;
  const std::uint32_t dataSize = rowBytes * height;
  Bytes bmp;
  bmp.push_back('B');
  bmp.push_back('M');
  PutLe(bmp, 54 + dataSize, 4);
  PutLe(bmp, 0, 4);
  PutLe(bmp, 54, 4);
  PutLe(bmp, 40, 4);
  PutLe(bmp, width, 4);
  PutLe(bmp, height, 4);
  PutLe(bmp, 1, 2);
  PutLe(bmp, 24, 2);
  PutLe(bmp, 0, 4);
  PutLe(bmp, dataSize, 4);
  PutLe(bmp, 2835, 4);
  PutLe(bmp, 2835, 4);
  PutLe(bmp, 0, 4);
  PutLe(bmp, 0, 4);
  for (std::uint32_t y = 0; y < height; ++y)
    for (std::uint32_t x = 0; x < width; ++x) {
      const bool edge = x == 0 || y == 0 || x == width - 1 || y == height - 1;
      bmp.push_back(static_cast<std::uint8_t>(edge ? 0x40 : h));
      bmp.push_back(static_cast<std::uint8_t>(edge ? 0x40 : h >> 8));
      bmp.push_back(static_cast<std::uint8_t>(edge ? 0x40 : h >> 16));
    }
  return bmp;
}

std::vector<std::string> SkinNames(const std::string& version) {
  std::vector<std::string> names = {"Banner/" + version + ".bmp"};
  for (const char* n : {"MainDlg", "ChildDlg", "MaxNormal", "MaxDown", "MaxMove", "CloseNormal",
                        "CloseDown", "CloseMove", "MinNormal", "MinDown", "MinMove"})
    names.push_back(std::string("Dlg/") + n + ".bmp");
  for (const char* n : {"DelFileRecoveryNormal", "DelFileRecoveryDown", "DelFileRecoveryUp",
                        "PartFileRecoveryDown", "PartFileRecoveryNormal", "PartFileRecoveryUp",
                        "DiskFileRecoveryDown", "DiskFileRecoveryNormal", "DiskFileRecoveryUp",
                        "SoftHelpDown", "SoftHelpUp", "SoftHelpNormal"})
    names.push_back(std::string("OldMianBtn/") + n + ".bmp");
  for (const char* n : {"NewAllRecovery", "NewDelRecovery", "NewFormatRecovery", "NewUsbRecovery",
                        "NewRecycleRecovery", "NewDiskRecovery", "AndroidRecovery",
                        "IphoneRecovery"}) {
    names.push_back(std::string("NewMainBtn/") + n + "N.bmp");
    names.push_back(std::string("NewMainBtn/") + n + "D.bmp");
  }
  names.push_back("NewMainBtn/NewHelpN.bmp");
  names.push_back("NewMainBtn/NewHelpD.bmp");
  names.push_back("Other/Splash.bmp");
  return names;
}

// The value of "Key:" among identity lines.
std::string IdentityValue(const std::string& text, const std::string& key) {
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.rfind(key, 0) == 0) return line.substr(key.size());
  }
  return {};
}

bool AddEntry(zipFile zip, const std::string& name, const Bytes& data) {
  zip_fileinfo info{};
  info.tmz_date = {0, 0, 12, 1, 0, 2024};  // fixed time: 2024-01-01 12:00
  if (zipOpenNewFileInZip(zip, name.c_str(), &info, nullptr, 0, nullptr, 0, nullptr, Z_DEFLATED,
                          9) != ZIP_OK)
    return false;
  const bool ok = zipWriteInFileInZip(zip, data.data(), static_cast<unsigned>(data.size())) == ZIP_OK;
  return zipCloseFileInZip(zip) == ZIP_OK && ok;
}

bool MakeZip(const std::string& path, const std::vector<std::pair<std::string, Bytes>>& entries) {
  zipFile zip = zipOpen(path.c_str(), APPEND_STATUS_CREATE);
  if (!zip) return false;
  bool ok = true;
  for (const auto& [name, data] : entries) ok = ok && AddEntry(zip, name, data);
  return zipClose(zip, nullptr) == ZIP_OK && ok;
}

std::string Md5Upper(const Bytes& bytes) {
  MD5_CTX ctx;
  MD5Init(&ctx);
  MD5Update(&ctx, bytes.data(), bytes.size());
  std::uint8_t digest[MD5_DIGEST_LENGTH];
  MD5Final(digest, &ctx);
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string hex;
  for (std::uint8_t b : digest) {
    hex += kDigits[b >> 4];
    hex += kDigits[b & 15];
  }
  return hex;
}

void Scramble(Bytes& bytes) {
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    bytes[i] ^= static_cast<std::uint8_t>(kScrambleWord & 0xFF);
    bytes[i + 1] ^= static_cast<std::uint8_t>(kScrambleWord >> 8);
  }
}

// Writes the header only when its text changes, so the core is not rebuilt.
bool WriteHeaderIfChanged(const std::string& path, const std::string& text) {
  std::string old;
  if (ReadFile(path, old) && old == text) return true;
  return WriteFile(path, Bytes(text.begin(), text.end()));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: make_pack INPUT_DIR OUTPUT_DIR HEADER\n");
    return 2;
  }
  const std::string in = argv[1], out = argv[2], header = argv[3];
  std::string base, settings;
  if (!ReadFile(in + "/Base.txt", base) || !ReadFile(in + "/VerCfg.txt", settings)) {
    std::fprintf(stderr, "make_pack: cannot read the inputs in %s\n", in.c_str());
    return 1;
  }
  const std::string brand = IdentityValue(base, "Brand:");
  const std::string version = IdentityValue(base, "Version:");
  if (brand.empty() || version.empty()) {
    std::fprintf(stderr, "make_pack: Base.txt lacks Brand: or Version:\n");
    return 1;
  }
  std::vector<std::pair<std::string, Bytes>> entries;
  entries.emplace_back(brand + "/VerCfg.txt", Utf16Text(settings));
  for (const auto& name : SkinNames(version)) entries.emplace_back(brand + "/" + name, SkinBitmap(name));

  const std::string zipPath = out + "/Recovery.zip.tmp";
  std::string zipText;
  if (!MakeZip(zipPath, entries) || !ReadFile(zipPath, zipText)) {
    std::fprintf(stderr, "make_pack: cannot write %s\n", zipPath.c_str());
    return 1;
  }
  std::remove(zipPath.c_str());
  Bytes pack(zipText.begin(), zipText.end());
  Scramble(pack);

  std::ostringstream h;
  h << "// Made by tools/make_pack with the pack beside the executable.\n"
    << "#pragma once\n#include <cstdint>\nnamespace ambrel {\n"
    << "inline constexpr std::uint32_t kPackExpectedSize = " << pack.size() << "u;\n"
    << "inline constexpr const char* kPackExpectedMd5 = \"" << Md5Upper(pack) << "\";\n"
    << "}  // namespace ambrel\n";
  if (!WriteFile(out + "/Base.dat", Utf16Text(base)) || !WriteFile(out + "/Recovery.dat", pack) ||
      !WriteHeaderIfChanged(header, h.str())) {
    std::fprintf(stderr, "make_pack: cannot write the outputs\n");
    return 1;
  }
  return 0;
}
