#!/usr/bin/env bash
# Whole-process comparison with The Sleuth Kit on volumes of many small
# files built by the file systems' own tools (bench/make_many_files.sh):
#   ambrel-cli list       against  fls -r -p
#   ambrel-cli recover    against  tsk_recover -e
# run alternately, RUNS times each, on NTFS, FAT32 and exFAT. Prints the
# median wall time of each, their ratio, the peak memory, and the system
# calls per file written (strace -c -f, one extra run of each copier).
#
#   bench/vs_sleuthkit.sh [BUILD_DIR] [FILES] [RUNS] [KINDS] [TASKS]
#   e.g. bench/vs_sleuthkit.sh build 100000 5 "ntfs fat32 exfat"
#        bench/vs_sleuthkit.sh build 100000 5 "ntfs fat32 exfat" list   # the listings only
# Each row also gives the CPU time (user + system) of each side, the fairer
# figure on a machine that other work shares.
# The images are kept in $AMBREL_BENCH_DIR (default /tmp/ambrel-bench) and
# reused while their file count matches; copies go to /dev/shm so that the
# target disk's own cost stays out of the figures.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="$(cd "${1:-build}" && pwd)" files="${2:-100000}" runs="${3:-5}" kinds="${4:-ntfs fat32 exfat}" tasks="${5:-list recover}"
cli="$build/cli/ambrel-cli"
folders=$(( files >= 1000 ? 1000 : (files + 9) / 10 ))
dir="${AMBREL_BENCH_DIR:-/tmp/ambrel-bench}"
out="$(mktemp -d /dev/shm/ambrel-bench.XXXXXX)"
trap 'rm -rf "$out"' EXIT
mkdir -p "$dir"
export AMBREL_ALLOW_SECOND_INSTANCE=1

# One timed run: wall seconds, peak KiB and CPU seconds (user + system) on
# one line. (time puts a line before the figures when the command exits
# non-zero)
timed() {
  /usr/bin/time -f "%e %M %U %S" -o "$out/time" "$@" > /dev/null 2>&1 || true
  tail -n 1 "$out/time" | awk '{printf "%s %s %.2f\n", $1, $2, $3 + $4}'
}
median() { sort -g | awk '{v[NR]=$1} END {print v[int((NR+1)/2)]}'; }
# System calls per file written: every call of the whole process tree.
calls_per_file() {
  local written="$1"; shift
  strace -c -f -o "$out/strace" "$@" > /dev/null 2>&1 || true
  awk -v n="$written" '$NF == "total" {print ($4 / n)}' "$out/strace"
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.2f", (a > 0 ? b / a : 0)}'; }

# fs task files tool ours theirs ratio ourKiB theirKiB ourCPU theirCPU cpuRatio
row() {
  printf '%-6s %-8s %7s | %-8s %9s %9s %7s %9s %9s %8s %8s %7s\n' "$1" "$2" "$3" "$4" "$5" "$6" "$7" \
    "$(awk -v k="$8" 'BEGIN {printf "%.1f", k / 1024}')" "$(awk -v k="$9" 'BEGIN {printf "%.1f", k / 1024}')" \
    "${10}" "${11}" "${12}"
}
printf '%-6s %-8s %7s | %-8s %9s %9s %7s %9s %9s %8s %8s %7s\n' fs task files tool ours_s theirs_s ratio \
  our_MiB their_MiB our_cpu their_cpu cpu_rat
for kind in $kinds; do
  image="$dir/$kind-$files.img"
  [ -s "$image" ] || "$here/make_many_files.sh" "$kind" "$image" "$files" "$folders" >&2
  declare -a la=() lf=() ra=() rt=() lac=() lfc=() rac=() rtc=()
  la_mem=0 lf_mem=0 ra_mem=0 rt_mem=0
  for ((i = 0; i < runs; i++)); do
    if [[ " $tasks " == *" list "* ]]; then
      read -r s m c < <(timed "$cli" list "$image"); la+=("$s"); lac+=("$c"); la_mem=$(( m > la_mem ? m : la_mem ))
      read -r s m c < <(timed fls -r -p "$image"); lf+=("$s"); lfc+=("$c"); lf_mem=$(( m > lf_mem ? m : lf_mem ))
    fi
    if [[ " $tasks " == *" recover "* ]]; then
      rm -rf "$out/a" "$out/t"
      read -r s m c < <(timed "$cli" recover "$image" --out "$out/a"); ra+=("$s"); rac+=("$c"); ra_mem=$(( m > ra_mem ? m : ra_mem ))
      read -r s m c < <(timed tsk_recover -e "$image" "$out/t"); rt+=("$s"); rtc+=("$c"); rt_mem=$(( m > rt_mem ? m : rt_mem ))
    fi
  done
  if [[ " $tasks " == *" list "* ]]; then
    l1=$(printf '%s\n' "${la[@]}" | median) l2=$(printf '%s\n' "${lf[@]}" | median)
    c1=$(printf '%s\n' "${lac[@]}" | median) c2=$(printf '%s\n' "${lfc[@]}" | median)
    row "$kind" list "$files" fls "$l1" "$l2" "$(ratio "$l1" "$l2")" "$la_mem" "$lf_mem" "$c1" "$c2" "$(ratio "$c1" "$c2")"
  fi
  if [[ " $tasks " == *" recover "* ]]; then
    ours_written=$(find "$out/a" -type f | wc -l)
    theirs_written=$(find "$out/t" -type f | wc -l)
    r1=$(printf '%s\n' "${ra[@]}" | median) r2=$(printf '%s\n' "${rt[@]}" | median)
    c1=$(printf '%s\n' "${rac[@]}" | median) c2=$(printf '%s\n' "${rtc[@]}" | median)
    row "$kind" recover "$ours_written" tsk_rec "$r1" "$r2" "$(ratio "$r2" "$r1")" "$ra_mem" "$rt_mem" \
      "$c1" "$c2" "$(ratio "$c2" "$c1")"
    rm -rf "$out/a" "$out/t"
    ours_calls=$(calls_per_file "$ours_written" "$cli" recover "$image" --out "$out/a")
    theirs_calls=$(calls_per_file "$theirs_written" tsk_recover -e "$image" "$out/t")
    printf '%-6s syscalls per file written: ambrel %s (%s files), tsk_recover %s (%s files)\n' "$kind" \
      "$ours_calls" "$ours_written" "$theirs_calls" "$theirs_written"
    rm -rf "$out/a" "$out/t"
  fi
done
echo "list ratio: fls time / ours (higher is better); recover ratio: ours / tsk_recover (lower is better)"
