#pragma once
// The archive member that holds a package's definition: named after the file
// the package is built as (SETUP42.exe -> SETUP42.xml).

#include <string>
#include <string_view>

// The file-name component of path (no drive, directory or extension)
// followed by ".xml".
std::u16string DefinitionMemberName(std::string_view path);
