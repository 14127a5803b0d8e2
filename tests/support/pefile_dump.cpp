#include "pefile_dump.h"

#include <gtest/gtest.h>

#include <sstream>

#include "test_support.h"

namespace {

std::vector<std::string> SplitTabs(const std::string& line) {
  std::vector<std::string> fields;
  std::size_t start = 0;
  for (std::size_t tab; (tab = line.find('\t', start)) != std::string::npos; start = tab + 1)
    fields.push_back(line.substr(start, tab - start));
  fields.push_back(line.substr(start));
  return fields;
}

}  // namespace

const PefileResource* PefileDump::Find(const std::string& type, const std::string& name,
                                       int language) const {
  for (const auto& r : resources)
    if (r.type == type && r.name == name && r.language == language) return &r;
  return nullptr;
}

std::string PefileDump::FixedRecordHex(int language) const {
  for (const auto& [lang, hex] : fixedRecords)
    if (lang == language) return hex;
  return {};
}

std::vector<std::pair<std::string, std::string>> PefileDump::Strings(int language) const {
  std::vector<std::pair<std::string, std::string>> out;
  for (const auto& s : strings)
    if (s.language == language) out.emplace_back(s.key, s.value);
  return out;
}

testsupport::CommandResult RunPefileTool(const std::vector<std::string>& arguments) {
  std::string line = "/usr/bin/python3 " +
                     testsupport::ShellQuote(testsupport::SourceDir() + "/tests/support/pefile_tool.py");
  for (const std::string& a : arguments) line += " " + testsupport::ShellQuote(a);
  return testsupport::RunCommand(line, true);
}

PefileDump ReadWithPefile(const std::string& path) {
  PefileDump dump;
  auto result = RunPefileTool({"dump", path});
  EXPECT_EQ(result.exitCode, 0) << result.output;
  std::istringstream lines(result.output);
  for (std::string line; std::getline(lines, line);) {
    auto f = SplitTabs(line);
    if (f[0] == "warning" && f.size() >= 2) {
      dump.warnings.push_back(f[1]);
    } else if (f[0] == "resource" && f.size() == 6) {
      dump.resources.push_back({f[1], f[2], std::stoi(f[3]), f[4], f[5]});
    } else if (f[0] == "fixed" && f.size() == 4) {
      dump.fixedRecords.emplace_back(std::stoi(f[2]), f[3]);
    } else if (f[0] == "string" && f.size() == 6) {
      dump.strings.push_back({std::stoi(f[2]), f[3], f[4], f[5]});
    } else {
      ADD_FAILURE() << "unexpected line from pefile_tool.py: " << line;
    }
  }
  return dump;
}

std::string ToHex(const unsigned char* data, std::size_t size) {
  static const char digits[] = "0123456789abcdef";
  std::string hex;
  for (std::size_t i = 0; i < size; ++i) {
    hex.push_back(digits[data[i] >> 4]);
    hex.push_back(digits[data[i] & 15]);
  }
  return hex;
}
