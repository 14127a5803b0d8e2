// Key making, key scheduling, the hex text path and its failures.

#include <gtest/gtest.h>

#include <clocale>
#include <cstring>
#include <string>

#include "crypt/des_crypt.h"

namespace {

std::string KeyText(const uint8_t key[8]) { return std::string(reinterpret_cast<const char*>(key), 8); }

// Known answer: key 0123456789abcdef, plaintext "Now is t", ciphertext below.
const uint8_t kKey[8] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef};
const char* kCipherHex = "3fa40e8a984d4815";
const std::string kPlain = "Now is t";

std::string Message(const DesCrypt& des, const char* text, bool withResult = true) {
  std::vector<uint8_t> result;
  try {
    des.DecryptHex(text, withResult ? &result : nullptr, nullptr);
  } catch (const DesCryptException& e) {
    return e.GetMessage();
  }
  return "";
}

TEST(DesMakeKey, CutsPadsAndFixesParity) {
  struct Case {
    const char* text;
    std::string key;
    bool odd;
  } cases[] = {
      {"abc", "abc     ", true},
      {"SETUP42X", "SETUP42X", true},
      {"Longer than eight", "Longer t", true},
      {"", "        ", true},
      // Every byte of even parity: a first byte >= 0x80 loses its top bit.
      {"\xC0" "ccccccc", "\x40" "ccccccc", true},
      {"\x41" "ccccccc", "\x41" "ccccccc", false},
  };
  for (const auto& c : cases) {
    uint8_t key[8];
    EXPECT_EQ(DesCrypt::MakeKey(c.text, key), c.odd) << c.text;
    EXPECT_EQ(KeyText(key), c.key) << c.text;
  }
  uint8_t key[8];
  EXPECT_TRUE(DesCrypt::MakeKey(nullptr, key));
  EXPECT_EQ(KeyText(key), "        ");
}

TEST(DesSetKey, ParityCheckRejectsAndKeepsOldRoundKeys) {
  DesCrypt des;
  const uint8_t oddKey[8] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef};
  ASSERT_TRUE(des.SetKey(oddKey));
  uint8_t before[16][6];
  std::memcpy(before, des.roundKeys, sizeof before);

  uint8_t evenLast[8] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0x6f};
  EXPECT_FALSE(des.SetKey(evenLast));
  EXPECT_EQ(std::memcmp(before, des.roundKeys, sizeof before), 0);

  des.ignoreParity = true;
  EXPECT_TRUE(des.SetKey(evenLast));
  EXPECT_NE(std::memcmp(before, des.roundKeys, sizeof before), 0);
}

TEST(DesDecryptHex, DigitsOfEitherCaseGiveTheSameBytes) {
  DesCrypt des;
  ASSERT_TRUE(des.SetKey(kKey));
  for (const char* text : {"3fa40e8a984d4815", "3FA40E8A984D4815", "3Fa40E8a984d4815"}) {
    std::vector<uint8_t> plain;
    uint32_t length = 99;
    des.DecryptHex(text, &plain, &length);
    EXPECT_EQ(std::string(plain.begin(), plain.end()), kPlain) << text;
    EXPECT_EQ(length, 8u);
  }
  std::vector<uint8_t> plain;
  des.DecryptHex(kCipherHex, &plain, nullptr);  // no place for the length
  EXPECT_EQ(std::string(plain.begin(), plain.end()), kPlain);
}

TEST(DesDecryptHex, EmptyTextGivesEmptyResult) {
  DesCrypt des;
  ASSERT_TRUE(des.SetKey(kKey));
  std::vector<uint8_t> plain{1, 2, 3};
  uint32_t length = 99;
  des.DecryptHex("", &plain, &length);
  EXPECT_TRUE(plain.empty());
  EXPECT_EQ(length, 0u);
}

TEST(DesDecryptHex, FailuresThrowTheirMessagesInOrder) {
  DesCrypt des;
  ASSERT_TRUE(des.SetKey(kKey));
  const std::string digits32 = std::string(kCipherHex) + kCipherHex;
  EXPECT_EQ(Message(des, digits32.substr(0, 30).c_str()), kDesBadLengthMessage);
  EXPECT_EQ(Message(des, (digits32 + "\n").c_str()), kDesBadLengthMessage);
  EXPECT_EQ(Message(des, (digits32.substr(0, 20) + "G" + digits32.substr(21)).c_str()),
            kDesBadDigitMessage);
  EXPECT_EQ(Message(des, (digits32.substr(0, 31) + " ").c_str()), kDesBadDigitMessage);
  EXPECT_EQ(Message(des, digits32.c_str(), false), kDesBadOutputMessage);
  // The length is checked before the output place.
  EXPECT_EQ(Message(des, "abc", false), kDesBadLengthMessage);
}

TEST(DesDecryptHex, ThrowingLeavesOutputsUntouched) {
  DesCrypt des;
  ASSERT_TRUE(des.SetKey(kKey));
  std::vector<uint8_t> result{7};
  uint32_t length = 42;
  EXPECT_THROW(des.DecryptHex("3fa40e8a984d481x", &result, &length), DesCryptException);
  EXPECT_EQ(result, std::vector<uint8_t>{7});
  EXPECT_EQ(length, 42u);
}

TEST(DesHelpers, HexDigitsAndParity) {
  const std::string digits = "0123456789abcdefABCDEF";
  for (std::size_t i = 0; i < digits.size(); ++i) {
    EXPECT_EQ(HexDigitValue(digits[i]), i < 16 ? int(i) : int(i) - 6) << digits[i];
  }
  for (char c : {'/', ':', '@', 'G', '`', 'g', '\0', '\x80'}) {
    EXPECT_THROW(HexDigitValue(c), DesCryptException) << int(c);
  }
  const uint8_t even[8] = {0, 3, 5, 6, 0xFF, 0x81, 0x11, 0};
  uint8_t oneOdd[8];
  std::memcpy(oneOdd, even, 8);
  oneOdd[7] = 0x80;
  EXPECT_FALSE(HasOddParityByte(even));
  EXPECT_TRUE(HasOddParityByte(oneOdd));
}

TEST(DesCryptExceptionTest, CopiesCutsAndAcceptsNull) {
  EXPECT_STREQ(DesCryptException("abc").GetMessage(), "abc");
  EXPECT_STREQ(DesCryptException(nullptr).GetMessage(), "");
  const std::string longText(2000, 'x');
  DesCryptException cut(longText.c_str());
  EXPECT_EQ(std::string(cut.GetMessage()), longText.substr(0, 1023));
  DesCryptException copy = cut;
  EXPECT_EQ(std::memcmp(&copy, &cut, sizeof cut), 0);
}

TEST(WideToNarrowTest, ConvertsIntoBufferOrFails) {
  std::setlocale(LC_ALL, "C.UTF-8");
  char buffer[16];
  EXPECT_EQ(WideToNarrow(nullptr, u"x", 16, kCodePageThreadAnsi), nullptr);
  EXPECT_EQ(WideToNarrow(buffer, nullptr, 16, kCodePageThreadAnsi), nullptr);
  EXPECT_EQ(WideToNarrow(buffer, u"SETUP\u00e9", 16, kCodePageThreadAnsi), buffer);
  EXPECT_STREQ(buffer, "SETUP\xC3\xA9");
  // Seven bytes and the terminator do not fit in seven.
  EXPECT_EQ(WideToNarrow(buffer, u"SETUP\u00e9", 7, kCodePageThreadAnsi), nullptr);
  EXPECT_EQ(buffer[0], '\0');
  EXPECT_EQ(WideToNarrow(buffer, u"abc", 16, 12345), nullptr);
  std::setlocale(LC_ALL, "C");
}

}  // namespace
