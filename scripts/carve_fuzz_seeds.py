#!/usr/bin/env python3
"""Seeds for fuzz_carve_size_rules from the real files of ../shared/corpus.

Each seed is one byte naming the carving unit (its row in
src/deepscan/carve/carve_table.cpp) followed by the first 64 KiB of a file
of that unit's type, so that the fuzzer starts from every size rule's
well-formed input.

  scripts/carve_fuzz_seeds.py OUT_DIR [--corpus DIR]
"""
import argparse
import os
import re

FOLDER_TEST = {
    "png": "IsPng", "gif": "IsGif", "pdf": "IsPdf", "docx": "IsOfficeOpenXml", "xlsx": "IsOfficeOpenXml",
    "pptx": "IsOfficeOpenXml", "zip": "IsZip", "mov": "IsQuickTime", "mp4": "IsMp4", "3gp": "Is3gp",
    "m4a": "IsM4a", "7z": "Is7z", "ogg": "IsOgg", "tif": "IsTiff", "nef": "IsTiff", "dng": "IsTiff",
    "cr2": "IsTiff", "ts": "IsM2t", "mts": "IsMts", "psd": "IsPhotoshop", "cab": "IsCabinet",
    "mid": "IsMidi", "mpg": "IsMpegProgram", "rtf": "IsRtf", "html": "IsMarkupStart",
    "xml": "IsMarkupStart", "txt": "IsPlainText", "ico": "IsIcon", "exe": "IsWindowsProgram",
    "rar": "IsRar", "jpg": "IsJpeg", "doc": "IsCompoundFile", "avi": "IsAvi", "wmv": "IsAsf",
    "mkv": "IsMatroska", "flv": "IsFlv", "mp3": "IsMp3", "bmp": "IsBitmap", "wav": "IsWave",
}


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("out")
    ap.add_argument("--corpus", default=os.path.join(here, "..", "..", "shared", "corpus"))
    args = ap.parse_args()
    table = open(os.path.join(here, "..", "src", "deepscan", "carve", "carve_table.cpp")).read()
    rows = re.findall(r'\{(\d+), "[^"]*"sv, (\w+),', table)
    unit_of = {}
    for index, (_, test) in enumerate(rows):
        unit_of.setdefault(test, index)
    os.makedirs(args.out, exist_ok=True)
    count = 0
    for folder, test in sorted(FOLDER_TEST.items()):
        path = os.path.join(args.corpus, folder)
        if not os.path.isdir(path) or test not in unit_of:
            continue
        for name in sorted(os.listdir(path)):
            with open(os.path.join(path, name), "rb") as f:
                data = f.read(65536)
            with open(os.path.join(args.out, "%s-%s" % (folder, name.replace(" ", "_"))), "wb") as f:
                f.write(bytes([unit_of[test]]) + data)
            count += 1
    print("%d seeds in %s" % (count, args.out))


if __name__ == "__main__":
    main()
