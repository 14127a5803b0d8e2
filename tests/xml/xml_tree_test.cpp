// How the reader builds its tree: which text an element keeps, and which
// element a look-up finds.

#include <gtest/gtest.h>

#include "xml/compare_no_case.h"
#include "xml_test_util.h"

using xmltest::ElementText;
using xmltest::FindPath;
using xmltest::ParseText;

namespace {

struct TextCase {
  const char* label;
  const char* document;
  std::vector<const char16_t*> path;  // element names from the root
  const char16_t* text;               // expected text, null for none
};

const TextCase kTextCases[] = {
    {"right after the tag", "<p><f>setup.exe</f></p>", {u"p", u"f"}, u"setup.exe"},
    {"indented", "<p><f>\n  setup.exe\n</f></p>", {u"p", u"f"}, nullptr},
    {"leading space", "<a> x</a>", {u"a"}, nullptr},
    {"two lines", "<a>ab\ncd</a>", {u"a"}, u"abcd"},
    {"two lines, CR LF", "<a>ab\r\ncd</a>", {u"a"}, u"abcd"},
    {"second line indented", "<a>ab\n  cd</a>", {u"a"}, u"ab"},
    {"reference then space", "<a>A &amp; B</a>", {u"a"}, u"A &"},
    {"references joined", "<a>x&lt;y&#x41;&#66;</a>", {u"a"}, u"x<yAB"},
    {"supplementary character", "<a>&#x1F600;z</a>", {u"a"}, u"\U0001F600z"},
    {"tail extends child's text", "<a><b>x</b>tail</a>", {u"a", u"b"}, u"xtail"},
    {"parent of extended child", "<a><b>x</b>tail</a>", {u"a"}, nullptr},
    {"tail after empty child", "<a><b/>tail</a>", {u"a"}, u"tail"},
    {"CDATA first keeps blanks", "<a><![CDATA[ k\n e ]]></a>", {u"a"}, u" k\n e "},
    {"data after CDATA ignored", "<a><![CDATA[x]]>after\nmore</a>", {u"a"}, u"x"},
    {"empty CDATA has no text", "<a><![CDATA[]]></a>", {u"a"}, nullptr},
    {"newest child is the CDATA", "<a>t<![CDATA[c]]></a>", {u"a"}, u"c"},
};

TEST(XmlTree, TextRules) {
  for (const TextCase& c : kTextCases) {
    SCOPED_TRACE(c.label);
    CTrvXMLReader reader;
    ASSERT_EQ(0, ParseText(reader, c.document));
    const CTrvXMLNode* element = FindPath(reader, c.path);
    ASSERT_NE(nullptr, element);
    const auto text = ElementText(element);
    if (c.text == nullptr) {
      EXPECT_FALSE(text.has_value());
    } else {
      EXPECT_EQ(std::u16string(c.text), text.value_or(u"<none>"));
    }
  }
}

TEST(XmlTree, NodeShapes) {
  CTrvXMLReader reader;
  ASSERT_EQ(0, ParseText(reader, "<a x='1' y='2'>t<b/><![CDATA[c]]>after<c/></a>"));
  const CTrvXMLNode* a = FindPath(reader, {u"a"});
  ASSERT_NE(nullptr, a);
  // Newest first: c, #CDATA, b, #TEXT ("after" is dropped after the CDATA).
  EXPECT_EQ("0a x=1 y=2(0c(),1#CDATA{c}(),0b(),1#TEXT{t}(),)", xmltest::Dump(a));
  EXPECT_EQ(2, a->GetAttributeCount());
  EXPECT_EQ(nullptr, a->GetAttributeName(2));
  EXPECT_EQ(a, a->GetFirstChild()->GetParent());
  EXPECT_EQ(std::u16string(u"#DOCROOT"), a->GetParent()->GetName());
  EXPECT_EQ(a->GetFirstChild(), a->FindChild(u"c"));
  EXPECT_EQ(nullptr, a->FindChild(u"C"));
  const CTrvXMLNode* b = a->FindChild(u"b");
  ASSERT_NE(nullptr, b);
  EXPECT_EQ(std::u16string(u"t"), b->FindNextSibling(u"#TEXT")->GetText());
  EXPECT_EQ(nullptr, b->FindNextSibling(u"b"));  // the node itself is no candidate
}

const char kPackage[] =
    "<trv_package>\n"
    "  <name_xlate lang=\"en\">first</name_xlate>\n"
    "  <name_xlate lang=\"EN\">second</name_xlate>\n"
    "  <name_xlate Lang=\"de\">third</name_xlate>\n"
    "  <name_xlate lang=\"\">empty</name_xlate>\n"
    "  <inner><filename>deep</filename></inner>\n"
    "</trv_package>\n";

struct LookupCase {
  const char16_t* attrName;
  const char16_t* attrValue;
  const char16_t* expectedText;  // null: nothing found
};

TEST(XmlTree, FindElementFilters) {
  const LookupCase cases[] = {
      {u"lang", u"en", u"second"},  // newest first, values without case
      {u"lang", u"En", u"second"},
      {u"Lang", u"de", u"third"},
      {u"lang", u"de", nullptr},  // attribute names with case
      {u"LANG", u"de", nullptr},
      {u"lang", u"", u"empty"},
      {u"Lang", u"", nullptr},  // the others have no Lang attribute
      {u"lang", u"fr", nullptr},
      {nullptr, u"en", u"empty"},  // half a filter is no filter
      {u"lang", nullptr, u"empty"},
  };
  CTrvXMLReader reader;
  ASSERT_EQ(0, ParseText(reader, kPackage));
  CTrvXMLNode* package = reader.FindElement(nullptr, u"trv_package");
  ASSERT_NE(nullptr, package);
  for (const LookupCase& c : cases) {
    const CTrvXMLNode* found = reader.FindElement(package, u"name_xlate", c.attrName, c.attrValue);
    if (c.expectedText == nullptr) {
      EXPECT_EQ(nullptr, found);
    } else {
      EXPECT_EQ(std::u16string(c.expectedText), ElementText(found).value_or(u"<none>"));
    }
  }
}

TEST(XmlTree, FindElementSearchesDirectChildrenOnly) {
  CTrvXMLReader reader;
  ASSERT_EQ(0, ParseText(reader, kPackage));
  EXPECT_EQ(nullptr, reader.FindElement(nullptr, u"name_xlate"));
  EXPECT_EQ(nullptr, reader.FindElement(nullptr, u"TRV_PACKAGE"));
  CTrvXMLNode* package = reader.FindElement(nullptr, u"trv_package");
  EXPECT_EQ(nullptr, reader.FindElement(package, u"filename"));
  EXPECT_NE(nullptr, FindPath(reader, {u"trv_package", u"inner", u"filename"}));
  EXPECT_EQ(nullptr, reader.FindElement(package, nullptr));
}

TEST(XmlTree, CompareNoCase) {
  EXPECT_TRUE(CompareNoCase(u"en", u"EN"));
  EXPECT_TRUE(CompareNoCase(u"", u""));
  EXPECT_FALSE(CompareNoCase(u"en", u"eng"));
  EXPECT_FALSE(CompareNoCase(u"eng", u"en"));
  EXPECT_FALSE(CompareNoCase(u"", nullptr));
}

}  // namespace
