#pragma once
// Version strings by key. Keys are ordered by their UTF-16 code units (case
// sensitive, a prefix first), which is the order the strings are written in.

#include <map>
#include <string>

using VersionStringMap = std::map<std::u16string, std::u16string>;
