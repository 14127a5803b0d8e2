// Known-answer vectors from the corpus and blocks enciphered by openssl.

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <random>
#include <sstream>

#include "crypt/des_crypt.h"
#include "test_support.h"

namespace {

std::vector<uint8_t> FromHex(const std::string& hex) {
  std::vector<uint8_t> out;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
    out.push_back(std::stoi(hex.substr(i, 2), nullptr, 16));
  return out;
}

std::string ToHex(const std::vector<uint8_t>& bytes) {
  std::string out;
  for (uint8_t b : bytes) out += {"0123456789abcdef"[b >> 4], "0123456789abcdef"[b & 15]};
  return out;
}

std::vector<std::vector<std::string>> ReadTsv(const std::string& name) {
  std::ifstream in(testsupport::CorpusDir() + "/des/" + name);
  std::vector<std::vector<std::string>> rows;
  std::string line;
  std::getline(in, line);  // header
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    rows.emplace_back();
    for (std::string cell; std::getline(fields, cell, '\t');) rows.back().push_back(cell);
  }
  return rows;
}

DesCrypt Scheduled(const std::vector<uint8_t>& key) {
  DesCrypt des;
  des.ignoreParity = true;  // several vector keys are not of odd parity
  EXPECT_TRUE(des.SetKey(key.data()));
  return des;
}

std::string Decipher(const DesCrypt& des, const std::string& hex) {
  std::vector<uint8_t> plain;
  des.DecryptHex(hex.c_str(), &plain, nullptr);
  return ToHex(plain);
}

// Round keys in forward order encipher.
std::string Encipher(const DesCrypt& des, const std::vector<uint8_t>& plain) {
  std::vector<uint8_t> out(plain.size());
  for (std::size_t at = 0; at + 8 <= plain.size(); at += 8)
    DesCrypt::DecryptBlock(des.roundKeys, &plain[at], &out[at]);
  return ToHex(out);
}

TEST(DesVectors, KnownAnswersBothWaysGroupedByTable) {
  const auto rows = ReadTsv("des_ecb_kat.tsv");
  ASSERT_EQ(rows.size(), 264u);
  std::map<std::string, int> failuresByTable;
  for (const auto& row : rows) {
    const DesCrypt des = Scheduled(FromHex(row[0]));
    std::string upper = row[2];
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (Decipher(des, row[2]) != row[1] || Decipher(des, upper) != row[1] ||
        Encipher(des, FromHex(row[1])) != row[2]) {
      ++failuresByTable[row[3]];
    }
  }
  for (const auto& [table, count] : failuresByTable) ADD_FAILURE() << table << ": " << count;
}

TEST(DesVectors, RivestChainReachesPublishedValue) {
  const auto rows = ReadTsv("rivest_iterative.tsv");
  ASSERT_EQ(rows.size(), 17u);
  std::string x = rows[0][1];
  for (int i = 0; i < 16; ++i) {
    const DesCrypt des = Scheduled(FromHex(x));
    x = i % 2 == 0 ? Encipher(des, FromHex(x)) : Decipher(des, x);
    ASSERT_EQ(x, rows[i + 1][1]) << "step " << i + 1;
  }
  EXPECT_EQ(x, "1b1a2ddb4c642438");
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
    EXPECT_EQ(Decipher(Scheduled(key), ToHex(testsupport::ReadFile(dir.File("cipher")))),
              ToHex(plain))
        << "key " << ToHex(key);
  }
}

}  // namespace
