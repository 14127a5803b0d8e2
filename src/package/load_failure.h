#pragma once
// The sentence that tells the user why a package's archive could not be used.

#include <string>

#include "zip/zip_file_entry.h"
#include "zip/zip_result.h"

// Why the archive could not be opened, from ZIP_File::Open's result; empty
// when the result says enough (the file cannot be opened at all).
std::string ArchiveFailureText(int openResult);
// Why the member could not be read whole, from its UnreadableCause or its
// extraction's result.
std::string MemberFailureText(const trvzip::ZIP_FileEntry& entry, int result);
// For a member whose sizes no archive of this size can hold.
std::string MemberSizeText(const trvzip::ZIP_FileEntry& entry);
