// Text conversions, code pages, path splitting and the console's formatting.

#include "platform/text.h"

#include <gtest/gtest.h>

#include "platform/ascii.h"
#include "platform/code_page.h"
#include "platform/console.h"
#include "platform/path.h"

namespace {

TEST(Text, RoundTripsAndRejectsMalformedInput) {
  const std::string utf8 = "Pak\xC3\xABt \xE6\x97\xA5\xF0\x9F\x98\x80";
  auto wide = platform::Utf8ToUtf16(utf8);
  ASSERT_TRUE(wide);
  EXPECT_EQ(*wide, u"Pak\u00EBt \u65E5\U0001F600");
  EXPECT_EQ(platform::Utf16ToUtf8(*wide).value(), utf8);
  EXPECT_FALSE(platform::Utf8ToUtf16("\xFF\xFE"));
  EXPECT_FALSE(platform::Utf16ToUtf8(std::u16string(1, char16_t(0xD800))));
  // Lenient forms replace only what is malformed.
  EXPECT_EQ(platform::Widen("a\xFF"), u"a\uFFFD");
  EXPECT_EQ(platform::Narrow(std::u16string(u"\u00EB") + char16_t(0xDC00) + u"x"),
            "\xC3\xAB\xEF\xBF\xBDx");
}

TEST(Text, Wtf8KeepsLoneSurrogatesOfSystemNames) {
  const std::u16string name =
      std::u16string(u"a") + char16_t(0xD800) + u"\u00FC\U0001F600" + char16_t(0xDFFF);
  const std::string wtf8 = platform::Utf16ToWtf8(name);
  EXPECT_EQ(wtf8, "a\xED\xA0\x80\xC3\xBC\xF0\x9F\x98\x80\xED\xBF\xBF");
  EXPECT_EQ(platform::Wtf8ToUtf16(wtf8), name);
  // Valid text is plain UTF-8 either way; other malformed bytes still become U+FFFD.
  EXPECT_EQ(platform::Utf16ToWtf8(u"\u00FC"), platform::Narrow(u"\u00FC"));
  EXPECT_EQ(platform::Wtf8ToUtf16("x\xFF\xC0\x80"), u"x\uFFFD\uFFFD\uFFFD");
  EXPECT_FALSE(platform::Utf8ToUtf16(wtf8));
}

TEST(Text, CodePages) {
  EXPECT_EQ(platform::CodePageToWide("\x82\xA0", platform::kCodePageShiftJis).value(), u"\u3042");
  EXPECT_EQ(platform::CodePageToWide("\xB1", platform::kCodePageShiftJis).value(), u"\uFF71");
  EXPECT_FALSE(platform::CodePageToWide("\x82", platform::kCodePageShiftJis));
  EXPECT_EQ(platform::WideToCodePage(u"\u3042", platform::kCodePageShiftJis).value(), "\x82\xA0");
  EXPECT_EQ(platform::WideToCodePage(u"setup42", platform::kCodePageThreadAnsi).value(), "setup42");
  EXPECT_EQ(platform::WideToCodePage(u"\u00E9", platform::kCodePageUtf8).value(), "\xC3\xA9");
}

TEST(Text, AsciiCaseFoldLeavesOtherLettersAlone) {
  EXPECT_TRUE(platform::EqualsNoCaseAscii<char>("SETUP42.Xml", "setup42.xML"));
  EXPECT_FALSE(platform::EqualsNoCaseAscii<char>("\xC3\x89", "\xC3\xA9"));
  EXPECT_TRUE(platform::EqualsNoCaseAscii<char16_t>(u"StringFileInfo", u"STRINGFILEINFO"));
  EXPECT_FALSE(platform::EqualsNoCaseAscii<char16_t>(u"\u00C9", u"\u00E9"));
  EXPECT_FALSE(platform::EqualsNoCaseAscii<char>("a", "ab"));
}

TEST(Path, FileNameComponentSplitsLikeWindowsPaths) {
  using platform::FileNameComponent;
  EXPECT_EQ(FileNameComponent("D:\\out\\SETUP42.exe"), "SETUP42");
  EXPECT_EQ(FileNameComponent("/tmp/out/pkg"), "pkg");
  EXPECT_EQ(FileNameComponent("a.b.exe"), "a.b");
  EXPECT_EQ(FileNameComponent("dir.d/name"), "name");
  EXPECT_EQ(FileNameComponent("C:x.exe"), "x");
  EXPECT_EQ(FileNameComponent(".hidden"), "");
}

TEST(Console, FormatsPercentSInOrder) {
  EXPECT_EQ(platform::FormatText("\nERROR: unable to copy '%s' to '%s'", {"a.exe", "b 100%s.exe"}),
            "\nERROR: unable to copy 'a.exe' to 'b 100%s.exe'");
  EXPECT_EQ(platform::FormatText("%s-%s", {"x"}), "x-");
  EXPECT_EQ(platform::FormatText("50% off %", {}), "50% off %");
}

}  // namespace
