#pragma once
// Shared pieces of the PE layer's tests: stub paths, the pefile helper and
// small version blocks.

#include <cstdint>
#include <string>
#include <vector>

#include "test_support.h"

namespace petest {

using testsupport::StubPath;

// Runs tests/pe/pefile_tool.py with arguments (each quoted).
testsupport::CommandResult PefileTool(const std::vector<std::string>& arguments);

// A well-formed VS_VERSION_INFO block with a fixed record whose file version
// is `version` and one String table 040904b0 holding the given pairs.
std::vector<uint8_t> MakeVersionBlock(
    uint32_t version, const std::vector<std::pair<std::u16string, std::u16string>>& strings);

}  // namespace petest
