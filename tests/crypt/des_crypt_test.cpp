// Key making, key scheduling, the hex text path and its failures.

#include "crypt/des_crypt.h"
#include "crypt/wide_to_narrow.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstring>

namespace {

// Key 0123456789abcdef enciphers "Now is t" to 3fa40e8a984d4815.
const uint8_t kKey[8] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef};

DesCrypt Scheduled() {
  DesCrypt des;
  EXPECT_TRUE(des.SetKey(kKey));
  return des;
}

TEST(DesMakeKey, CutsPadsAndFixesParity) {
  const struct {
    const char* text;
    std::string key;
    bool odd;
  } cases[] = {
      {"abc", "abc     ", true},
      {"SETUP42X", "SETUP42X", true},
      {"Longer than 8", "Longer t", true},
      {"", "        ", true},
      {nullptr, "        ", true},
      // Every byte of even parity: a first byte of 0x80 or above loses its top bit.
      {"\300ccccccc", "@ccccccc", true},
      {"Accccccc", "Accccccc", false},
  };
  for (const auto& c : cases) {
    uint8_t key[8];
    EXPECT_EQ(DesCrypt::MakeKey(c.text, key), c.odd) << c.key;
    EXPECT_EQ(std::string(reinterpret_cast<char*>(key), 8), c.key);
  }
}

TEST(DesSetKey, ParityCheckRejectsAndKeepsOldRoundKeys) {
  DesCrypt des = Scheduled();
  uint8_t before[16][6];
  std::memcpy(before, des.roundKeys, sizeof before);
  const uint8_t evenLast[8] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0x6f};
  EXPECT_FALSE(des.SetKey(evenLast));
  EXPECT_EQ(std::memcmp(before, des.roundKeys, sizeof before), 0);
  des.ignoreParity = true;
  EXPECT_TRUE(des.SetKey(evenLast));
  EXPECT_NE(std::memcmp(before, des.roundKeys, sizeof before), 0);
}

TEST(DesDecryptHex, DigitsOfEitherCaseEmptyTextAndNoLengthPlace) {
  const DesCrypt des = Scheduled();
  for (const char* text : {"3fa40e8a984d4815", "3FA40E8A984D4815", "3Fa40E8a984d4815"}) {
    std::vector<uint8_t> plain;
    uint32_t length = 99;
    des.DecryptHex(text, &plain, &length);
    EXPECT_EQ(std::string(plain.begin(), plain.end()), "Now is t") << text;
    EXPECT_EQ(length, 8u);
  }
  std::vector<uint8_t> plain{1, 2, 3};
  des.DecryptHex("", &plain, nullptr);
  EXPECT_TRUE(plain.empty());
}

TEST(DesDecryptHex, FailuresThrowTheirMessagesInOrderAndWriteNothing) {
  const DesCrypt des = Scheduled();
  const std::string d32(32, 'a');
  const struct {
    std::string text;
    bool withResult;
    const char* message;
  } cases[] = {{d32.substr(0, 30), true, kDesBadLengthMessage},
               {d32 + "\n", true, kDesBadLengthMessage},
               {d32.substr(0, 20) + "G" + d32.substr(21), true, kDesBadDigitMessage},
               {d32.substr(0, 31) + " ", true, kDesBadDigitMessage},
               {d32, false, kDesBadOutputMessage},
               {"abc", false, kDesBadLengthMessage}};  // length is checked first
  for (const auto& c : cases) {
    std::vector<uint8_t> result{7};
    uint32_t length = 42;
    try {
      des.DecryptHex(c.text.c_str(), c.withResult ? &result : nullptr, &length);
      ADD_FAILURE() << "no exception for " << c.text;
    } catch (const DesCryptException& e) {
      EXPECT_STREQ(e.GetMessage(), c.message) << c.text;
    }
    EXPECT_EQ(result, std::vector<uint8_t>{7});
    EXPECT_EQ(length, 42u);
  }
}

TEST(DesCryptExceptionTest, CopiesCutsAndAcceptsNull) {
  EXPECT_STREQ(DesCryptException(nullptr).GetMessage(), "");
  const std::string longText(2000, 'x');
  EXPECT_EQ(std::string(DesCryptException(longText.c_str()).GetMessage()),
            longText.substr(0, 1023));
}

TEST(WideToNarrowTest, ConvertsIntoBufferOrFails) {
  std::setlocale(LC_ALL, "C.UTF-8");
  char buffer[16];
  EXPECT_EQ(WideToNarrow(nullptr, u"x", 16, kCodePageThreadAnsi), nullptr);
  EXPECT_EQ(WideToNarrow(buffer, nullptr, 16, kCodePageThreadAnsi), nullptr);
  EXPECT_EQ(WideToNarrow(buffer, u"SETUP\u00e9", 16, kCodePageThreadAnsi), buffer);
  EXPECT_STREQ(buffer, "SETUP\xC3\xA9");
  EXPECT_EQ(WideToNarrow(buffer, u"SETUP\u00e9", 7, kCodePageThreadAnsi),
            nullptr);  // no room for the NUL
  EXPECT_EQ(buffer[0], '\0');
  EXPECT_EQ(WideToNarrow(buffer, u"abc", 16, 12345), nullptr);
  std::setlocale(LC_ALL, "C");
}

}  // namespace
