// Reader life cycle, failed parses, very large trees, and the shared corpus.

#include <gtest/gtest.h>

#include <pthread.h>

#include <chrono>
#include <filesystem>
#include <map>

#include "test_support.h"
#include "xml_test_util.h"

using xmltest::ParseBytes;
using xmltest::ParseText;

namespace {

TEST(XmlReader, FailedParseThenGoodParse) {
  CTrvXMLReader reader;
  EXPECT_FALSE(reader.IsLoaded());
  EXPECT_EQ(nullptr, reader.FindElement(nullptr, u"a"));
  for (const char* bad : {"<a><b></a>", "", "<a>", "<a/><b/>", "<a x='1' x='2'/>", "x"}) {
    SCOPED_TRACE(bad);
    EXPECT_EQ(5, ParseText(reader, bad));
    EXPECT_FALSE(reader.IsLoaded());
    EXPECT_EQ(nullptr, reader.FindElement(nullptr, u"a"));
    ASSERT_EQ(0, ParseText(reader, "<a>ok</a>"));
    EXPECT_TRUE(reader.IsLoaded());
    EXPECT_EQ(u"ok", xmltest::ElementText(reader.FindElement(nullptr, u"a")).value_or(u""));
  }
  EXPECT_EQ(5, reader.Parse(nullptr, 3));
  EXPECT_EQ(5, reader.Parse(reinterpret_cast<const uint8_t*>("<a/>"), -1));
}

TEST(XmlReader, ParseDiscardsThePreviousTree) {
  CTrvXMLReader reader;
  ASSERT_EQ(0, ParseText(reader, "<a/>"));
  ASSERT_EQ(0, ParseText(reader, "<b/>"));
  EXPECT_EQ(nullptr, reader.FindElement(nullptr, u"a"));
  EXPECT_NE(nullptr, reader.FindElement(nullptr, u"b"));
}

TEST(XmlReader, ClearAndReset) {
  CTrvXMLReader reader;
  ASSERT_EQ(0, ParseText(reader, "<a/>"));
  reader.Clear();
  EXPECT_FALSE(reader.IsLoaded());
  EXPECT_EQ(nullptr, reader.FindElement(nullptr, u"a"));
  reader.Clear();
  ASSERT_EQ(0, ParseText(reader, "<a/>"));
  EXPECT_NE(nullptr, reader.FindElement(nullptr, u"a"));
  reader.Reset();
  EXPECT_FALSE(reader.IsLoaded());
  EXPECT_EQ(nullptr, reader.FindElement(nullptr, u"a"));
}

// Runs work on a thread with a 512 KiB stack, far less than a destruction that
// nests once per node would need for the trees below.
void RunOnSmallStack(void (*work)(CTrvXMLReader*), CTrvXMLReader* reader) {
  struct Call {
    void (*work)(CTrvXMLReader*);
    CTrvXMLReader* reader;
  } call{work, reader};
  pthread_attr_t attr;
  ASSERT_EQ(0, pthread_attr_init(&attr));
  ASSERT_EQ(0, pthread_attr_setstacksize(&attr, 512 * 1024));
  pthread_t thread;
  auto entry = [](void* p) -> void* {
    auto* c = static_cast<Call*>(p);
    c->work(c->reader);
    return nullptr;
  };
  ASSERT_EQ(0, pthread_create(&thread, &attr, entry, &call));
  pthread_join(thread, nullptr);
  pthread_attr_destroy(&attr);
}

TEST(XmlReader, HugeAndDeepTreesAreReleased) {
  std::string wide = "<r>";
  for (int i = 0; i < 100000; ++i) wide += "<s>" + std::to_string(i) + "</s>";
  wide += "</r>";
  std::string deep;
  for (int i = 0; i < 10000; ++i) deep += "<d>t";
  for (int i = 0; i < 10000; ++i) deep += "</d>";
  CTrvXMLReader reader;
  ASSERT_EQ(0, ParseText(reader, wide));
  CTrvXMLNode* r = reader.FindElement(nullptr, u"r");
  ASSERT_NE(nullptr, r);
  EXPECT_EQ(u"99999", xmltest::ElementText(reader.FindElement(r, u"s")));
  RunOnSmallStack([](CTrvXMLReader* x) { x->Clear(); }, &reader);
  ASSERT_EQ(0, ParseText(reader, deep));
  CTrvXMLNode* node = nullptr;
  int depth = 0;
  while (CTrvXMLNode* next = reader.FindElement(node, u"d")) node = next, ++depth;
  EXPECT_EQ(10000, depth);
  RunOnSmallStack([](CTrvXMLReader* x) { x->Clear(); }, &reader);
}

// Expected outcome of every document in the corpus; 007.xml (a UTF-8 byte-order
// mark with a Latin-1 declaration) is pinned at what Expat 2.5 does: it parses.
const std::map<std::string, int> kCorpus = {
    {"defusedxml/cyclic.xml", 5},
    {"defusedxml/external.xml", 0},
    {"defusedxml/quadratic.xml", 5},
    {"defusedxml/xmlbomb.xml", 0},
    {"generated/iso-8859-1-text.xml", 0},
    {"generated/shift_jis-package.xml", 0},
    {"generated/unknown-encoding-euc-jp.xml", 5},
    {"generated/us-ascii-with-8bit-byte.xml", 5},
    {"generated/us-ascii.xml", 0},
    {"generated/utf-16be-bom-package.xml", 0},
    {"generated/utf-16le-bom-package.xml", 0},
    {"generated/utf-16le-odd-length-truncated.xml", 5},
    {"xmlconf/eduni/errata-2e/E22.xml", 0},
    {"xmlconf/eduni/errata-2e/E61.xml", 5},
    {"xmlconf/eduni/misc/007.xml", 0},
    {"xmlconf/eduni/misc/008.xml", 5},
    {"xmlconf/eduni/namespaces/1.0/006.xml", 0},
    {"xmlconf/japanese/weekly-little-endian.xml", 0},
    {"xmlconf/japanese/weekly-shift_jis.xml", 0},
    {"xmlconf/japanese/weekly-utf-16.xml", 0},
    {"xmlconf/japanese/weekly-utf-8.xml", 0},
    {"xmlconf/oasis/p01fail3.xml", 5},
    {"xmlconf/oasis/p18fail3.xml", 5},
    {"xmlconf/oasis/p18pass1.xml", 0},
    {"xmlconf/oasis/p39fail1.xml", 5},
    {"xmlconf/oasis/p43pass1.xml", 0},
    {"xmlconf/oasis/p44fail5.xml", 5},
    {"xmlconf/oasis/p66fail5.xml", 5},
    {"xmlconf/oasis/p66pass1.xml", 0},
    {"xmlconf/oasis/p68pass1.xml", 0},
};

std::string CorpusXml() { return testsupport::CorpusDir() + "/xml/"; }

TEST(XmlCorpus, EveryDocumentParsesOrFailsAsListed) {
  const std::string root = CorpusXml();
  int seen = 0;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
    if (entry.path().extension() != ".xml") continue;
    const std::string name = std::filesystem::relative(entry.path(), root).generic_string();
    SCOPED_TRACE(name);
    const auto expected = kCorpus.find(name);
    ASSERT_NE(kCorpus.end(), expected) << "not in the table";
    CTrvXMLReader reader;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(expected->second, ParseBytes(reader, testsupport::ReadFile(entry.path())));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(expected->second == 0, reader.IsLoaded());
    ++seen;
  }
  EXPECT_EQ(static_cast<int>(kCorpus.size()), seen);
}

std::string CorpusTree(const std::string& name, const char16_t* element) {
  CTrvXMLReader reader;
  if (ParseBytes(reader, testsupport::ReadFile(CorpusXml() + name)) != 0) return "<failed>";
  const CTrvXMLNode* node = reader.FindElement(nullptr, element);
  return node != nullptr ? xmltest::Dump(node) : "<missing>";
}

TEST(XmlCorpus, WeeklyReportIsTheSameInEveryEncoding) {
  const std::string expected = CorpusTree("xmlconf/japanese/weekly-utf-8.xml", u"\u9031\u5831");
  EXPECT_NE(std::string::npos, expected.find("XML\u30A8\u30C7\u30A3\u30BF\u30FC"));
  for (const char* other : {"weekly-utf-16.xml", "weekly-little-endian.xml",
                            "weekly-shift_jis.xml"}) {
    EXPECT_EQ(expected, CorpusTree(std::string("xmlconf/japanese/") + other, u"\u9031\u5831"))
        << other;
  }
}

TEST(XmlCorpus, PackageDefinitionIsTheSameInEveryEncoding) {
  const std::string le = CorpusTree("generated/utf-16le-bom-package.xml", u"trv_package");
  EXPECT_NE(std::string::npos, le.find("trv_package"));
  EXPECT_EQ(le, CorpusTree("generated/utf-16be-bom-package.xml", u"trv_package"));
  EXPECT_EQ(CorpusTree("generated/iso-8859-1-text.xml", u"doc"),
            "0doc name=\u00C5ngstr\u00F6m(1#TEXT{caf\u00E9 \u00A9 \u00FF}(),)");
}

TEST(XmlCorpus, EntitiesExpandOnlyWhenInternal) {
  // The external entity is neither fetched nor read: the element stays empty.
  EXPECT_EQ("0root()", CorpusTree("defusedxml/external.xml", u"root"));
  std::string bomb;
  for (int i = 0; i < 64; ++i) bomb += "1234567890";
  EXPECT_EQ("0bomb(1#TEXT{" + bomb + "}(),)", CorpusTree("defusedxml/xmlbomb.xml", u"bomb"));
}

TEST(XmlCorpus, ShiftJisPackage) {
  CTrvXMLReader reader;
  ASSERT_EQ(0, ParseBytes(reader, testsupport::ReadFile(CorpusXml() +
                                                        "generated/shift_jis-package.xml")));
  CTrvXMLNode* package = reader.FindElement(nullptr, u"trv_package");
  CTrvXMLNode* note = reader.FindElement(package, u"note");
  ASSERT_NE(nullptr, note);
  EXPECT_EQ(std::u16string(u"\u534A\u89D2\uFF76\uFF80\uFF76\uFF85"), note->GetAttribute(u"kana"));
  EXPECT_EQ(u"\uFF83\uFF7D\uFF84\u8868\u793A", xmltest::ElementText(note));
  EXPECT_EQ(u"\u30BB\u30C3\u30C8\u30A2\u30C3\u30D7.exe",
            xmltest::ElementText(reader.FindElement(package, u"filename")));
  EXPECT_NE(nullptr, reader.FindElement(package, u"\u540D\u524D"));
}

}  // namespace
