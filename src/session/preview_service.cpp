#include "session/preview_service.h"

#include "platform/process.h"
#include "preview/png_encode.h"
#include "recovery/catalog_rows.h"
#include "recovery/read_file.h"

namespace ambrel {

namespace {

// At most this many thumbnails are kept (128 x 128 x 4 bytes each at most).
constexpr std::size_t kThumbnailCacheEntries = 4096;

PreviewRequest RequestOf(std::int32_t kind, std::uint32_t row, std::uint32_t col, const SaveNode& node) {
  PreviewRequest r;
  r.kind = kind;
  r.row = row;
  r.col = col;
  r.dataSector = node.record.dataSector;
  r.size = node.record.size;
  r.typeCode = PreviewTypeCode(node.record.typeCode, node.name);
  r.resident = (node.record.flags & kFlagResident) != 0;
  return r;
}

PreviewBytes BytesOf(FileBytes file) {
  PreviewBytes bytes;
  bytes.found = file.opened;
  bytes.readable = file.readable;
  bytes.damaged = file.badSectors > 0 || file.readFailed || file.damage != DataDamage::kNone;
  bytes.data = std::move(file.data);
  return bytes;
}

}  // namespace

PreviewService::PreviewService(FoundFileCatalog& catalog, ImageDecoder* decoder, SourceOpener opener)
    : catalog_(catalog),
      opener_(std::move(opener)),
      loader_([this](const PreviewRequest& r, std::uint64_t cap) { return Read(r, cap); }, decoder,
              [this](PreviewResult result) {
                if (onPreview_) onPreview_(result);
              },
              [this](ThumbnailResult result) { Thumbnailed(std::move(result)); },
              [this](const PreviewRequest& r, std::uint64_t length) { return ReadTail(r, length); }) {}

PreviewService::~PreviewService() { loader_.Stop(); }

void PreviewService::Start() {
  // A large picture's bytes and pixels are read, sent and received each
  // preview: kept in the heap, their pages are not faulted in anew.
  KeepLargeBlocksInHeap();
  loader_.Start();
}

std::optional<PreviewRequest> PreviewService::MakeRequest(std::int32_t kind, std::uint32_t row,
                                                          std::uint32_t col) const {
  SaveNode node;
  if (!CatalogRows(catalog_).Resolve(row, col, node) || !IsFileKind(KindOf(node.record))) return std::nullopt;
  return RequestOf(kind, row, col, node);
}

std::uint64_t PreviewService::RequestPreview(std::uint32_t row, std::uint32_t col) {
  const std::optional<PreviewRequest> request = MakeRequest(kPreviewSelected, row, col);
  return request ? loader_.Request(*request) : 0;
}

void PreviewService::RequestThumbnail(std::uint32_t row, std::uint32_t col) {
  const std::optional<FoundFileNode> node = catalog_.GetNode(row, col);
  if (!node || MarkOf(*node) != 0) return;  // tried already
  {
    std::lock_guard<std::mutex> guard(thumbsLock_);
    if (!pendingThumbs_.insert({row, col}).second) return;  // queued already
  }
  if (const std::optional<PreviewRequest> request = MakeRequest(kPreviewThumbnail, row, col))
    loader_.Request(*request);
}

std::optional<DecodedImage> PreviewService::Thumbnail(std::uint32_t row, std::uint32_t col) const {
  std::lock_guard<std::mutex> guard(thumbsLock_);
  auto it = thumbs_.find({row, col});
  if (it == thumbs_.end()) return std::nullopt;
  return it->second;
}

void PreviewService::Forget() {
  loader_.Quiesce();
  std::lock_guard<std::mutex> guard(thumbsLock_);
  thumbs_.clear();
  pendingThumbs_.clear();
}

PreviewBytes PreviewService::Read(const PreviewRequest& request, std::uint64_t cap) const {
  SaveNode node;
  if (!CatalogRows(catalog_).Resolve(request.row, request.col, node)) return {};
  return BytesOf(ReadFileBytes(node, opener_, cap));
}

PreviewBytes PreviewService::ReadTail(const PreviewRequest& request, std::uint64_t length) const {
  SaveNode node;
  if (!CatalogRows(catalog_).Resolve(request.row, request.col, node)) return {};
  return BytesOf(ReadFileTail(node, opener_, length));
}

void PreviewService::Thumbnailed(ThumbnailResult result) {
  const bool made = result.thumbnail.has_value();
  {
    std::lock_guard<std::mutex> guard(thumbsLock_);
    pendingThumbs_.erase({result.request.row, result.request.col});
    if (made) {
      if (thumbs_.size() >= kThumbnailCacheEntries) thumbs_.erase(thumbs_.begin());
      thumbs_[{result.request.row, result.request.col}] = std::move(*result.thumbnail);
    }
  }
  // 3: a thumbnail is there (the catalogue tells the views); 1: none can be made.
  catalog_.SetMark(result.request.row, result.request.col, made ? 3 : 1);
  if (made && onThumbnail_) onThumbnail_(result.request.row, result.request.col);
}

PreviewResult PreviewVolumeFile(const PartitionInfo& volume, std::uint32_t id, ImageDecoder* decoder,
                                bool forceHex) {
  SaveNode node;
  node.partition = &volume;
  const FoundFileNode* record = NodeAt(volume.table, id);
  PreviewResult empty;
  if (record == nullptr || !IsFileKind(KindOf(*record))) return empty;
  node.record = *record;
  node.record.childIds = nullptr;
  node.name = record->name ? record->name : "";
  PreviewRequest request = RequestOf(kPreviewSelected, 0, id, node);
  if (forceHex) request.typeCode = kTypeUnknown;
  return LoadPreview(
      request, [&](const PreviewRequest&, std::uint64_t cap) { return BytesOf(ReadFileBytes(node, {}, cap)); },
      decoder, {},
      [&](const PreviewRequest&, std::uint64_t length) { return BytesOf(ReadFileTail(node, {}, length)); });
}

bool SavePictureAsPng(const DecodedImage& image, const std::string& path) { return WritePngFile(image, path); }

}  // namespace ambrel
