// The same document gives the same tree in every accepted encoding; Shift-JIS
// goes through code page 932 whatever the process locale.

#include <gtest/gtest.h>

#include "xml_test_util.h"

using namespace xmltest;

namespace {

std::string TreeOf(const std::string& document) {
  CTrvXMLReader reader;
  return Parse(reader, document) == 0 ? Dump(reader.FindElement(nullptr, u"doc")) : "<failed>";
}

std::string Utf16(const std::u16string& text, bool bigEndian) {
  std::string out;
  for (char16_t unit : u"\xFEFF" + text) {
    out += static_cast<char>(bigEndian ? unit >> 8 : unit & 0xFF);
    out += static_cast<char>(bigEndian ? unit & 0xFF : unit >> 8);
  }
  return out;
}

std::string Declared(const std::string& encoding, const std::string& body) {
  return "<?xml version='1.0' encoding='" + encoding + "'?>" + body;
}

TEST(XmlEncoding, SameTreeInEveryEncoding) {
  // No blank follows a non-ASCII character: in the US-ASCII form it is a
  // reference, a piece of its own, and a blank after it would end the text.
  const std::u16string body =
      u"<doc a=\"caf\u00E9\"><t>caf\u00E9s 1\n2 &amp; 3</t><c><![CDATA[ x ]]></c>\n"
      u"<t lang=\"EN\">\u00FF</t></doc>\n";
  std::string latin1, ascii;
  for (char16_t unit : body) {
    latin1 += static_cast<char>(unit);
    ascii += unit < 0x80 ? std::string(1, static_cast<char>(unit))
                         : "&#" + std::to_string(unit) + ";";
  }
  const std::string utf8 = platform::Narrow(body);
  ASSERT_EQ("0doc a=caf\u00E9(0t lang=EN(1#TEXT{\u00FF}(),),0c(1#CDATA{ x }(),),"
            "0t(1#TEXT{caf\u00E9s 12 &}(),),)",
            TreeOf(utf8));
  for (const std::string& form :
       {"\xEF\xBB\xBF" + utf8, Utf16(body, false), Utf16(body, true),
        Utf16(u"<?xml version='1.0' encoding='UTF-16'?>" + body, true),
        Declared("ISO-8859-1", latin1), Declared("US-ASCII", ascii)}) {
    EXPECT_EQ(TreeOf(utf8), TreeOf(form)) << form;
  }
}

TEST(XmlEncoding, ShiftJisPairsAndHalfWidthKatakana) {
  // Element 日本 (93FA 967B), attribute 名 (96BC) = ① (8740, a code page 932
  // extension) then half-width ｱ (B1), text 〜 as code page 932 has it (8160 =
  // U+FF5E), 表 (955C, second byte a backslash), then every half-width byte.
  std::string body = "<\x93\xFA\x96\x7B \x96\xBC=\"\x87\x40\xB1\">\x81\x60\x95\x5C";
  std::u16string text = u"\uFF5E\u8868";
  for (int b = 0xA1; b <= 0xDF; ++b) {
    body += static_cast<char>(b);
    text += static_cast<char16_t>(0xFF61 + (b - 0xA1));
  }
  body += "</\x93\xFA\x96\x7B>";
  for (const char* name : {"Shift_JIS", "SHIFT_JIS", "shift_jis"}) {
    CTrvXMLReader reader;
    ASSERT_EQ(0, Parse(reader, Declared(name, body))) << name;
    const CTrvXMLNode* element = reader.FindElement(nullptr, u"\u65E5\u672C");
    ASSERT_NE(nullptr, element);
    EXPECT_EQ(std::u16string(u"\u2460\uFF71"), element->GetAttribute(u"\u540D"));
    EXPECT_EQ(text, TextOf(element));
  }
}

TEST(XmlEncoding, RefusedEncodingsAndMalformedShiftJis) {
  for (const std::string& document : {
           Declared("EUC-JP", "<a/>"), Declared("Shift-JIS", "<a/>"), Declared("SJIS", "<a/>"),
           Declared("Windows-31J", "<a/>"),
           // unassigned pairs, bad second bytes, lone first byte, forbidden bytes
           Declared("Shift_JIS", "<a>\x85\x40</a>"), Declared("Shift_JIS", "<a>\xFD\x41</a>"),
           Declared("Shift_JIS", "<a>\x80\x41</a>"), Declared("Shift_JIS", "<a>\x81\x20</a>"),
           Declared("Shift_JIS", "<a>\x81</a>"), Declared("Shift_JIS", "<a>\x0B</a>"),
           Declared("Shift_JIS", "<a>\xFF</a>")}) {
    CTrvXMLReader reader;
    EXPECT_EQ(5, Parse(reader, document)) << document;
    EXPECT_FALSE(reader.IsLoaded());
  }
}

}  // namespace
