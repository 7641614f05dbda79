#include "session/copy_service.h"

#include "recovery/catalog_rows.h"

namespace ambrel {
namespace {

SaveContext ContextOf(const CopyRequest& r, const SaveSource& rows, CopyLedger& ledger) {
  SaveContext c;
  c.source = &rows;
  c.prompt = r.prompt;
  c.view = r.view;
  c.ledger = &ledger;
  c.opener = r.opener;
  c.scan = r.scan;
  c.sourcePath = r.sourcePath;
  c.removableSource = r.removableSource;
  return c;
}

}  // namespace

SaveRunResult CopyService::CopyChecked(const FoundFileCatalog& catalog, const CopyRequest& request) {
  CatalogRows rows(catalog);
  const SelectionTotal total = catalog.SumSelected();
  return RecoverChecked(ContextOf(request, rows, ledger_), request.parameters, total.files, total.bytes);
}

SaveRunResult CopyService::CopyOne(const FoundFileCatalog& catalog, std::uint32_t row, std::uint32_t id,
                                   const CopyRequest& request) {
  CatalogRows rows(catalog);
  return QuickSave(ContextOf(request, rows, ledger_), request.parameters, row, id);
}

SaveRunResult CopyService::Open(const FoundFileCatalog& catalog, std::uint32_t row, std::uint32_t id,
                                const CopyRequest& request) {
  CatalogRows rows(catalog);
  return QuickOpen(ContextOf(request, rows, ledger_), row, id);
}

}  // namespace ambrel
