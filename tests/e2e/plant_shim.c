/* Somebody else's hand inside the tool, loaded with LD_PRELOAD: just before
   the first call of one kind on an entry named ZG_PLANT_AT (its last
   component), something is done there, once.

   ZG_PLANT_WHEN: "create" (default), an open with O_CREAT; or "remove", an
   unlink or a rename that takes the name away.
   ZG_PLANT_KIND: "symlink" (default), a symbolic link to ZG_PLANT_TARGET made
   at the name; "hardlink", a hard link to ZG_PLANT_TARGET; "rename",
   ZG_PLANT_TARGET renamed onto the name; "stop", the tool stops itself
   (SIGSTOP) for the test to do its work and let it go on.

   Only an exclusive create that does not follow links leaves a planted
   target alone; only a removal that looks at what it removes leaves a file
   renamed onto the name. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

static int planted = 0;

/* The C library's own definition of name. */
static void* Next(const char* name) { return dlsym(RTLD_NEXT, name); }

typedef int (*OpenCall)(const char*, int, ...);
typedef int (*OpenAtCall)(int, const char*, int, ...);
typedef int (*UnlinkCall)(const char*);
typedef int (*UnlinkAtCall)(int, const char*, int);
typedef int (*RenameCall)(const char*, const char*);
typedef int (*RenameAtCall)(int, const char*, int, const char*);
typedef int (*RenameAt2Call)(int, const char*, int, const char*, unsigned);

static int Is(const char* variable, const char* value, int byDefault) {
  const char* set = getenv(variable);
  return set == NULL ? byDefault : strcmp(set, value) == 0;
}

static void PlantBefore(int folder, const char* path, int removing) {
  const char* at = getenv("ZG_PLANT_AT");
  const char* target = getenv("ZG_PLANT_TARGET");
  if (planted || at == NULL || path == NULL || Is("ZG_PLANT_WHEN", "remove", 0) != removing) {
    return;
  }
  const char* slash = strrchr(path, '/');
  if (strcmp(slash == NULL ? path : slash + 1, at) != 0) return;
  planted = 1;
  if (Is("ZG_PLANT_KIND", "stop", 0)) {
    raise(SIGSTOP);
  } else if (target == NULL) {
    return;
  } else if (Is("ZG_PLANT_KIND", "hardlink", 0)) {
    linkat(AT_FDCWD, target, folder, path, 0);
  } else if (Is("ZG_PLANT_KIND", "rename", 0)) {
    RenameAtCall renameAt;
    void* found = Next("renameat");
    memcpy(&renameAt, &found, sizeof renameAt);
    renameAt(AT_FDCWD, target, folder, path);
  } else {
    symlinkat(target, folder, path);
  }
}

/* Calls the C library's name, its address copied bytewise since ISO C has
   no conversion from an object pointer to a function pointer. */
#define CALL(type, name, ...)                 \
  do {                                        \
    type call;                                \
    void* found = Next(#name);                \
    memcpy(&call, &found, sizeof call);       \
    return call(__VA_ARGS__);                 \
  } while (0)

/* The mode is there only with O_CREAT (the tool opens no O_TMPFILE). */
#define FORWARD_OPEN(name)                                   \
  int name(const char* path, int flags, ...) {               \
    mode_t mode = 0;                                         \
    if (flags & O_CREAT) {                                   \
      va_list args;                                          \
      va_start(args, flags);                                 \
      mode = (mode_t)va_arg(args, int);                      \
      va_end(args);                                          \
      PlantBefore(AT_FDCWD, path, 0);                        \
    }                                                        \
    CALL(OpenCall, name, path, flags, mode); \
  }

#define FORWARD_OPENAT(name)                                 \
  int name(int folder, const char* path, int flags, ...) {   \
    mode_t mode = 0;                                         \
    if (flags & O_CREAT) {                                   \
      va_list args;                                          \
      va_start(args, flags);                                 \
      mode = (mode_t)va_arg(args, int);                      \
      va_end(args);                                          \
      PlantBefore(folder, path, 0);                          \
    }                                                        \
    CALL(OpenAtCall, name, folder, path, flags, mode); \
  }

FORWARD_OPEN(open)
FORWARD_OPEN(open64)
FORWARD_OPENAT(openat)
FORWARD_OPENAT(openat64)

int unlink(const char* path) {
  PlantBefore(AT_FDCWD, path, 1);
  CALL(UnlinkCall, unlink, path);
}

int unlinkat(int folder, const char* path, int flags) {
  PlantBefore(folder, path, 1);
  CALL(UnlinkAtCall, unlinkat, folder, path, flags);
}

int rename(const char* from, const char* to) {
  PlantBefore(AT_FDCWD, from, 1);
  CALL(RenameCall, rename, from, to);
}

int renameat(int fromFolder, const char* from, int toFolder, const char* to) {
  PlantBefore(fromFolder, from, 1);
  CALL(RenameAtCall, renameat, fromFolder, from, toFolder, to);
}

int renameat2(int fromFolder, const char* from, int toFolder, const char* to, unsigned flags) {
  PlantBefore(fromFolder, from, 1);
  CALL(RenameAt2Call, renameat2, fromFolder, from, toFolder, to, flags);
}
