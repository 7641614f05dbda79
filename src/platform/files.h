// Ordinary files and folders of the program (not devices): whole-file reads
// and writes, folder creation, and the program's own folders.
// All functions may be called from any thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ambrel {

// What reading a whole file gave.
enum class WholeFileRead { kRead, kMissing, kNotRegular, kTooLarge, kFailed };
// Reads a whole regular file. The open never blocks (a FIFO or a device of
// that name is refused, not waited on): only a regular file is read.
WholeFileRead ReadRegularFile(const std::string& path, std::vector<std::uint8_t>& out,
                              std::uint64_t maxBytes = 0x40000000ull);
// Reads a whole regular file; false when it cannot be opened or read, is
// not a regular file, or is larger than `maxBytes`.
bool ReadWholeFile(const std::string& path, std::vector<std::uint8_t>& out,
                   std::uint64_t maxBytes = 0x40000000ull);
// Creates or replaces a regular file with `bytes`; false on any error, and
// for anything else of that name (never waits on a FIFO).
bool WriteWholeFile(const std::string& path, const void* bytes, std::size_t size);
bool FileExists(const std::string& path);
bool FolderExists(const std::string& path);
bool RemoveFile(const std::string& path);
// Renames a file, replacing the target atomically.
bool RenameFile(const std::string& from, const std::string& to);
// Size of a regular file, or -1.
std::int64_t FileSize(const std::string& path);

// Succeeds when the folder exists or can be created (with its parent);
// otherwise writes a trace line and fails.
bool EnsureFolder(const std::string& path);

// The folder of the running executable, with a trailing "/". The identity
// file and the resource pack are looked up here.
std::string ExecutableFolder();
// The program's own writable folder, with a trailing "/", resolved once:
// the executable's folder when it is writable, else $XDG_DATA_HOME/ambrel/
// or ~/.local/share/ambrel/. The log, the scan-state file, the temporary
// folder and crash dumps go here.
std::string ProgramFolder();
// Same as ProgramFolder (the name the crash-dump code uses).
inline std::string ModuleFolder() { return ProgramFolder(); }
// Replaces the resolved program folder (tests, and the CLI's --home).
// Must be called before any worker thread starts.
void SetProgramFolder(const std::string& folder);

// The per-user runtime folder ($XDG_RUNTIME_DIR, else /tmp), with a
// trailing "/": lock files and the crash marker live here.
std::string RuntimeFolder();

}  // namespace ambrel
