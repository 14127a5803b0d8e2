#pragma once
// Version strings by key. Keys are ordered by their UTF-16 code units (case
// sensitive, a prefix first), which is the order the strings are written in.

#include <cstddef>
#include <map>
#include <string>

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
