// The preview of a session: the panel's preview of the selected file and
// the thumbnails of the picture list, made by one loader thread from the
// catalogue the face shows, read through the copy-out's reader (so a
// damaged file shows what a copy would hold). The face hands in the picture
// decoder; the core decodes no pixels.
//
// Threads: the interface thread calls Request*, Thumbnail and Forget; the
// callbacks run on the loader thread (a face posts them to its own thread).
// Forget before the catalogue is reset or replaced.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>

#include "catalog/found_file_catalog.h"
#include "catalog/partition_info.h"
#include "preview/image_decoder.h"
#include "preview/preview_content.h"
#include "preview/preview_loader.h"
#include "recovery/save_job.h"

namespace ambrel {

class PreviewService {
 public:
  using PreviewCallback = std::function<void(const PreviewResult&)>;
  using ThumbnailCallback = std::function<void(std::uint32_t row, std::uint32_t col)>;

  PreviewService(FoundFileCatalog& catalog, ImageDecoder* decoder, SourceOpener opener = {});
  ~PreviewService();
  PreviewService(const PreviewService&) = delete;
  PreviewService& operator=(const PreviewService&) = delete;

  // Set before Start.
  void OnPreview(PreviewCallback callback) { onPreview_ = std::move(callback); }
  void OnThumbnail(ThumbnailCallback callback) { onThumbnail_ = std::move(callback); }
  void Start();
  void Stop() { loader_.Stop(); }

  // Queues the preview of the file (row, col); its serial, or 0 when it is
  // not a file. Only the result with the newest serial is current.
  std::uint64_t RequestPreview(std::uint32_t row, std::uint32_t col);
  // Queues a thumbnail of the file unless one was tried already (its mark).
  void RequestThumbnail(std::uint32_t row, std::uint32_t col);
  // The thumbnail made for (row, col), if any.
  std::optional<DecodedImage> Thumbnail(std::uint32_t row, std::uint32_t col) const;
  // Drops the waiting requests and the thumbnails, and waits for the
  // request in hand.
  void Forget();
  std::size_t WaitingRequests() const { return loader_.queue().size(); }

 private:
  std::optional<PreviewRequest> MakeRequest(std::int32_t kind, std::uint32_t row, std::uint32_t col) const;
  PreviewBytes Read(const PreviewRequest& request, std::uint64_t cap) const;
  PreviewBytes ReadTail(const PreviewRequest& request, std::uint64_t length) const;
  void Thumbnailed(ThumbnailResult result);

  FoundFileCatalog& catalog_;
  SourceOpener opener_;
  PreviewCallback onPreview_;
  ThumbnailCallback onThumbnail_;
  mutable std::mutex thumbsLock_;
  std::map<std::pair<std::uint32_t, std::uint32_t>, DecodedImage> thumbs_;
  std::set<std::pair<std::uint32_t, std::uint32_t>> pendingThumbs_;  // queued, not made yet
  PreviewLoader loader_;
};

// The preview of one file of a parsed volume, made at once on the calling
// thread (the command line).
PreviewResult PreviewVolumeFile(const PartitionInfo& volume, std::uint32_t id, ImageDecoder* decoder,
                                bool forceHex = false);

// Writes a decoded picture (a thumbnail) to `path` as a PNG file; false when
// there is no picture or the file cannot be written.
bool SavePictureAsPng(const DecodedImage& image, const std::string& path);

}  // namespace ambrel
