// Messages about the volumes of a source that the commands cannot work on:
// a --partition number it does not have, a volume without a file system
// the readers know, no volume at all, GPT entries lost.
#pragma once

#include <string>
#include <vector>

#include "session/source_session.h"

namespace ambrel::cli {

// "no volume 99 (the image has 3)"; the numbers are listed when they are
// not simply 1 to N ("the disk has 4: 1, 2, 5, 6").
std::string NoVolumeText(int wanted, const SourceSession& source);

// "volume 2: not NTFS, FAT or exFAT (...)" with why: the boot sector could
// not be read, it is empty, or it holds none of the known signatures.
std::string NotFileSystemText(int number, std::uint64_t startLba, BootSectorState state);

// Why a source shows no volume at all: "no volume found (...)" with what
// sector 0 holds.
std::string NoVolumesText(SourceSession& source);

// The message of a listing that gave nothing ("" when there is none).
std::string ListProblemText(SourceSession& source, int number, const VolumeListing& listing);

// The lines naming the metadata of volume `number` that could not be read
// ("volume 1 (NTFS): unreadable metadata, the entries it held are missing: MFT record 40 (sector 4224)");
// empty when everything was read.
std::vector<std::string> UnreadMetadataLines(int number, const SourceVolume& volume, const VolumeListing& listing);

// The warnings of a FAT volume's own checks: boot fields a checker rejects,
// FAT copies that disagree ("volume 1 (FAT16): the FAT copies disagree in
// 12 entries; ..."); none for a sound volume.
std::vector<std::string> FatCheckLines(int number, const SourceVolume& volume, const VolumeListing& listing);

// The GPT warning line (without a trailing newline); empty when nothing was
// lost.
std::string GptLossText(const GptLoss& loss);
// Writes "ambrel-cli COMMAND: warning: ..." on stderr when partitions were lost.
void WarnOfLostGptPartitions(SourceSession& source, const char* command);

// The --out problem in words ("not a folder", "permission denied", ...).
std::string FolderProblemText(const FolderCheck& check);

}  // namespace ambrel::cli
