// Shared helpers of the preview tests: corpus files, oracle tools, word
// lists, and builders of small compound files and zip archives.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "preview/preview_loader.h"

namespace ambrel::test {

// A preview reader that finds `bytes`, all readable, whatever is asked.
PreviewReader ReaderOfBytes(std::vector<std::uint8_t> bytes);

std::vector<std::uint8_t> ReadBytes(const std::string& path);
// Corpus files of one folder (e.g. "doc"), full paths; empty without corpus.
std::vector<std::string> CorpusFiles(const std::string& folder);
// True when `tool` is on PATH.
bool HaveTool(const std::string& tool);
// Standard output of a shell command (stderr dropped).
std::string RunCommand(const std::string& command);
std::string ShellQuote(const std::string& text);

// Runs of letters and digits (any script) of a UTF-8 text.
std::vector<std::string> Words(const std::string& utf8);
// How many of `words` are found in `text` in order (each after the previous).
std::size_t WordsInOrder(const std::vector<std::string>& words, const std::string& text);

std::string ToUtf8(const std::u16string& text);
bool ValidUtf16(const std::u16string& text);

// A compound file: FAT in sector 0, directory in sector 1, then each
// stream in consecutive sectors (padded to a whole sector).
struct CompoundStream {
  std::string name;
  std::vector<std::uint8_t> bytes;
};
std::vector<std::uint8_t> BuildCompound(const std::vector<CompoundStream>& streams);
void PutU16(std::vector<std::uint8_t>& b, std::size_t off, std::uint16_t v);
void PutU32(std::vector<std::uint8_t>& b, std::size_t off, std::uint32_t v);

// A zip archive of stored members; `flags` goes into every header.
struct ZipMember {
  std::string name;
  std::string bytes;
};
std::vector<std::uint8_t> BuildStoredZip(const std::vector<ZipMember>& members,
                                         std::uint16_t flags = 0);

}  // namespace ambrel::test
