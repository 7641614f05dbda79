#!/usr/bin/env python3
"""Carving on a raw image of real files: Ambrel against PhotoRec, per type.

Every file of the corpus (../shared/corpus, one folder per type) is written
once into a raw image, contiguous, at a random sector-aligned offset; some
files straddle the 8 MiB chunk boundaries of the deep scan. Between the
files lie random bytes, zeros, lines of text and cut decoy headers (the
first sectors of another corpus file, cut short). The slack after a file's
last byte up to its sector's end is zero, as a fresh card leaves it.

Then `ambrel-cli recover IMAGE --out DIR --mode 1` and (when installed and
not disabled) `photorec /d DIR /cmd IMAGE partition_none,search` recover
what they find, and every output is judged by its first sector (both tools
name a carved file by it): byte-exact, partial (a planted file starts there
but the bytes differ: cut short or with junk appended) or unmatched (no
planted file starts there).

  scripts/carve_corpus_compare.py [--corpus DIR] [--cli build/cli/ambrel-cli]
        [--seed 1] [--image-mib 40] [--work DIR] [--keep] [--no-photorec]
        [--json FILE] [--check]

With --check the exit status is 1 unless Ambrel brings back at least 95 %
of the files byte-exact, at least PhotoRec's byte-exact count in every type,
and fewer unmatched outputs than PhotoRec.
"""
import argparse
import hashlib
import json
import os
import random
import re
import shutil
import subprocess
import sys
import tempfile
import time

SECTOR = 512
CHUNK = 8 << 20
WORDS = ("the of and to in is was for on that with as by at from this are be or an which "
         "card photo file folder record data sector camera video note list item value").split()


def corpus_files(corpus):
    files = []
    for folder in sorted(os.listdir(corpus)):
        path = os.path.join(corpus, folder)
        if not os.path.isdir(path):
            continue
        for name in sorted(os.listdir(path)):
            full = os.path.join(path, name)
            if os.path.isfile(full) and os.path.getsize(full) > 0:
                with open(full, "rb") as f:
                    files.append((folder, folder + "/" + name, f.read()))
    return files


def text_junk(rng, length):
    out = bytearray()
    while len(out) < length:
        line = " ".join(rng.choice(WORDS) for _ in range(rng.randint(4, 14)))
        out += (line[0].upper() + line[1:] + ".\n").encode()
    return bytes(out[:length])


def junk(rng, sectors, files):
    """`sectors` sectors of one kind of junk, and the kind."""
    kind = rng.choice(("random", "zero", "text", "decoy"))
    length = sectors * SECTOR
    if kind == "random":
        return rng.randbytes(length), kind
    if kind == "zero":
        return bytes(length), kind
    if kind == "text":
        return text_junk(rng, length), kind
    # A decoy: the first sectors of a real file, cut before its end, then
    # random bytes.
    _, _, data = rng.choice([f for f in files if len(f[2]) > 2 * SECTOR])
    keep = min(sectors, max(1, (len(data) * rng.randint(10, 75) // 100) // SECTOR))
    head = data[:keep * SECTOR]
    return head + rng.randbytes(length - len(head)), kind


def build_image(files, rng, image_bytes):
    """Places every file once; returns the image and {lba: (type, path, data)}."""
    order = list(files)
    rng.shuffle(order)
    total = sum((len(d) + SECTOR - 1) // SECTOR * SECTOR for _, _, d in order)
    spare = max(image_bytes - total, len(order) * 8 * SECTOR)
    mean_gap = max(2, spare // SECTOR // (len(order) + 1))
    image = bytearray()
    placed = {}
    boundaries_left = list(range(CHUNK, image_bytes + CHUNK, CHUNK))
    for folder, path, data in order:
        gap = rng.randint(1, 2 * mean_gap - 1)
        start = len(image) + gap * SECTOR
        padded = (len(data) + SECTOR - 1) // SECTOR * SECTOR
        while boundaries_left and boundaries_left[0] <= len(image):
            boundaries_left.pop(0)
        # Straddle the next chunk boundary when it lies within reach.
        if boundaries_left and padded >= 4 * SECTOR:
            boundary = boundaries_left[0]
            if boundary < start + padded + mean_gap * SECTOR:
                into = (padded * rng.randint(10, 90) // 100) // SECTOR * SECTOR
                want = boundary - into
                if want > len(image):
                    start = want
                    boundaries_left.pop(0)
        gap_sectors = (start - len(image)) // SECTOR
        while gap_sectors > 0:
            run = min(gap_sectors, rng.randint(1, 64))
            piece, _ = junk(rng, run, files)
            image += piece
            gap_sectors -= run
        assert len(image) == start
        placed[start // SECTOR] = (folder, path, data)
        image += data + bytes(padded - len(data))
    tail, _ = junk(rng, 16, files)
    image += tail
    return bytes(image), placed


def output_files(root):
    for folder, _, names in os.walk(root):
        for name in names:
            yield os.path.join(folder, name)


def ambrel_lba(name):
    stem = name.split(".", 1)[0]
    m = re.fullmatch(r"([0-9a-f]+)(?:_([0-9a-f]+))?", stem)
    if not m:
        return None
    if m.group(2) is not None:
        return (int(m.group(1), 16) << 32) | int(m.group(2), 16)
    return int(m.group(1), 16)


def photorec_lba(name):
    m = re.match(r"f(\d+)", name)
    return int(m.group(1)) if m else None


def run_ambrel(cli, image, out):
    home = out + "-home"
    os.makedirs(home, exist_ok=True)
    env = dict(os.environ, AMBREL_ALLOW_SECOND_INSTANCE="1")
    start = time.monotonic()
    proc = subprocess.run([cli, "--home", home, "--yes", "recover", image, "--out", out, "--mode", "1"],
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=env)
    seconds = time.monotonic() - start
    if proc.returncode not in (0, 1):
        sys.stderr.write(proc.stderr.decode(errors="replace")[-2000:])
        raise SystemExit("ambrel-cli failed with status %d" % proc.returncode)
    outputs = []
    for path in output_files(out):
        lba = ambrel_lba(os.path.basename(path))
        outputs.append((lba, path))
    return outputs, seconds


def run_photorec(image, out):
    start = time.monotonic()
    subprocess.run(["photorec", "/log", "/d", out + "/recup", "/cmd", image, "partition_none,search"],
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, cwd=out)
    seconds = time.monotonic() - start
    outputs = []
    for folder in os.listdir(out):
        if not folder.startswith("recup"):
            continue
        for path in output_files(os.path.join(out, folder)):
            name = os.path.basename(path)
            if name == "report.xml":
                continue
            outputs.append((photorec_lba(name), path))
    return outputs, seconds


def judge(outputs, placed):
    """Per type: files, found, exact, partial; and unmatched outputs per extension."""
    table = {}
    for lba, (folder, _, _) in placed.items():
        table.setdefault(folder, {"files": 0, "found": 0, "exact": 0, "partial": 0})["files"] += 1
    unmatched = {}
    missed = []
    seen = set()
    for lba, path in outputs:
        if lba in placed and lba not in seen:
            seen.add(lba)
            folder, _, data = placed[lba]
            row = table[folder]
            row["found"] += 1
            with open(path, "rb") as f:
                got = f.read()
            if got == data:
                row["exact"] += 1
            else:
                row["partial"] += 1
                missed.append((placed[lba][1], len(data), len(got)))
        else:
            ext = os.path.splitext(path)[1].lower().lstrip(".") or "-"
            unmatched[ext] = unmatched.get(ext, 0) + 1
    for lba, (folder, rel, data) in placed.items():
        if lba not in seen:
            missed.append((rel, len(data), None))
    return table, unmatched, missed


def totals(table):
    out = {"files": 0, "found": 0, "exact": 0, "partial": 0}
    for row in table.values():
        for k in out:
            out[k] += row[k]
    return out


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--corpus", default=os.path.join(here, "..", "..", "shared", "corpus"))
    ap.add_argument("--cli", default=os.path.join(here, "..", "build", "cli", "ambrel-cli"))
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--image-mib", type=int, default=40)
    ap.add_argument("--work", default=None, help="folder for the image and the outputs (default: a temporary one)")
    ap.add_argument("--keep", action="store_true", help="keep the work folder")
    ap.add_argument("--no-photorec", action="store_true")
    ap.add_argument("--json", default=None, help="write the figures as JSON to this file")
    ap.add_argument("--check", action="store_true")
    ap.add_argument("--verbose", action="store_true", help="list every file not brought back byte-exact")
    args = ap.parse_args()

    if not os.path.isdir(args.corpus):
        raise SystemExit("no corpus at " + args.corpus)
    files = corpus_files(args.corpus)
    rng = random.Random(args.seed)
    work = args.work or tempfile.mkdtemp(prefix="ambrel-carve-compare-")
    os.makedirs(work, exist_ok=True)
    try:
        image, placed = build_image(files, rng, args.image_mib << 20)
        image_path = os.path.join(work, "corpus.img")
        with open(image_path, "wb") as f:
            f.write(image)
        straddling = sum(1 for lba, (_, _, d) in placed.items()
                         if (lba * SECTOR) // CHUNK != (lba * SECTOR + len(d) - 1) // CHUNK)
        print("image %s: %.1f MiB, %d files, %d straddle a chunk boundary" %
              (image_path, len(image) / (1 << 20), len(placed), straddling))

        results = {}
        out = os.path.join(work, "ambrel")
        shutil.rmtree(out, ignore_errors=True)
        outputs, seconds = run_ambrel(args.cli, image_path, out)
        results["ambrel"] = judge(outputs, placed) + (seconds,)
        if not args.no_photorec and shutil.which("photorec"):
            out = os.path.join(work, "photorec")
            shutil.rmtree(out, ignore_errors=True)
            os.makedirs(out)
            outputs, seconds = run_photorec(image_path, out)
            results["photorec"] = judge(outputs, placed) + (seconds,)

        tools = list(results)
        print("\n%-6s %5s | %s" % ("type", "files", " | ".join("%-26s" % t for t in tools)))
        print("%-6s %5s | %s" % ("", "", " | ".join("%-26s" % "found exact partial unmatched" for _ in tools)))
        exts = sorted(set(e for t in tools for e in results[t][1]))
        for folder in sorted(results[tools[0]][0]):
            cells = []
            for t in tools:
                row = results[t][0][folder]
                cells.append("%5d %5d %7d %9d" % (row["found"], row["exact"], row["partial"],
                                                    results[t][1].get(folder, 0)))
            print("%-6s %5d | %s" % (folder, results[tools[0]][0][folder]["files"], " | ".join(cells)))
        for ext in exts:
            if ext in results[tools[0]][0]:
                continue
            print("%-6s %5s | %s" % (ext, "-", " | ".join("%5s %5s %7s %9d" % ("", "", "", results[t][1].get(ext, 0))
                                                           for t in tools)))
        print()
        summary = {}
        for t in tools:
            table, unmatched, missed, seconds = results[t]
            tot = totals(table)
            nun = sum(unmatched.values())
            summary[t] = {"types": table, "unmatched": unmatched, "total": tot, "unmatchedTotal": nun,
                          "seconds": seconds}
            print("%-8s found %d/%d, byte-exact %d (%.1f %%), partial %d, unmatched %d, %.2f s" %
                  (t, tot["found"], tot["files"], tot["exact"], 100.0 * tot["exact"] / tot["files"],
                   tot["partial"], nun, seconds))
            if args.verbose and t == "ambrel":
                for rel, size, got in sorted(missed):
                    print("   %-50s %9d bytes: %s" % (rel, size, "not found" if got is None else "%d bytes" % got))
        if args.json:
            with open(args.json, "w") as f:
                json.dump(summary, f, indent=1, sort_keys=True)
        if args.check:
            failed = []
            a = summary["ambrel"]
            if a["total"]["exact"] * 100 < 95 * a["total"]["files"]:
                failed.append("byte-exact below 95 %")
            if "photorec" in summary:
                p = summary["photorec"]
                for folder, row in p["types"].items():
                    if a["types"][folder]["exact"] < row["exact"]:
                        failed.append("%s: %d byte-exact, PhotoRec %d" % (folder, a["types"][folder]["exact"], row["exact"]))
                if a["unmatchedTotal"] >= p["unmatchedTotal"] and a["unmatchedTotal"] > 0:
                    failed.append("unmatched outputs %d, PhotoRec %d" % (a["unmatchedTotal"], p["unmatchedTotal"]))
            if failed:
                print("CHECK FAILED: " + "; ".join(failed))
                return 1
            print("check passed")
        return 0
    finally:
        if not args.keep and not args.work:
            shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
