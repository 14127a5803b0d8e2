/* A self-extracting package: this program with a ZIP archive appended by
   zipgraft. It lists and extracts the archive and shows its own version
   strings. */
#include <stdlib.h>
#include <wchar.h>

#include "console.h"
#include "extract.h"
#include "member_name.h"
#include "self_file.h"
#include "version_strings.h"
#include "zip_reader.h"

enum { EXIT_OK = 0, EXIT_USAGE = 1, EXIT_NO_PACKAGE = 2, EXIT_MEMBER_FAILED = 3 };

static void usage(void (*print)(const wchar_t*, ...), const wchar_t* self) {
  print(L"usage: %ls                describe the package\n"
        L"       %ls --list         list its files (size, two blanks, name)\n"
        L"       %ls --extract DIR  extract its files into DIR\n"
        L"       %ls --version      show this program's version strings\n",
        self, self, self, self);
}

static int list_members(const ZipArchive* za) {
  for (unsigned i = 0; i < za->count; ++i) {
    const ZipMember* m = &za->members[i];
    size_t len = 0;
    wchar_t* name = member_name_decode(m->name, m->name_len, m->flags, &len);
    wchar_t* shown = name ? member_name_printable(name, len) : NULL;
    con_out(L"%10I64u  %ls\n", (unsigned long long)m->usize, shown ? shown : L"?");
    free(shown);
    free(name);
  }
  return EXIT_OK;
}

static int describe(const ZipArchive* za, const wchar_t* self) {
  unsigned long long total = 0;
  for (unsigned i = 0; i < za->count; ++i) total += za->members[i].usize;
  VersionInfo vi;
  version_load(&vi);
  const wchar_t* product = version_string(&vi, L"ProductName");
  const wchar_t* version = version_string(&vi, L"ProductVersion");
  if (product) con_out(L"%ls %ls\n", product, version ? version : L"");
  con_out(L"This package carries %u members, %I64u bytes in all.\n", za->count, total);
  con_out(L"To list them:    %ls --list\n"
          L"To extract them: %ls --extract DIR\n",
          self, self);
  version_free(&vi);
  return EXIT_OK;
}

static int extract(const ZipArchive* za, const wchar_t* dir) {
  int failed = extract_all(za, dir);
  if (failed < 0) {
    con_err(L"error: cannot create the directory %ls\n", dir);
    return EXIT_USAGE;
  }
  if (failed > 0) {
    con_err(L"%d of %u members were not extracted\n", failed, za->count);
    return EXIT_MEMBER_FAILED;
  }
  con_out(L"%u members extracted to %ls\n", za->count, dir);
  return EXIT_OK;
}

static int show_version(void) {
  VersionInfo vi;
  if (!version_load(&vi)) {
    con_err(L"error: this program has no version information\n");
    return EXIT_NO_PACKAGE;
  }
  version_print(&vi);
  version_free(&vi);
  return EXIT_OK;
}

/* Opens the package and runs the command on it. */
static int with_package(int argc, wchar_t** argv, const wchar_t* self) {
  uint64_t size = 0;
  HANDLE file = self_open(&size);
  if (file == INVALID_HANDLE_VALUE) {
    con_err(L"error: cannot open the program's own file\n");
    return EXIT_NO_PACKAGE;
  }
  ZipArchive za;
  const wchar_t* why = zip_open(&za, file, size);
  int rc = EXIT_NO_PACKAGE;
  if (why)
    con_err(L"error: %ls\n", why);
  else if (argc == 1)
    rc = describe(&za, self);
  else if (argc == 2)
    rc = list_members(&za);
  else
    rc = extract(&za, argv[2]);
  zip_close(&za);
  CloseHandle(file);
  return rc;
}

int wmain(int argc, wchar_t** argv) {
  wchar_t* path = self_path();
  const wchar_t* self = path ? path_leaf(path) : L"package.exe";
  int rc;
  if (argc == 2 && wcscmp(argv[1], L"--version") == 0) {
    rc = show_version();
  } else if (argc == 2 && (wcscmp(argv[1], L"--help") == 0 || wcscmp(argv[1], L"/?") == 0)) {
    usage(con_out, self);
    rc = EXIT_OK;
  } else if (argc == 1 || (argc == 2 && wcscmp(argv[1], L"--list") == 0) ||
             (argc == 3 && wcscmp(argv[1], L"--extract") == 0 && argv[2][0])) {
    rc = with_package(argc, argv, self);
  } else {
    usage(con_err, self);
    rc = EXIT_USAGE;
  }
  free(path);
  return rc;
}
