// What the preview shows of a found file's bytes: the picture, a text (the
// document's, the archive's listing, or the file itself decoded as text),
// or a hexadecimal dump. Pure functions over bytes in memory; any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/byte_cursor.h"

namespace ambrel {

// The content kinds, numbered as the panel's content record numbers them.
enum class PreviewKind : std::uint8_t { kImage = 46, kText = 161, kHex = 146 };

// Every text and dump shown is cut to this many bytes (UTF-16 for texts).
inline constexpr std::size_t kPreviewTextBytes = 0x10000;
// Files larger than this are shown as the dump of their first bytes only.
inline constexpr std::uint64_t kPreviewLargeFile = 0x2000000;
inline constexpr std::uint64_t kPreviewLargeRead = 0x100000;
// The plain-text test looks at files below this size only.
inline constexpr std::uint64_t kPlainTextLimit = 0x20000;

struct PreviewContent {
  PreviewKind kind = PreviewKind::kHex;
  std::vector<std::uint8_t> data;  // the bytes read (the picture's, or what the dump shows)
  std::u16string text;             // for kText; at most kPreviewTextBytes bytes
};

// The type code a preview works with: an unknown type (238) whose name
// passes the text-name test is previewed as text (165).
std::uint32_t PreviewTypeCode(std::uint32_t typeCode, std::string_view name);
// Picture types (44, 45, 46, 48, 51, 162) and text types (79, 161, 163, 165-171).
bool IsPreviewImageType(std::uint32_t typeCode);
bool IsPreviewTextType(std::uint32_t typeCode);
// Raw photos (shown by their embedded preview) and videos (by a frame near
// their start): decoded as pictures by the host's decoder.
bool IsPreviewMediaType(std::uint32_t typeCode);
// The videos among them.
bool IsPreviewVideoType(std::uint32_t typeCode);
// An ISO media file whose brand is HEIF's (HEIC, AVIF): a picture, though
// no type code names it.
bool HasHeifSignature(ByteSpan data);
// The image signatures a thumbnail is made for: JPEG, BMP, GIF, PNG, TIFF
// (both byte orders) and icon.
bool HasImageSignature(ByteSpan data);

// The content for `data` (the start of a file of `fileSize` bytes) of the
// given preview type code. `forceHex`: a file too large or of unknown type.
PreviewContent BuildPreviewContent(std::uint32_t typeCode, std::vector<std::uint8_t> data, std::uint64_t fileSize,
                                   bool forceHex);

// The text tests.
// The first 1024 bytes look like 8-bit text: printable ASCII, tab, line
// feed, carriage return, or double-byte characters of two bytes 0xA1-0xFE
// (after leading such bytes are skipped; a lone one is allowed as the last
// byte of each 512-byte block).
bool LooksLikeAnsiText(ByteSpan data);
// Bytes after a UTF-16 mark that look like UTF-16 text: at most one unit in
// ten among the first 2048 lies outside the printable ASCII and the common
// letter, punctuation and ideograph blocks.
bool LooksLikeUtf16Text(ByteSpan data);
// Valid UTF-8 of one- to three-byte sequences only; a sequence cut by the
// end of the data counts as valid.
bool IsValidShortUtf8(ByteSpan data);
// A text file's bytes as text: by its byte-order mark, else as UTF-8 when
// valid, else in the ANSI code page; cut to kPreviewTextBytes.
std::u16string DecodeTextFile(ByteSpan data);

// The dump of at most 0x10000 bytes: a header line and 78-character lines
// of 16 bytes (line number, the bytes in hex, the bytes as characters); the
// last line ends without a line break.
std::string HexDump(ByteSpan data);

}  // namespace ambrel
