#include "recovery/safe_name.h"

#include <random>

#include "common/text.h"

namespace ambrel {

std::string SafeComponent(std::string_view name) {
  if (name.empty() || name == "." || name == "..") return "_";
  std::string out(name);
  for (char& c : out) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F || c == '/' || c == '\\') c = '_';
  }
  return out;
}

namespace {

// FNV-1a: stable between runs, so a re-run gives the same short names.
std::uint32_t NameHash(std::string_view name) {
  std::uint32_t h = 2166136261u;
  for (unsigned char c : name) h = (h ^ c) * 16777619u;
  return h;
}

// Splits "stem.ext" at the last dot (a leading dot is part of the stem).
std::size_t ExtensionStart(std::string_view name) {
  const auto dot = name.find_last_of('.');
  if (dot == std::string_view::npos || dot == 0) return name.size();
  return dot;
}

}  // namespace

std::string FitNameLength(std::string_view name, std::size_t maxBytes) {
  if (name.size() <= maxBytes) return std::string(name);
  std::size_t dot = ExtensionStart(name);
  if (name.size() - dot > 17) dot = name.size();  // not an extension worth keeping
  const std::string ext(name.substr(dot));
  const std::string tag = Format("~%08x", NameHash(name));
  const std::size_t room = maxBytes > ext.size() + tag.size() ? maxBytes - ext.size() - tag.size() : 0;
  return Utf8CutBytes(name.substr(0, dot), room) + tag + ext;
}

bool IsInvalidNameChar(char32_t c) {
  if (c < 0x20) return true;
  switch (c) {
    case '"': case '*': case '/': case ':': case '<': case '>': case '?': case '\\': case '|':
      return true;
    default:
      break;
  }
  return c > U'~' && (c < 0x4E00 || c > 0x9FA5);
}

std::string ReplaceInvalidNameChars(std::string_view name, const std::function<char()>& digit) {
  std::u16string units = Utf8ToUtf16(name);
  for (char16_t& u : units)
    if (IsInvalidNameChar(u)) u = static_cast<char16_t>(digit());
  return Utf16ToUtf8(units);
}

std::string ReplaceInvalidNameChars(std::string_view name) {
  thread_local std::mt19937 engine{std::random_device{}()};
  std::uniform_int_distribution<int> pick(0, 9);
  return ReplaceInvalidNameChars(name, [&] { return static_cast<char>('0' + pick(engine)); });
}

std::string LastComponent(const std::string& path) {
  const auto slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string ParentPath(const std::string& path) {
  const auto slash = path.find_last_of('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

std::string UniqueVariant(const std::string& path, const std::function<bool(const std::string&)>& taken) {
  const std::string parent = ParentPath(path);
  const std::string name = LastComponent(path);
  auto dot = name.find_last_of('.');
  if (dot == 0 || dot == std::string::npos) dot = name.size();
  const std::string stem = name.substr(0, dot), ext = name.substr(dot);
  for (int n = 2; n < 10002; ++n) {
    // The counter must fit too: the stem gives way to it.
    const std::string counter = Format(" (%d)", n);
    const std::size_t room = kMaxNameBytes > counter.size() + ext.size() ? kMaxNameBytes - counter.size() - ext.size() : 0;
    std::string candidate = Utf8CutBytes(stem, room) + counter + ext;
    if (!parent.empty() || path.front() == '/') candidate = parent + "/" + candidate;
    if (!taken(candidate)) return candidate;
  }
  return path;
}

}  // namespace ambrel
