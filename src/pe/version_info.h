#pragma once
// Version information of an image file, read the way the version-information
// interface of the image's home platform reads it: the data of the version
// resource, and queries by sub-block path into a VS_VERSION_INFO block.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace pe {

// Size of the file's version information: the data of its RT_VERSION (16) resource named 1,
// language neutral (0) preferred, then 1033, then the first present. 0 when there is none or
// the file is not a readable image; *error (optional) gets a platform-style code (2, 5, 13,
// 193, 1812 for "no resource section", 1813 for "resource type not found", 1814 "name not
// found"), 0 on success.
uint32_t GetFileVersionInfoSize(const std::string& path, uint32_t* error = nullptr);

// Loads those bytes into buffer (resized to the size). false on failure.
bool GetFileVersionInfo(const std::string& path, std::vector<uint8_t>& buffer,
                        uint32_t* error = nullptr);

// Finds a sub-block of a VS_VERSION_INFO block by path, keys compared without regard to letter
// case: u"\\" gives the root's value (the 52-byte fixed record, length 52);
// u"\\StringFileInfo\\040904b0\\Key" gives a String's value: *value points at its UTF-16 text,
// *length is its wValueLength in characters (NUL included). A String whose wValueLength is 0
// yields a pointer to an empty text (a static u"") with length 0. false when not found or
// malformed.
bool VerQueryValue(std::span<const uint8_t> block, std::u16string_view subBlock,
                   const void** value, uint32_t* length);

}  // namespace pe
