/* Extracting the package's members into a directory. */
#ifndef EXTRACT_H
#define EXTRACT_H

#include "zip_reader.h"

/* Extracts every member into dir (created if missing). Returns the number
   of members that were not written whole, or -1 when dir is unusable. */
int extract_all(const ZipArchive* za, const wchar_t* dir);

#endif
