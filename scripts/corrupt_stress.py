#!/usr/bin/env python3
"""Random single-field corruptions of the fixture images, each listed and
recovered with ambrel-cli, with the outcome counted.

For every run one field of one structure is changed (a boot-sector field, a
FAT entry of the first or the second copy, a FAT or exFAT directory entry field, an MFT record or attribute
header field, a run-list byte; a FAT entry pointed into another chain, a
cross-link; a GPT whose entries all repeat the first) and `ambrel-cli
recover` copies everything out of the damaged image. A run fails hard when
the program crashes or hangs, writes a file larger than the image, writes
more bytes in all than the image holds, writes anything outside its output
folder, or leaves a partial file under a temporary name. Every recovered file
is also compared with the fixture's manifest: byte-exact, reported (named in
the damaged or failed files), unreported mismatch (content differs without a
report: the damage gave a plausible but wrong pointer, which a file system
without checksums cannot reveal) or unknown (its path is not in the
manifest, e.g. a changed name).

  scripts/corrupt_stress.py [--runs 1000] [--seed 1] [--cli build/cli/ambrel-cli]
                            [--images build/fixture-images] [--strict] [--show-mismatches] [FIXTURE...]

With --strict the exit status is 1 when any run failed hard.
"""
import argparse
import gzip
import hashlib
import json
import os
import random
import shutil
import struct
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
SHOW_MISMATCHES = False
FIXTURES = ["fat16-basic", "fat32-basic", "exfat-basic", "ntfs-basic", "disk-mbr", "disk-gpt"]


def u16(b, o):
    return struct.unpack_from("<H", b, o)[0]


def u32(b, o):
    return struct.unpack_from("<I", b, o)[0]


def u64(b, o):
    return struct.unpack_from("<Q", b, o)[0]


# ---- where the structures are ----------------------------------------------

def volume_starts(img):
    """Byte offsets of the volumes: GPT or MBR entries, else the whole image."""
    if len(img) >= 1024 and img[512:520] == b"EFI PART":
        lba, count, size = u64(img, 512 + 72), u32(img, 512 + 80), u32(img, 512 + 84)
        starts = []
        for i in range(min(count, 128)):
            e = lba * 512 + i * size
            if e + 48 <= len(img) and img[e:e + 16] != b"\0" * 16:
                starts.append(u64(img, e + 32) * 512)
        return starts
    if img[510:512] == b"\x55\xaa" and img[3:11] not in (b"NTFS    ", b"EXFAT   ") and img[82:87] != b"FAT32" \
            and img[54:59] != b"FAT16" and img[54:59] != b"FAT12":
        starts = []
        for i in range(4):
            e = 446 + 16 * i
            if img[e + 4] != 0 and u32(img, e + 8) != 0:
                starts.append(u32(img, e + 8) * 512)
        return starts
    return [0]


def kind_of(img, base):
    boot = img[base:base + 512]
    if boot[3:11] == b"NTFS    ":
        return "ntfs"
    if boot[3:11] == b"EXFAT   ":
        return "exfat"
    if boot[82:87] == b"FAT32":
        return "fat32"
    if boot[54:59] in (b"FAT16", b"FAT12"):
        return "fat16"
    return None


FAT_BOOT = [(11, 2), (13, 1), (14, 2), (16, 1), (17, 2), (19, 2), (22, 2), (32, 4), (28, 4), (510, 2)]
FAT32_BOOT = FAT_BOOT + [(36, 4), (44, 4), (40, 2)]
EXFAT_BOOT = [(64, 8), (72, 8), (80, 4), (84, 4), (88, 4), (92, 4), (96, 4), (108, 1), (109, 1), (110, 1),
              (106, 2)]
NTFS_BOOT = [(11, 2), (13, 1), (40, 8), (48, 8), (56, 8), (64, 1), (68, 1), (14, 2)]


def fat_targets(img, base, kind):
    """(offset, width, what) of fields worth damaging in a FAT volume."""
    b = img[base:base + 512]
    spc, reserved, fats = b[13] or 1, u16(b, 14), b[16] or 1
    fat_sectors = u16(b, 22) or u32(b, 36)
    root_entries = u16(b, 17)
    total = u16(b, 19) or u32(b, 32)
    fat_start = base + reserved * 512
    data = fat_start + fats * fat_sectors * 512 + ((root_entries * 32 + 511) // 512) * 512
    width = 4 if kind == "fat32" else 2
    out = [(base + o, w, "boot") for o, w in (FAT32_BOOT if kind == "fat32" else FAT_BOOT)]
    entries = min(fat_sectors * 512 // width, len(img))
    allocated = []
    for i in range(2, entries):
        o = fat_start + i * width
        if o + width > len(img):
            break
        if int.from_bytes(img[o:o + width], "little") != 0:
            # The first copy only: the copies then disagree, as after a
            # damaged sector or a write cut between them.
            out.append((o, width, "fat entry"))
            if fats >= 2:
                out.append((o + fat_sectors * 512, width, "second fat entry"))
            allocated.append(i)
    # Cross-links: an entry of a chain pointed at a cluster another chain
    # holds (FAT12 entries share bytes and are left alone).
    if width == 2 and total // max(spc, 1) < 4085:
        allocated = []
    for i in allocated:
        out.append((fat_start + i * width, width, "cross-link", allocated))
    end = min(len(img), base + total * 512)
    for o in range(fat_start + fats * fat_sectors * 512, min(end, data + 4 * 1024 * 1024), 32):
        e = img[o:o + 32]
        if len(e) < 32 or e[0] in (0,) or e[11] & 0xC0:
            continue
        if e[11] == 0x0F:
            out.append((o + 1 + 2 * random.randrange(5), 2, "long name"))
            continue
        if all(32 <= c < 127 or c in (0xE5, 0x05) for c in e[:11]):
            field = random.choice([(26, 2), (20, 2), (28, 4), (11, 1), (0, 1), (8, 3)])
            out.append((o + field[0], field[1], "dir entry"))
    return out


def exfat_targets(img, base):
    b = img[base:base + 512]
    fat = base + u32(b, 80) * 512
    heap = base + u32(b, 88) * 512
    clusters = u32(b, 92)
    chained = [c for c in range(2, min(clusters + 2, (len(img) - fat) // 4))
               if u32(img, fat + 4 * c) not in (0, 0xFFFFFFFF)]
    cross = [(fat + 4 * c, 4, "cross-link", chained) for c in chained]
    spc = 1 << b[109] if b[109] < 16 else 1
    out = [(base + o, w, "boot") for o, w in EXFAT_BOOT]
    for i in range(2, min(clusters + 2, (len(img) - fat) // 4)):
        if u32(img, fat + 4 * i) != 0:
            out.append((fat + 4 * i, 4, "fat entry"))
    end = min(len(img), heap + clusters * spc * 512, heap + 4 * 1024 * 1024)
    for o in range(heap, end, 32):
        t = img[o]
        if t in (0x85, 0x05):
            out.append((o + random.choice([1, 4, 2]), 1, "file entry"))
        elif t in (0xC0, 0x40):
            f = random.choice([(1, 1), (3, 1), (8, 8), (20, 4), (24, 8)])
            out.append((o + f[0], f[1], "stream entry"))
        elif t in (0xC1, 0x41):
            out.append((o + 2 + 2 * random.randrange(15), 2, "name entry"))
        elif t in (0x81, 0x82, 0x83):
            out.append((o + random.choice([1, 20, 24]), 4, "bitmap/upcase/label entry"))
    return out + cross


def ntfs_targets(img, base):
    b = img[base:base + 512]
    spc = b[13] or 1
    mft = base + u64(b, 48) * spc * 512
    out = [(base + o, w, "boot") for o, w in NTFS_BOOT]
    for r in range(mft, min(len(img), mft + 256 * 1024), 1024):
        if img[r:r + 4] != b"FILE":
            continue
        out += [(r + 0x14, 2, "record header"), (r + 0x16, 2, "record header"), (r + 0x2C, 4, "record header")]
        pos = r + u16(img, r + 0x14)
        while pos + 16 <= r + 1024:
            t, length = u32(img, pos), u32(img, pos + 4)
            if t == 0xFFFFFFFF or length == 0 or pos + length > r + 1024:
                break
            fields = [(0, 4), (4, 4), (8, 1), (9, 1), (12, 2)]
            if img[pos + 8] == 0:
                fields += [(0x10, 4), (0x14, 2)]
            else:
                fields += [(0x10, 8), (0x18, 8), (0x20, 2), (0x22, 2), (0x28, 8), (0x30, 8), (0x38, 8)]
                runs = pos + u16(img, pos + 0x20)
                for i in range(runs, min(pos + length, runs + 16)):
                    out.append((i, 1, "run list"))
            for o, w in fields:
                out.append((pos + o, w, "attribute header"))
            pos += length
    return out


def targets(img):
    out = []
    for base in volume_starts(img):
        kind = kind_of(img, base)
        if kind in ("fat16", "fat32"):
            out += fat_targets(img, base, kind)
        elif kind == "exfat":
            out += exfat_targets(img, base)
        elif kind == "ntfs":
            out += ntfs_targets(img, base)
        if base != 0:
            out.append((446 + 16 * random.randrange(4) + random.choice([4, 8, 12]), 4, "partition entry"))
    if img[512:520] == b"EFI PART":
        out.append((0, 0, "gpt repeated entries"))
    return out


def repeat_gpt_entries(img):
    """Every entry of the primary GPT a copy of the first, CRCs made right:
    the same volume named 128 times."""
    import zlib
    header_size, entries_lba = u32(img, 512 + 12), u64(img, 512 + 72)
    count, size = u32(img, 512 + 80), u32(img, 512 + 84)
    at = entries_lba * 512
    if count == 0 or size == 0 or at + count * size > len(img):
        return
    first = bytes(img[at:at + size])
    for i in range(1, count):
        img[at + i * size:at + (i + 1) * size] = first
    struct.pack_into("<I", img, 512 + 88, zlib.crc32(bytes(img[at:at + count * size])) & 0xFFFFFFFF)
    struct.pack_into("<I", img, 512 + 16, 0)
    struct.pack_into("<I", img, 512 + 16, zlib.crc32(bytes(img[512:512 + header_size])) & 0xFFFFFFFF)


def new_value(old, width):
    top = (1 << (8 * width)) - 1
    return random.choice([0, 1, 2, top, top >> 1, (top >> 1) + 1, (old + 1) & top, (old - 1) & top, old ^ 0x80,
                          random.randrange(top + 1), (old << 1) & top, old >> 1]) & top


# ---- one run ----------------------------------------------------------------

def load_manifest(name):
    entries = []
    with open(os.path.join(ROOT, "fixtures", "images", name + ".manifest.tsv"), encoding="utf-8") as f:
        for line in f:
            if line.startswith("#") or not line.strip():
                continue
            parts = line.rstrip("\n").split("\t")
            if len(parts) >= 6 and parts[5] == "file" and parts[3] not in ("", "-"):
                entries.append((parts[0], parts[1], parts[3]))
    return entries


def same_component(listed, made):
    if made == "$RECYCLE.BIN":
        return listed in ("回收站", made)
    a, b = listed.upper(), made.upper()
    return a == b or (a[:1] == "!" and len(a) == len(b) and a[1:] == b[1:])


def same_path(listed, made):
    a, b = listed.split("/"), made.split("/")
    return len(a) == len(b) and all(same_component(x, y) for x, y in zip(a, b))


def md5_of(path):
    h = hashlib.md5()
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(1 << 20), b""):
            h.update(block)
    return h.hexdigest()


def run_once(cli, img_path, image_bytes, manifest, work, counts, timeout):
    """Writes the damaged image to img_path (another file system than the
    output, for the target check), recovers it into work/out and checks."""
    with open(img_path, "wb") as f:
        f.write(image_bytes)
    out = os.path.join(work, "out")
    home = os.path.join(work, "home")
    for p in (out, home):
        shutil.rmtree(p, ignore_errors=True)
        os.makedirs(p)
    sentinel = os.path.join(work, "sentinel")
    with open(sentinel, "w") as f:
        f.write("keep")
    env = dict(os.environ, AMBREL_ALLOW_SECOND_INSTANCE="1")
    try:
        p = subprocess.run([cli, "--home", home, "recover", img_path, "--out", out, "--json"], env=env,
                           stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, timeout=timeout)
    except subprocess.TimeoutExpired:
        counts["hang"] += 1
        counts["runs"] += 1
        return "hang"
    hard = None
    if p.returncode < 0 or p.returncode > 2:
        counts["crash"] += 1
        hard = "crash (status %d)" % p.returncode
    if sorted(os.listdir(work)) != ["home", "out", "sentinel"] or open(sentinel).read() != "keep":
        counts["outside"] += 1
        hard = hard or "wrote outside the output folder"
    reported = set()
    try:
        result = json.loads(p.stdout.decode("utf-8", "replace").strip().splitlines()[-1])
        for f in result.get("damagedFiles", []):
            reported.add(f.rsplit(": ", 1)[0] if ": " in f else f)
            reported.add(f.split(": ")[0])
        reported.update(result.get("failedFiles", []))
    except (ValueError, IndexError):
        pass
    size_limit = len(image_bytes)
    total = 0
    for dirpath, dirnames, filenames in os.walk(out):
        for name in filenames + dirnames:
            full = os.path.join(dirpath, name)
            if os.path.islink(full):
                counts["outside"] += 1
                hard = hard or "made a link"
        for name in filenames:
            full = os.path.join(dirpath, name)
            if name.startswith(".ambrel-partial-"):
                counts["partial left"] += 1
                hard = hard or "left a partial file"
                continue
            total += os.path.getsize(full)
            if os.path.getsize(full) > size_limit:
                counts["oversize"] += 1
                hard = hard or "file larger than the image"
            rel = os.path.relpath(full, out).split("/", 2)  # AmbrelRecovered/<row>/path
            inner = rel[2] if len(rel) == 3 else rel[-1]
            candidates = [m for m in manifest if same_path(inner, m[1])]
            if any(full in r or r.endswith(inner) for r in reported):
                counts["files reported"] += 1
            elif not candidates:
                counts["files unknown"] += 1
            elif md5_of(full) in [m[2] for m in candidates]:
                counts["files exact"] += 1
            else:
                counts["files unreported mismatch"] += 1
                if SHOW_MISMATCHES:
                    print("  unreported mismatch: %s" % inner, file=sys.stderr)
    if total > size_limit:
        counts["total oversize"] += 1
        hard = hard or "wrote more than the image holds (%d bytes)" % total
    counts["runs"] += 1
    return hard


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("fixtures", nargs="*", default=FIXTURES)
    ap.add_argument("--runs", type=int, default=1000)
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--cli", default=os.path.join(ROOT, "build", "cli", "ambrel-cli"))
    ap.add_argument("--images", default=os.path.join(ROOT, "build", "fixture-images"))
    ap.add_argument("--timeout", type=float, default=60)
    ap.add_argument("--strict", action="store_true")
    ap.add_argument("--show-mismatches", action="store_true", help="name each file whose content differs unreported")
    args = ap.parse_args()
    global SHOW_MISMATCHES
    SHOW_MISMATCHES = args.show_mismatches
    random.seed(args.seed)
    base = "/dev/shm" if os.path.isdir("/dev/shm") else None
    failures = 0
    for name in args.fixtures:
        path = os.path.join(args.images, name + ".img")
        if os.path.exists(path):
            image = open(path, "rb").read()
        else:
            image = gzip.open(os.path.join(ROOT, "fixtures", "images", name + ".img.gz")).read()
        manifest = load_manifest(name)
        # One kind of structure at random, then one field of it: the many
        # FAT entries do not crowd out the few boot-sector fields.
        by_kind = {}
        for t in targets(image):
            by_kind.setdefault(t[2], []).append(t)
        counts = {k: 0 for k in ["runs", "crash", "hang", "oversize", "total oversize", "outside", "partial left",
                                 "files exact",
                                 "files reported", "files unreported mismatch", "files unknown"]}
        kinds = {}
        work = tempfile.mkdtemp(prefix="ambrel-stress-", dir=base)
        # The image lies on another file system than the output (the target
        # check refuses the source's own file system): output in /dev/shm,
        # image in the temporary folder.
        img_dir = tempfile.mkdtemp(prefix="ambrel-stress-img-")
        try:
            for i in range(args.runs):
                target = random.choice(by_kind[random.choice(sorted(by_kind))])
                offset, width, what = target[:3]
                damaged = bytearray(image)
                old = int.from_bytes(damaged[offset:offset + width], "little")
                if what == "gpt repeated entries":
                    repeat_gpt_entries(damaged)
                elif what == "cross-link":
                    # Into another chain: a cluster some other entry points at.
                    value = random.choice([c for c in target[3] if c != old] or [old])
                    damaged[offset:offset + width] = value.to_bytes(width, "little")
                else:
                    damaged[offset:offset + width] = new_value(old, width).to_bytes(width, "little")
                kinds[what] = kinds.get(what, 0) + 1
                if SHOW_MISMATCHES:
                    new = int.from_bytes(damaged[offset:offset + width], "little")
                    print("%s run %d: %s at 0x%x: 0x%x -> 0x%x" % (name, i, what, offset, old, new), file=sys.stderr)
                hard = run_once(args.cli, os.path.join(img_dir, "image.img"), bytes(damaged), manifest, work, counts,
                                args.timeout)
                if hard:
                    failures += 1
                    print("%s run %d: %s at 0x%x (%s, %d bytes): %s" % (name, i, what, offset, hex(old), width, hard),
                          file=sys.stderr)
        finally:
            shutil.rmtree(work, ignore_errors=True)
            shutil.rmtree(img_dir, ignore_errors=True)
        print("%s: %s" % (name, ", ".join("%s %d" % kv for kv in counts.items())))
        print("  fields: %s" % ", ".join("%s %d" % kv for kv in sorted(kinds.items())))
        sys.stdout.flush()
    return 1 if (args.strict and failures) else 0


if __name__ == "__main__":
    sys.exit(main())
