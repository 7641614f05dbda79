// The search filter: name keywords, extension patterns ("*.ext"), a size
// range and date ranges. Applying it marks matching files and the folders
// that contain them with the filter-hit bit, which the filter view shows.
//
// Threads: the settings and ApplyFilter belong to the interface thread;
// ApplyFilter takes each table's guard while it marks it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "catalog/found_file_node.h"

namespace ambrel {

class FoundFileCatalog;

inline constexpr std::uint32_t kDefaultMaxSizeKB = 0x8000000;
inline constexpr PackedTime kFilterEpoch = 0x420000;  // 1 January 1980 00:00:00

// Texts the user sees.
inline constexpr char kMsgNoMatch[] = "没有任何文件符合您设置的过滤条件，请重新设置过滤条件！";
inline constexpr char kMsgOnlySignatureMatch[] = "没有文件符合您的过滤条件！";
inline constexpr char kMsgKeywordSeparator[] = "多个关键字请用';'隔开！";
inline constexpr char kMsgWildcardOnly[] = "只支持通配符 *.扩展名";
inline constexpr char kMsgSizeRange[] = "文件起始大小大于最大大小，设置不合法！";
inline constexpr char kMsgCreatedRange[] = "文件创建起始时间大于结束时间，设置不合法！";
inline constexpr char kMsgModifiedRange[] = "文件修改起始时间大于结束时间，设置不合法！";
inline constexpr char kMsgAccessedRange[] = "文件访问起始时间大于结束时间，设置不合法！";
inline constexpr char kMsgSizeText[] = "输入的文件大小不合法!";
inline constexpr char kFilterDialogCaption[] = "文件搜索设置";

struct FilterSettings {
  std::string keywords;  // separated by ";"
  std::uint32_t minSizeKB = 0;
  std::uint32_t maxSizeKB = kDefaultMaxSizeKB;
  PackedTime createdFrom = kFilterEpoch, createdTo = 0;
  PackedTime modifiedFrom = kFilterEpoch, modifiedTo = 0;
  PackedTime accessedFrom = kFilterEpoch, accessedTo = 0;  // checked, never matched
};

// A "from" bound is the date at 00:00:00, a "to" bound at 23:59:59; a
// missing (0) month or day becomes 1.
PackedTime FilterFromDate(int year, int month, int day);
PackedTime FilterToDate(int year, int month, int day);
// The defaults, with every range ending on `today` (the local date at
// start-up, which the caller reads from the system).
FilterSettings DefaultFilterSettings(int year, int month, int day);

struct KeywordLists {
  std::vector<std::string> nameKeywords;
  std::vector<std::string> extensionPatterns;  // ".jpg" for the piece "*.jpg"
};
// Cuts at ";", drops empty pieces; a piece of more than two characters that
// starts with "*." is an extension pattern (kept without the "*").
KeywordLists SplitKeywords(std::string_view text);

class SearchFilter {
 public:
  SearchFilter();
  // Copies the settings and rebuilds the keyword lists.
  void Store(const FilterSettings& settings);
  const FilterSettings& settings() const { return settings_; }
  const KeywordLists& lists() const { return lists_; }
  // The match test of a file; clears the node's filter-hit bit and sets it
  // when the node matches.
  bool NodeMatches(FoundFileNode& node) const;
  bool Matches(const FoundFileNode& node) const;

 private:
  FilterSettings settings_;
  KeywordLists lists_;
};

// Marks every partition slot from 3 upward: files by the test, folders when
// any child is marked. True when the root of some slot from 3 has the bit.
bool ApplyFilter(FoundFileCatalog& catalog, const SearchFilter& filter);
// ApplyFilter and the switch to the filter view: returns the message to
// show, or an empty text when the view switched to the filter results.
std::string RunFilter(FoundFileCatalog& catalog, const SearchFilter& filter);

// ---- the dialog's rules ----
struct FilterDate {
  int year = 1980, month = 1, day = 1;
};
struct FilterDialogInput {
  std::string keywords;
  std::uint32_t minSizeKB = 0;
  std::uint32_t maxSizeKB = kDefaultMaxSizeKB;
  FilterDate createdFrom, createdTo, modifiedFrom, modifiedTo, accessedFrom, accessedTo;
};
// Size field text: digits only, at most 9 characters, and a 9-character
// text must start with "1" and a digit 0-3.
bool SizeTextAccepted(std::string_view text);
// The label beside a size field: "%u(KB)", "%.2f(MB)" or "%.2f(GB)".
std::string ReadableSizeText(std::uint32_t kb);
// The checks made on OK, in order: the first failing one's message, or an
// empty text when all pass.
std::string ValidateFilterDialog(const FilterDialogInput& input);
FilterSettings SettingsFromDialog(const FilterDialogInput& input);

}  // namespace ambrel
