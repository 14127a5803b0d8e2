#pragma once
// Entries of a folder held open, for the files the tool creates and removes
// for itself: every step after the folder is opened names the entry in that
// folder, so a folder renamed or replaced meanwhile changes nothing. Internal
// to the POSIX sources of this folder.

#include <sys/stat.h>

#include <cstdint>
#include <string>

namespace platform {

// path's folder, opened as a place to look names up in (O_PATH), and its last
// component. False, with *error, when the folder cannot be opened.
struct FolderEntry {
  int folder = -1;
  std::string name;
};
bool OpenFolderEntry(const std::string& path, FolderEntry* entry, uint32_t* error);

enum class Unlinked { Removed, Gone, Other };

// Unlinks name in folder only while it names the entry whose device and inode
// like holds: Removed; Gone when nothing has the name; Other, with *error,
// when something else has it or it cannot be removed.
//
// POSIX has no unlink by handle. So the entry is moved, in one step, into a
// private folder made beside it (mode 0700, so only this user and root can
// put anything there), looked at there and unlinked there; whatever else had
// taken the name is moved back under it. What remains is the instant between
// that look and the unlink, inside the private folder.
Unlinked UnlinkIfSame(int folder, const std::string& name, const struct stat& like,
                      uint32_t* error);

}  // namespace platform
