// Which text an element keeps, and which element a look-up finds.

#include <gtest/gtest.h>

#include "xml_test_util.h"

using namespace xmltest;

namespace {

TEST(XmlTree, TextRules) {
  const struct {
    const char* document;
    std::vector<const char16_t*> path;  // element names from the root
    const char16_t* text;               // null: no text
  } cases[] = {
      {"<p><f>setup.exe</f></p>", {u"p", u"f"}, u"setup.exe"},
      {"<p><f>\n  setup.exe\n</f></p>", {u"p", u"f"}, nullptr},
      {"<a> x</a>", {u"a"}, nullptr},
      {"<a>ab\ncd</a>", {u"a"}, u"abcd"},
      {"<a>ab\r\ncd</a>", {u"a"}, u"abcd"},
      {"<a>ab\n  cd</a>", {u"a"}, u"ab"},
      {"<a>A &amp; B</a>", {u"a"}, u"A &"},
      {"<a>x&lt;y&#x41;&#66;</a>", {u"a"}, u"x<yAB"},
      {"<a>&#x1F600;z</a>", {u"a"}, u"\U0001F600z"},
      {"<a><b>x</b>tail</a>", {u"a", u"b"}, u"xtail"},  // lastText outlives b
      {"<a><b>x</b>tail</a>", {u"a"}, nullptr},
      {"<a><b/>tail</a>", {u"a"}, u"tail"},
      {"<a><![CDATA[ k\n e ]]></a>", {u"a"}, u" k\n e "},
      {"<a><![CDATA[x]]>after\nmore</a>", {u"a"}, u"x"},
      {"<a><![CDATA[]]></a>", {u"a"}, nullptr},
      {"<a>t<![CDATA[c]]></a>", {u"a"}, u"c"},  // the newest child wins
  };
  for (const auto& c : cases) {
    CTrvXMLReader reader;
    ASSERT_EQ(0, Parse(reader, c.document)) << c.document;
    const CTrvXMLNode* element = FindPath(reader, c.path);
    ASSERT_NE(nullptr, element) << c.document;
    EXPECT_EQ(c.text != nullptr ? std::optional<std::u16string>(c.text) : std::nullopt,
              TextOf(element))
        << c.document;
  }
}

TEST(XmlTree, NodesNewestFirst) {
  CTrvXMLReader reader;
  ASSERT_EQ(0, Parse(reader, "<a x='1' y='2'>t<b/><![CDATA[c]]>after<c/></a>"));
  const CTrvXMLNode* a = reader.FindElement(nullptr, u"a");
  ASSERT_NE(nullptr, a);
  EXPECT_EQ("0a x=1 y=2(0c(),1#CDATA{c}(),0b(),1#TEXT{t}(),)", Dump(a));
  EXPECT_EQ(a, a->GetFirstChild()->GetParent());
  EXPECT_EQ(std::u16string(u"#DOCROOT"), a->GetParent()->GetName());
  EXPECT_EQ(nullptr, a->FindChild(u"C"));
  const CTrvXMLNode* b = a->FindChild(u"b");
  ASSERT_NE(nullptr, b);
  EXPECT_EQ(std::u16string(u"t"), b->FindNextSibling(u"#TEXT")->GetText());
  EXPECT_EQ(nullptr, b->FindNextSibling(u"b"));  // the node itself is no candidate
}

TEST(XmlTree, FindElementFilters) {
  CTrvXMLReader reader;
  ASSERT_EQ(0, Parse(reader,
                     "<pkg>\n <n v='lang' lang='it'>italian</n>\n"
                     " <n lang='en'>first</n>\n <n lang='EN'>second</n>\n"
                     " <n Lang='de'>third</n>\n <n lang=''>empty</n>\n"
                     " <in><f>deep</f></in>\n</pkg>"));
  CTrvXMLNode* pkg = reader.FindElement(nullptr, u"pkg");
  const struct {
    const char16_t* attrName;
    const char16_t* attrValue;
    const char16_t* text;  // of the element found; null: none found
  } cases[] = {
      {u"lang", u"en", u"second"}, {u"lang", u"En", u"second"}, {u"Lang", u"de", u"third"},
      {u"lang", u"de", nullptr},   {u"LANG", u"de", nullptr},   {u"lang", u"", u"empty"},
      {u"Lang", u"", nullptr},     {u"lang", u"fr", nullptr},   {nullptr, u"en", u"empty"},
      {u"lang", nullptr, u"empty"},
      // A value equal to a later attribute's name is not taken for that name.
      {u"lang", u"it", u"italian"}, {u"v", u"lang", u"italian"},
  };
  for (const auto& c : cases) {
    const CTrvXMLNode* found = reader.FindElement(pkg, u"n", c.attrName, c.attrValue);
    EXPECT_EQ(c.text != nullptr ? std::optional<std::u16string>(c.text) : std::nullopt,
              TextOf(found));
  }
  // Only direct children, names with case.
  EXPECT_EQ(nullptr, reader.FindElement(nullptr, u"n"));
  EXPECT_EQ(nullptr, reader.FindElement(nullptr, u"PKG"));
  EXPECT_EQ(nullptr, reader.FindElement(pkg, u"f"));
  EXPECT_NE(nullptr, FindPath(reader, {u"pkg", u"in", u"f"}));
}

}  // namespace
