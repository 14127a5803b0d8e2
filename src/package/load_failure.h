#pragma once
// The sentence that tells the user why a package's archive could not be used.

#include <string>

#include "zip/zip_file_entry.h"
#include "zip/zip_result.h"

// Why the archive could not be opened; empty when the result code says
// enough (the file cannot be opened at all).
std::string ArchiveFailureText(trvzip::ZipCause cause);
// Why the member could not be read whole: cause from the member itself or
// from its extraction, or kNone for sizes no archive of this size can hold.
std::string MemberFailureText(const trvzip::ZIP_FileEntry& entry, trvzip::ZipCause cause);
