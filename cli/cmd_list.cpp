// ambrel-cli list: parses the file systems of a disk, a volume or an image and
// prints the rebuilt tree of each volume, live and deleted entries alike.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "commands.h"
#include "json_output.h"
#include "session/program.h"
#include "session/source_session.h"
#include "session/texts.h"
#include "text_output.h"
#include "tree_output.h"
#include "volume_checks.h"
#include "volume_options.h"

namespace ambrel::cli {
namespace {

struct ListOptions {
  std::string path;
  VolumeOptions volumes;
  bool json = false;
  bool orphans = false;
};
ListOptions g_options;

void Define(CLI::App& app) {
  app.add_option("PATH", g_options.path, "disk, volume or image file")->required();
  AddVolumeOptions(app, g_options.volumes);
  app.add_flag("--json", g_options.json, "print the volumes and their entries as JSON");
  app.add_flag("--orphans", g_options.orphans,
               "search the free clusters of FAT and exFAT volumes over 32 GiB too for folders no folder reaches");
}

// Lists one volume; false (with a message) when it cannot be listed.
bool ListOneVolume(SourceSession& source, const SourceVolume& v, Json& document) {
  const ListOptions& options = g_options;
  ParseProgressLine progress(v.info.displayName);
  // The deleted and present listings are the two halves of the deletion
  // split: a present file inside a deleted folder goes with its folder.
  const ListRequest request{options.volumes.scope, options.orphans};
  const VolumeListing listing = source.ListVolume(v.number, request, nullptr, progress.Observer());
  progress.Finish();
  // What could not be read is named whatever else happened: a listing
  // without it must never look complete.
  const std::vector<std::string> unread = UnreadMetadataLines(v.number, v, listing);
  for (const std::string& line : unread) std::fprintf(stderr, "ambrel-cli list: %s\n", line.c_str());
  for (const std::string& line : FatCheckLines(v.number, v, listing))
    std::fprintf(stderr, "ambrel-cli list: warning: %s\n", line.c_str());
  if (listing.problem != ListProblem::kNone) {
    std::fprintf(stderr, "ambrel-cli list: %s\n", ListProblemText(source, v.number, listing).c_str());
    return listing.problem == ListProblem::kNoRecycleBin && unread.empty();
  }
  if (!listing.volume) return unread.empty();
  const TreeEntries entries = CollectTreeEntries(*listing.volume);
  if (options.json) {
    Json volume = TreeJson(v.number, *listing.volume, entries);
    if (listing.MetadataUnread()) {
      // Only on a volume that lacks some: a whole listing stays as it was.
      Json lines = Json::array();
      for (const std::string& text : UnreadMetadataTexts(listing.unread, listing.unreadDropped))
        lines.push_back(JsonText(text));
      volume["unreadMetadata"] = std::move(lines);
    }
    if (listing.fatCopies.Any()) {
      Json copies = Json::object();
      copies["differingEntries"] = listing.fatCopies.entries;
      copies["filesFromSecondCopy"] = listing.fatCopies.chainsFromSecond;
      copies["filesFittingNeither"] = listing.fatCopies.chainsUnresolved;
      volume["fatCopiesDisagree"] = std::move(copies);
    }
    if (listing.fatBoot.Any()) volume["bootSectorWarning"] = FatBootText(listing.fatBoot);
    document.push_back(std::move(volume));
  } else {
    PrintTreeText(v.number, *listing.volume, entries);
  }
  return unread.empty();
}

int RunList() {
  const ListOptions& options = g_options;
  // The command line parses file systems unless a settings file says otherwise.
  if (!SettingsLoaded()) SetSettingsLoaded(true);
  if (GetSetting("ParseFileSys").empty()) OverrideSetting("ParseFileSys", "1");
  std::string why;
  std::unique_ptr<SourceSession> source = SourceSession::Open(options.path, &why);
  if (!source) {
    std::fprintf(stderr, "ambrel-cli list: cannot open %s: %s\n", options.path.c_str(), why.c_str());
    return 1;
  }
  WarnOfLostGptPartitions(*source, "list");
  if (source->Volumes().empty()) {
    std::fprintf(stderr, "ambrel-cli list: %s: %s\n", options.path.c_str(), NoVolumesText(*source).c_str());
    return 1;
  }
  const int wanted = options.volumes.partition;
  if (wanted != 0 && !source->Volume(wanted)) {
    std::fprintf(stderr, "ambrel-cli list: %s\n", NoVolumeText(wanted, *source).c_str());
    return 1;
  }
  int status = 0;
  Json document = Json::array();
  for (const SourceVolume& v : source->Volumes()) {
    if (wanted != 0 && v.number != wanted) continue;
    if (!ListOneVolume(*source, v, document)) status = 1;
  }
  if (options.json) PrintJson(document);
  return status;
}

const CliCommandRegistrar kListCommand({"list", "list PATH [--partition N] [--deleted|--present|--recycle] [--orphans] [--json]",
                                        "the rebuilt tree of each volume, live and deleted entries", Define,
                                        RunList});

}  // namespace
}  // namespace ambrel::cli
