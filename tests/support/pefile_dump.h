#pragma once
// What python3-pefile reads from an image's resources, for comparing our
// reading and writing of version information with a reader nobody here wrote.

#include <string>
#include <vector>

#include "test_support.h"

struct PefileResource {
  std::string type, name;
  int language = 0;
  std::string codePage;
  std::string dataHex;
};

struct PefileString {
  int language = 0;  // of the version resource
  std::string table, key, value;
};

struct PefileDump {
  std::vector<std::string> warnings;
  std::vector<PefileResource> resources;
  std::vector<std::pair<int, std::string>> fixedRecords;  // language, 52 bytes as hex
  std::vector<PefileString> strings;                      // in file order

  const PefileResource* Find(const std::string& type, const std::string& name, int language) const;
  std::string FixedRecordHex(int language) const;
  // Key/value pairs of the version resource under language, in file order.
  std::vector<std::pair<std::string, std::string>> Strings(int language) const;
};

// Runs tests/support/pefile_tool.py under /usr/bin/python3 (Debian's, which
// has pefile) with the arguments, each quoted.
testsupport::CommandResult RunPefileTool(const std::vector<std::string>& arguments);

// pefile_tool.py dump, parsed; fails the test on error.
PefileDump ReadWithPefile(const std::string& path);

std::string ToHex(const unsigned char* data, std::size_t size);
