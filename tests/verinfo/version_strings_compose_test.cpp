#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "verinfo/version_strings.h"
#include "verinfo/version_update.h"

namespace {

using Entries = std::vector<std::pair<std::u16string, std::u16string>>;

Entries Contents(const VersionStringMap& map) { return Entries(map.begin(), map.end()); }

TEST(VersionStringMap, OrdersByCodeUnitsAndKeepsFirstInsert) {
  VersionStringMap map;
  for (const char16_t* key : {u"ProductName", u"PrivateBuild", u"CompanyName", u"Comments", u"comments", u"Z"})
    map.try_emplace(key, key);
  map.try_emplace(u"Z", u"second");
  EXPECT_EQ(Contents(map), (Entries{{u"Comments", u"Comments"}, {u"CompanyName", u"CompanyName"},
                                    {u"PrivateBuild", u"PrivateBuild"}, {u"ProductName", u"ProductName"},
                                    {u"Z", u"Z"}, {u"comments", u"comments"}}));
}

TEST(ComposeVersionStrings, KeepsStubStringsAndAddsThePackages) {
  VersionStringMap map;
  map.try_emplace(u"InternalName", u"stubprog");
  map.try_emplace(u"FileVersion", u"1.2.0.5");
  map.try_emplace(u"CompanyName", u"Stub Maker");
  map.try_emplace(u"ProductName", u"Stub");
  map.try_emplace(u"Comments", u"old comment");
  ComposeVersionStrings(map, u"Sound Driver", u"1.00.0.12", u"secret");
  EXPECT_EQ(Contents(map), (Entries{{u"Comments", u"Created using stubprog version 1.2.0.5"},
                                    {u"CompanyName", u"Stub Maker"},
                                    {u"FileDescription", u"Sound Driver Package"},
                                    {u"FileVersion", u"1.00.0.12"},
                                    {u"InternalName", u"stubprog"},
                                    {u"PrivateBuild", u"secret"},
                                    {u"ProductName", u"Sound Driver Package"},
                                    {u"ProductVersion", u"1.00.0.12"}}));
}

}  // namespace
