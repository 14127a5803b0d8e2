// Known-answer vectors from the corpus and blocks enciphered by openssl.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <map>
#include <random>
#include <sstream>

#include "crypt/des_crypt.h"
#include "test_support.h"

namespace {

std::vector<uint8_t> FromHex(const std::string& hex) {
  std::vector<uint8_t> out;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
    out.push_back(static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  }
  return out;
}

std::string ToHex(const std::vector<uint8_t>& bytes) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  for (uint8_t b : bytes) {
    out.push_back(digits[b >> 4]);
    out.push_back(digits[b & 15]);
  }
  return out;
}

std::vector<std::vector<std::string>> ReadTsv(const std::string& name) {
  std::ifstream in(testsupport::CorpusDir() + "/des/" + name);
  std::vector<std::vector<std::string>> rows;
  std::string line;
  std::getline(in, line);  // header
  while (std::getline(in, line)) {
    std::vector<std::string> cells;
    std::istringstream fields(line);
    for (std::string cell; std::getline(fields, cell, '\t');) cells.push_back(cell);
    rows.push_back(cells);
  }
  return rows;
}

DesCrypt Scheduled(const std::vector<uint8_t>& key) {
  DesCrypt des;
  des.ignoreParity = true;  // several vector keys are not of odd parity
  EXPECT_TRUE(des.SetKey(key.data()));
  return des;
}

std::vector<uint8_t> Decipher(const DesCrypt& des, const std::string& hex) {
  std::vector<uint8_t> plain;
  uint32_t length = 0;
  des.DecryptHex(hex.c_str(), &plain, &length);
  EXPECT_EQ(length, plain.size());
  return plain;
}

std::vector<uint8_t> Encipher(const DesCrypt& des, const std::vector<uint8_t>& plain) {
  std::vector<uint8_t> out(plain.size());
  for (std::size_t at = 0; at + 8 <= plain.size(); at += 8) {
    DesCrypt::DecryptBlock(des.roundKeys, &plain[at], &out[at]);
  }
  return out;
}

TEST(DesVectors, KnownAnswersBothWaysGroupedByTable) {
  const auto rows = ReadTsv("des_ecb_kat.tsv");
  ASSERT_EQ(rows.size(), 264u);
  std::map<std::string, int> failuresByTable;
  for (const auto& row : rows) {
    ASSERT_GE(row.size(), 4u);
    const DesCrypt des = Scheduled(FromHex(row[0]));
    std::string upper = row[2];
    std::transform(upper.begin(), upper.end(), upper.begin(), ::toupper);
    const bool ok = ToHex(Decipher(des, row[2])) == row[1] &&
                    ToHex(Decipher(des, upper)) == row[1] &&
                    ToHex(Encipher(des, FromHex(row[1]))) == row[2];
    if (!ok) ++failuresByTable[row[3]];
  }
  for (const auto& [table, count] : failuresByTable) ADD_FAILURE() << table << ": " << count;
}

TEST(DesVectors, ThreeBlockTextDeciphersToAscii) {
  const auto rows = ReadTsv("des_ecb_kat.tsv");
  auto row = std::find_if(rows.begin(), rows.end(),
                          [](const auto& r) { return r[2].size() == 48; });
  ASSERT_NE(row, rows.end());
  const auto plain = Decipher(Scheduled(FromHex((*row)[0])), (*row)[2]);
  EXPECT_EQ(std::string(plain.begin(), plain.end()), "Now is the time for all ");
}

TEST(DesVectors, RivestChainReachesPublishedValue) {
  const auto rows = ReadTsv("rivest_iterative.tsv");
  ASSERT_EQ(rows.size(), 17u);
  std::vector<uint8_t> x = FromHex(rows[0][1]);
  for (int i = 0; i < 16; ++i) {
    const DesCrypt des = Scheduled(x);
    x = i % 2 == 0 ? Encipher(des, x) : Decipher(des, ToHex(x));
    ASSERT_EQ(ToHex(x), rows[i + 1][1]) << "step " << i + 1;
  }
  EXPECT_EQ(ToHex(x), "1b1a2ddb4c642438");
}

TEST(DesVectors, RandomBlocksEncipheredByOpenssl) {
  if (!testsupport::HaveProgram("openssl")) GTEST_SKIP() << "openssl not installed";
  testsupport::TempDir dir;
  std::mt19937 random(20261208);
  for (int trial = 0; trial < 12; ++trial) {
    std::vector<uint8_t> key(8), plain(8 * (1 + trial % 4));
    for (auto& b : key) b = static_cast<uint8_t>(random());
    for (auto& b : plain) b = static_cast<uint8_t>(random());
    testsupport::WriteFile(dir.File("plain"), plain);
    const auto run = testsupport::RunCommand(
        "openssl enc -des-ecb -nopad -provider legacy -provider default -K " + ToHex(key) +
            " -in " + testsupport::ShellQuote(dir.File("plain")) + " -out " +
            testsupport::ShellQuote(dir.File("cipher")),
        true);
    ASSERT_EQ(run.exitCode, 0) << run.output;
    const std::string cipherHex = ToHex(testsupport::ReadFile(dir.File("cipher")));
    EXPECT_EQ(ToHex(Decipher(Scheduled(key), cipherHex)), ToHex(plain)) << "key " << ToHex(key);
  }
}

}  // namespace
