// The names of the folders the catalogue makes: the recycle bin, the
// folder of the files found by signature and the folder of files whose
// place was lost. They are catalogue data, in this one table; the type
// folders below the found-files folder come from the type catalogue.
#pragma once

namespace ambrel {

inline constexpr const char* kRecycleBinFolderName = "回收站";
inline constexpr const char* kFoundFilesFolderName = "找到的文件";
inline constexpr const char* kLostFilesFolderName = "丢失的文件";

}  // namespace ambrel
