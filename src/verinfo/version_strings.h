#pragma once
// The stub's version information as the version update needs it: its fixed
// version record and the strings of its U.S. English / UTF-16 string table.

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>

// Size of the fixed version record (VS_FIXEDFILEINFO): thirteen 32-bit fields.
inline constexpr std::size_t kFixedRecordSize = 52;

// Version strings by key. Keys are ordered by their UTF-16 code units (case
// sensitive, a prefix first), which is the order the strings are written in.
class VersionStringMap {
 public:
  using Entries = std::map<std::u16string, std::u16string>;

  // Adds the pair unless the key is present; a present value stays.
  void InsertIfAbsent(std::u16string key, std::u16string value);
  // Sets the key's value, adding the key when absent.
  void Replace(std::u16string key, std::u16string value);
  // The key's value; an absent key is added with the empty value first.
  const std::u16string& GetOrAddEmpty(const std::u16string& key);
  // The key's value, or null when absent.
  const std::u16string* Find(const std::u16string& key) const;

  std::size_t Size() const { return entries_.size(); }
  bool Empty() const { return entries_.empty(); }
  Entries::const_iterator begin() const { return entries_.begin(); }
  Entries::const_iterator end() const { return entries_.end(); }

 private:
  Entries entries_;
};

// Reads the version information of the image at path. Copies its fixed record
// into fixedRecord (only when present; true exactly then) and adds each of the
// ten usual strings found in the "040904b0" table to map with InsertIfAbsent.
// Strings may have been added even when the result is false.
bool ReadVersionStrings(const std::string& path, uint8_t fixedRecord[kFixedRecordSize],
                        VersionStringMap& map);
