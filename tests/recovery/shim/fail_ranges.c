/* LD_PRELOAD shim for the copy-out tests: pread() on the file named by
 * AMBREL_FAIL_FILE fails with EIO when the request touches one of the byte
 * ranges in AMBREL_FAIL_RANGES ("start-end,start-end", end exclusive), as a
 * disk with unreadable sectors would. Every other call passes through. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/types.h>
#include <unistd.h>

typedef ssize_t (*pread_fn)(int, void*, size_t, off_t);

static int is_target(int fd) {
  const char* want = getenv("AMBREL_FAIL_FILE");
  char link[64], path[PATH_MAX];
  if (!want) return 0;
  snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  ssize_t n = readlink(link, path, sizeof path - 1);
  if (n <= 0) return 0;
  path[n] = 0;
  return strcmp(path, want) == 0;
}

static int touches_bad_range(off_t offset, size_t count) {
  const char* ranges = getenv("AMBREL_FAIL_RANGES");
  unsigned long long start, end, lo = (unsigned long long)offset, hi = lo + count;
  while (ranges && sscanf(ranges, "%llu-%llu", &start, &end) == 2) {
    if (lo < end && start < hi) return 1;
    ranges = strchr(ranges, ',');
    if (ranges) ++ranges;
  }
  return 0;
}

static ssize_t checked_pread(pread_fn real, int fd, void* buf, size_t count, off_t offset) {
  if (count > 0 && touches_bad_range(offset, count) && is_target(fd)) {
    errno = EIO;
    return -1;
  }
  return real(fd, buf, count, offset);
}

ssize_t pread(int fd, void* buf, size_t count, off_t offset) {
  static pread_fn real;
  if (!real) real = (pread_fn)dlsym(RTLD_NEXT, "pread");
  return checked_pread(real, fd, buf, count, offset);
}

ssize_t pread64(int fd, void* buf, size_t count, off_t offset) {
  static pread_fn real;
  if (!real) real = (pread_fn)dlsym(RTLD_NEXT, "pread64");
  return checked_pread(real, fd, buf, count, offset);
}
