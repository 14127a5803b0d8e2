// The same document in every encoding the reader accepts gives the same tree;
// Shift-JIS goes through code page 932 whatever the process locale.

#include <gtest/gtest.h>

#include "platform/text.h"
#include "xml/shift_jis_encoding.h"
#include "xml_test_util.h"

using xmltest::Dump;
using xmltest::ParseBytes;
using xmltest::ParseText;

namespace {

std::vector<uint8_t> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

std::string TreeOf(const std::vector<uint8_t>& document) {
  CTrvXMLReader reader;
  if (ParseBytes(reader, document) != 0) return "<parse failed>";
  return Dump(reader.FindElement(nullptr, u"doc"));
}

TEST(XmlEncoding, SameTreeInEveryEncoding) {
  // "caf\u00E9" in text and attribute, two lines, a reference and a CDATA section.
  // No blank follows a non-ASCII character: in the US-ASCII form that character
  // is a reference, a piece of its own, and a blank after it would end the text.
  const std::u16string body =
      u"<doc a=\"caf\u00E9\"><t>caf\u00E9s 1\n2 &amp; 3</t><c><![CDATA[ x ]]></c>\n"
      u"<t lang=\"EN\">\u00FF</t></doc>\n";
  const std::string utf8 = platform::Narrow(body);
  std::string latin1;
  for (char16_t unit : body) latin1.push_back(static_cast<char>(unit));
  std::string ascii;
  for (char16_t unit : body) {
    ascii += unit < 0x80 ? std::string(1, static_cast<char>(unit))
                         : "&#" + std::to_string(unit) + ";";
  }
  const std::string expected = TreeOf(Bytes(utf8));
  EXPECT_EQ("0doc a=caf\u00E9(0t lang=EN(1#TEXT{\u00FF}(),),0c(1#CDATA{ x }(),),"
            "0t(1#TEXT{caf\u00E9s 12 &}(),),)",
            expected);
  const struct {
    const char* label;
    std::vector<uint8_t> document;
  } forms[] = {
      {"UTF-8 with byte-order mark", Bytes("\xEF\xBB\xBF" + utf8)},
      {"UTF-16LE", xmltest::EncodeUtf16(body, false)},
      {"UTF-16BE", xmltest::EncodeUtf16(body, true)},
      {"UTF-16 declared", xmltest::EncodeUtf16(u"<?xml version='1.0' encoding='UTF-16'?>" + body,
                                               true)},
      {"ISO-8859-1", Bytes("<?xml version='1.0' encoding='ISO-8859-1'?>" + latin1)},
      {"US-ASCII", Bytes("<?xml version='1.0' encoding='US-ASCII'?>" + ascii)},
  };
  for (const auto& form : forms) {
    SCOPED_TRACE(form.label);
    EXPECT_EQ(expected, TreeOf(form.document));
  }
}

std::string ShiftJisDocument(const std::string& encodingName, const std::string& body) {
  return "<?xml version=\"1.0\" encoding=\"" + encodingName + "\"?>" + body;
}

TEST(XmlEncoding, ShiftJisPairsInNamesValuesAndText) {
  // Element 日本 (93FA 967B), attribute 名 (96BC) = ① (8740, a code page 932
  // extension), text 〜 as code page 932 has it (8160 = U+FF5E) and 表 (955C,
  // whose second byte is a backslash).
  const std::string body =
      "<\x93\xFA\x96\x7B \x96\xBC=\"\x87\x40\">\x81\x60\x95\x5C</\x93\xFA\x96\x7B>";
  for (const char* name : {"Shift_JIS", "SHIFT_JIS", "shift_jis"}) {
    SCOPED_TRACE(name);
    CTrvXMLReader reader;
    ASSERT_EQ(0, ParseText(reader, ShiftJisDocument(name, body)));
    const CTrvXMLNode* element = reader.FindElement(nullptr, u"\u65E5\u672C");
    ASSERT_NE(nullptr, element);
    EXPECT_EQ(std::u16string(u"\u2460"), element->GetAttribute(u"\u540D"));
    EXPECT_EQ(std::u16string(u"\uFF5E\u8868"), xmltest::ElementText(element).value_or(u""));
  }
}

TEST(XmlEncoding, HalfWidthKatakanaMapWithoutConverter) {
  std::string body = "<k v=\"\xB1\">";
  std::u16string expected;
  for (int b = 0xA1; b <= 0xDF; ++b) {
    body.push_back(static_cast<char>(b));
    expected.push_back(static_cast<char16_t>(0xFF61 + (b - 0xA1)));
  }
  body += "</k>";
  CTrvXMLReader reader;
  ASSERT_EQ(0, ParseText(reader, ShiftJisDocument("Shift_JIS", body)));
  const CTrvXMLNode* k = reader.FindElement(nullptr, u"k");
  ASSERT_NE(nullptr, k);
  EXPECT_EQ(std::u16string(u"\uFF71"), k->GetAttribute(u"v"));
  EXPECT_EQ(expected, xmltest::ElementText(k).value_or(u""));
}

TEST(XmlEncoding, ByteMapAndPairConverter) {
  EXPECT_EQ(-1, ShiftJisByteMap[0x00]);
  EXPECT_EQ(0x09, ShiftJisByteMap[0x09]);
  EXPECT_EQ(0x0F, ShiftJisByteMap[0x0F]);
  EXPECT_EQ(-1, ShiftJisByteMap[0x10]);
  EXPECT_EQ(0x5C, ShiftJisByteMap[0x5C]);
  EXPECT_EQ(0x7F, ShiftJisByteMap[0x7F]);
  EXPECT_EQ(-2, ShiftJisByteMap[0x80]);
  EXPECT_EQ(-2, ShiftJisByteMap[0x9F]);
  EXPECT_EQ(0xFF60, ShiftJisByteMap[0xA0]);
  EXPECT_EQ(0xFF9F, ShiftJisByteMap[0xDF]);
  EXPECT_EQ(-2, ShiftJisByteMap[0xFE]);
  EXPECT_EQ(-1, ShiftJisByteMap[0xFF]);
  EXPECT_EQ(0x65E5, ConvertShiftJisPair(nullptr, "\x93\xFA"));
  // Unassigned pairs and bad second bytes are malformed, never a stale value.
  for (const char* pair : {"\x85\x40", "\x81\x20", "\xFD\x41", "\x80\x41", "\x81\x7F"}) {
    EXPECT_EQ(-1, ConvertShiftJisPair(nullptr, pair)) << std::hex << (pair[0] & 0xFF);
  }
}

TEST(XmlEncoding, RefusedEncodingsAndMalformedShiftJis) {
  const std::string good = "<a>x</a>";
  const std::string cases[] = {
      ShiftJisDocument("EUC-JP", good),
      ShiftJisDocument("Shift-JIS", good),
      ShiftJisDocument("SJIS", good),
      ShiftJisDocument("Windows-31J", good),
      ShiftJisDocument("Shift_JIS", "<a>\x85\x40</a>"),  // unassigned pair
      ShiftJisDocument("Shift_JIS", "<a>\x81</a>"),      // first byte without second
      ShiftJisDocument("Shift_JIS", "<a>\x0B</a>"),      // control code XML forbids
      ShiftJisDocument("Shift_JIS", "<a>\xFF</a>"),
  };
  for (const std::string& document : cases) {
    CTrvXMLReader reader;
    EXPECT_EQ(5, ParseText(reader, document)) << document;
    EXPECT_FALSE(reader.IsLoaded());
  }
}

}  // namespace
