#include "verinfo/version_string_map.h"

#include <utility>

void VersionStringMap::InsertIfAbsent(std::u16string key, std::u16string value) {
  entries_.try_emplace(std::move(key), std::move(value));
}

void VersionStringMap::Replace(std::u16string key, std::u16string value) {
  entries_.insert_or_assign(std::move(key), std::move(value));
}

const std::u16string& VersionStringMap::GetOrAddEmpty(const std::u16string& key) {
  return entries_[key];
}

const std::u16string* VersionStringMap::Find(const std::u16string& key) const {
  auto it = entries_.find(key);
  return it == entries_.end() ? nullptr : &it->second;
}
