// The identity file "Base.dat" and the resource pack "Recovery.dat".
//
// Base.dat: UTF-16LE text with a byte-order mark, CR LF line ends, holding
// the lines "Brand:", "Version:" and "Owner:".
// Recovery.dat: a ZIP archive whose 16-bit little-endian words are XORed
// with 0x7A3D; its exact size and MD5 (as stored) are build constants.
// Inside, the folder named by Brand holds "VerCfg.txt" (settings lines,
// UTF-16LE like Base.dat) and the skin bitmaps.
//
// Loading runs on the main thread during start-up; FindSkin may be called
// from any thread afterwards (the store is read-only by then).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ambrel {

inline constexpr std::uint16_t kPackScrambleWord = 0x7A3D;
inline constexpr const char* kIdentityFileName = "Base.dat";
inline constexpr const char* kPackFileName = "Recovery.dat";

// The size and upper-case MD5 the pack must have.
struct PackCheck {
  std::uint64_t size = 0;
  std::string md5;
};
// The values of the pack made with this build.
PackCheck BuiltPackCheck();

// Splits UTF-16LE text of `chars` code units (the first is the byte-order
// mark and is skipped) at CR LF; empty lines are dropped; a line keeps at
// most 1023 code units. Lines come back as UTF-8; false when there are none.
bool ParseLines(const std::uint8_t* utf16le, std::size_t chars, std::vector<std::string>& lines);

// The value when `line` defines `fullKey` (e.g. "Default-SaveDir:"): not a
// comment line, a trailing " //" or "\t//" comment cut off, the rest after
// the key trimmed of blanks and tabs.
std::optional<std::string> MatchKeyLine(std::string_view line, std::string_view fullKey);

// XORs the first `size` / 2 little-endian words with the scrambling word.
void DescramblePack(std::uint8_t* bytes, std::uint64_t size);

// Reads entry `name` (UTF-8; tried in the ANSI code page first, as the
// archive stores it, then as UTF-8) from a ZIP archive in memory.
bool ExtractEntry(const std::uint8_t* archive, std::uint64_t size, const std::string& name,
                  std::vector<std::uint8_t>& out);

// Reads `folder`/Base.dat into the identity entries Brand, Version, Owner.
bool LoadIdentity(const std::string& folder);
// Reads, checks and descrambles `folder`/Recovery.dat and adds the accepted
// settings lines of Brand/VerCfg.txt to the settings table (nothing is added
// when it fails).
bool LoadPack(const std::string& folder, const PackCheck& check);
// Reads the pack again (without the integrity check; at most check.size
// bytes are descrambled) and fills the skin store; missing bitmaps are
// skipped. False when the pack cannot be read or opened.
bool LoadSkins(const std::string& folder, const PackCheck& check);

// The bytes of the first skin, in load order, whose upper-case name contains
// `text` upper-cased; null when none does.
const std::vector<std::uint8_t>* FindSkin(std::string_view text);
// Number of bitmaps in the skin store.
std::size_t SkinCount();
void ClearSkins();

// The skin entries loaded, in this order (names inside the brand folder).
std::vector<std::string> SkinEntryNames(const std::string& version);

}  // namespace ambrel
