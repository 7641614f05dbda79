// The preview's figures, on a FAT32 image made with mkfs.vfat and mtools:
// the time from the request to the preview of a 10 MB JPEG (read through
// the copy-out's reader on the loader thread and decoded for the pane), and
// a folder of photos: the time until the loader has made every thumbnail,
// and the memory each thumbnail costs (resident set growth, and its pixels).
//   build/bench/ui/bench_preview_first [PHOTOS] [RUNS]
// The 10 MB JPEG is timed twice: as a picture editor saves it (no EXIF
// thumbnail) and as a camera does (with its 160 x 120 EXIF thumbnail, added
// with exiftool when it is installed). Besides the wall clock, which a
// loaded machine stretches, each figure gives the CPU time the loader's
// process and the decoding helper spent on it.
// The interface thread only queues requests, so neither figure blocks the
// window; the first one is what a click on the photo waits for.
#include <QGuiApplication>
#include <QImage>
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <random>
#include <string>
#include <ctime>
#include <unistd.h>
#include <vector>

#include "app/settings.h"
#include "catalog/found_file_catalog.h"
#include "catalog/node_table.h"
#include "face_decoder.h"
#include "platform/bounded_child.h"
#include "preview/isolated_decoder.h"
#include "qt_image_decoder.h"
#include "session/preview_service.h"
#include "session/source_session.h"

namespace {

using namespace ambrel;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

std::uint64_t ResidentBytes() {
  std::ifstream statm("/proc/self/statm");
  std::uint64_t size = 0, resident = 0;
  statm >> size >> resident;
  return resident * std::uint64_t(sysconf(_SC_PAGESIZE));
}

double CpuMs() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

double Ms(Clock::time_point since) { return std::chrono::duration<double, std::milli>(Clock::now() - since).count(); }

// A photo-like picture: gradients with noise, so the JPEG is as large as a
// camera's at that size.
QImage Photo(int width, int height, unsigned seed) {
  QImage image(width, height, QImage::Format_RGB32);
  std::mt19937 random(seed);
  for (int y = 0; y < height; ++y) {
    auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
    for (int x = 0; x < width; ++x) {
      const unsigned noise = random() & 0x3F;
      line[x] = qRgb((x * 255 / width + noise) & 0xFF, (y * 255 / height + noise) & 0xFF, (noise * 3) & 0xFF);
    }
  }
  return image;
}

std::uint32_t FindByName(const PartitionInfo& part, const std::string& name) {
  for (std::uint32_t id = 0; id < part.table.count; ++id) {
    const FoundFileNode* node = NodeAt(part.table, id);
    if (node && node->name && name == node->name) return id;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QGuiApplication app(argc, argv);
  const int photos = argc > 1 ? std::max(1, std::atoi(argv[1])) : 1000;
  const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
  std::string tmpl = (fs::temp_directory_path() / "ambrel-bench-preview-XXXXXX").string();
  if (!mkdtemp(tmpl.data())) {
    std::fprintf(stderr, "cannot make a folder in %s\n", fs::temp_directory_path().c_str());
    return 1;
  }
  const fs::path dir = tmpl;
  fs::create_directories(dir / "photos");

  if (!Photo(4000, 3000, 1).save(QString::fromStdString((dir / "big.jpg").string()), "JPEG", 95) ||
      !Photo(1024, 768, 2).save(QString::fromStdString((dir / "photos" / "p0.jpg").string()), "JPEG", 90)) {
    std::fprintf(stderr, "cannot write JPEG files (Qt's JPEG plugin)\n");
    return 1;
  }
  for (int i = 1; i < photos; ++i)
    fs::copy_file(dir / "photos" / "p0.jpg", dir / "photos" / ("p" + std::to_string(i) + ".jpg"));
  // The camera's copy: the same picture with an EXIF thumbnail.
  fs::copy_file(dir / "big.jpg", dir / "camera.jpg");
  bool cameraCopy = false;
  if (Photo(4000, 3000, 1).scaled(160, 120).save(QString::fromStdString((dir / "thumb.jpg").string()), "JPEG", 85)) {
    const std::string add = "exiftool -q -overwrite_original '-ThumbnailImage<=" + (dir / "thumb.jpg").string() +
                            "' '" + (dir / "camera.jpg").string() + "' >/dev/null 2>&1";
    cameraCopy = std::system(add.c_str()) == 0;
  }
  if (!cameraCopy) fs::remove(dir / "camera.jpg");
  const std::uint64_t bigBytes = fs::file_size(dir / "big.jpg");
  const std::uint64_t smallBytes = fs::file_size(dir / "photos" / "p0.jpg");
  const std::uint64_t imageMiB = 64 + (3 * bigBytes + smallBytes * photos) * 12 / 10 / (1 << 20);
  const std::string img = (dir / "fat32.img").string();
  const std::string make = "truncate -s " + std::to_string(imageMiB) + "M '" + img + "' && mkfs.vfat -F 32 '" + img +
                           "' >/dev/null && MTOOLS_SKIP_CHECK=1 mcopy -s -i '" + img + "' '" + (dir / "big.jpg").string() + "' " +
                           (cameraCopy ? "'" + (dir / "camera.jpg").string() + "' " : std::string()) + "'" +
                           (dir / "photos").string() + "' ::/";
  if (std::system(make.c_str()) != 0) {
    std::fprintf(stderr, "cannot make the FAT32 image (mkfs.vfat, mcopy)\n");
    return 1;
  }

  SetSettingsLoaded(true);
  OverrideSetting("ParseFileSys", "1");
  std::unique_ptr<SourceSession> source = SourceSession::Open(img);
  if (!source) {
    std::fprintf(stderr, "cannot open %s\n", img.c_str());
    return 1;
  }
  FoundFileCatalog catalog;
  catalog.Reset(nullptr, false);
  source->ListInto(catalog, 0, ListScope::kAll);
  const std::uint32_t slot = kFirstPartitionSlot;
  const PartitionInfo* part = catalog.Partition(slot);
  if (!part) {
    std::fprintf(stderr, "the volume was not listed\n");
    return 1;
  }
  const std::uint32_t bigId = FindByName(*part, "big.jpg");
  const std::uint32_t cameraId = cameraCopy ? FindByName(*part, "camera.jpg") : 0;
  std::vector<std::uint32_t> photoIds;
  for (int i = 0; i < photos; ++i)
    if (std::uint32_t id = FindByName(*part, "p" + std::to_string(i) + ".jpg")) photoIds.push_back(id);
  if (!bigId || photoIds.size() != static_cast<std::size_t>(photos)) {
    std::fprintf(stderr, "the listing lacks the photos\n");
    return 1;
  }

  // As the faces decode: in the helper process.
  const std::unique_ptr<ImageDecoder> helper = imaging::MakeFaceDecoder();
  imaging::QtImageDecoder inProcess;
  PreviewService service(catalog, helper.get());
  std::mutex lock;
  std::condition_variable changed;
  std::uint64_t lastSerial = 0, firstSerial = 0;
  bool pictureShown = false;
  std::size_t thumbnails = 0;
  service.OnPreview([&](const PreviewResult& r) {
    std::lock_guard<std::mutex> guard(lock);
    firstSerial = r.request.serial;  // the provisional picture, or the whole one
    if (!r.provisional) lastSerial = r.request.serial;
    pictureShown = r.picture.has_value();
    changed.notify_all();
  });
  service.OnThumbnail([&](std::uint32_t, std::uint32_t) {
    std::lock_guard<std::mutex> guard(lock);
    ++thumbnails;
    changed.notify_all();
  });
  service.Start();

  auto* isolated = dynamic_cast<IsolatedDecoder*>(helper.get());
  // CPU time of this process and of the helper (while it stays the same one).
  auto cpuNow = [&] {
    const int pid = isolated ? isolated->HelperPid(false) : 0;
    const std::optional<std::uint64_t> child = pid ? ProcessCpuMs(pid) : std::nullopt;
    return std::pair<double, double>(CpuMs(), child ? double(*child) : -1.0);
  };
  auto median = [](std::vector<double> v) {
    if (v.empty()) return 0.0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
  };
  auto timePreviews = [&](std::uint32_t id, const char* what) {
    std::vector<double> times, firsts, firstCpu, firstHelperCpu;
    for (int run = 0; run < runs; ++run) {
      const std::pair<double, double> cpu0 = cpuNow();
      const Clock::time_point start = Clock::now();
      const std::uint64_t serial = service.RequestPreview(slot, id);
      std::unique_lock<std::mutex> guard(lock);
      changed.wait(guard, [&] { return firstSerial == serial; });
      firsts.push_back(Ms(start));
      const std::pair<double, double> cpu1 = cpuNow();
      firstCpu.push_back(cpu1.first - cpu0.first);
      if (cpu0.second >= 0 && cpu1.second >= cpu0.second) firstHelperCpu.push_back(cpu1.second - cpu0.second);
      changed.wait(guard, [&] { return lastSerial == serial; });
      times.push_back(Ms(start));
      if (!pictureShown) std::fprintf(stderr, "the photo was not decoded\n");
    }
    std::printf("%s: first picture (to fit %u px) median of %d %.1f ms (CPU: loader process %.1f ms, helper %.0f ms at "
                "10 ms ticks); whole preview: first %.1f ms, median %.1f ms\n",
                what, kQuickPictureSide, runs, median(firsts), median(firstCpu), median(firstHelperCpu), times.front(),
                median(times));
  };
  double load[3] = {};
  if (getloadavg(load, 3) == 3) std::printf("load average %.2f %.2f %.2f\n", load[0], load[1], load[2]);
  timePreviews(bigId, ("a " + std::to_string(bigBytes / 100000 / 10.0).substr(0, 4) +
                       " MB JPEG (4000 x 3000) without an EXIF thumbnail").c_str());
  if (cameraId) timePreviews(cameraId, "the same with a camera's EXIF thumbnail");
  else std::printf("(exiftool missing: no camera-like copy timed)\n");
  // Where the time goes: the decoding alone, from the bytes in memory.
  {
    std::ifstream in(dir / "big.jpg", std::ios::binary);
    std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    for (ImageDecoder* decoder : {static_cast<ImageDecoder*>(&inProcess), helper.get()}) {
      std::vector<double> decodes;
      for (int run = 0; run < runs; ++run) {
        const Clock::time_point at = Clock::now();
        decoder->Decode(ByteSpan(bytes.data(), bytes.size()), kPanePictureSide);
        decodes.push_back(Ms(at));
      }
      std::sort(decodes.begin(), decodes.end());
      std::printf("  of which the decoding to %u px %s: median %.1f ms\n", kPanePictureSide,
                  decoder == helper.get() ? "in the helper process" : "in-process", decodes[decodes.size() / 2]);
    }
  }

  const std::uint64_t before = ResidentBytes();
  const Clock::time_point start = Clock::now();
  for (std::uint32_t id : photoIds) service.RequestThumbnail(slot, id);
  const double queued = Ms(start);
  {
    std::unique_lock<std::mutex> guard(lock);
    changed.wait(guard, [&] { return thumbnails == photoIds.size(); });
  }
  const double made = Ms(start);
  const std::uint64_t after = ResidentBytes();
  std::uint64_t pixelBytes = 0;
  for (std::uint32_t id : photoIds)
    if (auto t = service.Thumbnail(slot, id)) pixelBytes += t->pixels.size() * sizeof(std::uint32_t);
  std::printf("%d thumbnails of %.0f KB photos (1024 x 768): queued in %.2f ms, all made in %.0f ms (%.1f ms each)\n",
              photos, smallBytes / 1e3, queued, made, made / photos);
  std::printf("memory per thumbnail: %.1f KB resident growth, %.1f KB of pixels\n",
              double(after > before ? after - before : 0) / photos / 1024.0, double(pixelBytes) / photos / 1024.0);
  service.Stop();
  std::error_code ec;
  fs::remove_all(dir, ec);
  return 0;
}
