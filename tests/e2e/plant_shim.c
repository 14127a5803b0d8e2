/* Somebody else's entry planted between the removal of a name and its
   creation, loaded with LD_PRELOAD: the first create (O_CREAT) of a path
   ending in ZG_PLANT_AT finds a symbolic link to ZG_PLANT_TARGET there, made
   just before the C library's open runs. Only an exclusive create that does
   not follow links leaves the target alone. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

static int planted = 0;

static void PlantBefore(const char* path, int flags) {
  const char* at = getenv("ZG_PLANT_AT");
  const char* target = getenv("ZG_PLANT_TARGET");
  if (planted || at == NULL || target == NULL || !(flags & O_CREAT)) return;
  const size_t length = strlen(path), tail = strlen(at);
  if (length < tail || strcmp(path + length - tail, at) != 0) return;
  planted = 1;
  symlink(target, path);
}

typedef int (*OpenCall)(const char*, int, ...);

/* The C library's own definition; copied bytewise since ISO C has no
   conversion from an object pointer to a function pointer. */
static OpenCall Next(const char* name) {
  void* found = dlsym(RTLD_NEXT, name);
  OpenCall call;
  memcpy(&call, &found, sizeof call);
  return call;
}

/* The mode is there only with O_CREAT (the tool opens no O_TMPFILE). */
#define FORWARD(name)                              \
  int name(const char* path, int flags, ...) {     \
    mode_t mode = 0;                               \
    if (flags & O_CREAT) {                         \
      va_list args;                                \
      va_start(args, flags);                       \
      mode = (mode_t)va_arg(args, int);            \
      va_end(args);                                \
    }                                              \
    PlantBefore(path, flags);                      \
    return Next(#name)(path, flags, mode);         \
  }

FORWARD(open)
FORWARD(open64)
