/* A full disk on demand, loaded with LD_PRELOAD: once ZG_FAIL_AFTER_BYTES
   bytes have been written to regular files, every further write to a regular
   file fails with ENOSPC (a write that crosses the limit is cut short there,
   as a filling disk does). Writes to pipes and terminals pass, so the
   program's output stays readable. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

static long long budget = -1; /* bytes left; -1 when no limit was asked for */
static int initialised = 0;

static void Initialise(void) {
  if (initialised) return;
  initialised = 1;
  const char* limit = getenv("ZG_FAIL_AFTER_BYTES");
  if (limit != NULL) budget = atoll(limit);
}

/* How many of count bytes may go to fd; sets errno when none may. */
static ssize_t Allowed(int fd, size_t count) {
  Initialise();
  struct stat st;
  if (budget < 0 || fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return (ssize_t)count;
  if (budget == 0 && count > 0) {
    errno = ENOSPC;
    return -1;
  }
  return (ssize_t)((long long)count < budget ? (long long)count : budget);
}

static void Spend(int fd, ssize_t done) {
  struct stat st;
  if (budget > 0 && done > 0 && fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) budget -= done;
}

/* The next definition of a function, the C library's; copied bytewise since
   ISO C has no conversion from an object pointer to a function pointer. */
#define NEXT(name) (*(__typeof__(&name)*)Next(#name))
static void* Next(const char* name) {
  static void* found[8];
  static const char* names[8];
  for (int i = 0; i < 8; ++i) {
    if (names[i] == name) return &found[i];
    if (names[i] == NULL) {
      names[i] = name;
      found[i] = dlsym(RTLD_NEXT, name);
      return &found[i];
    }
  }
  abort();
}

ssize_t write(int fd, const void* buffer, size_t count) {
  const ssize_t allowed = Allowed(fd, count);
  if (allowed < 0) return -1;
  const ssize_t done = NEXT(write)(fd, buffer, (size_t)allowed);
  Spend(fd, done);
  return done;
}

ssize_t pwrite(int fd, const void* buffer, size_t count, off_t offset) {
  const ssize_t allowed = Allowed(fd, count);
  if (allowed < 0) return -1;
  const ssize_t done = NEXT(pwrite)(fd, buffer, (size_t)allowed, offset);
  Spend(fd, done);
  return done;
}

ssize_t pwrite64(int fd, const void* buffer, size_t count, off_t offset) {
  return pwrite(fd, buffer, count, offset);
}
