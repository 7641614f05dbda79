// The carving units: per file type a signature test over the first sector
// of the file and its size rule. The table (carve_table.cpp) lists every
// unit once, in the order the tests run; the tests and rules live in one
// file per family of formats.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "common/byte_cursor.h"
#include "deepscan/carve/carve_state.h"
#include "preview/walk_result.h"

namespace ambrel {

using SignatureTest = bool (*)(const ByteCursor& sector);
using SizeRuleFn = RuleResult (*)(CarveState& state, const CarveInput& in);
// Whether `sector` carries on the file that the sector before it belongs to.
using ContinuationTest = bool (*)(const ByteCursor& previous, const ByteCursor& sector);

// Formats whose records may start any sector of a file (packets, pages,
// packs): a hit of the same type inside a walk that already passed it is
// part of that file, not a file of its own.
inline constexpr std::uint8_t kUnitStream = 1;
// Formats found inside many other files (plain text): a hit inside a file
// whose size is already known is part of it.
inline constexpr std::uint8_t kUnitLoose = 2;

struct CarveUnit {
  std::uint8_t type;            // the type code of a hit
  std::string_view firstBytes;  // the values byte 0 may have; empty: any
  SignatureTest test;
  SizeRuleFn size;              // null: no rule (result 0)
  // Null: any sector that passes the test starts a file. Else a sector
  // whose previous sector passes this test is the middle of a file.
  ContinuationTest continues = nullptr;
  std::uint8_t flags = 0;       // kUnitStream, kUnitLoose
};

// Every unit, in the order of the tests (first match wins).
const std::vector<CarveUnit>& CarveUnitTable();

// ---- documents (carve_documents.cpp) ----
bool IsCompoundFile(const ByteCursor& s);
bool IsOfficeOpenXml(const ByteCursor& s);
bool IsAccessMdb(const ByteCursor& s);
bool IsAccessAccdb(const ByteCursor& s);
bool IsCompiledHtml(const ByteCursor& s);
bool IsPdf(const ByteCursor& s);
bool IsWindowsHelp(const ByteCursor& s);
bool IsPublisher(const ByteCursor& s);
bool IsMht(const ByteCursor& s);
bool IsRtf(const ByteCursor& s);
bool IsPostScriptAi(const ByteCursor& s);
bool IsAutoCad(const ByteCursor& s);
bool IsVisualStudioDsw(const ByteCursor& s);
bool IsVisualStudioSln(const ByteCursor& s);
bool IsXamlXml(const ByteCursor& s);
bool IsMarkupStart(const ByteCursor& s);
bool IsHtmlAfterLineBreaks(const ByteCursor& s);
RuleResult CompoundFileRule(CarveState& s, const CarveInput& in);
// Access databases (mdb, accdb): the run of whole pages whose headers hold.
RuleResult AccessRule(CarveState& s, const CarveInput& in);
RuleResult CompiledHtmlRule(CarveState& s, const CarveInput& in);
RuleResult WindowsHelpRule(CarveState& s, const CarveInput& in);
RuleResult PdfRule(CarveState& s, const CarveInput& in);
// MHT (MIME multipart) from its first bytes (walker codes): to the line
// that closes the boundary the header names; unknown for a single part.
int MhtExtent(const ByteCursor& head, std::uint64_t& size);
RuleResult MhtRule(CarveState& s, const CarveInput& in);

// ---- text documents (carve_text.cpp) ----
// A sector of plain text (UTF-8 or GBK) from its first byte: at least a
// line of it, to the sector's end or followed by zeros only.
bool IsPlainText(const ByteCursor& s);
// A UTF-8 or UTF-16 byte-order mark followed by text.
bool IsUnicodeText(const ByteCursor& s);
// The previous sector is text to its last byte: this one carries it on.
bool ContinuesText(const ByteCursor& previous, const ByteCursor& sector);
// Text, HTML and XML: to the first character that is not text, or to the
// close of the page's root element; the type follows the content.
RuleResult TextRule(CarveState& s, const CarveInput& in);
// RTF: to the brace that closes the first.
RuleResult RtfRule(CarveState& s, const CarveInput& in);

// ---- images (carve_images.cpp) ----
bool IsPng(const ByteCursor& s);
bool IsGif(const ByteCursor& s);
bool IsJpeg(const ByteCursor& s);
bool IsPhotoshop(const ByteCursor& s);
bool IsBitmap(const ByteCursor& s);
bool IsTiff(const ByteCursor& s);
bool IsIcon(const ByteCursor& s);
bool IsFujifilmRaw(const ByteCursor& s);
RuleResult JpegRule(CarveState& s, const CarveInput& in);
RuleResult BitmapRule(CarveState& s, const CarveInput& in);
RuleResult PngRule(CarveState& s, const CarveInput& in);
RuleResult IconRule(CarveState& s, const CarveInput& in);
RuleResult GifRule(CarveState& s, const CarveInput& in);
RuleResult PhotoshopRule(CarveState& s, const CarveInput& in);
// TIFF and the camera raw files on it; the type follows the maker.
RuleResult TiffRule(CarveState& s, const CarveInput& in);
// Fujifilm RAF: the largest end of the preview, raw header and raw data
// the header names.
RuleResult FujifilmRawRule(CarveState& s, const CarveInput& in);

// ---- audio (carve_audio.cpp) ----
bool IsWave(const ByteCursor& s);
bool IsMp3(const ByteCursor& s);
bool IsMidi(const ByteCursor& s);
bool IsWma(const ByteCursor& s);
bool IsOgg(const ByteCursor& s);
bool IsApe(const ByteCursor& s);
// RIFF WAVE from its first bytes: the RIFF size, once the chunks from the
// start to the data chunk hold together (walker codes; unknown when the
// writer never put the sizes back).
int WaveExtent(const ByteCursor& head, std::uint64_t& size);
RuleResult WaveRule(CarveState& s, const CarveInput& in);
RuleResult Mp3Rule(CarveState& s, const CarveInput& in);
RuleResult OggRule(CarveState& s, const CarveInput& in);
RuleResult MidiRule(CarveState& s, const CarveInput& in);
RuleResult ApeRule(CarveState& s, const CarveInput& in);

// ---- video (carve_video.cpp) ----
bool IsMatroska(const ByteCursor& s);
bool IsMts(const ByteCursor& s);
bool IsM2t(const ByteCursor& s);
bool IsAsf(const ByteCursor& s);
bool IsFlv(const ByteCursor& s);
bool IsRam(const ByteCursor& s);
bool IsRealMedia(const ByteCursor& s);
bool IsAnimatedCursor(const ByteCursor& s);
bool IsM4a(const ByteCursor& s);
bool Is3gp(const ByteCursor& s);
bool IsM4v(const ByteCursor& s);
bool IsMp4(const ByteCursor& s);
bool IsQuickTime(const ByteCursor& s);
bool IsMpegProgram(const ByteCursor& s);
bool IsAvi(const ByteCursor& s);
bool IsFlash(const ByteCursor& s);
// The sector is inside a transport stream whose packet began in the sector before.
bool ContinuesTransportStream(const ByteCursor& previous, const ByteCursor& sector);
RuleResult MatroskaRule(CarveState& s, const CarveInput& in);
RuleResult AsfRule(CarveState& s, const CarveInput& in);
RuleResult FlvRule(CarveState& s, const CarveInput& in);
RuleResult RealMediaRule(CarveState& s, const CarveInput& in);
RuleResult MpegProgramRule(CarveState& s, const CarveInput& in);
RuleResult AviRule(CarveState& s, const CarveInput& in);
// Flash movies from their first bytes (walker codes): uncompressed (FWS),
// to the End tag within the stated length; zlib (CWS), to the end of the
// deflate stream, which must give the stated length; LZMA (ZWS), the
// stated compressed length.
int FlashExtent(const ByteCursor& head, std::uint64_t& size);
RuleResult FlashRule(CarveState& s, const CarveInput& in);
// MPEG transport streams (188-byte packets, 192 for M2TS): the run of
// packets whose sync bytes hold.
RuleResult TransportStreamRule(CarveState& s, const CarveInput& in);
// The QuickTime family (mov, 3gp, m4a, m4v, mp4): the top-level atoms of
// a file in one piece; unknown when the walk does not end on a whole
// file (a recording scattered over the disk is the video reassembly's).
RuleResult QuickTimeRule(CarveState& s, const CarveInput& in);

// ---- archives (carve_archives.cpp) ----
bool IsCabinet(const ByteCursor& s);
bool IsMidasMcb(const ByteCursor& s);
bool Is7z(const ByteCursor& s);
bool IsZip(const ByteCursor& s);
bool IsRar(const ByteCursor& s);
bool IsJar(const ByteCursor& s);
bool IsWindowsProgram(const ByteCursor& s);
RuleResult WindowsProgramRule(CarveState& s, const CarveInput& in);
// Zip and what is built on it: the type follows the member names (Office
// Open XML documents, Java archives).
RuleResult ZipRule(CarveState& s, const CarveInput& in);
RuleResult RarRule(CarveState& s, const CarveInput& in);
RuleResult SevenZipRule(CarveState& s, const CarveInput& in);
RuleResult CabinetRule(CarveState& s, const CarveInput& in);

// ---- shared by the rules (carve_rules.cpp) ----
// The window of `need` bytes at `offset` as a cursor.
WindowRead Window(CarveState& s, const CarveInput& in, std::uint64_t offset, std::uint32_t need,
                  ByteCursor& out);
// The rule's answer for a window not in hand: pending, or `pastArea` when
// the window starts past the scanned area.
RuleResult NotReady(WindowRead r, RuleResult pastArea = RuleResult::kInvalid);
// Ends a rule with a known size (invalid for a size of 0).
RuleResult Sized(CarveState& s, std::uint64_t size);
RuleResult Invalid(CarveState& s);
// Sized once the file's last byte is on hand: pending until its chunk is
// read (the rule then answers again from here), none past the scanned area.
RuleResult SizedIfPresent(CarveState& s, const CarveInput& in, std::uint64_t size);
// A walker's answer (walk_result.h) as a rule's.
RuleResult FromWalk(int walk);
// The growing window of the walks that need much of the file: from
// `from` to the end of the chunk at first, 0x800000 bytes further each time
// the walk asked for more (GrowWindow).
WindowRead GrowingWindow(CarveState& s, const CarveInput& in, std::uint64_t from, ByteCursor& out);
// The walk needs more than the window held: pending with the next, larger
// window, or none when the scanned area ends inside the window.
RuleResult GrowWindow(CarveState& s, const CarveInput& in, std::uint64_t from);

// A record walk over the file from s.offset. The step looks at the window
// `w` that starts at s.offset (`last`: the scanned area ends with it),
// consumes the whole records it holds by moving s.offset past them, and
// answers nothing to go on, with `need` set to the bytes it wants at the
// new s.offset; or its final answer. Steps are pure functions of the state
// words and the window.
using RecordStep = std::optional<RuleResult> (*)(CarveState& s, const ByteCursor& w, bool last,
                                                 std::uint32_t& need);
// Runs `step` window after window: the rest of the chunk (looked at in
// place) while the walk stands in it, else `need` bytes read from the disk
// or waited for. Answers none when the area ends before the walk does.
RuleResult WalkRecords(CarveState& s, const CarveInput& in, RecordStep step, std::uint32_t firstNeed);

}  // namespace ambrel
