// ambrel-cli show: the preview of one found file before it is recovered —
// its information block, then its text, its archive listing or the dump of
// its bytes, read exactly as `recover` would write them.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "catalog/catalog_labels.h"
#include "catalog/found_file_catalog.h"
#include "commands.h"
#include "common/text.h"
#include "deep_scan_run.h"
#include "json_output.h"
#include "session/preview_service.h"
#include "session/program.h"
#include "session/scan_job.h"
#include "session/source_session.h"
#include "session/texts.h"
#include "session/worded_prompt.h"
#include "text_output.h"
#include "tree_output.h"
#include "volume_checks.h"
#include "volume_options.h"
#ifdef AMBREL_HAVE_IMAGING
#include "face_decoder.h"
#endif

namespace ambrel::cli {
namespace {

enum class ShowPart { kAll, kHex, kText, kInfo, kList };

struct ShowOptions {
  std::string path;
  VolumeOptions volumes;
  std::string file;
  ShowPart part = ShowPart::kAll;
  std::string thumbnail;
  bool json = false;
  int mode = 0;  // 1..6: the file is one a deep scan of that mode finds
};
ShowOptions g_options;

void Define(CLI::App& app) {
  app.add_option("PATH", g_options.path, "disk, volume or image file")->required();
  app.add_option("FILE", g_options.file, "the file's path as list prints it, or its id from list --json")->required();
  AddVolumeOptions(app, g_options.volumes);
  CLI::Option* hex = app.add_flag_callback("--hex", [] { g_options.part = ShowPart::kHex; },
                                           "the dump of the bytes, whatever the file holds");
  CLI::Option* text = app.add_flag_callback("--text", [] { g_options.part = ShowPart::kText; },
                                            "only the text (fails when the file shows none)");
  CLI::Option* info = app.add_flag_callback("--info", [] { g_options.part = ShowPart::kInfo; },
                                            "only the information block");
  CLI::Option* list = app.add_flag_callback("--list", [] { g_options.part = ShowPart::kList; },
                                            "only the member listing of a zip or rar archive");
  hex->excludes(text, info, list);
  text->excludes(info, list);
  info->excludes(list);
  app.add_option("--thumbnail", g_options.thumbnail, "write a thumbnail of a picture as a PNG file")
      ->type_name("OUT.png");
  app.add_flag("--json", g_options.json, "print the preview as JSON");
  app.add_option("--mode", g_options.mode,
                 "deep scan of the whole device in recovery mode 1 to 6 first; FILE is then the path that "
                 "recover --mode writes under its output folder (\"NN LABEL .../path\"), or the path inside "
                 "the result numbered NN given with --partition NN")
      ->check(CLI::Range(1, 6));
}

// CRLF (the panel's line breaks) as the terminal's.
std::string TerminalLines(std::string text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i)
    if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) out += text[i];
  return out;
}

// A file's text for the terminal: valid UTF-8 whose control characters
// (but tab and line feed) show as "." so that the text cannot drive the
// terminal; backslashes and everything else stay as written.
std::string TerminalText(const std::string& text) {
  const std::string valid = ValidUtf8(text);
  std::string out;
  out.reserve(valid.size());
  for (std::size_t i = 0; i < valid.size(); ++i) {
    const auto c = static_cast<unsigned char>(valid[i]);
    if ((c < 0x20 && c != '\t' && c != '\n') || c == 0x7F) {
      out += '.';
    } else if (c == 0xC2 && i + 1 < valid.size() && static_cast<unsigned char>(valid[i + 1]) < 0xA0) {
      out += '.';  // a C1 control
      ++i;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

struct Found {
  int volume = 0;
  std::unique_ptr<PartitionInfo> info;
  std::uint32_t id = 0;
  std::string path;
};

// The entry whose path is FILE, else whose id is FILE.
bool FindEntry(const PartitionInfo& volume, const std::string& file, std::uint32_t& id, std::string& path) {
  const TreeEntries entries = CollectTreeEntries(volume.table);
  std::string wanted = file;
  while (!wanted.empty() && wanted.front() == '/') wanted.erase(0, 1);
  for (const TreeEntry& e : entries)
    if (e.path == wanted && e.node && IsFileKind(KindOf(*e.node))) {
      id = e.node->id;
      path = std::string(e.path);
      return true;
    }
  if (file.empty() || file.find_first_not_of("0123456789") != std::string::npos || file.size() > 9) return false;
  const auto number = static_cast<std::uint32_t>(std::stoul(file));
  for (const TreeEntry& e : entries)
    if (e.node && e.node->id == number && IsFileKind(KindOf(*e.node))) {
      id = number;
      path = std::string(e.path);
      return true;
    }
  return false;
}

const char* KindName(PreviewKind kind) {
  switch (kind) {
    case PreviewKind::kImage: return "image";
    case PreviewKind::kText: return "text";
    default: return "hex";
  }
}

int ShowEntry(const PartitionInfo& volume, int number, std::uint32_t id, const std::string& path);
int RunDeepShow(SourceSession& source);

int RunShow() {
  const ShowOptions& options = g_options;
  if (!SettingsLoaded()) SetSettingsLoaded(true);
  if (GetSetting("ParseFileSys").empty()) OverrideSetting("ParseFileSys", "1");
  std::string why;
  std::unique_ptr<SourceSession> source = SourceSession::Open(options.path, &why);
  if (!source) {
    std::fprintf(stderr, "ambrel-cli show: cannot open %s: %s\n", options.path.c_str(), why.c_str());
    return 1;
  }
  if (options.mode != 0) return RunDeepShow(*source);
  const int wanted = options.volumes.partition;
  if (wanted != 0 && !source->Volume(wanted)) {
    std::fprintf(stderr, "ambrel-cli show: %s\n", NoVolumeText(wanted, *source).c_str());
    return 1;
  }
  Found found;
  for (const SourceVolume& v : source->Volumes()) {
    if (wanted != 0 && v.number != wanted) continue;
    VolumeListing listing = source->ListVolume(v.number, options.volumes.scope);
    if (!listing.volume) continue;
    if (FindEntry(*listing.volume, options.file, found.id, found.path)) {
      found.volume = v.number;
      found.info = std::move(listing.volume);
      break;
    }
  }
  if (!found.info) {
    std::fprintf(stderr, "ambrel-cli show: no file %s in %s\n", PrintableText(options.file).c_str(),
                 options.path.c_str());
    return 1;
  }
  return ShowEntry(*found.info, found.volume, found.id, found.path);
}

// The preview of entry `id` of `volume`: what recover would write for it.
int ShowEntry(const PartitionInfo& volume, int number, std::uint32_t id, const std::string& path) {
  const ShowOptions& options = g_options;
  const FoundFileNode& node = *NodeAt(volume.table, id);
#ifdef AMBREL_HAVE_IMAGING
  const std::unique_ptr<ImageDecoder> faceDecoder = imaging::MakeFaceDecoder();
  ImageDecoder* decoder = faceDecoder.get();
#else
  ImageDecoder* decoder = nullptr;
#endif
  const PreviewResult result = PreviewVolumeFile(volume, id, decoder, options.part == ShowPart::kHex);
  const PreviewContent& content = result.content;
  const std::string info = FormatFileInfo(node);
  const std::string damage = PreviewDamageText(result) + PreviewPictureText(result);
  const bool isText = content.kind == PreviewKind::kText;
  const bool isListing = isText && (node.typeCode == 61 || node.typeCode == 62);
  int status = 0;
  if ((options.part == ShowPart::kText && !isText) || (options.part == ShowPart::kList && !isListing)) {
    std::fprintf(stderr, "ambrel-cli show: %s shows no %s\n", PrintableText(path).c_str(),
                 options.part == ShowPart::kList ? "archive listing" : "text");
    status = 1;
  }
  std::string thumbnailError;
  if (!options.thumbnail.empty()) {
#ifdef AMBREL_HAVE_IMAGING
    DecodeOutcome thumb(DecodeFailure::kNotAPicture);
    if (content.kind == PreviewKind::kImage)
      thumb = decoder->Decode(ByteSpan(content.data.data(), content.data.size()), kThumbnailSide);
    if (!thumb)
      thumbnailError = thumb.failure == DecodeFailure::kNotAPicture
                           ? "no picture to make a thumbnail of"
                           : TerminalLines(DecodeFailureText(thumb.failure));
    else if (!SavePictureAsPng(*thumb, options.thumbnail))
      thumbnailError = "cannot write " + options.thumbnail;
    while (!thumbnailError.empty() && thumbnailError.back() == '\n') thumbnailError.pop_back();
#else
    thumbnailError = "this build decodes no pictures (Qt 6 Gui missing)";
#endif
    if (!thumbnailError.empty()) {
      std::fprintf(stderr, "ambrel-cli show: --thumbnail: %s\n", thumbnailError.c_str());
      status = 1;
    }
  }
  const std::string body = isText ? Utf16ToUtf8(content.text)
                                  : HexDump(ByteSpan(content.data.data(), content.data.size()));
  if (options.json) {
    Json doc;
    doc["volume"] = number;
    doc["id"] = id;
    doc["path"] = JsonText(path);
    doc["size"] = std::uint64_t{node.size};  // a packed field: copied, never bound by reference
    doc["kind"] = KindName(content.kind);
    doc["readable"] = result.readable;
    doc["damaged"] = result.damaged;
    doc["info"] = JsonText(TerminalLines(info));
    if (!damage.empty()) doc["notice"] = JsonText(TerminalLines(damage));
    if (result.picture) {
      doc["picture"] = {{"width", result.picture->sourceWidth},
                        {"height", result.picture->sourceHeight},
                        {"damaged", result.picture->damaged}};
      if (result.picture->video) doc["picture"]["frames"] = result.picture->frames;
    }
    const bool picture = content.kind == PreviewKind::kImage && options.part == ShowPart::kAll;
    if (options.part != ShowPart::kInfo && !picture) {
      if (isText && options.part != ShowPart::kHex)
        doc["text"] = JsonText(body);
      else
        doc["hex"] = HexDump(ByteSpan(content.data.data(), content.data.size()));
    }
    if (!options.thumbnail.empty() && thumbnailError.empty()) doc["thumbnail"] = JsonText(options.thumbnail);
    PrintJson(doc);
    return status;
  }
  if (status != 0 && options.part != ShowPart::kAll) return status;
  std::printf("%s", PrintableText(TerminalLines(info), true).c_str());
  if (!damage.empty()) std::printf("%s", TerminalLines(damage).c_str());
  if (options.part == ShowPart::kInfo) return status;
  if (content.kind == PreviewKind::kImage) {
    if (result.picture)
      std::printf("picture: %u x %u%s\n", result.picture->sourceWidth, result.picture->sourceHeight,
                  result.picture->damaged ? " (damaged)" : "");
    if (options.part == ShowPart::kAll) return status;
  }
  std::printf("\n%s\n", isText ? TerminalText(TerminalLines(body)).c_str() : TerminalLines(body).c_str());
  return status;
}

// --mode: a deep scan of the whole device as recover --mode runs it, then
// the file among its results. Each result is numbered as the folder recover
// writes it into ("01 LABEL ..."); the carved files are result 00.
int RunDeepShow(SourceSession& source) {
  const ShowOptions& options = g_options;
  WholeDeviceScan scan = ScanWholeDevice(source, options.mode);
  if (scan.outcome == WholeDeviceScan::Outcome::kNotScannable) {
    std::fprintf(stderr, "ambrel-cli show: %s cannot be scanned\n", options.path.c_str());
    return 1;
  }
  if (scan.outcome == WholeDeviceScan::Outcome::kStopped) {
    std::fprintf(stderr, "ambrel-cli show: the scan was stopped\n");
    return 130;
  }
  const FoundFileCatalog& catalog = *scan.catalog;
  for (const std::string& m : scan.messages) std::fprintf(stderr, "%s\n", PrintableText(m).c_str());
  std::string wanted = options.file;
  while (!wanted.empty() && wanted.front() == '/') wanted.erase(0, 1);
  for (std::uint32_t slot = 3; slot < catalog.partitionCount(); ++slot) {
    const PartitionInfo* part = catalog.Partition(slot);
    if (!part) continue;
    const int number = static_cast<int>(slot - 3);
    if (options.volumes.partition != 0 && options.volumes.partition != number) continue;
    // "NN LABEL .../inner/path" as recover writes it, else the inner path.
    std::string inner = wanted;
    const std::string label = PartitionLabel(slot, *part, "");
    if (wanted.size() > label.size() && wanted.compare(0, label.size(), label) == 0 && wanted[label.size()] == '/')
      inner = wanted.substr(label.size() + 1);
    std::uint32_t id = 0;
    std::string path;
    if (FindEntry(*part, inner, id, path)) return ShowEntry(*part, number, id, label + "/" + path);
  }
  std::fprintf(stderr, "ambrel-cli show: no file %s among what the scan found\n", PrintableText(options.file).c_str());
  return 1;
}

const CliCommandRegistrar kShowCommand(
    {"show", "show PATH [--partition N] [--mode 1..6] FILE [--hex|--text|--info|--list] [--thumbnail OUT.png] [--json]",
     "the preview of one file: its information block, then its text, listing or dump", Define, RunShow});

}  // namespace
}  // namespace ambrel::cli
