#pragma once
// Shared pieces of the PE layer's tests: stub paths, the pefile helper and
// small version blocks.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "pe/image_file.h"
#include "pefile_dump.h"
#include "test_support.h"

namespace petest {

using testsupport::StubPath;

// The image file at path, opened for reading, or held for an update when
// writable; nullopt (a test failure) when it cannot be opened.
std::optional<pe::ImageFile> OpenImage(const std::string& path, bool writable = false);

// The version information of the image file at path, as the version code
// finds it; false with *error as the reading gives it.
bool VersionInfoOf(const std::string& path, std::vector<uint8_t>& block, uint32_t* error = nullptr);

// A well-formed VS_VERSION_INFO block with a fixed record whose file version
// is `version` and one String table 040904b0 holding the given pairs.
std::vector<uint8_t> MakeVersionBlock(
    uint32_t version, const std::vector<std::pair<std::u16string, std::u16string>>& strings);

}  // namespace petest
