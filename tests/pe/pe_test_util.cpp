#include "pe_test_util.h"

#include <gtest/gtest.h>

#include "pe/version_resource.h"

namespace petest {
namespace {

void Put16(std::vector<uint8_t>& out, std::size_t at, uint16_t v) {
  out[at] = static_cast<uint8_t>(v);
  out[at + 1] = static_cast<uint8_t>(v >> 8);
}

void Pad4(std::vector<uint8_t>& out) {
  while (out.size() % 4 != 0) out.push_back(0);
}

void AppendText(std::vector<uint8_t>& out, const std::u16string& text) {
  for (char16_t c : text) {
    out.push_back(static_cast<uint8_t>(c));
    out.push_back(static_cast<uint8_t>(c >> 8));
  }
  out.push_back(0);
  out.push_back(0);
}

// Starts a node; returns its offset so that EndNode can store its length.
std::size_t BeginNode(std::vector<uint8_t>& out, const std::u16string& key, uint16_t valueLength,
                      uint16_t type) {
  Pad4(out);
  const std::size_t start = out.size();
  out.resize(start + 6, 0);
  Put16(out, start + 2, valueLength);
  Put16(out, start + 4, type);
  AppendText(out, key);
  Pad4(out);
  return start;
}

void EndNode(std::vector<uint8_t>& out, std::size_t start) {
  Put16(out, start, static_cast<uint16_t>(out.size() - start));
}

}  // namespace

std::optional<pe::ImageFile> OpenImage(const std::string& path, bool writable) {
  uint32_t error = 0;
  auto image = pe::ImageFile::Open(path, writable, &error);
  EXPECT_TRUE(image) << path << ": " << error;
  return image;
}

bool VersionInfoOf(const std::string& path, std::vector<uint8_t>& block, uint32_t* error) {
  const auto image = pe::ImageFile::Open(path, false, error);
  return image && pe::GetFileVersionInfo(*image, block, error);
}

std::vector<uint8_t> MakeVersionBlock(
    uint32_t version, const std::vector<std::pair<std::u16string, std::u16string>>& strings) {
  std::vector<uint8_t> out;
  const std::size_t root = BeginNode(out, u"VS_VERSION_INFO", 52, 0);
  const uint32_t fixed[13] = {0xFEEF04BD, 0x10000, version, 0, version, 0, 0x3F, 0, 0x40004, 1};
  for (uint32_t f : fixed) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(f >> (8 * i)));
  }
  const std::size_t info = BeginNode(out, u"StringFileInfo", 0, 1);
  const std::size_t table = BeginNode(out, u"040904b0", 0, 1);
  for (const auto& [key, value] : strings) {
    const std::size_t s =
        BeginNode(out, key, static_cast<uint16_t>(value.empty() ? 0 : value.size() + 1), 1);
    if (!value.empty()) AppendText(out, value);
    EndNode(out, s);
  }
  Pad4(out);
  EndNode(out, table);
  EndNode(out, info);
  const std::size_t var = BeginNode(out, u"VarFileInfo", 0, 1);
  const std::size_t translation = BeginNode(out, u"Translation", 4, 0);
  for (uint8_t b : {0x09, 0x04, 0xB0, 0x04}) out.push_back(b);
  EndNode(out, translation);
  EndNode(out, var);
  EndNode(out, root);
  return out;
}

}  // namespace petest
