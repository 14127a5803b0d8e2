/* Extraction. Each file is written under a temporary name beside its target
   and renamed into place only once it is whole and its CRC matched, so no
   half-written file ever carries a member's name. */
#include "extract.h"

#include <stdlib.h>

#include "console.h"
#include "directories.h"
#include "member_data.h"
#include "member_name.h"
#include "safe_path.h"

/* Creates an unused temporary file beside target; its name goes to *temp. */
static HANDLE create_temp_beside(const wchar_t* target, wchar_t** temp) {
  size_t len = wcslen(target) + 24;
  *temp = malloc(len * sizeof **temp);
  if (!*temp) return INVALID_HANDLE_VALUE;
  for (unsigned n = 0; n < 100; ++n) {
    _snwprintf(*temp, len, L"%ls.%u.part", target, n);
    HANDLE h = CreateFileW(*temp, GENERIC_WRITE, 0, NULL, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, NULL);
    if (h != INVALID_HANDLE_VALUE || GetLastError() != ERROR_FILE_EXISTS) return h;
  }
  return INVALID_HANDLE_VALUE;
}

static void set_dos_time(HANDLE h, const ZipMember* m) {
  FILETIME local, utc;
  if (DosDateTimeToFileTime((WORD)m->dos_date, (WORD)m->dos_time, &local) &&
      LocalFileTimeToFileTime(&local, &utc))
    SetFileTime(h, NULL, NULL, &utc);
}

static const wchar_t* write_file_member(const ZipArchive* za, const ZipMember* m,
                                        const wchar_t* target) {
  if (m->flags & ZIP_FLAG_ENCRYPTED) return L"encrypted members are not supported";
  uint64_t start;
  const wchar_t* why = zip_member_data(za, m, &start);
  if (why) return why;
  wchar_t* temp = NULL;
  HANDLE out = create_temp_beside(target, &temp);
  if (out == INVALID_HANDLE_VALUE) {
    free(temp);
    return L"cannot create a temporary file beside it";
  }
  why = member_data_write(za->file, start, m, out);
  if (!why) set_dos_time(out, m);
  if (!CloseHandle(out) && !why) why = L"cannot write the file";
  if (!why && !MoveFileExW(temp, target, MOVEFILE_REPLACE_EXISTING))
    why = L"cannot rename the finished file into place";
  if (why) DeleteFileW(temp);
  free(temp);
  return why;
}

/* Extracts one member whose name was checked; NULL on success or why not. */
static const wchar_t* extract_checked(const ZipArchive* za, const ZipMember* m,
                                      const wchar_t* root, const wchar_t* rel, int is_dir) {
  wchar_t* target = path_join(root, rel);
  if (!target) return L"out of memory";
  const wchar_t* why = NULL;
  wchar_t* leaf = wcsrchr(target, L'\\');
  if (!is_dir) *leaf = 0; /* the directory holding the file */
  if (!create_directories(target, wcslen(root))) why = L"cannot create its directory";
  if (!is_dir) *leaf = L'\\';
  if (!why && !is_dir) why = write_file_member(za, m, target);
  free(target);
  return why;
}

static int extract_member(const ZipArchive* za, const ZipMember* m, const wchar_t* root) {
  size_t len = 0;
  wchar_t* name = member_name_decode(m->name, m->name_len, m->flags, &len);
  wchar_t* shown = name ? member_name_printable(name, len) : NULL;
  int is_dir = 0, ok = 0;
  const wchar_t* why = L"out of memory";
  wchar_t* rel = shown ? safe_relative_path(name, len, &is_dir, &why) : NULL;
  if (!rel) {
    con_err(L"refused: %ls: %ls\n", shown ? shown : L"?", why);
  } else if ((why = extract_checked(za, m, root, rel, is_dir)) != NULL) {
    con_err(L"error: %ls: %ls\n", shown, why);
  } else {
    con_out(L"  %ls\n", shown);
    ok = 1;
  }
  free(rel);
  free(shown);
  free(name);
  return ok;
}

int extract_all(const ZipArchive* za, const wchar_t* dir) {
  wchar_t* root = long_full_path(dir);
  if (!root || !create_directories(root, root_length(root))) {
    free(root);
    return -1;
  }
  int failed = 0;
  for (unsigned i = 0; i < za->count; ++i)
    if (!extract_member(za, &za->members[i], root)) ++failed;
  free(root);
  return failed;
}
