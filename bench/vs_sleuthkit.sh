#!/usr/bin/env bash
# Whole-process comparison with The Sleuth Kit on volumes of many small
# files built by the file systems' own tools (bench/make_many_files.sh):
#   ambrel-cli list       against  fls -r -p
#   ambrel-cli recover    against  tsk_recover -e
# run alternately, RUNS times each, on NTFS, FAT32 and exFAT. Prints the
# median wall time of each, their ratio, the peak memory, and the system
# calls per file written (strace -c -f, one extra run of each copier).
#
#   bench/vs_sleuthkit.sh [BUILD_DIR] [FILES] [RUNS] [KINDS]
#   e.g. bench/vs_sleuthkit.sh build 100000 5 "ntfs fat32 exfat"
# The images are kept in $AMBREL_BENCH_DIR (default /tmp/ambrel-bench) and
# reused while their file count matches; copies go to /dev/shm so that the
# target disk's own cost stays out of the figures.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="$(cd "${1:-build}" && pwd)" files="${2:-100000}" runs="${3:-5}" kinds="${4:-ntfs fat32 exfat}"
cli="$build/cli/ambrel-cli"
folders=$(( files >= 1000 ? 1000 : (files + 9) / 10 ))
dir="${AMBREL_BENCH_DIR:-/tmp/ambrel-bench}"
out="$(mktemp -d /dev/shm/ambrel-bench.XXXXXX)"
trap 'rm -rf "$out"' EXIT
mkdir -p "$dir"
export AMBREL_ALLOW_SECOND_INSTANCE=1

# One timed run: wall seconds and peak KiB on one line.
# (time puts a line before the figures when the command exits non-zero)
timed() { /usr/bin/time -f "%e %M" -o "$out/time" "$@" > /dev/null 2>&1 || true; tail -n 1 "$out/time"; }
median() { sort -g | awk '{v[NR]=$1} END {print v[int((NR+1)/2)]}'; }
# System calls per file written: every call of the whole process tree.
calls_per_file() {
  local written="$1"; shift
  strace -c -f -o "$out/strace" "$@" > /dev/null 2>&1 || true
  awk -v n="$written" '$NF == "total" {print ($4 / n)}' "$out/strace"
}

# fs task files tool ours theirs ratio ourKiB theirKiB
row() {
  printf '%-6s %-8s %7s | %-8s %9s %9s %7s %9s %9s\n' "$1" "$2" "$3" "$4" "$5" "$6" "$7" \
    "$(awk -v k="$8" 'BEGIN {printf "%.1f", k / 1024}')" "$(awk -v k="$9" 'BEGIN {printf "%.1f", k / 1024}')"
}
printf '%-6s %-8s %7s | %-8s %9s %9s %7s %9s %9s\n' fs task files tool ours_s theirs_s ratio our_MiB their_MiB
for kind in $kinds; do
  image="$dir/$kind-$files.img"
  [ -s "$image" ] || "$here/make_many_files.sh" "$kind" "$image" "$files" "$folders" >&2
  declare -a la=() lf=() ra=() rt=()
  la_mem=0 lf_mem=0 ra_mem=0 rt_mem=0
  for ((i = 0; i < runs; i++)); do
    read -r s m < <(timed "$cli" list "$image"); la+=("$s"); la_mem=$(( m > la_mem ? m : la_mem ))
    read -r s m < <(timed fls -r -p "$image"); lf+=("$s"); lf_mem=$(( m > lf_mem ? m : lf_mem ))
    rm -rf "$out/a" "$out/t"
    read -r s m < <(timed "$cli" recover "$image" --out "$out/a"); ra+=("$s"); ra_mem=$(( m > ra_mem ? m : ra_mem ))
    read -r s m < <(timed tsk_recover -e "$image" "$out/t"); rt+=("$s"); rt_mem=$(( m > rt_mem ? m : rt_mem ))
  done
  ours_written=$(find "$out/a" -type f | wc -l)
  theirs_written=$(find "$out/t" -type f | wc -l)
  l1=$(printf '%s\n' "${la[@]}" | median) l2=$(printf '%s\n' "${lf[@]}" | median)
  r1=$(printf '%s\n' "${ra[@]}" | median) r2=$(printf '%s\n' "${rt[@]}" | median)
  row "$kind" list "$files" fls "$l1" "$l2" "$(awk -v a="$l1" -v b="$l2" 'BEGIN {printf "%.2f", (a > 0 ? b / a : 0)}')" \
    "$la_mem" "$lf_mem"
  row "$kind" recover "$ours_written" tsk_rec "$r1" "$r2" \
    "$(awk -v a="$r1" -v b="$r2" 'BEGIN {printf "%.2f", (b > 0 ? a / b : 0)}')" "$ra_mem" "$rt_mem"
  rm -rf "$out/a" "$out/t"
  ours_calls=$(calls_per_file "$ours_written" "$cli" recover "$image" --out "$out/a")
  theirs_calls=$(calls_per_file "$theirs_written" tsk_recover -e "$image" "$out/t")
  printf '%-6s syscalls per file written: ambrel %s (%s files), tsk_recover %s (%s files)\n' "$kind" \
    "$ours_calls" "$ours_written" "$theirs_calls" "$theirs_written"
  rm -rf "$out/a" "$out/t"
done
echo "list ratio: fls time / ours (higher is better); recover ratio: ours / tsk_recover (lower is better)"
