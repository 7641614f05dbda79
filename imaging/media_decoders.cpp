#include "media_decoders.h"

#include <QImage>
#include <algorithm>
#include <cstring>
#include <memory>

#include "qt_image_decoder.h"

#ifdef AMBREL_HAVE_LIBHEIF
#include <libheif/heif.h>
#endif
#ifdef AMBREL_HAVE_LIBRAW
#include <libraw/libraw.h>
#endif
#ifdef AMBREL_HAVE_FFMPEG
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}
#endif

namespace ambrel::imaging {

namespace {

bool At(ByteSpan d, std::size_t offset, std::string_view tag) {
  return d.size() >= offset + tag.size() && std::memcmp(d.data() + offset, tag.data(), tag.size()) == 0;
}

// An ISO media file whose major brand is one of HEIF's (HEVC or AV1 stills).
bool IsHeif(ByteSpan d) {
  if (!At(d, 4, "ftyp")) return false;
  for (std::string_view brand : {"heic", "heix", "heim", "heis", "hevc", "hevx", "mif1", "msf1", "avif"})
    if (At(d, 8, brand)) return true;
  return false;
}

// The headers of the raw formats LibRaw is asked about: TIFF-based raws
// (CR2, NEF, ARW, DNG, PEF, SR2...), Olympus and Panasonic's TIFF variants,
// Fuji's RAF, Canon's CRW and Sigma's X3F.
bool IsRawCandidate(ByteSpan d) {
  return At(d, 0, std::string_view("II*\0", 4)) || At(d, 0, std::string_view("MM\0*", 4)) || At(d, 0, "IIRO") ||
         At(d, 0, "IIRS") || At(d, 0, "MMOR") || At(d, 0, std::string_view("IIU\0", 4)) || At(d, 0, "FUJIFILM") ||
         At(d, 6, "HEAPCCDR") || At(d, 0, "FOVb");
}

// The containers a video frame is looked for in.
bool IsVideoCandidate(ByteSpan d) {
  if (d.size() < 16) return false;
  if (At(d, 4, "ftyp") || At(d, 4, "moov") || At(d, 4, "mdat") || At(d, 4, "wide") || At(d, 4, "free"))
    return !IsHeif(d);
  if (At(d, 0, "RIFF") && At(d, 8, "AVI ")) return true;
  if (At(d, 0, "\x1A\x45\xDF\xA3") || At(d, 0, "FLV")) return true;
  if (At(d, 0, std::string_view("\0\0\x01\xBA", 4)) || At(d, 0, std::string_view("\0\0\x01\xB3", 4))) return true;
  if (At(d, 0, "\x30\x26\xB2\x75\x8E\x66\xCF\x11")) return true;  // ASF header object
  // MPEG transport stream: sync bytes every 188 (or 192 with a timecode).
  if (d.size() >= 2 * 192 + 5 && d[4] == 0x47 && d[196] == 0x47 && d[388] == 0x47) return true;
  return d.size() >= 3 * 188 && d[0] == 0x47 && d[188] == 0x47 && d[376] == 0x47;
}

#ifdef AMBREL_HAVE_LIBHEIF
DecodeOutcome DecodeHeif(ByteSpan data, std::uint32_t maxSide) {
  using Context = std::unique_ptr<heif_context, decltype(&heif_context_free)>;
  Context context(heif_context_alloc(), &heif_context_free);
  if (!context) return DecodeFailure::kOutOfMemory;
  // The pixel bound of the other readers, as an edge.
  heif_context_set_maximum_image_size_limit(context.get(), 16384);
  if (heif_context_read_from_memory_without_copy(context.get(), data.data(), data.size(), nullptr).code !=
      heif_error_Ok)
    return DecodeFailure::kNotAPicture;
  heif_image_handle* rawHandle = nullptr;
  if (heif_context_get_primary_image_handle(context.get(), &rawHandle).code != heif_error_Ok)
    return DecodeFailure::kNotAPicture;
  std::unique_ptr<heif_image_handle, decltype(&heif_image_handle_release)> handle(rawHandle,
                                                                                  &heif_image_handle_release);
  const int w = heif_image_handle_get_width(handle.get()), h = heif_image_handle_get_height(handle.get());
  if (w <= 0 || h <= 0) return DecodeFailure::kNotAPicture;
  if (std::uint64_t(w) * std::uint64_t(h) > kMaxPixels) return DecodeFailure::kTooLarge;
  heif_image* rawImage = nullptr;
  const heif_error decoded =
      heif_decode_image(handle.get(), &rawImage, heif_colorspace_RGB, heif_chroma_interleaved_RGBA, nullptr);
  std::unique_ptr<heif_image, decltype(&heif_image_release)> image(rawImage, &heif_image_release);
  if (decoded.code != heif_error_Ok || !image) return DecodeFailure::kNotAPicture;
  int stride = 0;
  const std::uint8_t* plane = heif_image_get_plane_readonly(image.get(), heif_channel_interleaved, &stride);
  const int iw = heif_image_get_width(image.get(), heif_channel_interleaved);
  const int ih = heif_image_get_height(image.get(), heif_channel_interleaved);
  if (!plane || iw <= 0 || ih <= 0 || stride < iw * 4) return DecodeFailure::kNotAPicture;
  const QImage view(plane, iw, ih, stride, QImage::Format_RGBA8888);
  return PictureOf(view.copy(), std::uint32_t(w), std::uint32_t(h), maxSide);
}
#endif

#ifdef AMBREL_HAVE_LIBRAW
// A raw's preview shorter than this on its longer side is too small to stand
// for the photo (unless the picture asked for is smaller still): some
// cameras embed only a thumbnail, and LibRaw 0.20 sometimes picks a small
// one of several.
constexpr std::uint32_t kRawPreviewEnough = 320;

using MemImage = std::unique_ptr<libraw_processed_image_t, void (*)(libraw_processed_image_t*)>;

MemImage NoImage() {
  return MemImage(nullptr, [](libraw_processed_image_t* p) { LibRaw::dcraw_clear_mem(p); });
}

// An 8-bit bitmap of LibRaw's (a thumbnail or the processed image).
DecodeOutcome BitmapOf(const libraw_processed_image_t& image, std::uint32_t w, std::uint32_t h,
                       std::uint32_t maxSide) {
  if (image.type != LIBRAW_IMAGE_BITMAP || image.bits != 8 || (image.colors != 3 && image.colors != 1))
    return DecodeFailure::kNotAPicture;
  const std::uint64_t rowBytes = std::uint64_t(image.width) * image.colors;
  if (image.width == 0 || image.height == 0 || rowBytes * image.height > image.data_size)
    return DecodeFailure::kNotAPicture;
  const QImage view(image.data, image.width, image.height, qsizetype(rowBytes),
                    image.colors == 3 ? QImage::Format_RGB888 : QImage::Format_Grayscale8);
  return PictureOf(view.copy(), w, h, maxSide);
}

// The maker's embedded preview (a JPEG, or a bitmap).
DecodeOutcome EmbeddedPreview(LibRaw& raw, std::uint32_t w, std::uint32_t h, std::uint32_t maxSide) {
  if (raw.unpack_thumb() != LIBRAW_SUCCESS) return DecodeFailure::kNotAPicture;
  int error = 0;
  MemImage thumb = NoImage();
  thumb.reset(raw.dcraw_make_mem_thumb(&error));
  if (!thumb || error != LIBRAW_SUCCESS) return DecodeFailure::kNotAPicture;
  if (thumb->type == LIBRAW_IMAGE_JPEG) {
    QtImageDecoder jpeg;
    DecodeOutcome preview = jpeg.Decode(ByteSpan(thumb->data, thumb->data_size), maxSide);
    if (!preview) return preview;
    preview->sourceWidth = w;
    preview->sourceHeight = h;
    return preview;
  }
  return BitmapOf(*thumb, w, h, maxSide);
}

// The sensor data itself, demosaiced at half its size (each 2 x 2 block of
// the colour filter one pixel: no interpolation, a quarter of the memory)
// with the camera's white balance.
// A file too short to hold its sensor data at even one bit per pixel (a
// sample cut after its headers) is refused: LibRaw's unpacker would fill
// the missing rows with whatever its reads leave, and show that as the photo.
DecodeOutcome ProcessedAtHalfSize(LibRaw& raw, std::uint64_t fileBytes, std::uint32_t w, std::uint32_t h,
                                  std::uint32_t maxSide) {
  const std::uint64_t sensorPixels = std::uint64_t(raw.imgdata.sizes.raw_width) * raw.imgdata.sizes.raw_height;
  if (sensorPixels > kMaxPixels) return DecodeFailure::kTooLarge;
  if (sensorPixels == 0 || fileBytes < sensorPixels / 8) return DecodeFailure::kNotAPicture;
  raw.imgdata.params.half_size = 1;
  raw.imgdata.params.use_camera_wb = 1;
  raw.imgdata.params.output_bps = 8;
  raw.imgdata.params.user_qual = 0;
  if (raw.unpack() != LIBRAW_SUCCESS || raw.dcraw_process() != LIBRAW_SUCCESS) return DecodeFailure::kNotAPicture;
  int error = 0;
  MemImage image = NoImage();
  image.reset(raw.dcraw_make_mem_image(&error));
  if (!image || error != LIBRAW_SUCCESS) return DecodeFailure::kNotAPicture;
  return BitmapOf(*image, w, h, maxSide);
}

// The maker's embedded preview rather than the demosaiced sensor data: it
// is what the camera showed, and it costs a fraction of the time and
// memory. Only when there is none, or it is smaller than what is asked for
// (a thumbnail of a few dozen pixels), is the sensor data processed.
DecodeOutcome DecodeRawPreview(ByteSpan data, std::uint32_t maxSide) {
  auto raw = std::make_unique<LibRaw>(LIBRAW_OPTIONS_NONE);
  // open_buffer wants a writable pointer but only reads through it.
  if (raw->open_buffer(const_cast<std::uint8_t*>(data.data()), data.size()) != LIBRAW_SUCCESS)
    return DecodeFailure::kNotAPicture;
  // The sensor's size, turned as the camera held it.
  std::uint32_t w = raw->imgdata.sizes.width, h = raw->imgdata.sizes.height;
  if (raw->imgdata.sizes.flip == 5 || raw->imgdata.sizes.flip == 6) std::swap(w, h);
  DecodeOutcome preview = EmbeddedPreview(*raw, w, h, maxSide);
  const std::uint32_t enough = maxSide == 0 ? kRawPreviewEnough : std::min(maxSide, kRawPreviewEnough);
  if (preview && std::max(preview->width, preview->height) >= enough) return preview;
  DecodeOutcome processed = ProcessedAtHalfSize(*raw, data.size(), w, h, maxSide);
  if (processed && (!preview || std::max(processed->width, processed->height) > std::max(preview->width, preview->height)))
    return processed;
  return preview ? std::move(preview) : std::move(processed);
}
#endif

#ifdef AMBREL_HAVE_FFMPEG
// The bytes in memory as FFmpeg's input: the demuxer never sees a path.
// A large file comes as its start and its end; what lies between reads as
// the end of the data, so the demuxer can seek to an index written at the
// end and the frames are read from the start until the missing part.
struct MemoryInput {
  ByteSpan head;
  ByteSpan tail;
  std::int64_t size = 0;
  std::int64_t at = 0;
};

int ReadMemory(void* opaque, std::uint8_t* buffer, int size) {
  auto* in = static_cast<MemoryInput*>(opaque);
  const std::int64_t headEnd = std::int64_t(in->head.size());
  const std::int64_t tailStart = in->size - std::int64_t(in->tail.size());
  const std::uint8_t* from = nullptr;
  std::int64_t left = 0;
  if (in->at < headEnd) {
    from = in->head.data() + in->at;
    left = headEnd - in->at;
  } else if (in->at >= tailStart && in->at < in->size) {
    from = in->tail.data() + (in->at - tailStart);
    left = in->size - in->at;
  }
  if (left <= 0) return AVERROR_EOF;
  const int n = int(std::min<std::int64_t>(left, size));
  std::memcpy(buffer, from, std::size_t(n));
  in->at += n;
  return n;
}

std::int64_t SeekMemory(void* opaque, std::int64_t offset, int whence) {
  auto* in = static_cast<MemoryInput*>(opaque);
  const std::int64_t size = in->size;
  std::int64_t to;
  switch (whence & ~AVSEEK_FORCE) {
    case AVSEEK_SIZE: return size;
    case SEEK_SET: to = offset; break;
    case SEEK_CUR: to = in->at + offset; break;
    case SEEK_END: to = size + offset; break;
    default: return AVERROR(EINVAL);
  }
  if (to < 0 || to > size) return AVERROR(EINVAL);
  in->at = to;
  return to;
}

// Packets read of the video's start, whatever stream they belong to.
constexpr int kPacketsRead = 3000;

DecodeOutcome DecodeVideoFrame(MemoryInput input, std::uint32_t maxSide) {
  av_log_set_level(AV_LOG_QUIET);
  constexpr int kBuffer = 64 * 1024;
  auto* buffer = static_cast<std::uint8_t*>(av_malloc(kBuffer));
  if (!buffer) return DecodeFailure::kOutOfMemory;
  AVIOContext* io = avio_alloc_context(buffer, kBuffer, 0, &input, &ReadMemory, nullptr, &SeekMemory);
  if (!io) {
    av_free(buffer);
    return DecodeFailure::kOutOfMemory;
  }
  struct Cleanup {
    AVIOContext* io;
    AVFormatContext* format = nullptr;
    AVCodecContext* codec = nullptr;
    AVPacket* packet = nullptr;
    AVFrame* frame = nullptr;
    AVFrame* first = nullptr;
    ~Cleanup() {
      av_frame_free(&first);
      av_frame_free(&frame);
      av_packet_free(&packet);
      avcodec_free_context(&codec);
      avformat_close_input(&format);
      if (io) av_free(io->buffer);
      avio_context_free(&io);
    }
  } c{io};
  c.format = avformat_alloc_context();
  if (!c.format) return DecodeFailure::kOutOfMemory;
  c.format->pb = io;
  c.format->flags |= AVFMT_FLAG_CUSTOM_IO;
  c.format->format_whitelist = av_strdup("mov,mp4,m4a,3gp,3g2,mj2,avi,matroska,webm,flv,mpeg,mpegts,mpegvideo,asf");
  if (avformat_open_input(&c.format, nullptr, nullptr, nullptr) < 0) {
    c.format = nullptr;  // freed by the failed open
    return DecodeFailure::kNotAPicture;
  }
  if (avformat_find_stream_info(c.format, nullptr) < 0) return DecodeFailure::kNotAPicture;
  const AVCodec* decoder = nullptr;
  const int stream = av_find_best_stream(c.format, AVMEDIA_TYPE_VIDEO, -1, -1, &decoder, 0);
  if (stream < 0 || !decoder) return DecodeFailure::kNotAPicture;
  const AVCodecParameters* par = c.format->streams[stream]->codecpar;
  if (par->width <= 0 || par->height <= 0) return DecodeFailure::kNotAPicture;
  if (std::uint64_t(par->width) * std::uint64_t(par->height) > kMaxPixels) return DecodeFailure::kTooLarge;
  c.codec = avcodec_alloc_context3(decoder);
  if (!c.codec || avcodec_parameters_to_context(c.codec, par) < 0) return DecodeFailure::kNotAPicture;
  c.codec->thread_count = 1;
  if (avcodec_open2(c.codec, decoder, nullptr) < 0) return DecodeFailure::kNotAPicture;
  c.packet = av_packet_alloc();
  c.frame = av_frame_alloc();
  if (!c.packet || !c.frame) return DecodeFailure::kOutOfMemory;
  std::uint32_t frames = 0;
  bool damaged = false;
  auto drain = [&] {
    while (frames < kVideoFramesCounted && avcodec_receive_frame(c.codec, c.frame) == 0) {
      if (c.frame->decode_error_flags != 0 || (c.frame->flags & AV_FRAME_FLAG_CORRUPT)) damaged = true;
      if (!c.first) c.first = av_frame_clone(c.frame);
      ++frames;
      av_frame_unref(c.frame);
    }
  };
  bool ended = false;
  for (int packets = 0; packets < kPacketsRead && frames < kVideoFramesCounted; ++packets) {
    const int read = av_read_frame(c.format, c.packet);
    if (read < 0) {
      // Anything but the end of the data (or of the start of a large file
      // that was read): the container broke off.
      if (read != AVERROR_EOF && input.tail.empty()) damaged = true;
      ended = true;
      break;
    }
    // A large file's frames are counted up to the missing middle (the
    // packet the start ends inside of comes short, so it reaches the end).
    if (!input.tail.empty() && c.packet->pos >= 0 &&
        std::uint64_t(c.packet->pos) + std::uint64_t(c.packet->size) >= input.head.size()) {
      av_packet_unref(c.packet);
      ended = true;
      break;
    }
    // A packet the data ends inside of (a cut file) comes flagged corrupt.
    if (c.packet->stream_index == stream && (c.packet->flags & AV_PKT_FLAG_CORRUPT)) damaged = true;
    if (c.packet->stream_index == stream) {
      if (avcodec_send_packet(c.codec, c.packet) < 0) damaged = true;
      drain();
    }
    av_packet_unref(c.packet);
  }
  if (ended && frames < kVideoFramesCounted) {
    avcodec_send_packet(c.codec, nullptr);
    drain();
  }
  if (!c.first) return DecodeFailure::kNotAPicture;
  const int w = c.first->width, h = c.first->height;
  if (w <= 0 || h <= 0 || std::uint64_t(w) * std::uint64_t(h) > kMaxPixels) return DecodeFailure::kTooLarge;
  SwsContext* sws = sws_getContext(w, h, AVPixelFormat(c.first->format), w, h, AV_PIX_FMT_BGRA, SWS_BILINEAR,
                                   nullptr, nullptr, nullptr);
  if (!sws) return DecodeFailure::kNotAPicture;
  // swscale writes whole SIMD blocks: its own aligned, padded buffer, then
  // the rows into the picture (0xAARRGGBB is BGRA in memory).
  std::uint8_t* planes[4] = {};
  int strides[4] = {};
  if (av_image_alloc(planes, strides, w, h + 1, AV_PIX_FMT_BGRA, 64) < 0) {
    sws_freeContext(sws);
    return DecodeFailure::kOutOfMemory;
  }
  const int rows = sws_scale(sws, c.first->data, c.first->linesize, 0, h, planes, strides);
  sws_freeContext(sws);
  QImage image(w, h, QImage::Format_ARGB32);
  if (rows == h && !image.isNull())
    for (int y = 0; y < h; ++y)
      std::memcpy(image.scanLine(y), planes[0] + std::ptrdiff_t(y) * strides[0], std::size_t(w) * 4);
  av_freep(&planes[0]);
  if (image.isNull()) return DecodeFailure::kOutOfMemory;
  if (rows != h) return DecodeFailure::kNotAPicture;
  // Non-square pixels: the frame as it is shown.
  std::uint32_t shownWidth = std::uint32_t(w);
  const AVRational sar = c.first->sample_aspect_ratio;
  if (sar.num > 0 && sar.den > 0 && sar.num != sar.den)
    shownWidth = std::uint32_t(std::max<std::int64_t>(1, std::int64_t(w) * sar.num / sar.den));
  if (shownWidth != std::uint32_t(w))
    image = image.scaled(int(shownWidth), h, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
  DecodedImage out = PictureOf(std::move(image), shownWidth, std::uint32_t(h), maxSide);
  out.video = true;
  out.frames = frames;
  out.damaged = damaged;
  return out;
}
#endif

}  // namespace

DecodeOutcome DecodeMedia(ByteSpan data, std::uint32_t maxSide) {
#ifdef AMBREL_HAVE_LIBHEIF
  if (IsHeif(data)) return DecodeHeif(data, maxSide);
#endif
#ifdef AMBREL_HAVE_LIBRAW
  if (IsRawCandidate(data)) {
    DecodeOutcome raw = DecodeRawPreview(data, maxSide);
    if (raw) return raw;
  }
#endif
#ifdef AMBREL_HAVE_FFMPEG
  if (IsVideoCandidate(data)) return DecodeVideoFrame(MemoryInput{data, {}, std::int64_t(data.size()), 0}, maxSide);
#endif
  (void)data;
  (void)maxSide;
  return DecodeFailure::kNotAPicture;
}

DecodeOutcome DecodeVideoView(ByteSpan head, ByteSpan tail, std::uint64_t fileSize, std::uint32_t maxSide) {
#ifdef AMBREL_HAVE_FFMPEG
  // The parts must lie inside the file without overlapping (the request's
  // parser checked it; the helper checks again what it is handed).
  if (head.size() + tail.size() > fileSize || fileSize > std::uint64_t(INT64_MAX) || !IsVideoCandidate(head))
    return DecodeFailure::kNotAPicture;
  return DecodeVideoFrame(MemoryInput{head, tail, std::int64_t(fileSize), 0}, maxSide);
#else
  (void)head;
  (void)tail;
  (void)fileSize;
  (void)maxSide;
  return DecodeFailure::kNotAPicture;
#endif
}

}  // namespace ambrel::imaging
