// Every carving unit once, in the order the signature tests run.
#include "deepscan/carve/carve_units.h"

namespace ambrel {

using namespace std::string_view_literals;

const std::vector<CarveUnit>& CarveUnitTable() {
  static const std::vector<CarveUnit> table = {
      {36, "\xD0"sv, IsCompoundFile, CompoundFileRule},
      {37, "P"sv, IsOfficeOpenXml, ZipRule},
      {77, ""sv, IsAccessMdb, AccessRule},
      {78, "\x00"sv, IsAccessAccdb, AccessRule},
      {39, "I"sv, IsCompiledHtml, CompiledHtmlRule},
      {40, "%"sv, IsPdf, PdfRule},
      {41, "\x3F\x4C"sv, IsWindowsHelp, WindowsHelpRule},
      {42, "\x01"sv, IsPublisher, nullptr},
      {43, "\xEF" "MF"sv, IsMht, MhtRule},
      {44, "\x89"sv, IsPng, PngRule},
      {45, "G"sv, IsGif, GifRule},
      {86, "\x1A"sv, IsMatroska, MatroskaRule},
      {84, "MI"sv, IsCabinet, CabinetRule},
      {145, "M"sv, IsMidasMcb, nullptr},
      {164, ""sv, IsRtf, RtfRule},
      {46, "\xFF"sv, IsJpeg, JpegRule},
      {88, ""sv, IsMts, TransportStreamRule, ContinuesTransportStream, kUnitStream},
      {143, "\x47"sv, IsM2t, TransportStreamRule, ContinuesTransportStream, kUnitStream},
      {47, "8"sv, IsPhotoshop, PhotoshopRule},
      {83, "%"sv, IsPostScriptAi, nullptr},
      {48, "B"sv, IsBitmap, BitmapRule},
      {49, "IM"sv, IsTiff, TiffRule},
      {144, "F"sv, IsFujifilmRaw, FujifilmRawRule},
      {53, ""sv, IsWave, WaveRule},
      {54, "I"sv, IsMp3, Mp3Rule},
      {57, "M"sv, IsMidi, MidiRule},
      {108, "\x30"sv, IsAsf, AsfRule},
      {59, "\xFF"sv, IsWma, nullptr},
      {55, "O"sv, IsOgg, OggRule},
      {56, "M"sv, IsApe, ApeRule},
      {60, "7"sv, Is7z, SevenZipRule},
      {61, "P"sv, IsZip, ZipRule},
      {62, "R"sv, IsRar, RarRule},
      {63, "\x5F"sv, IsJar, nullptr},
      {64, "F"sv, IsFlv, FlvRule},
      {65, "."sv, IsRam, nullptr},
      {66, "."sv, IsRealMedia, RealMediaRule},
      {85, "R"sv, IsAnimatedCursor, nullptr},
      {69, ""sv, IsM4a, QuickTimeRule},
      {68, ""sv, Is3gp, QuickTimeRule},
      {71, ""sv, IsM4v, QuickTimeRule},
      {72, ""sv, IsMp4, QuickTimeRule},
      {67, ""sv, IsQuickTime, QuickTimeRule},
      {82, "\x00"sv, IsMpegProgram, MpegProgramRule, nullptr, kUnitStream},
      {73, "R"sv, IsAvi, AviRule},
      {146, "FCZ"sv, IsFlash, FlashRule},
      {75, "A"sv, IsAutoCad, nullptr},
      {162, "\x00"sv, IsIcon, IconRule},
      {74, "M"sv, IsWindowsProgram, WindowsProgramRule},
      {80, "M"sv, IsVisualStudioDsw, nullptr},
      {81, "M\xEF"sv, IsVisualStudioSln, nullptr},
      {163, "<"sv, IsXamlXml, TextRule},
      {79, "<\xFF\xEF"sv, IsMarkupStart, TextRule},
      {79, "\r\n<"sv, IsHtmlAfterLineBreaks, TextRule},
      {161, "\xEF\xFF\xFE"sv, IsUnicodeText, TextRule},
      {161, ""sv, IsPlainText, TextRule, ContinuesText, kUnitLoose},
  };
  return table;
}

}  // namespace ambrel
