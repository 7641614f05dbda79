#!/usr/bin/env python3
"""Camera cards for the fragmented-video tests.

A card is a FAT32 or exFAT image on which 1 to 4 camera clips were written
at the same time as each other (and as a low-resolution proxy), so that each clip
lies in 2 to 20 fragments, after which the volume was formatted again: only
a deep scan finds the clips. The clips are made with ffmpeg (libx264 with
AAC or AC-3 at camera bit rates; QuickTime and MP4 with the moov at the end
or at the front, M2TS with 192-byte packets). The ground truth is each
clip's MD5 and the clusters it was written to.

  video_cards.py pool  --pool DIR [--small]
  video_cards.py card  --pool DIR --seed N --image IMG [--small]
  video_cards.py check --image IMG --cli AMBREL_CLI --work DIR [--photorec]
  video_cards.py run   --pool DIR --work DIR --cli AMBREL_CLI --cards N [--small] [--photorec]
                       [--report FILE] [--min-exact PERCENT]

`run` makes each card, recovers it with `ambrel-cli recover IMG --mode 6
--set MovFragRecovery=1` (and `MtsFragRecovery=1` when the card holds M2TS
clips), checks every recording (MD5, a silent `ffmpeg -v error` decode,
the frame count) and that no output mixes two clips, counts what PhotoRec
recovers byte-exact from the same card, and prints one line per card and a
summary. Its exit status is 1 when fewer than --min-exact per cent of the
clips come back byte-exact, when a recording called verified is not
byte-exact, or when an output mixes two clips.
"""

import argparse
import hashlib
import json
import os
import random
import shutil
import struct
import subprocess
import sys
import tempfile

SECTOR = 512

# ---------------------------------------------------------------- clips

# (name, container, audio, video Mbit/s, seconds, access unit delimiters)
FULL_POOL = [
    ("c01", "mov", "aac", 8, 10, False),
    ("c02", "mov", "ac3", 12, 20, True),
    ("c03", "mp4", "aac", 16, 15, False),
    ("c04", "mp4", "ac3", 20, 12, False),
    ("c05", "mp4fast", "aac", 10, 25, False),
    ("c06", "m2ts", "ac3", 16, 14, False),
    ("c07", "m2ts", "aac", 10, 20, False),
    ("c08", "mov", "aac", 20, 40, True),
    ("c09", "mp4", "aac", 8, 60, False),
    ("c10", "m2ts", "ac3", 12, 30, False),
    ("c11", "mov", "ac3", 14, 30, False),
    ("c12", "mp4", "ac3", 18, 45, True),
    ("c13", "mov", "aac", 9, 18, False),
    ("c14", "m2ts", "aac", 20, 10, False),
    ("c15", "mp4fast", "ac3", 12, 16, False),
    ("c16", "mp4", "aac", 11, 22, False),
]
SMALL_POOL = [
    ("s01", "mov", "aac", 3, 3, False),
    ("s02", "mp4", "ac3", 4, 3, True),
    ("s03", "mp4fast", "aac", 3, 3, False),
    ("s04", "m2ts", "ac3", 4, 3, False),
    ("s05", "mov", "ac3", 4, 4, False),
    ("s06", "m2ts", "aac", 3, 4, False),
    ("s07", "mp4", "aac", 4, 4, False),
    ("s08", "mov", "aac", 3, 3, True),
]


def run(cmd, **kw):
    return subprocess.run(cmd, check=True, stdout=subprocess.PIPE, stderr=subprocess.PIPE, **kw)


def md5_of(path):
    h = hashlib.md5()
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(1 << 20), b""):
            h.update(block)
    return h.hexdigest()


def rewrite_arrival_times(path, seconds, seed):
    """ffmpeg 5.1 writes M2TS arrival times that step backwards; a camera's
    run forward on a 27 MHz clock. Rewrite them at the stream's mean rate."""
    data = bytearray(open(path, "rb").read())
    packets = len(data) // 192
    rate = len(data) * 8 / max(seconds, 1)
    start = random.Random(seed).randrange(1 << 28)
    for k in range(packets):
        ats = (start + round(k * 192 * 8 * 27e6 / rate)) & 0x3FFFFFFF
        data[k * 192:k * 192 + 4] = struct.pack(">I", ats)
    open(path, "wb").write(data)


def make_clip(spec, directory, small):
    name, container, audio, mbit, seconds, aud = spec
    ext = {"mov": "mov", "mp4": "mp4", "mp4fast": "mp4", "m2ts": "m2ts"}[container]
    path = os.path.join(directory, f"{name}.{ext}")
    if os.path.exists(path):
        return path
    size = "640x360" if small else "854x480"
    noise = 40 if not small else 30
    tone = 300 + 40 * int(name[1:])
    x264 = "aud=1" if aud else "aud=0"
    cmd = ["ffmpeg", "-v", "error", "-y",
           "-f", "lavfi", "-i", f"testsrc2=size={size}:rate=30,noise=alls={noise}:allf=t",
           "-f", "lavfi", "-i", f"sine=frequency={tone}:sample_rate=48000",
           "-t", str(seconds), "-c:v", "libx264", "-preset", "veryfast",
           "-b:v", f"{mbit}M", "-maxrate", f"{mbit + 2}M", "-bufsize", f"{mbit}M",
           "-x264-params", x264,
           "-c:a", audio, "-b:a", "192k", "-ac", "2"]
    if container == "mp4fast":
        cmd += ["-movflags", "faststart"]
    tmp = path + ".part." + ext
    run(cmd + [tmp])
    if container == "m2ts":
        rewrite_arrival_times(tmp, seconds, int(name[1:]))
    os.replace(tmp, path)
    return path


def clip_facts(path):
    """MD5, frame count and whether ffmpeg decodes it silently."""
    facts_path = path + ".json"
    if os.path.exists(facts_path):
        return json.load(open(facts_path))
    facts = {"md5": md5_of(path), "size": os.path.getsize(path),
             "frames": frame_count(path), "decodesClean": decodes_clean(path)}
    json.dump(facts, open(facts_path, "w"))
    return facts


def frame_count(path):
    r = subprocess.run(["ffprobe", "-v", "error", "-count_frames", "-select_streams", "v:0",
                        "-show_entries", "stream=nb_read_frames", "-of", "csv=p=0", path],
                       stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    for line in r.stdout.split():
        try:
            return int(line.split(",")[0])
        except ValueError:
            continue
    return -1


def decodes_clean(path):
    r = subprocess.run(["ffmpeg", "-v", "error", "-i", path, "-f", "null", "-"],
                       stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    return r.returncode == 0 and r.stderr.strip() == ""


PROXIES = 8


def make_proxies(directory, small):
    """The proxies a camera records beside its main clips: low-resolution
    H.264, one per clip, each different."""
    paths = []
    for k in range(1, PROXIES + 1):
        path = os.path.join(directory, f"p{k:02d}.mp4")
        paths.append(path)
        if os.path.exists(path):
            continue
        tmp = path + ".part.mp4"
        run(["ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i",
             f"testsrc2=size=320x180:rate=30,noise=alls=20:allf=t:all_seed={k}",
             "-f", "lavfi", "-i", f"sine=frequency={200 + 20 * k}:sample_rate=48000", "-t", "6" if small else "20",
             "-c:v", "libx264", "-preset", "veryfast", "-b:v", "1M", "-c:a", "aac", "-b:a", "64k", tmp])
        os.replace(tmp, path)
    return paths


def make_pool(directory, small):
    os.makedirs(directory, exist_ok=True)
    specs = SMALL_POOL if small else FULL_POOL
    paths = []
    for spec in specs:
        path = make_clip(spec, directory, small)
        clip_facts(path)
        paths.append(path)
    make_proxies(directory, small)
    return paths


# ---------------------------------------------------------------- volumes

class Volume:
    """A freshly formatted FAT32 or exFAT image: its geometry, the clusters
    in use, and the writing of files into it (data, FAT chains, directory
    entries and, for exFAT, the allocation bitmap)."""

    def __init__(self, image, fs):
        self.image = image
        self.fs = fs
        with open(image, "rb") as f:
            boot = f.read(512)
        if fs == "fat32":
            (bps,) = struct.unpack_from("<H", boot, 11)
            self.spc = boot[13]
            (reserved,) = struct.unpack_from("<H", boot, 14)
            fats = boot[16]
            (total,) = struct.unpack_from("<I", boot, 32)
            (fat_size,) = struct.unpack_from("<I", boot, 36)
            (self.root,) = struct.unpack_from("<I", boot, 44)
            assert bps == SECTOR
            self.fat_offsets = [(reserved + i * fat_size) * SECTOR for i in range(fats)]
            self.heap = (reserved + fats * fat_size) * SECTOR
            self.cluster = self.spc * SECTOR
            self.count = (total - reserved - fats * fat_size) // self.spc
            self.fat_bytes = fat_size * SECTOR
        else:
            fat_offset, fat_length, heap, count, root = struct.unpack_from("<IIIII", boot, 80)
            assert boot[108] == 9
            self.cluster = SECTOR << boot[109]
            self.fat_offsets = [fat_offset * SECTOR]
            self.heap = heap * SECTOR
            self.count = count
            self.root = root
            self.fat_bytes = fat_length * SECTOR
        self.used = self._used_clusters()
        self.entries = []  # directory entries still to write

    def offset_of(self, cluster):
        return self.heap + (cluster - 2) * self.cluster

    def _fat(self):
        with open(self.image, "rb") as f:
            f.seek(self.fat_offsets[0])
            return f.read(self.fat_bytes)

    def _used_clusters(self):
        fat = self._fat()
        used = set()
        for c in range(2, self.count + 2):
            (v,) = struct.unpack_from("<I", fat, 4 * c)
            if self.fs == "fat32":
                v &= 0x0FFFFFFF
            if v != 0:
                used.add(c)
        if self.fs == "exfat":
            # The bitmap, the up-case table and the root may be contiguous
            # without FAT chains: the allocation bitmap says what is used.
            bitmap_cluster, bitmap_size = self._exfat_bitmap_entry()
            with open(self.image, "rb") as f:
                f.seek(self.offset_of(bitmap_cluster))
                bits = f.read(bitmap_size)
            for c in range(2, self.count + 2):
                if bits[(c - 2) // 8] >> ((c - 2) % 8) & 1:
                    used.add(c)
            self.bitmap = (bitmap_cluster, bitmap_size)
        return used

    def _exfat_bitmap_entry(self):
        with open(self.image, "rb") as f:
            f.seek(self.offset_of(self.root))
            root = f.read(self.cluster)
        for i in range(0, len(root), 32):
            if root[i] == 0x81:
                (first,) = struct.unpack_from("<I", root, i + 20)
                (size,) = struct.unpack_from("<Q", root, i + 24)
                return first, size
        raise RuntimeError("exFAT root without an allocation bitmap")

    def free_clusters(self):
        return [c for c in range(2, self.count + 2) if c not in self.used]

    def write_file(self, name, data, clusters):
        """Writes `data` into `clusters` (in file order) and records the
        file's chain and directory entry."""
        with open(self.image, "r+b") as f:
            for k, c in enumerate(clusters):
                piece = data[k * self.cluster:(k + 1) * self.cluster]
                f.seek(self.offset_of(c))
                f.write(piece)
        self.used.update(clusters)
        self.entries.append((name, len(data), clusters))

    def finish(self):
        with open(self.image, "r+b") as f:
            for name, size, clusters in self.entries:
                end = 0x0FFFFFFF if self.fs == "fat32" else 0xFFFFFFFF
                for k, c in enumerate(clusters):
                    nxt = clusters[k + 1] if k + 1 < len(clusters) else end
                    for base in self.fat_offsets:
                        f.seek(base + 4 * c)
                        f.write(struct.pack("<I", nxt))
            if self.fs == "fat32":
                self._fat32_entries(f)
            else:
                self._exfat_entries(f)

    def _fat32_entries(self, f):
        f.seek(self.offset_of(self.root))
        root = bytearray(f.read(self.cluster))
        slot = 0
        for i, (name, size, clusters) in enumerate(self.entries):
            while root[slot * 32] not in (0x00, 0xE5):
                slot += 1
            base, ext = name.upper().split(".")
            short = (base[:8].ljust(8) + ext[:3].ljust(3)).encode("ascii")
            entry = bytearray(32)
            entry[0:11] = short
            entry[11] = 0x20
            struct.pack_into("<H", entry, 20, clusters[0] >> 16)
            struct.pack_into("<H", entry, 26, clusters[0] & 0xFFFF)
            struct.pack_into("<I", entry, 28, size)
            root[slot * 32:slot * 32 + 32] = entry
            slot += 1
        f.seek(self.offset_of(self.root))
        f.write(root)

    @staticmethod
    def _rotate_sum(data, skip=()):
        c = 0
        for i, b in enumerate(data):
            if i in skip:
                continue
            c = (((c << 15) | (c >> 1)) + b) & 0xFFFF
        return c

    def _exfat_entries(self, f):
        f.seek(self.offset_of(self.root))
        root = bytearray(f.read(self.cluster))
        slot = 0
        for name, size, clusters in self.entries:
            units = name.encode("utf-16-le")
            assert len(name) <= 15
            upper = name.upper().encode("utf-16-le")
            entries = bytearray(96)
            entries[0] = 0x85
            entries[1] = 2
            struct.pack_into("<H", entries, 4, 0x20)
            stream = memoryview(entries)[32:64]
            stream[0] = 0xC0
            stream[1] = 0x01  # allocation possible, FAT chain in use
            stream[3] = len(name)
            struct.pack_into("<H", stream, 4, self._rotate_sum(upper))
            struct.pack_into("<Q", stream, 8, size)
            struct.pack_into("<I", stream, 20, clusters[0])
            struct.pack_into("<Q", stream, 24, size)
            entries[64] = 0xC1
            entries[66:66 + len(units)] = units
            struct.pack_into("<H", entries, 2, self._rotate_sum(entries, skip=(2, 3)))
            while any(root[(slot + k) * 32] & 0x80 for k in range(3)):
                slot += 1
            root[slot * 32:slot * 32 + 96] = entries
            slot += 3
        f.seek(self.offset_of(self.root))
        f.write(root)
        # The allocation bitmap.
        first, size = self.bitmap
        f.seek(self.offset_of(first))
        bits = bytearray(f.read(size))
        for c in self.used:
            bits[(c - 2) // 8] |= 1 << ((c - 2) % 8)
        f.seek(self.offset_of(first))
        f.write(bits)


def format_volume(image, fs, cluster):
    if fs == "fat32":
        run(["mkfs.vfat", "-F", "32", "-s", str(cluster // SECTOR), image])
    else:
        run(["mkfs.exfat", "-c", f"{cluster // 1024}K", image])


def fat32_image_bytes(cluster, need):
    # A FAT32 volume needs at least 65525 clusters.
    return max(need, (65525 + 256) * cluster + (16 << 20))


def make_card(pool, seed, image, small, keep_fs=False, size_gib=0):
    """Writes the card `image` and returns its ground truth."""
    rng = random.Random(seed)
    specs = SMALL_POOL if small else FULL_POOL
    paths = make_pool(pool, small)
    fs = "exfat" if seed % 2 == 0 else "fat32"
    cluster = rng.choice([32768, 65536, 131072] if fs == "exfat" else [32768, 65536])
    if size_gib:
        # A full card for the benchmark: the pool's clips again and again
        # (as separate files) until about 80 % of the card is written.
        image_bytes = size_gib << 30
        clips, total, k = [], 0, 0
        while total < image_bytes * 0.8:
            path = paths[k % len(paths)]
            data = open(path, "rb").read()
            base, ext = os.path.basename(path).split(".")
            clips.append((f"{base}{k // len(paths)}.{ext}", data))
            total += len(data)
            k += 1
    else:
        count = rng.randint(1, 4)
        chosen = rng.sample(range(len(specs)), count)
        clips = [(os.path.basename(paths[i]), open(paths[i], "rb").read()) for i in chosen]
        need = sum(len(d) for _, d in clips)
        image_bytes = (need * 3 // 2 + (64 << 20)) // (1 << 20) * (1 << 20)
    if fs == "fat32":
        image_bytes = fat32_image_bytes(cluster, image_bytes)
    if os.path.exists(image):
        os.remove(image)
    with open(image, "wb") as f:
        f.truncate(image_bytes)
    format_volume(image, fs, cluster)
    vol = Volume(image, fs)

    # Each clip is cut into its fragments' cluster runs; the runs of all
    # clips are written in an interleaved order, and a low-resolution proxy
    # stream takes the runs between two runs of one clip.
    # A camera writes each stream in units of at least 256 KiB.
    max_pieces = 6 if small else 20
    unit = max(1, (256 << 10) // vol.cluster)
    runs = []
    for index, (name, data) in enumerate(clips):
        n = -(-len(data) // vol.cluster)
        units = max(2, n // unit)
        pieces = max(2, min(rng.randint(2, max_pieces), units))
        cuts = sorted(rng.sample(range(1, units), pieces - 1))
        bounds = [0] + [c * unit for c in cuts] + [n]
        runs.append([bounds[k + 1] - bounds[k] for k in range(pieces)])
    order = []
    remaining = [list(r) for r in runs]
    last = None
    while any(remaining):
        choices = [i for i, r in enumerate(remaining) if r and i != last]
        if not choices:
            order.append(("proxy", unit * rng.randint(1, 4)))
            last = None
            continue
        i = rng.choice(choices)
        order.append((i, remaining[i].pop(0)))
        last = i
    free = vol.free_clusters()
    cursor = 0
    placed = [[] for _ in clips]
    proxy = []
    for who, length in order:
        taken = free[cursor:cursor + length]
        cursor += length
        if who == "proxy":
            proxy.extend(taken)
        else:
            placed[who].extend(taken)
    truth = {"seed": seed, "fs": fs, "cluster": vol.cluster, "imageBytes": image_bytes, "small": small, "clips": []}
    for (name, data), clusters in zip(clips, placed):
        vol.write_file(name.replace("-", "")[:12], data, clusters)
        fragments = 1 + sum(1 for a, b in zip(clusters, clusters[1:]) if b != a + 1)
        facts = clip_facts(os.path.join(pool, name)) if not size_gib else {"md5": hashlib.md5(data).hexdigest(),
                                                                           "frames": 0, "decodesClean": True}
        pieces = []
        for c in clusters:
            lba = vol.offset_of(c) // SECTOR
            if pieces and pieces[-1][0] + pieces[-1][1] == lba:
                pieces[-1][1] += vol.cluster // SECTOR
            else:
                pieces.append([lba, vol.cluster // SECTOR])
        truth["clips"].append({"name": name, "md5": facts["md5"], "size": len(data), "fragments": fragments,
                               "pieces": pieces,
                               "frames": facts["frames"], "decodesClean": facts["decodesClean"],
                               "firstByte": vol.offset_of(clusters[0])})
    # The proxy stream: proxy files one after another, each from a cluster
    # boundary; the last one is finished after the clips.
    proxies = [open(p, "rb").read() for p in make_proxies(pool, small)]
    k = 0
    while proxy:
        data = proxies[k % len(proxies)]
        n = -(-len(data) // vol.cluster)
        if n > len(proxy):
            missing = n - len(proxy)
            proxy += free[cursor:cursor + missing]
            cursor += missing
        vol.write_file(f"PRX{k:05d}.MP4", data, proxy[:n])
        proxy = proxy[n:]
        k += 1
    vol.finish()
    if keep_fs:  # for checking the writer: the volume as written
        json.dump(truth, open(image + ".json", "w"), indent=1)
        return truth
    # The card as a camera would leave it after a format.
    format_volume(image, fs, cluster)
    with open(image, "rb") as f:
        for (name, data), clusters in zip(clips, placed):
            h = hashlib.md5()
            remaining_bytes = len(data)
            for c in clusters:
                f.seek(vol.offset_of(c))
                h.update(f.read(min(vol.cluster, remaining_bytes)))
                remaining_bytes -= vol.cluster
            assert h.hexdigest() == hashlib.md5(data).hexdigest(), f"{name} damaged by the format"
    json.dump(truth, open(image + ".json", "w"), indent=1)
    return truth


# ---------------------------------------------------------------- checks

BLOCK = 4096


def block_index(clips_data):
    """4 KiB blocks (at multiples of 4 KiB of each clip) that belong to one
    clip only."""
    owner = {}
    for name, data in clips_data:
        for at in range(0, len(data) - BLOCK + 1, BLOCK):
            key = hashlib.blake2b(data[at:at + BLOCK], digest_size=12).digest()
            owner[key] = name if owner.get(key, name) == name else None
    return owner


def sources_of(path, owner):
    found = set()
    data = open(path, "rb").read()
    for at in range(0, len(data) - BLOCK + 1, BLOCK):
        who = owner.get(hashlib.blake2b(data[at:at + BLOCK], digest_size=12).digest())
        if who:
            found.add(who)
    return found


def ambrel_recover(cli, image, work, setting):
    out = os.path.join(work, "out-" + setting)
    shutil.rmtree(out, ignore_errors=True)
    home = os.path.join(work, "home")
    os.makedirs(home, exist_ok=True)
    env = dict(os.environ, AMBREL_ALLOW_SECOND_INSTANCE="1")
    r = subprocess.run([cli, "--home", home, "--yes", "--set", f"{setting}=1", "recover", image, "--mode", "6",
                        "--out", out, "--json"], stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                       env=env)
    try:
        summary = json.loads(r.stdout)
    except json.JSONDecodeError:
        summary = {"report": [], "error": r.stderr[-2000:]}
    partial = set()
    for line in summary.get("report", []):
        if line.startswith("partial recording "):
            partial.add(line.split()[2].rstrip(":"))
    files = []
    for root, _, names in os.walk(out):
        for n in names:
            if n.endswith((".mov", ".mp4", ".mts")):
                files.append(os.path.join(root, n))
    return files, partial


def photorec_exact(image, work, md5s):
    out = os.path.join(work, "photorec")
    shutil.rmtree(out, ignore_errors=True)
    os.makedirs(out)
    subprocess.run(["photorec", "/log", "/d", os.path.join(out, "r"), "/cmd", image,
                    "partition_none,fileopt,everything,disable,mov,enable,mpg,enable,m2ts,enable,"
                    "options,paranoid,wholespace,search"],
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, cwd=out, timeout=3600)
    got = set()
    for root, _, names in os.walk(out):
        for n in names:
            if n.endswith(".xml") or n.endswith(".log"):
                continue
            got.add(md5_of(os.path.join(root, n)))
    shutil.rmtree(out, ignore_errors=True)
    return sum(1 for m in md5s if m in got)


def check_card(image, truth, cli, work, pool, with_photorec):
    clips = truth["clips"]
    small = truth.get("small", False)
    datas = [(c["name"], open(os.path.join(pool, c["name"]), "rb").read()) for c in clips]
    # An output mixes recordings when its blocks come from two of the
    # clips or proxies.
    owner = block_index(datas + [(os.path.basename(p), open(p, "rb").read()) for p in make_proxies(pool, small)])
    md5s = {c["md5"]: c["name"] for c in clips}
    settings = []
    if any(not c["name"].endswith(".m2ts") for c in clips):
        settings.append("MovFragRecovery")
    if any(c["name"].endswith(".m2ts") for c in clips):
        settings.append("MtsFragRecovery")
    outputs = []
    for setting in settings:
        files, partial = ambrel_recover(cli, image, work, setting)
        for path in files:
            outputs.append({"path": path, "md5": md5_of(path),
                            "verified": os.path.basename(path) not in partial,
                            "sources": sorted(sources_of(path, owner))})
    result = {"seed": truth["seed"], "fs": truth["fs"], "cluster": truth["cluster"], "clips": [],
              "outputs": len(outputs), "mixed": 0, "verifiedWrong": 0}
    # The proxies are recordings too: a copy of one is no wrong output.
    known = set(md5s) | {md5_of(p) for p in make_proxies(pool, small)}
    for o in outputs:
        if len(o["sources"]) > 1:
            result["mixed"] += 1
        if o["verified"] and o["md5"] not in known:
            result["verifiedWrong"] += 1
    for c in clips:
        exact = [o for o in outputs if o["md5"] == c["md5"]]
        mine = [o for o in outputs if o["md5"] != c["md5"] and o["sources"] == [c["name"]]]
        entry = {"name": c["name"], "fragments": c["fragments"], "exact": bool(exact),
                 "verified": bool(exact) and exact[0]["verified"]}
        if exact:
            entry["decodesClean"] = c["decodesClean"]
            entry["framesEqual"] = True
        elif mine:
            entry["decodesClean"] = decodes_clean(mine[0]["path"])
            entry["framesEqual"] = frame_count(mine[0]["path"]) == c["frames"]
        result["clips"].append(entry)
    if with_photorec:
        result["photorecExact"] = photorec_exact(image, work, list(md5s))
    for setting in settings:
        shutil.rmtree(os.path.join(work, "out-" + setting), ignore_errors=True)
    return result


def card_line(r):
    # = byte-exact and verified, ~ byte-exact but reported partial, x not byte-exact
    marks = lambda c: ("=" if c["verified"] else "~") if c["exact"] else "x"
    clips = " ".join(f"{c['name']}({c['fragments']}){marks(c)}" for c in r["clips"])
    exact = sum(c["exact"] for c in r["clips"])
    pr = f" photorec {r['photorecExact']}/{len(r['clips'])}" if "photorecExact" in r else ""
    return (f"card {r['seed']:3d} {r['fs']:5s} {r['cluster'] // 1024:3d}K  ours {exact}/{len(r['clips'])}{pr}"
            f"  mixed {r['mixed']}  verified-but-wrong {r['verifiedWrong']}  {clips}")


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("command", choices=["pool", "card", "check", "run"])
    ap.add_argument("--pool", default="video-pool")
    ap.add_argument("--work", default=None)
    ap.add_argument("--cli", default=None)
    ap.add_argument("--image", default=None)
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--cards", type=int, default=30)
    ap.add_argument("--first-seed", type=int, default=1)
    ap.add_argument("--small", action="store_true")
    ap.add_argument("--photorec", action="store_true")
    ap.add_argument("--report", default=None)
    ap.add_argument("--min-exact", type=float, default=95.0)
    ap.add_argument("--keep-fs", action="store_true", help="card: skip the final format")
    ap.add_argument("--size-gib", type=int, default=0, help="card: a full card of this size (benchmark)")
    a = ap.parse_args()
    if a.command == "pool":
        for p in make_pool(a.pool, a.small):
            print(p, clip_facts(p))
        return 0
    if a.command == "card":
        truth = make_card(a.pool, a.seed, a.image, a.small, a.keep_fs, a.size_gib)
        print(f"{a.image}: {len(truth['clips'])} clips, {truth['fs']}, {truth['cluster'] // 1024} KiB clusters")
        return 0
    if a.command == "check":
        truth = json.load(open(a.image + ".json"))
        r = check_card(a.image, truth, a.cli, a.work or tempfile.mkdtemp(), a.pool, a.photorec)
        print(card_line(r))
        print(json.dumps(r, indent=1))
        return 0
    work = a.work or tempfile.mkdtemp(prefix="video-cards-")
    os.makedirs(work, exist_ok=True)
    results = []
    for seed in range(a.first_seed, a.first_seed + a.cards):
        image = os.path.join(work, f"card{seed}.img")
        truth = make_card(a.pool, seed, image, a.small)
        r = check_card(image, truth, a.cli, work, a.pool, a.photorec)
        results.append(r)
        print(card_line(r), flush=True)
        os.remove(image)
    clips = [c for r in results for c in r["clips"]]
    exact = sum(c["exact"] for c in clips)
    mixed = sum(r["mixed"] for r in results)
    wrong = sum(r["verifiedWrong"] for r in results)
    share = 100.0 * exact / max(len(clips), 1)
    summary = {"cards": len(results), "clips": len(clips), "exact": exact, "exactPercent": round(share, 1),
               "verified": sum(c["verified"] for c in clips), "mixed": mixed, "verifiedWrong": wrong,
               "decodesClean": sum(1 for c in clips if c.get("decodesClean")),
               "framesEqual": sum(1 for c in clips if c.get("framesEqual"))}
    if a.photorec:
        summary["photorecExact"] = sum(r.get("photorecExact", 0) for r in results)
    print(json.dumps(summary))
    if a.report:
        json.dump({"summary": summary, "cards": results}, open(a.report, "w"), indent=1)
    return 0 if share >= a.min_exact and mixed == 0 and wrong == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
