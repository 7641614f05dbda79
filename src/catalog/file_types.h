// The built-in file type catalogue: categories 6-12 and the types with codes
// 36-171 (a found file's `typeCode`), with their descriptions and
// extensions, plus the preview extension tests.
//
// Threads: the tables are static data, read-only, shared by all threads.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ambrel {

inline constexpr std::uint32_t kFirstCategoryId = 6;
inline constexpr std::uint32_t kLastCategoryId = 12;
inline constexpr std::uint32_t kCategorySlots = 13;
inline constexpr std::uint32_t kFirstTypeCode = 36;
inline constexpr std::uint32_t kLastTypeCode = 171;
inline constexpr std::uint32_t kTypeSlots = 172;

struct FileCategory {
  std::uint32_t id = 0;
  std::string name;
  bool enabled = false;
  std::vector<std::uint32_t> typeCodes;  // in definition order
};

struct FileTypeEntry {
  std::uint32_t category = 0;
  std::uint32_t code = 0;
  std::string description;
  std::string extension;       // primary extension, no dot
  std::string extensionList;   // ";"-separated; equals `extension` when none given
  std::uint32_t reserved = 0;
  bool enabled = false;
};

// Builds the tables (once; later calls do nothing). Every function below
// builds them on first use as well.
void BuildFileTypes();

// Copies of the tables: with `all` false, categories 6-12 and type slots
// 36-171 (placeholders included); with `all` true every slot.
std::vector<FileCategory> GetCategories(bool all);
std::vector<FileTypeEntry> GetTypes(bool all);
// The entry of a code or category id; null for a placeholder or out of range.
const FileTypeEntry* FindFileType(std::uint32_t code);
const FileCategory* FindCategory(std::uint32_t id);

// Type code of a file name from its extension (after the last dot, which
// must not be the first character); 238 when none matches.
std::uint8_t TypeCodeOfName(std::string_view name);
std::uint8_t TypeCodeOfName(const char* name);

bool IsPhotoType(std::uint32_t code);   // in the list of category 7
bool IsVideoType(std::uint32_t code);   // in the list of category 10

// True when the restricted profile is active: "MovFragRecovery" is "1" or
// "Key" is "5", "6" or "105".
bool RestrictedTypeProfile();
// The type filter of the "ShowAllFile" pass: every code unless the profile
// is restricted, then only photo and video codes.
bool TypeAdmitted(std::uint32_t code);
bool TypeAdmittedIn(std::uint32_t code, bool restricted);

bool IsImagePreviewName(std::string_view name);
bool IsTextPreviewName(std::string_view name);

}  // namespace ambrel
