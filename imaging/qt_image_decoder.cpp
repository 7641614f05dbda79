#include "qt_image_decoder.h"

#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <QImageReader>
#include <QString>
#include <QTransform>
#include <algorithm>
#include <cstring>

namespace ambrel::imaging {

namespace {

bool StartsWith(ByteSpan d, std::initializer_list<std::uint8_t> sig) {
  return d.size() >= sig.size() && std::equal(sig.begin(), sig.end(), d.begin());
}

// The data without the zeros a carved or cluster-padded file ends with.
ByteSpan TrimZeros(ByteSpan d) {
  std::size_t n = d.size();
  while (n > 0 && d[n - 1] == 0) --n;
  return d.first(n);
}

bool EndsWith(ByteSpan d, std::initializer_list<std::uint8_t> tail) {
  return d.size() >= tail.size() && std::equal(tail.begin(), tail.end(), d.end() - tail.size());
}

bool ContainsNear(ByteSpan d, std::string_view needle, std::size_t window) {
  const std::size_t from = d.size() > window ? d.size() - window : 0;
  const auto* begin = reinterpret_cast<const char*>(d.data()) + from;
  return std::string_view(begin, d.size() - from).find(needle) != std::string_view::npos;
}

// The reader refused the picture for the memory it would take.
bool AllocationRefused(const QImageReader& reader) {
  return reader.errorString().contains(QStringLiteral("llocation"), Qt::CaseInsensitive);
}

}  // namespace

bool PictureCutShort(ByteSpan data) {
  const ByteSpan d = TrimZeros(data);
  if (StartsWith(data, {0xFF, 0xD8})) return !ContainsNear(d, "\xFF\xD9", 4096);
  if (StartsWith(data, {0x89, 'P', 'N', 'G'})) return !ContainsNear(d, "IEND", 4096);
  if (StartsWith(data, {'G', 'I', 'F', '8'})) return !EndsWith(d, {0x3B});
  return false;
}

DecodeOutcome QuickPicture(ByteSpan data, std::uint32_t maxSide) {
  QtImageDecoder qt;
  const ByteSpan thumb = ExifThumbnail(data);
  if (!thumb.empty()) {
    QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(data.data()), qsizetype(data.size()));
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader whole(&buffer);
    whole.setAutoTransform(true);
    const QSize stored = whole.size();
    QByteArray thumbBytes =
        QByteArray::fromRawData(reinterpret_cast<const char*>(thumb.data()), qsizetype(thumb.size()));
    QBuffer thumbBuffer(&thumbBytes);
    thumbBuffer.open(QIODevice::ReadOnly);
    QImageReader small(&thumbBuffer);
    small.setAllocationLimit(kAllocationLimitMiB);
    QImage image;
    const QSize thumbSize = small.size();
    // A thumbnail is a few hundred pixels at most; anything larger is not one.
    if (stored.isValid() && !stored.isEmpty() && thumbSize.isValid() && thumbSize.width() <= 1024 &&
        thumbSize.height() <= 1024 && small.read(&image) && !image.isNull()) {
      // The thumbnail is stored as the picture is: turned as the picture's
      // own orientation says (the order of Qt's own transformation).
      const QImageIOHandler::Transformations turn = whole.transformation();
      if (turn == QImageIOHandler::TransformationRotate270) {
        image = image.transformed(QTransform().rotate(270));
      } else {
        image = image.mirrored(turn & QImageIOHandler::TransformationMirror,
                               turn & QImageIOHandler::TransformationFlip);
        if (turn & QImageIOHandler::TransformationRotate90) image = image.transformed(QTransform().rotate(90));
      }
      const QSize shown = turn & QImageIOHandler::TransformationRotate90 ? stored.transposed() : stored;
      if (std::uint64_t(stored.width()) * std::uint64_t(stored.height()) > kMaxPixels) return DecodeFailure::kTooLarge;
      // Shown at the size a decode of the whole picture to fit would have,
      // so that the pane does not jump when the whole picture replaces it.
      if (maxSide != 0) {
        const QSize fit = shown.scaled(int(maxSide), int(maxSide), Qt::KeepAspectRatio).boundedTo(shown);
        image = image.scaled(fit.expandedTo(QSize(1, 1)), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
      }
      return PictureOf(std::move(image), std::uint32_t(shown.width()), std::uint32_t(shown.height()), maxSide);
    }
  }
  return qt.Decode(data, maxSide);
}

DecodeOutcome QtImageDecoder::Decode(ByteSpan data, std::uint32_t maxSide) {
  if (data.empty() || data.size() > std::size_t(INT32_MAX)) return DecodeFailure::kNotAPicture;
  QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(data.data()), qsizetype(data.size()));
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::ReadOnly);
  QImageReader reader(&buffer);
  reader.setAllocationLimit(kAllocationLimitMiB);
  reader.setAutoTransform(true);
  const QSize stored = reader.size();
  if (!stored.isValid() || stored.isEmpty()) return DecodeFailure::kNotAPicture;
  // A decompression bomb states its size in its header: refuse it there.
  if (std::uint64_t(stored.width()) * std::uint64_t(stored.height()) > kMaxPixels) return DecodeFailure::kTooLarge;
  if (maxSide != 0 && (std::uint32_t(stored.width()) > maxSide || std::uint32_t(stored.height()) > maxSide)) {
    QSize scaled = stored.scaled(int(maxSide), int(maxSide), Qt::KeepAspectRatio);
    reader.setScaledSize(scaled.expandedTo(QSize(1, 1)));
  }
  QImage image;
  if (!reader.read(&image) || image.isNull())
    return reader.error() == QImageReader::InvalidDataError && image.isNull() && AllocationRefused(reader)
               ? DecodeFailure::kTooLarge
               : DecodeFailure::kNotAPicture;
  // The size as stored, turned as the picture is shown (EXIF orientation).
  const QSize shown = reader.transformation() & QImageIOHandler::TransformationRotate90 ? stored.transposed() : stored;
  DecodedImage out = PictureOf(std::move(image), std::uint32_t(shown.width()), std::uint32_t(shown.height()), maxSide);
  out.damaged = PictureCutShort(data);
  return out;
}

DecodedImage PictureOf(QImage image, std::uint32_t sourceWidth, std::uint32_t sourceHeight, std::uint32_t maxSide) {
  if (maxSide != 0 && (std::uint32_t(image.width()) > maxSide || std::uint32_t(image.height()) > maxSide))
    image = image.scaled(int(maxSide), int(maxSide), Qt::KeepAspectRatio, Qt::SmoothTransformation);
  image = image.convertToFormat(QImage::Format_ARGB32);
  DecodedImage out;
  out.sourceWidth = sourceWidth;
  out.sourceHeight = sourceHeight;
  out.width = std::uint32_t(image.width());
  out.height = std::uint32_t(image.height());
  out.pixels.resize(std::size_t(out.width) * out.height);
  for (std::uint32_t y = 0; y < out.height; ++y)
    std::memcpy(out.pixels.data() + std::size_t(y) * out.width, image.constScanLine(int(y)),
                std::size_t(out.width) * 4);
  return out;
}

}  // namespace ambrel::imaging
