#include "catalog/search_filter.h"

#include <vector>

#include "catalog/child_list.h"
#include "catalog/found_file_catalog.h"
#include "common/text.h"

namespace ambrel {
namespace {

bool EndsWithIgnoringCase(std::string_view text, std::string_view tail) {
  if (tail.size() > text.size()) return false;
  return AsciiLower(text.substr(text.size() - tail.size())) == AsciiLower(tail);
}

// Sets every folder's bit from its children, children first; files keep
// the bit of the test. Returns the root's bit.
bool PropagateToFolders(FoundFileTable& table) {
  FoundFileNode* root = NodeAt(table, kRootId);
  if (!root) return false;
  std::vector<std::uint32_t> order;
  std::vector<std::uint8_t> seen(table.count, 0);
  std::vector<std::uint32_t> stack{kRootId};
  seen[kRootId] = 1;
  while (!stack.empty()) {
    const std::uint32_t id = stack.back();
    stack.pop_back();
    order.push_back(id);
    const FoundFileNode* n = NodeAt(table, id);
    for (std::uint32_t k = 0, c = ChildCountOf(*n); k < c; ++k) {
      const std::uint32_t child = n->childIds[k];
      if (child == kRootId || !IsLive(table, child) || seen[child]) continue;
      seen[child] = 1;
      stack.push_back(child);
    }
  }
  for (auto it = order.rbegin(); it != order.rend(); ++it) {
    FoundFileNode* n = NodeAt(table, *it);
    if (!IsFolderKind(KindOf(*n))) continue;
    bool hit = false;
    for (std::uint32_t k = 0, c = ChildCountOf(*n); k < c && !hit; ++k) {
      const FoundFileNode* child = n->childIds[k] == kRootId ? nullptr : NodeAt(table, n->childIds[k]);
      hit = child && (child->flags & kFlagFilterHit);
    }
    if (hit) n->flags |= kFlagFilterHit;
    else n->flags = static_cast<std::uint16_t>(n->flags & ~kFlagFilterHit);
  }
  return root->flags & kFlagFilterHit;
}

bool MarkTable(FoundFileTable& table, const SearchFilter& filter) {
  std::lock_guard<std::mutex> hold(table.guard);
  for (std::uint32_t i = 0; i < table.count; ++i) {
    FoundFileNode* n = NodeAt(table, i);
    if (n && IsFileKind(KindOf(*n))) filter.NodeMatches(*n);
  }
  return PropagateToFolders(table);
}

bool IsDigits(std::string_view text) {
  for (char c : text)
    if (c < '0' || c > '9') return false;
  return true;
}

}  // namespace

PackedTime FilterFromDate(int year, int month, int day) {
  return PackPackedTime(year, month ? month : 1, day ? day : 1, 0, 0, 0);
}

PackedTime FilterToDate(int year, int month, int day) {
  return PackPackedTime(year, month ? month : 1, day ? day : 1, 23, 59, 59);
}

FilterSettings DefaultFilterSettings(int year, int month, int day) {
  FilterSettings s;
  s.createdTo = s.modifiedTo = s.accessedTo = FilterToDate(year, month, day);
  return s;
}

KeywordLists SplitKeywords(std::string_view text) {
  KeywordLists lists;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find(';', start);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view piece = text.substr(start, end - start);
    if (!piece.empty()) {
      if (Utf8Length(piece) > 2 && piece.substr(0, 2) == "*.")
        lists.extensionPatterns.emplace_back(piece.substr(1));
      else
        lists.nameKeywords.emplace_back(piece);
    }
    start = end + 1;
  }
  return lists;
}

SearchFilter::SearchFilter() = default;

void SearchFilter::Store(const FilterSettings& settings) {
  settings_ = settings;
  lists_ = SplitKeywords(settings.keywords);
}

bool SearchFilter::Matches(const FoundFileNode& node) const {
  const std::uint32_t kb = static_cast<std::uint32_t>(node.size >> 10);
  if (kb < settings_.minSizeKB || kb > settings_.maxSizeKB) return false;
  if (node.created == 0) return true;  // carved files: made-up names, no times
  if (!lists_.nameKeywords.empty() || !lists_.extensionPatterns.empty()) {
    const std::string_view name = node.name ? node.name : "";
    const std::string lowered = AsciiLower(name);
    bool named = false;
    for (const std::string& k : lists_.nameKeywords)
      if (lowered.find(AsciiLower(k)) != std::string::npos) named = true;
    for (const std::string& e : lists_.extensionPatterns)
      if (!named && EndsWithIgnoringCase(name, e)) named = true;
    if (!named) return false;
  }
  if (node.created < settings_.createdFrom || node.created > settings_.createdTo) return false;
  return node.modified >= settings_.modifiedFrom && node.modified <= settings_.modifiedTo;
}

bool SearchFilter::NodeMatches(FoundFileNode& node) const {
  node.flags = static_cast<std::uint16_t>(node.flags & ~kFlagFilterHit);
  const bool hit = Matches(node);
  if (hit) node.flags |= kFlagFilterHit;
  return hit;
}

bool ApplyFilter(FoundFileCatalog& catalog, const SearchFilter& filter) {
  bool any = false;
  for (std::uint32_t s = kSignatureSlot; s < catalog.partitionCount(); ++s)
    if (PartitionInfo* part = catalog.Partition(s)) any = MarkTable(part->table, filter) || any;
  return any;
}

std::string RunFilter(FoundFileCatalog& catalog, const SearchFilter& filter) {
  if (!ApplyFilter(catalog, filter)) return kMsgNoMatch;
  if (!catalog.SetViewMode(ViewMode::kFilter)) return kMsgOnlySignatureMatch;
  return {};
}

bool SizeTextAccepted(std::string_view text) {
  if (!IsDigits(text) || text.size() > 9) return false;
  if (text.size() == 9) return text[0] == '1' && text[1] >= '0' && text[1] <= '3';
  return true;
}

std::string ReadableSizeText(std::uint32_t kb) {
  if (kb >= 0x100001) return Format("%.2f(GB)", kb / 1048576.0);
  if (kb <= 1024) return Format("%u(KB)", kb);
  return Format("%.2f(MB)", kb / 1024.0);
}

std::string ValidateFilterDialog(const FilterDialogInput& in) {
  const std::string& k = in.keywords;
  if (k.find('|') != std::string::npos) return kMsgKeywordSeparator;
  for (std::size_t i = 0; i < k.size(); ++i) {
    if (k[i] == '*' && (i + 1 >= k.size() || k[i + 1] != '.')) return kMsgWildcardOnly;
    if (k[i] == '.' && (i == 0 || k[i - 1] != '*')) return kMsgWildcardOnly;
  }
  if (in.maxSizeKB < in.minSizeKB) return kMsgSizeRange;
  auto later = [](const FilterDate& from, const FilterDate& to) {
    return FilterFromDate(from.year, from.month, from.day) > FilterToDate(to.year, to.month, to.day);
  };
  if (later(in.createdFrom, in.createdTo)) return kMsgCreatedRange;
  if (later(in.modifiedFrom, in.modifiedTo)) return kMsgModifiedRange;
  if (later(in.accessedFrom, in.accessedTo)) return kMsgAccessedRange;
  return {};
}

FilterSettings SettingsFromDialog(const FilterDialogInput& in) {
  FilterSettings s;
  s.keywords = in.keywords;
  s.minSizeKB = in.minSizeKB;
  s.maxSizeKB = in.maxSizeKB;
  s.createdFrom = FilterFromDate(in.createdFrom.year, in.createdFrom.month, in.createdFrom.day);
  s.createdTo = FilterToDate(in.createdTo.year, in.createdTo.month, in.createdTo.day);
  s.modifiedFrom = FilterFromDate(in.modifiedFrom.year, in.modifiedFrom.month, in.modifiedFrom.day);
  s.modifiedTo = FilterToDate(in.modifiedTo.year, in.modifiedTo.month, in.modifiedTo.day);
  s.accessedFrom = FilterFromDate(in.accessedFrom.year, in.accessedFrom.month, in.accessedFrom.day);
  s.accessedTo = FilterToDate(in.accessedTo.year, in.accessedTo.month, in.accessedTo.day);
  return s;
}

}  // namespace ambrel
