#pragma once
// The VS_VERSION_INFO block: a tree of nodes (wLength, wValueLength, wType,
// a NUL-terminated UTF-16 key, a value, then child nodes, each aligned to 4
// bytes from the block's start). Queries read it as the version-information
// interface of the image's home platform does; the composition writes the
// block the version update stores.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "verinfo/version_string_map.h"

// Size of the fixed version record (VS_FIXEDFILEINFO): thirteen 32-bit fields.
inline constexpr std::size_t kFixedRecordSize = 52;

// Finds a sub-block by path, keys compared without regard to ASCII letter
// case: u"\\" gives the root's value (the fixed record, at least
// kFixedRecordSize bytes); u"\\StringFileInfo\\040904b0\\Key" gives a
// String's value: *value points at its UTF-16 text, which a NUL ends inside
// the block, and *length is its wValueLength in characters (NUL included),
// never more than the text's room in its node. A String whose wValueLength is
// 0 yields a pointer to an empty text (a static u"") with length 0. false
// when not found or malformed.
bool VerQueryValue(std::span<const uint8_t> block, std::u16string_view subBlock,
                   const void** value, uint32_t* length);

// The keys of the string tables under the root's "StringFileInfo", in block
// order (empty when there are none or the block is malformed).
std::vector<std::u16string> StringTableNames(std::span<const uint8_t> block);

// The block: root "VS_VERSION_INFO" with fixedRecord, one "StringFileInfo"
// with the table "040904b0" holding the map's strings in key order, and a
// "VarFileInfo" translation 0x0409 / 1200. Its size equals the root's length.
// nullopt when any length field would pass 65,535.
std::optional<std::vector<uint8_t>> BuildVersionInfoBlock(
    std::span<const uint8_t, kFixedRecordSize> fixedRecord, const VersionStringMap& map);
