// Fuzzes the compound-file reader and what is built on it: the carving
// size and type probes, Word piece tables and Excel BIFF records.
#include <cstddef>
#include <cstdint>

#include "preview/compound_probe.h"
#include "preview/excel_text.h"
#include "preview/word_text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace ambrel;
  ByteSpan bytes(data, size);
  CompoundFileSize(bytes);
  DetectCompoundType(bytes);
  ExtractWordText(bytes);
  ExtractExcelText(bytes);
  WorkbookText(ByteCursor(bytes));
  return 0;
}
