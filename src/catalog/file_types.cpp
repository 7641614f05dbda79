#include "catalog/file_types.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <mutex>

#include "app/settings.h"
#include "catalog/found_file_node.h"
#include "common/text.h"

namespace ambrel {
namespace {

struct TypeRow {
  std::uint32_t category;
  std::uint32_t code;
  const char* description;
  const char* extension;
  const char* extensionList;
};

struct CategoryRow {
  std::uint32_t id;
  const char* name;
};

constexpr CategoryRow kCategoryRows[] = {
    {6, "文档"}, {7, "照片"}, {8, "图像"}, {9, "音频"},
    {10, "视频"}, {11, "压缩文件"}, {12, "其他"},
};

// In definition order, category by category. Code 79 appears twice; the
// second definition replaces the first while both categories list it.
constexpr TypeRow kTypeRows[] = {
    {6, 37, "MS Office 2007 WORD 文档", "docx", "docx"},
    {6, 38, "MS Office 2007 EXCEL 文档", "xlsx", "xlsx"},
    {6, 36, "MS Office Word 或 WPS Office WPS 文档", "doc", "doc;wps"},
    {6, 42, "Microsoft Office Publisher 文档", "pub", "pub"},
    {6, 40, "Adobe Acrobat PDF 或 Adobe Illustrator 文档", "pdf", "pdf;ai"},
    {6, 87, "MS Office EXCEL 或 WPS Office ET 文档", "xls", "xls;et"},
    {6, 164, "RTF 文档", "rtf", "rtf"},
    {6, 39, "已编译的HTML文件", "chm", "chm"},
    {6, 43, "聚合网页文件", "mht", "mht"},
    {6, 41, "Windows Help 文件", "hlp", "hlp"},
    {6, 161, "文本文件", "txt", "txt"},
    {6, 165, "C源代码(.h)", "h", "h"},
    {6, 166, "C源代码(.c)", "c", "c"},
    {6, 167, "C源代码(.cpp)", "cpp", "cpp"},
    {6, 168, "C源代码(.cpp)", "java", "java"},
    {6, 169, "C源代码(.cpp)", "php", "php"},
    {6, 79, "C源代码(.cpp)", "html", "html"},
    {6, 89, "MS Office 2007 PowerPoint 文档", "pptx", "pptx"},
    {6, 90, "MS Office PowerPoint 或 WPS Office DPS 文档", "ppt", "ppt;pps;dps"},
    {6, 97, "MS OneNote 文档", "one", "one"},
    {6, 96, "Microsoft Office Visio 文档", "vsd", "vsd"},
    {6, 91, "Microsoft Office Project 文档", "mpp", "mpp"},
    {6, 93, "Page Maker 文档", "p65", "p65"},
    {6, 94, "XML 电子文件", "xps", "xps"},
    {6, 95, "Crystal Reports 文件", "rpt", "rpt"},
    {7, 46, "Jpeg图像", "jpg", "jpg"},
    {7, 51, "TIFF图片", "tif", "tif"},
    {7, 49, "bmp图", "cr2", "cr2"},
    {7, 52, "DNG RAW 照片", "dng", "dng"},
    {7, 50, "Panasonic RAW 照片", "raw", "raw"},
    {7, 144, "富士数码照片", "raf", "raf"},
    {7, 103, "SONY RAW 照片", "arw", "arw"},
    {7, 104, "OLYMPUS RAW 照片", "orf", "orf"},
    {7, 101, "SONY SR2 RAW 照片", "sr2", "sr2"},
    {7, 92, "NIKON RAW 照片", "nef", "nef"},
    {7, 98, "PENTAX RAW 照片", "pef", "pef"},
    {7, 102, "Mamiya MEF RAW 照片", "mef", "mef"},
    {7, 99, "Canon CRW RAW 照片", "crw", "crw"},
    {7, 100, "X3F RAW 照片", "x3f", "x3f"},
    {8, 48, "Bitmap位图图像", "bmp", "bmp"},
    {8, 45, "GIF图片", "gif", "gif"},
    {8, 44, "PNG图片", "png", "png"},
    {8, 162, "Icon图片", "ico", "ico"},
    {8, 47, "Photoshop PSD 文件", "psd", "psd"},
    {8, 75, "AutoCAD图像文件", "dwg", "dwg"},
    {8, 85, "动态光标文件", "ani", "ani"},
    {8, 76, "Windows Metafile", "wmf", "wmf"},
    {8, 83, "Adobe Illustrator 文件", "ai", "ai"},
    {8, 116, "Photoshop Brushes 文件", "abr", "abr"},
    {8, 117, "PaperPort 文件", "max", "max"},
    {8, 118, "CorelDraw 图片", "cdr", "cdr"},
    {8, 119, "CAD图像交换文件", "dxf", "dxf"},
    {8, 120, "Maya 3D", "mb", "mb"},
    {8, 121, "PaintShop 图形文件", "psp", "psp"},
    {8, 122, "MicroStation PowerDraft 文件", "dgn", "dgn"},
    {8, 123, "CAXA 电子图板文件", "exb", "exb"},
    {8, 124, "SigmaPlot 文件", "jnb", "jnb"},
    {8, 125, "DesignCAD 图形文件", "dcd", "dcd"},
    {8, 126, "QuickCAD 图形文件", "qcd", "qcd"},
    {8, 127, "TurboCAD 图形文件", "tcw", "tcw"},
    {8, 128, "QuarkXPress Project 文件", "qxp", "qxp"},
    {8, 129, "QuarkXPress Template 文件", "qpt", "qpt"},
    {8, 130, "SmartDraw 图形文件", "sdr", "sdr;sdt"},
    {8, 131, "GraphPad Prism 文件", "pzf", "pzf"},
    {8, 132, "Windows增强型图元文件", "emf", "emf"},
    {8, 133, "OpenCanvas 图形文件", "oci", "oci"},
    {8, 134, "Color profiles 文件", "icc", "icc"},
    {8, 135, "PROTEL PCB 文件", "pcb", "pcb"},
    {8, 136, "蒙泰排版文件", "tpf", "tpf"},
    {8, 137, "GJD 文件", "gjd", "gjd"},
    {8, 138, "FontLab", "vfb", "vfb"},
    {8, 139, "SolibWorks 图形文件", "sldprt", "sldprt"},
    {9, 54, "MP3 声音文件", "mp3", "mp3"},
    {9, 53, "波形声音文件", "wav", "wav"},
    {9, 56, "APE 无损压缩音频文件", "ape", "ape"},
    {9, 59, "WMA 音频文件", "wma", "wma"},
    {9, 57, "MIDI 音频文件", "mid", "mid"},
    {9, 55, "OGG 音频文件", "ogg", "ogg"},
    {9, 58, "Real Media 音频文件", "ra", "ra"},
    {9, 69, "Apple 音频文件", "m4a", "m4a;m4r"},
    {9, 65, "ram", "ram", "ram"},
    {9, 70, "Adaptive Multi-Rate 文件", "amr", "amr"},
    {9, 105, "Sun/NeXT 音频文件", "au", "au"},
    {9, 106, "AIF 音频文件", "aif", "aif;afc;aiff"},
    {9, 107, "MMF 音频文件", "mmf", "mmf"},
    {10, 73, "AVI 视频", "avi", "avi"},
    {10, 82, "MPG 视频", "mpg", "mpg;mpeg;vob;m2v;h264"},
    {10, 72, "MP4 视频", "mp4", "mp4"},
    {10, 71, "M4V 视频", "m4v", "m4v"},
    {10, 67, "QuickTime MOV 视频", "mov", "mov"},
    {10, 66, "Real Media 视频", "rmvb", "rmvb;rm"},
    {10, 68, "QuickTime 3GP", "3gp", "3gp"},
    {10, 86, "MKV 视频", "mkv", "mkv;webm;mka"},
    {10, 64, "FLV 视频", "flv", "flv;f4v"},
    {10, 88, "MTS 视频", "mts", "mts;m2ts;m2t;ts;tp;mt2s"},
    {10, 143, "M2T 视频", "m2t", "m2t;m2ts;m2t;ts;tp;mt2s"},
    {10, 109, "3G2 视频", "3g2", "3g2"},
    {10, 108, "WMV 或 ASF 视频", "wmv", "wmv;asf"},
    {10, 114, "Material Exchange Format 视频", "mxf", "mxf"},
    {10, 113, "Windows Media Center TV 视频", "wtv", "wtv"},
    {10, 112, "Flash 文件", "fla", "fla"},
    {10, 146, "Flash 影片", "swf", "swf"},
    {10, 111, "SWiSH Max 文件", "swi", "swi"},
    {10, 110, "WebEx 屏幕录像", "wrf", "wrf"},
    {11, 61, "ZIP 压缩文档", "zip", "zip"},
    {11, 62, "RAR 压缩文档", "rar", "rar"},
    {11, 60, "7zip 压缩文档", "7z", "7z"},
    {11, 84, "Microsoft cab包", "cab", "cab"},
    {11, 140, "Tar 文档", "tar", "tar"},
    {11, 141, "ISO 镜像文件", "iso", "iso"},
    {11, 142, "Ghost 镜像文件", "gho", "gho"},
    {12, 77, "Micorsoft Access 数据库", "mdb", "mdb"},
    {12, 63, "Java 文件", "jar", "jar"},
    {12, 78, "Microsoft Access 数据库", "accdb", "accdb"},
    {12, 74, "Windows应用程序", "exe", "exe"},
    {12, 79, "超文本标记语言文件", "html", "html"},
    {12, 163, "xml文件", "xml", "xml"},
    {12, 80, "Visual Studio 工程文件", "dsw", "dsw"},
    {12, 81, "Visual Studio 工程文件", "sln", "sln"},
    {12, 145, "midas文件", "mcb", "mcb"},
    {12, 170, "midas文件", "js", "js"},
    {12, 171, "midas文件", "css", "css"},
};

struct Tables {
  std::array<FileCategory, kCategorySlots> categories;
  std::array<FileTypeEntry, kTypeSlots> types;
  // (extension packed lower-case into 8 bytes, code), sorted; the lowest
  // code wins for an extension defined more than once.
  std::vector<std::pair<std::uint64_t, std::uint8_t>> byExtension;
};

FileCategory Placeholder(std::uint32_t) {
  FileCategory c;
  c.name = "XXX";
  return c;
}

// An extension of at most 8 bytes, ASCII letters lowered, as one number.
bool PackExtension(std::string_view ext, std::uint64_t& key) {
  if (ext.empty() || ext.size() > 8) return false;
  key = 0;
  for (char ch : ext) {
    unsigned char c = static_cast<unsigned char>(ch);
    if (c >= 'A' && c <= 'Z') c = static_cast<unsigned char>(c + 32);
    key = (key << 8) | c;
  }
  key |= std::uint64_t(ext.size()) << 60;  // keeps "a" and "\0a" apart
  return true;
}

Tables BuildTables() {
  Tables t;
  for (std::uint32_t i = 0; i < kCategorySlots; ++i) t.categories[i] = Placeholder(i);
  for (auto& e : t.types) {
    e.description = e.extension = e.extensionList = "XXX";
  }
  for (const CategoryRow& row : kCategoryRows) {
    FileCategory& c = t.categories[row.id];
    c.id = row.id;
    c.name = row.name;
    c.enabled = true;
  }
  for (const TypeRow& row : kTypeRows) {
    FileTypeEntry& e = t.types[row.code];
    e.category = row.category;
    e.code = row.code;
    e.description = row.description;
    e.extension = row.extension;
    e.extensionList = row.extensionList;
    e.reserved = 0;
    e.enabled = true;
    t.categories[row.category].typeCodes.push_back(row.code);
  }
  for (std::uint32_t code = kFirstTypeCode; code <= kLastTypeCode; ++code) {
    std::uint64_t key;
    if (t.types[code].enabled && PackExtension(t.types[code].extension, key))
      t.byExtension.emplace_back(key, static_cast<std::uint8_t>(code));
  }
  std::stable_sort(t.byExtension.begin(), t.byExtension.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  return t;
}

const Tables& TheTables() {
  static const Tables tables = BuildTables();
  return tables;
}

bool InList(std::uint32_t category, std::uint32_t code) {
  const auto& list = TheTables().categories[category].typeCodes;
  return std::find(list.begin(), list.end(), code) != list.end();
}

// The extension after the last dot of a name longer than one character,
// lowered; empty when there is none or the dot is the first character.
std::string PreviewExtension(std::string_view name) {
  if (name.size() <= 1) return {};
  const std::size_t dot = name.rfind('.');
  if (dot == std::string_view::npos || dot == 0) return {};
  return AsciiLower(name.substr(dot + 1));
}

}  // namespace

void BuildFileTypes() { (void)TheTables(); }

std::vector<FileCategory> GetCategories(bool all) {
  const auto& c = TheTables().categories;
  if (all) return std::vector<FileCategory>(c.begin(), c.end());
  return std::vector<FileCategory>(c.begin() + kFirstCategoryId, c.begin() + kLastCategoryId + 1);
}

std::vector<FileTypeEntry> GetTypes(bool all) {
  const auto& t = TheTables().types;
  if (all) return std::vector<FileTypeEntry>(t.begin(), t.end());
  return std::vector<FileTypeEntry>(t.begin() + kFirstTypeCode, t.begin() + kLastTypeCode + 1);
}

const FileTypeEntry* FindFileType(std::uint32_t code) {
  if (code >= kTypeSlots || !TheTables().types[code].enabled) return nullptr;
  return &TheTables().types[code];
}

const FileCategory* FindCategory(std::uint32_t id) {
  if (id >= kCategorySlots || !TheTables().categories[id].enabled) return nullptr;
  return &TheTables().categories[id];
}

std::uint8_t TypeCodeOfName(std::string_view name) {
  const std::size_t dot = name.rfind('.');
  if (name.empty() || dot == std::string_view::npos || dot == 0) return kTypeUnknown;
  std::uint64_t key;
  if (!PackExtension(name.substr(dot + 1), key)) return kTypeUnknown;
  const auto& index = TheTables().byExtension;
  auto it = std::lower_bound(index.begin(), index.end(), key,
                             [](const auto& e, std::uint64_t k) { return e.first < k; });
  return it != index.end() && it->first == key ? it->second : kTypeUnknown;
}

std::uint8_t TypeCodeOfName(const char* name) {
  return name ? TypeCodeOfName(std::string_view(name)) : kTypeUnknown;
}

bool IsPhotoType(std::uint32_t code) { return InList(7, code); }
bool IsVideoType(std::uint32_t code) { return InList(10, code); }

bool RestrictedTypeProfile() {
  if (SettingOn("MovFragRecovery")) return true;
  const std::string key = GetSetting("Key");
  return key == "5" || key == "6" || key == "105";
}

bool TypeAdmittedIn(std::uint32_t code, bool restricted) {
  return !restricted || IsPhotoType(code) || IsVideoType(code);
}

bool TypeAdmitted(std::uint32_t code) { return TypeAdmittedIn(code, RestrictedTypeProfile()); }

bool IsImagePreviewName(std::string_view name) {
  static constexpr const char* kImage[] = {"bmp", "jpg", "png", "ico", "gif", "tif"};
  const std::string ext = PreviewExtension(name);
  if (ext.empty()) return false;
  for (const char* e : kImage)
    if (ext == e) return true;
  return false;
}

bool IsTextPreviewName(std::string_view name) {
  static const std::vector<std::string> kText = {"txt", "cpp", "cc",  "cxx", "php",
                                                 "xml", "htm", "html", "lua", "js",
                                                 "css", "inf", "ini", "json", "log"};
  const std::string ext = PreviewExtension(name);
  if (ext.empty()) return false;
  return std::find(kText.begin(), kText.end(), ext) != kText.end();
}

}  // namespace ambrel
