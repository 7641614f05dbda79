#include "video/video_support.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace ambrel::test {

// Sized writes rather than push_back: g++ 12 warns falsely about inlined
// vector growth (GCC bug 106199).
void AppendBe32(Bytes& b, std::uint32_t v) {
  const std::size_t at = b.size();
  b.resize(at + 4);
  PutBe32(b, at, v);
}
void AppendBe16(Bytes& b, std::uint16_t v) {
  const std::size_t at = b.size();
  b.resize(at + 2);
  b[at] = static_cast<std::uint8_t>(v >> 8);
  b[at + 1] = static_cast<std::uint8_t>(v);
}
void PutBe32(Bytes& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (24 - 8 * i));
}

Bytes Atom(const char* type, const Bytes& payload) {
  Bytes b(payload.size() + 8);
  PutBe32(b, 0, static_cast<std::uint32_t>(payload.size() + 8));
  std::memcpy(b.data() + 4, type, 4);
  if (!payload.empty()) std::memcpy(b.data() + 8, payload.data(), payload.size());
  return b;
}

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

namespace {

Bytes Zeros(std::size_t n) { return Bytes(n, 0); }

Bytes Header(std::uint32_t creation, std::uint32_t scale, std::uint32_t duration, std::size_t rest) {
  Bytes p;
  AppendBe32(p, 0);  // version 0, flags
  AppendBe32(p, creation);
  AppendBe32(p, creation);
  AppendBe32(p, scale);
  AppendBe32(p, duration);
  p.resize(p.size() + rest, 0);
  return p;
}

Bytes Handler(const char* type) {
  Bytes p;
  AppendBe32(p, 0);
  AppendBe32(p, 0);
  p.insert(p.end(), type, type + 4);
  p.resize(p.size() + 12, 0);
  p.push_back(0);
  return p;
}

// A full atom's payload: version and flags, an entry count, the entries.
Bytes Table(std::uint32_t entries, const std::vector<std::uint32_t>& words) {
  Bytes p;
  AppendBe32(p, 0);
  AppendBe32(p, entries);
  for (std::uint32_t w : words) AppendBe32(p, w);
  return p;
}

Bytes SampleSizes(const std::vector<std::uint32_t>& sizes) {
  Bytes p;
  AppendBe32(p, 0);
  AppendBe32(p, 0);  // no common size
  AppendBe32(p, static_cast<std::uint32_t>(sizes.size()));
  for (std::uint32_t s : sizes) AppendBe32(p, s);
  return p;
}

Bytes ChunkOffsets(const std::vector<std::uint64_t>& offsets, bool co64) {
  Bytes p;
  AppendBe32(p, 0);
  AppendBe32(p, static_cast<std::uint32_t>(offsets.size()));
  for (std::uint64_t o : offsets) {
    if (co64) AppendBe32(p, static_cast<std::uint32_t>(o >> 32));
    AppendBe32(p, static_cast<std::uint32_t>(o));
  }
  return p;
}

Bytes VideoDescription() {
  Bytes entry(78, 0);  // the visual sample entry after its header
  Bytes avcc = {1, 0x64, 0, 0x1F, 0xFF, 0xE0, 0};
  Bytes avc1 = Atom("avc1", Concat({entry, Atom("avcC", avcc)}));
  Bytes p;
  AppendBe32(p, 0);
  AppendBe32(p, 1);
  return Concat({p, avc1});
}

Bytes AudioDescription() {
  Bytes entry(28, 0);
  Bytes p;
  AppendBe32(p, 0);
  AppendBe32(p, 1);
  return Concat({p, Atom("ac-3", Concat({entry, Atom("dac3", {0x10, 0x3D, 0xC0})}))});
}

Bytes Track(const char* handler, const Bytes& description, const std::vector<std::uint64_t>& offsets,
            const std::vector<std::uint32_t>& sizes, bool co64) {
  const Bytes stbl = Atom("stbl", Concat({Atom("stsd", description), Atom("stts", Table(1, {1, 1000})),
                                          Atom("stsc", Table(1, {1, 1, 1})), Atom("stsz", SampleSizes(sizes)),
                                          Atom(co64 ? "co64" : "stco", ChunkOffsets(offsets, co64))}));
  const Bytes minf = Atom("minf", Concat({Atom("dinf", Atom("dref", Table(0, {}))), stbl}));
  const Bytes mdia = Atom("mdia", Concat({Atom("mdhd", Header(0, 1000, 2000, 4)), Atom("hdlr", Handler(handler)), minf}));
  return Atom("trak", Concat({Atom("tkhd", Zeros(84)), mdia}));
}

// 192 kbit/s at 48 kHz: frame size code 20, 384 words.
Bytes Ac3Frame(std::mt19937& rng) {
  Bytes f(768);
  for (auto& b : f) b = static_cast<std::uint8_t>(rng() % 255 + 1);
  f[0] = 0x0B;
  f[1] = 0x77;
  f[4] = 20;
  return f;
}

}  // namespace

Bytes NoiseWithoutZeros(std::size_t n, std::uint32_t seed) {
  std::mt19937 rng(seed);
  Bytes out(n);
  for (auto& b : out) b = static_cast<std::uint8_t>(rng() % 255 + 1);
  return out;
}

Bytes MakeMoov(const std::vector<std::uint64_t>& videoOffsets, const std::vector<std::uint32_t>& videoSizes,
               const std::vector<std::uint64_t>& audioOffsets, std::uint32_t audioSize, std::uint32_t creation,
               bool co64) {
  Bytes body = Atom("mvhd", Header(creation, 1000, 5000, 80));
  body = Concat({body, Track("vide", VideoDescription(), videoOffsets, videoSizes, co64)});
  if (!audioOffsets.empty()) {
    std::vector<std::uint32_t> sizes(audioOffsets.size(), audioSize);
    body = Concat({body, Track("soun", AudioDescription(), audioOffsets, sizes, co64)});
  }
  return Atom("moov", body);
}

QuickTimeClip MakeQuickTimeClip(const ClipShape& shape) {
  std::mt19937 rng(shape.seed);
  std::vector<Bytes> video, audio;
  for (int i = 0; i < shape.videoSamples; ++i) {
    const std::uint32_t size = shape.minSample + rng() % (shape.maxSample - shape.minSample + 1);
    Bytes s;
    if (shape.delimiters) {
      AppendBe32(s, 2);
      s.push_back(0x09);
      s.push_back(0xF0);
    }
    const std::uint32_t slice = size - static_cast<std::uint32_t>(s.size()) - 4;
    AppendBe32(s, slice);
    Bytes payload = NoiseWithoutZeros(slice, shape.seed * 7919u + static_cast<std::uint32_t>(i));
    payload[0] = i == 0 ? 0x65 : 0x41;
    s.insert(s.end(), payload.begin(), payload.end());
    video.push_back(std::move(s));
    if (shape.audio) audio.push_back(Ac3Frame(rng));
  }
  const Bytes ftyp = Atom("ftyp", Bytes{'i', 's', 'o', 'm', 0, 0, 2, 0, 'i', 's', 'o', 'm', 'm', 'p', '4', '1'});
  const Bytes free = Atom("free", {});
  QuickTimeClip clip;
  // The moov's size does not depend on the offsets' values: build it once
  // with placeholders to know where the media starts.
  std::vector<std::uint64_t> vOff(video.size(), 0), aOff(audio.size(), 0);
  std::vector<std::uint32_t> vSize;
  for (const Bytes& v : video) vSize.push_back(static_cast<std::uint32_t>(v.size()));
  const std::size_t moovSize = MakeMoov(vOff, vSize, aOff, 768, shape.creation).size();
  std::uint64_t at = ftyp.size() + free.size() + (shape.moovAtFront ? moovSize : 0) + 8;
  Bytes media;
  for (std::size_t i = 0; i < video.size(); ++i) {
    vOff[i] = at + media.size();
    media.insert(media.end(), video[i].begin(), video[i].end());
    if (i < audio.size()) {
      aOff[i] = at + media.size();
      media.insert(media.end(), audio[i].begin(), audio[i].end());
    }
  }
  const Bytes moov = MakeMoov(vOff, vSize, aOff, 768, shape.creation);
  Bytes mdatHeader;
  AppendBe32(mdatHeader, static_cast<std::uint32_t>(media.size() + 8));
  mdatHeader.insert(mdatHeader.end(), {'m', 'd', 'a', 't'});
  if (shape.moovAtFront) {
    clip.moovOffset = ftyp.size();
    clip.file = Concat({ftyp, moov, free, mdatHeader, media});
  } else {
    clip.file = Concat({ftyp, free, mdatHeader, media});
    clip.moovOffset = clip.file.size();
    clip.file = Concat({clip.file, moov});
  }
  // The first sample offsets must agree with the layout chosen.
  if (shape.moovAtFront && vOff.front() != ftyp.size() + moov.size() + free.size() + 8)
    throw std::logic_error("moov size changed");
  clip.moovSize = static_cast<std::uint32_t>(moov.size());
  clip.videoOffsets = vOff;
  clip.videoSizes = vSize;
  clip.audioOffsets = aOff;
  return clip;
}

void Lay(Bytes& disk, const Bytes& file, std::uint64_t cluster, const std::vector<Piece>& pieces) {
  for (const Piece& p : pieces) {
    const std::uint64_t from = p.fileCluster * cluster;
    if (from >= file.size()) continue;
    const std::uint64_t length = std::min<std::uint64_t>(p.clusters * cluster, file.size() - from);
    const std::uint64_t to = p.diskCluster * cluster;
    if (to + length > disk.size()) throw std::logic_error("piece past the disk");
    std::memcpy(disk.data() + to, file.data() + from, length);
  }
}

Bytes MakeTransportStream(std::uint32_t packets, std::uint32_t clock, std::uint32_t step, std::uint32_t seed,
                          std::uint32_t audioEvery) {
  std::mt19937 rng(seed);
  Bytes out;
  out.reserve(std::size_t{packets} * 192);
  std::uint8_t pat = 0, video = 0, audio = 0;
  for (std::uint32_t k = 0; k < packets; ++k) {
    AppendBe32(out, (clock + k * step) & 0x3FFFFFFF);
    std::uint16_t pid;
    std::uint8_t counter;
    if (k % 500 == 0) {
      pid = 0;
      counter = pat++;
    } else if (k % audioEvery == 3) {
      pid = 0x1100;
      counter = audio++;
    } else {
      pid = 0x1011;
      counter = video++;
    }
    out.push_back(0x47);
    out.push_back(static_cast<std::uint8_t>((k == 0 ? 0x40 : 0x00) | (pid >> 8)));
    out.push_back(static_cast<std::uint8_t>(pid));
    out.push_back(static_cast<std::uint8_t>(0x10 | (counter & 15)));
    for (int i = 0; i < 184; ++i) out.push_back(static_cast<std::uint8_t>(rng() % 0x46 + 1));
  }
  return out;
}

}  // namespace ambrel::test
