// The carving units: per file type a signature test over the first sector
// of the file and its size rule. The table (carve_table.cpp) lists every
// unit once, in the order the tests run; the tests and rules live in one
// file per family of formats.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "common/byte_cursor.h"
#include "deepscan/carve/carve_state.h"

namespace ambrel {

using SignatureTest = bool (*)(const ByteCursor& sector);
using SizeRuleFn = int (*)(CarveState& state, const CarveInput& in);

struct CarveUnit {
  std::uint8_t type;            // the type code of a hit
  std::string_view firstBytes;  // the values byte 0 may have; empty: any
  SignatureTest test;
  SizeRuleFn size;              // null: no rule (result 0)
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
int CompoundFileRule(CarveState& s, const CarveInput& in);
int CompiledHtmlRule(CarveState& s, const CarveInput& in);
int WindowsHelpRule(CarveState& s, const CarveInput& in);

// ---- images (carve_images.cpp) ----
bool IsPng(const ByteCursor& s);
bool IsGif(const ByteCursor& s);
bool IsJpeg(const ByteCursor& s);
bool IsPhotoshop(const ByteCursor& s);
bool IsBitmap(const ByteCursor& s);
bool IsTiffRaw(const ByteCursor& s);
bool IsFujifilmRaw(const ByteCursor& s);
int JpegRule(CarveState& s, const CarveInput& in);
int BitmapRule(CarveState& s, const CarveInput& in);
int TiffRawRule(CarveState& s, const CarveInput& in);

// ---- audio (carve_audio.cpp) ----
bool IsWave(const ByteCursor& s);
bool IsMp3(const ByteCursor& s);
bool IsMidi(const ByteCursor& s);
bool IsWma(const ByteCursor& s);
bool IsOgg(const ByteCursor& s);
bool IsApe(const ByteCursor& s);
int WaveRule(CarveState& s, const CarveInput& in);
int Mp3Rule(CarveState& s, const CarveInput& in);

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
int MatroskaRule(CarveState& s, const CarveInput& in);
int AsfRule(CarveState& s, const CarveInput& in);
int FlvRule(CarveState& s, const CarveInput& in);
int RealMediaRule(CarveState& s, const CarveInput& in);
int MpegProgramRule(CarveState& s, const CarveInput& in);
int AviRule(CarveState& s, const CarveInput& in);
// The QuickTime family (mov, 3gp, m4a, m4v, mp4) and the video records:
// sized by the video reassembly; here the size stays unknown.
int QuickTimeRule(CarveState& s, const CarveInput& in);

// ---- archives (carve_archives.cpp) ----
bool IsCabinet(const ByteCursor& s);
bool IsMidasMcb(const ByteCursor& s);
bool Is7z(const ByteCursor& s);
bool IsZip(const ByteCursor& s);
bool IsRar(const ByteCursor& s);
bool IsJar(const ByteCursor& s);
int ZipRule(CarveState& s, const CarveInput& in);
int OfficeOpenXmlRule(CarveState& s, const CarveInput& in);
int RarRule(CarveState& s, const CarveInput& in);

// ---- shared by the rules (carve_rules.cpp) ----
// The window of `need` bytes at `offset` as a cursor; the ReadWindow answer.
int Window(CarveState& s, const CarveInput& in, std::uint64_t offset, std::uint32_t need,
           ByteCursor& out);
// Ends a rule with a known size (5 for a size of 0).
int Sized(CarveState& s, std::uint64_t size);
int Invalid(CarveState& s);
// The growing window of the walks that need much of the file: from
// `from` to the end of the chunk at first, 0x800000 bytes further each time
// the walk asked for more (GrowWindow). Answers as ReadWindow.
int GrowingWindow(CarveState& s, const CarveInput& in, std::uint64_t from, ByteCursor& out);
// The walk needs more than the window held: 3 with the next, larger window,
// or 0 when the scanned area ends inside the window (size unknown).
int GrowWindow(CarveState& s, const CarveInput& in, std::uint64_t from);

}  // namespace ambrel
