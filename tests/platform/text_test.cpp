#include "platform/text.h"

#include <gtest/gtest.h>

namespace {

TEST(Text, RoundTripsAndRejectsMalformedInput) {
  const std::string utf8 = "Pak\xC3\xABt \xE6\x97\xA5\xF0\x9F\x98\x80";
  auto wide = platform::Utf8ToUtf16(utf8);
  ASSERT_TRUE(wide);
  EXPECT_EQ(*wide, u"Pak\u00EBt \u65E5\U0001F600");
  EXPECT_EQ(platform::Utf16ToUtf8(*wide).value(), utf8);
  EXPECT_FALSE(platform::Utf8ToUtf16("\xFF\xFE"));
  EXPECT_FALSE(platform::Utf16ToUtf8(std::u16string(1, char16_t(0xD800))));
  EXPECT_EQ(platform::Widen("a\xFF"), u"a\uFFFD");
}

TEST(Text, DecodesOtherCharsets) {
  EXPECT_EQ(platform::DecodeCharset("\x82\xA0", "CP932").value(), u"\u3042");
  EXPECT_EQ(platform::DecodeCharset("\xE9", "ISO-8859-1").value(), u"\u00E9");
  EXPECT_FALSE(platform::DecodeCharset("\x82", "CP932"));
}

}  // namespace

#include "platform/console.h"

namespace {

TEST(Console, FormatsPercentSInOrder) {
  EXPECT_EQ(platform::FormatText("\nERROR: unable to copy '%s' to '%s'", {"a.exe", "b 100%s.exe"}),
            "\nERROR: unable to copy 'a.exe' to 'b 100%s.exe'");
  EXPECT_EQ(platform::FormatText("%s-%s", {"x"}), "x-");
  EXPECT_EQ(platform::FormatText("50% off %", {}), "50% off %");
}

}  // namespace
