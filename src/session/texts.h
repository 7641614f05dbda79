// The words of both faces: the Chinese texts the user reads for every
// message, question and report of the core, and the progress figures of a
// scan. The core names what happened; this table says it. Pure functions.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/notify.h"
#include "catalog/partition_info.h"
#include "preview/preview_content.h"
#include "preview/preview_loader.h"
#include "recovery/copy_out.h"

namespace ambrel {

// The text of a message or question of the core.
std::string PromptText(const PromptMessage& message);

// The summary after a scan read its area: none unless failed > 10 and
// failed <= reads; MB wording up to 2000 MB (one chunk is 8 MiB), GB above;
// the removable-device advice appended for USB disks and cards.
std::optional<std::string> ReadErrorSummaryText(std::uint32_t failed, std::uint32_t reads,
                                                bool removable);

// The progress figures of a running scan, from the published sectors done
// and total, the elapsed seconds without pauses and the sectors done when
// the scan was prepared. `previousRemaining` carries the last estimate
// between calls (start at 0): an estimate that rises by less than 10 % is
// not shown. Empty when no time has passed.
std::string FormatProgress(std::uint64_t done, std::uint64_t total, std::uint64_t elapsed,
                           std::uint64_t baseline, std::uint64_t& previousRemaining);

// Why a copy command did not run; `verb` is "恢复" or "打开". Empty for
// kNone.
std::string CopyRefusalText(CopyRefusal refusal, const std::string& verb);

// The completion report of a run.
std::string CompletionReportText(std::uint32_t files, std::uint64_t bytes);
std::string ReadErrorReportText(std::uint32_t failedReads, bool removable);
std::string FailedFilesReportText(std::size_t failedFiles);
// The share of a deleted file's clusters in use again, in percent: 100
// only when all are, at least 1 when one is.
unsigned OverwrittenPercent(std::uint64_t taken, std::uint64_t clusters);
// The state column of the desktop's file list: "完好", "部分覆盖 40%",
// "已覆盖" for deleted files; "损坏" or "不完整" for a file not whole.
struct ListedFileState;
std::string FileStateWords(const ListedFileState& state);
// "path: reason" of one damaged file, the reason in short English words.
std::string DamagedFileText(const DamagedFileReport& damaged);
std::string DamagedFilesReportText(const std::vector<std::string>& damaged);
std::string ShortenedNamesReportText(const std::vector<std::string>& shortened);

// What an unreadable piece of a volume's metadata cost, in short English
// words: "MFT record 40 (sector 4224)", "folder /DIR: 1 sector of cluster 9
// (sector 2113)", "FAT sectors 3 to 4 (sector 35), in every copy".
std::string UnreadMetadataText(const UnreadMetadata& piece);
// The lines of a volume's unreadable metadata, with the count of the pieces
// beyond those kept.
std::vector<std::string> UnreadMetadataTexts(const std::vector<UnreadMetadata>& pieces, std::uint64_t dropped);
// The desktop's warning: the volume was listed without what these pieces held.
std::string UnreadMetadataReportText(const std::vector<std::string>& lines);

// The two FAT copies of a volume disagree: "the FAT copies disagree in 12
// entries; 3 files follow the second copy, 1 fits neither"; empty when
// they agree.
std::string FatCopiesText(const FatCopyDisagreement& copies);

// A FAT boot sector a checker rejects: "boot sector fields a checker
// rejects: the root directory does not fill whole sectors; read with 512
// root entries (recorded 65535), as the folders show"; empty when sound.
std::string FatBootText(const FatBootCheck& check);

// The desktop's words for the same two warnings: "两份FAT表有12处不一致，
// 3个文件按第二份读取，1个文件两份都不符" and "引导扇区的字段有误：...；
// 按目录实际使用的512个根目录项读取（记录为65535）"; empty when sound.
std::string FatCopiesWarningText(const FatCopyDisagreement& copies);
std::string FatBootWarningText(const FatBootCheck& check);
// The desktop's message over the volumes' lines ("N: text").
std::string FatWarningsReportText(const std::vector<std::string>& lines);

// Everything a run has to say, in the order the user reads it: the refusal,
// or the stop, or the read errors, failed files, damaged files, shortened
// names and the completion line.
std::vector<std::string> CopyReportTexts(const SaveRunResult& result, const std::string& verb);

// The information block shown above every preview:
// "文件名: …\r\n文件大小: …\r\n创建时间: …\r\n修改时间: …\r\n".
std::string FormatFileInfo(const FoundFileNode& node);
std::string FormatFileInfo(std::string_view name, std::uint64_t size, PackedTime created, PackedTime modified);
// "%0.2f KB" below 1 MiB, "MB" below 1 GiB, "TB" from 1 TiB on, else "GB".
std::string PreviewSizeText(std::uint64_t bytes);
// "%d-%02d-%02d  %02d:%02d:%02d", or "1900-01-01  00:00" for no time.
std::string PreviewTimeText(PackedTime time);
// The line under the information block for a content kind, and the
// switch button's text ("" when the button is hidden).
std::string PreviewNoticeText(PreviewKind kind);
std::string PreviewSwitchText(PreviewKind kind);
// The words that a picture did not decode whole / a file would be copied short.
std::string PreviewDamageText(const PreviewResult& result);
// Under a video's frame: how many frames of its start decode ("视频：已解码N帧。").
std::string PreviewPictureText(const PreviewResult& result);
// Why a picture did not decode (a line ending in CRLF).
std::string DecodeFailureText(DecodeFailure failure);

}  // namespace ambrel
