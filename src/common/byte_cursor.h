// Bounds-checked reading of untrusted on-disk bytes.
//
// Every structure read from a device, an image or a saved file goes through
// ByteCursor: a view of a byte span whose loads fail instead of reading past
// the end. Offsets and lengths taken from disk are only ever used through
// Sub() / the checked loads, so an invalid value rejects the structure and
// never touches memory outside the span.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace ambrel {

using ByteSpan = std::span<const std::uint8_t>;

class ByteCursor {
 public:
  ByteCursor() = default;
  explicit ByteCursor(ByteSpan bytes) : bytes_(bytes) {}
  ByteCursor(const void* data, std::size_t size)
      : bytes_(static_cast<const std::uint8_t*>(data), size) {}

  std::size_t size() const { return bytes_.size(); }
  bool empty() const { return bytes_.empty(); }
  const std::uint8_t* data() const { return bytes_.data(); }
  ByteSpan span() const { return bytes_; }

  // True when [offset, offset + length) lies inside the span (overflow-safe).
  bool Contains(std::uint64_t offset, std::uint64_t length) const {
    return offset <= bytes_.size() && length <= bytes_.size() - offset;
  }

  // The sub-range [offset, offset + length), or nullopt when it does not fit.
  std::optional<ByteCursor> Sub(std::uint64_t offset, std::uint64_t length) const {
    if (!Contains(offset, length)) return std::nullopt;
    return ByteCursor(bytes_.subspan(static_cast<std::size_t>(offset),
                                     static_cast<std::size_t>(length)));
  }
  // The rest of the span from offset, or nullopt past the end.
  std::optional<ByteCursor> From(std::uint64_t offset) const {
    if (offset > bytes_.size()) return std::nullopt;
    return ByteCursor(bytes_.subspan(static_cast<std::size_t>(offset)));
  }

  std::optional<std::uint8_t> U8(std::uint64_t off) const { return LoadLe<std::uint8_t>(off); }
  std::optional<std::uint16_t> U16(std::uint64_t off) const { return LoadLe<std::uint16_t>(off); }
  std::optional<std::uint32_t> U32(std::uint64_t off) const { return LoadLe<std::uint32_t>(off); }
  std::optional<std::uint64_t> U64(std::uint64_t off) const { return LoadLe<std::uint64_t>(off); }
  std::optional<std::uint16_t> U16Be(std::uint64_t off) const { return LoadBe<std::uint16_t>(off); }
  std::optional<std::uint32_t> U32Be(std::uint64_t off) const { return LoadBe<std::uint32_t>(off); }
  std::optional<std::uint64_t> U64Be(std::uint64_t off) const { return LoadBe<std::uint64_t>(off); }

  // Little-endian unsigned value of `width` bytes (0..8), e.g. run-list fields.
  std::optional<std::uint64_t> UIntN(std::uint64_t off, unsigned width) const {
    if (width > 8 || !Contains(off, width)) return std::nullopt;
    std::uint64_t v = 0;
    for (unsigned i = 0; i < width; ++i) v |= std::uint64_t(bytes_[off + i]) << (8 * i);
    return v;
  }
  // Little-endian two's-complement signed value of `width` bytes (1..8).
  std::optional<std::int64_t> SIntN(std::uint64_t off, unsigned width) const {
    if (width == 0) return std::int64_t{0};
    auto u = UIntN(off, width);
    if (!u) return std::nullopt;
    if (width < 8 && (*u >> (8 * width - 1)) & 1) *u |= ~std::uint64_t{0} << (8 * width);
    return static_cast<std::int64_t>(*u);
  }

  // True when the bytes at off equal `magic` exactly.
  bool Matches(std::uint64_t off, std::string_view magic) const {
    return Contains(off, magic.size()) &&
           std::memcmp(bytes_.data() + off, magic.data(), magic.size()) == 0;
  }

  // Unchecked loads for hot loops whose bounds were proven by the caller.
  std::uint8_t UncheckedU8(std::size_t off) const { return bytes_[off]; }
  std::uint16_t UncheckedU16(std::size_t off) const {
    return static_cast<std::uint16_t>(bytes_[off] | (bytes_[off + 1] << 8));
  }
  std::uint32_t UncheckedU32(std::size_t off) const {
    std::uint32_t v;
    std::memcpy(&v, bytes_.data() + off, 4);
    return FromLe(v);
  }
  std::uint64_t UncheckedU64(std::size_t off) const {
    std::uint64_t v;
    std::memcpy(&v, bytes_.data() + off, 8);
    return FromLe(v);
  }

 private:
  // The unchecked loads copy bytes in machine order; the build targets
  // little-endian machines only.
  static_assert(std::endian::native == std::endian::little);
  template <typename T>
  static T FromLe(T v) { return v; }
  template <typename T>
  std::optional<T> LoadLe(std::uint64_t off) const {
    if (!Contains(off, sizeof(T))) return std::nullopt;
    T v = 0;
    for (std::size_t i = 0; i < sizeof(T); ++i) v |= T(T(bytes_[off + i]) << (8 * i));
    return v;
  }
  template <typename T>
  std::optional<T> LoadBe(std::uint64_t off) const {
    if (!Contains(off, sizeof(T))) return std::nullopt;
    T v = 0;
    for (std::size_t i = 0; i < sizeof(T); ++i) v = T((v << 8) | T(bytes_[off + i]));
    return v;
  }

  ByteSpan bytes_;
};

}  // namespace ambrel
