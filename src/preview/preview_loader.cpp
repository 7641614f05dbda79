#include "preview/preview_loader.h"

#include <algorithm>

#include "catalog/found_file_node.h"

namespace ambrel {

std::uint64_t PreviewQueue::Push(PreviewRequest request) {
  std::lock_guard<std::mutex> guard(lock_);
  request.serial = nextSerial_++;
  if (request.kind == kPreviewSelected) {
    // An older selection nobody waits for any more is dropped, wherever
    // thumbnails placed it, and the new one goes first: a click must not
    // wait behind the thumbnails of a whole folder.
    std::erase_if(queue_, [](const PreviewRequest& r) { return r.kind == kPreviewSelected; });
    queue_.push_front(request);
  } else if (!queue_.empty() && queue_.front().kind == kPreviewSelected) {
    queue_.push_back(request);  // the preview stays at the head
  } else {
    queue_.push_back(request);
  }
  return request.serial;
}

std::optional<PreviewRequest> PreviewQueue::Pop() {
  std::lock_guard<std::mutex> guard(lock_);
  if (queue_.empty()) return std::nullopt;
  PreviewRequest r = queue_.front();
  queue_.pop_front();
  return r;
}

void PreviewQueue::Clear() {
  std::lock_guard<std::mutex> guard(lock_);
  queue_.clear();
}

std::vector<PreviewRequest> PreviewQueue::Waiting() const {
  std::lock_guard<std::mutex> guard(lock_);
  return {queue_.begin(), queue_.end()};
}

std::size_t PreviewQueue::size() const {
  std::lock_guard<std::mutex> guard(lock_);
  return queue_.size();
}

namespace {

// A large video's preview from its first and last bytes; nothing when it
// gives no frame (the large file is then shown as a dump, as any other).
std::optional<PreviewResult> LoadLargeVideo(const PreviewRequest& request, const PreviewReader& reader,
                                            const PreviewTailReader& tailReader, ImageDecoder* decoder) {
  PreviewBytes head = reader(request, kVideoViewHead);
  if (!head.found || head.data.empty()) return std::nullopt;
  PreviewBytes tail;
  // A copy shorter than the two parts together is read whole.
  if (head.readable > head.data.size()) {
    tail = tailReader(request, std::min(kVideoViewTail, head.readable - head.data.size()));
    if (tail.data.empty() || head.data.size() + tail.data.size() > head.readable) return std::nullopt;
  }
  const std::uint64_t fileSize = tail.data.empty() ? head.data.size() : head.readable;
  DecodeOutcome decoded = decoder->DecodeView(ByteSpan(head.data.data(), head.data.size()),
                                              ByteSpan(tail.data.data(), tail.data.size()), fileSize, kPanePictureSide);
  if (!decoded || !decoded->video) return std::nullopt;
  PreviewResult result;
  result.request = request;
  result.found = true;
  result.readable = head.readable;
  result.damaged = head.damaged || tail.damaged;
  // What the dump shows of it: its start, as for any large file.
  head.data.resize(std::min<std::size_t>(head.data.size(), kPreviewLargeRead));
  result.content = BuildPreviewContent(request.typeCode, std::move(head.data), request.size, false);
  result.content.kind = PreviewKind::kImage;
  result.picture = std::move(decoded.image);
  return result;
}

}  // namespace

PreviewResult LoadPreview(const PreviewRequest& request, const PreviewReader& reader, ImageDecoder* decoder,
                          const EarlyPreview& early, const PreviewTailReader& tail) {
  PreviewResult result;
  result.request = request;
  if (request.size == 0) {
    // Nothing to read: an empty text at once.
    result.found = true;
    result.content.kind = PreviewKind::kText;
    return result;
  }
  // A large file shows only the dump of its start; an unknown type only the
  // dump, whatever it holds.
  const bool large = request.size > kPreviewLargeFile;
  if (large && tail && decoder && IsPreviewVideoType(request.typeCode))
    if (std::optional<PreviewResult> video = LoadLargeVideo(request, reader, tail, decoder)) return std::move(*video);
  const std::uint64_t cap = large ? kPreviewLargeRead : request.size;
  PreviewBytes bytes = reader(request, cap);
  // A HEIF picture has no type code of its own: its signature tells it.
  const bool forceHex = large || (request.typeCode == kTypeUnknown &&
                                  !HasHeifSignature(ByteSpan(bytes.data.data(), bytes.data.size())));
  result.found = bytes.found;
  result.readable = bytes.readable;
  result.damaged = bytes.damaged;
  const std::uint64_t size = request.size;
  result.content = BuildPreviewContent(request.typeCode, std::move(bytes.data), size, forceHex);
  if (result.content.kind == PreviewKind::kImage && decoder && !result.content.data.empty()) {
    const ByteSpan data(result.content.data.data(), result.content.data.size());
    DecodeOutcome decoded;
    if (early && data.size() > kQuickPictureBytes) {
      // The bytes go to the decoder once; the small picture comes back
      // first, while the whole one is decoded.
      decoded = decoder->DecodeWithFirst(data, kQuickPictureSide, kPanePictureSide, [&](DecodeOutcome quick) {
        if (!quick || quick->video) return;
        PreviewResult first;
        first.request = result.request;
        first.found = result.found;
        first.readable = result.readable;
        first.damaged = result.damaged;
        first.content.kind = result.content.kind;
        // What the dump shows, not the whole picture's bytes again.
        first.content.data.assign(data.begin(), data.begin() + std::min(data.size(), kPreviewTextBytes));
        first.picture = std::move(quick.image);
        first.provisional = true;
        early(first);
      });
    } else {
      decoded = decoder->Decode(data, kPanePictureSide);
    }
    result.picture = std::move(decoded.image);
    result.pictureFailure = decoded.failure;
  }
  return result;
}

ThumbnailResult LoadThumbnail(const PreviewRequest& request, const PreviewReader& reader, ImageDecoder* decoder) {
  ThumbnailResult result;
  result.request = request;
  // Carved pictures may carry a gap size of up to 1.8 GB: nothing that
  // large is read for a thumbnail.
  if (request.size == 0 || request.size > kPreviewLargeFile || decoder == nullptr) return result;
  PreviewBytes bytes = reader(request, request.size);
  const ByteSpan data(bytes.data.data(), bytes.data.size());
  if (!HasImageSignature(data) && !IsPreviewMediaType(request.typeCode) && !HasHeifSignature(data)) return result;
  result.thumbnail = decoder->Decode(data, kThumbnailSide).image;
  return result;
}

PreviewLoader::PreviewLoader(PreviewReader reader, ImageDecoder* decoder, PreviewSink previews,
                             ThumbnailSink thumbnails, PreviewTailReader tail)
    : reader_(std::move(reader)),
      tail_(std::move(tail)),
      decoder_(decoder),
      previews_(std::move(previews)),
      thumbnails_(std::move(thumbnails)) {}

PreviewLoader::~PreviewLoader() { Stop(); }

void PreviewLoader::Start() {
  std::lock_guard<std::mutex> guard(wakeLock_);
  if (started_ || stop_) return;
  started_ = true;
  thread_ = std::thread([this] { Run(); });
}

void PreviewLoader::Stop() {
  {
    std::lock_guard<std::mutex> guard(wakeLock_);
    stop_ = true;
    signalled_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
}

std::uint64_t PreviewLoader::Request(PreviewRequest request) {
  const std::uint64_t serial = queue_.Push(request);
  {
    std::lock_guard<std::mutex> guard(wakeLock_);
    signalled_ = true;
  }
  wake_.notify_one();
  return serial;
}

void PreviewLoader::Quiesce() {
  queue_.Clear();
  std::unique_lock<std::mutex> guard(wakeLock_);
  idle_.wait(guard, [this] { return !busy_; });
}

void PreviewLoader::Run() {
  for (;;) {
    {
      std::unique_lock<std::mutex> guard(wakeLock_);
      wake_.wait(guard, [this] { return signalled_; });
      signalled_ = false;  // an auto-reset event
      if (stop_) return;
    }
    for (;;) {
      std::optional<PreviewRequest> request;
      {
        std::lock_guard<std::mutex> guard(wakeLock_);
        if (stop_) return;
        request = queue_.Pop();
        busy_ = request.has_value();
      }
      if (!request) {
        idle_.notify_all();
        break;
      }
      if (request->kind == kPreviewSelected) {
        EarlyPreview early;
        if (previews_) early = [this](const PreviewResult& first) { previews_(first); };
        PreviewResult result = LoadPreview(*request, reader_, decoder_, early, tail_);
        if (previews_) previews_(std::move(result));
      } else {
        ThumbnailResult result = LoadThumbnail(*request, reader_, decoder_);
        if (thumbnails_) thumbnails_(std::move(result));
      }
      {
        std::lock_guard<std::mutex> guard(wakeLock_);
        busy_ = false;
      }
      idle_.notify_all();
    }
  }
}

}  // namespace ambrel
