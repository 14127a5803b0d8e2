// The XML reader as the package layer drives it: a document parsed into a
// tree, the tree walked, and look-ups by element name and attribute value.
// An input starting with a byte from 1 to 5 has that byte replaced by an XML
// declaration (Shift_JIS, UTF-16 either way round, ISO-8859-1, UTF-8), so the
// fuzzer reaches every encoding the reader must handle; any other input is
// the document as it stands.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_support.h"
#include "xml/xml_reader.h"

namespace {

std::string Utf16Declaration(bool bigEndian) {
  const std::string_view ascii = "<?xml version=\"1.0\" encoding=\"UTF-16\"?>";
  std::string out = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
  for (char c : ascii) {
    out += bigEndian ? std::string{'\0', c} : std::string{c, '\0'};
  }
  return out;
}

std::string Declaration(uint8_t selector) {
  switch (selector) {
    case 1: return "<?xml version=\"1.0\" encoding=\"Shift_JIS\"?>";
    case 2: return Utf16Declaration(false);
    case 3: return Utf16Declaration(true);
    case 4: return "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>";
    case 5: return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>";
    default: return {};
  }
}

// Look-ups scan siblings and attributes from the start: the checks stay with
// the first few, so that wide documents cost the harness linear time.
constexpr int kCheckedSiblings = 64;
constexpr int kCheckedAttributes = 64;

// Every element can be found from its parent by its name, and by each of its
// attributes; every attribute by its name.
void CheckNode(const CTrvXMLReader& reader, CTrvXMLNode* parent, const CTrvXMLNode* node) {
  const char16_t* name = node->GetName();
  FUZZ_CHECK(name != nullptr);
  const CTrvXMLNode* first = reader.FindElement(parent, name);
  FUZZ_CHECK(first != nullptr && std::u16string_view(first->GetName()) == name);
  FUZZ_CHECK(parent == nullptr || parent->FindChild(name) == first);
  if (const char16_t* text = node->GetText()) {
    FUZZ_CHECK(node->GetKind() == XMLNODE_TEXT && std::u16string_view(text).size() <= (16u << 20));
  }
  for (int i = 0; i < node->GetAttributeCount() && i < kCheckedAttributes; ++i) {
    const char16_t* attrName = node->GetAttributeName(i);
    const char16_t* value = node->GetAttributeValue(i);
    FUZZ_CHECK(attrName != nullptr && value != nullptr);
    FUZZ_CHECK(node->GetAttribute(attrName) != nullptr);
    FUZZ_CHECK(reader.FindElement(parent, name, attrName, value) != nullptr);
  }
  FUZZ_CHECK(node->GetAttributeName(node->GetAttributeCount()) == nullptr);
  node->FindNextSibling(name);
}

void Walk(const CTrvXMLReader& reader, CTrvXMLNode* root) {
  struct Visit {
    CTrvXMLNode* parent;
    CTrvXMLNode* node;
    int index;  // among its siblings
  };
  std::vector<Visit> pending;
  const auto children = [&pending](CTrvXMLNode* parent, const CTrvXMLNode* of) {
    int index = 0;
    for (CTrvXMLNode* c = of->GetFirstChild(); c != nullptr; c = c->GetNextSibling()) {
      pending.push_back({parent, c, index++});
    }
  };
  children(nullptr, root);
  while (!pending.empty()) {
    const Visit v = pending.back();
    pending.pop_back();
    FUZZ_CHECK(v.node->GetParent() == (v.parent != nullptr ? v.parent : root));
    if (v.index < kCheckedSiblings) CheckNode(reader, v.parent, v.node);
    children(v.node, v.node);
  }
}

// The look-ups the package layer makes.
void PackageLookUps(const CTrvXMLReader& reader) {
  CTrvXMLNode* package = reader.FindElement(nullptr, u"trv_package");
  CTrvXMLNode* names = package ? reader.FindElement(package, u"name") : nullptr;
  reader.FindElement(names, u"name_xlate", u"lang", u"de");
  reader.FindElement(names, u"name_xlate", u"lang", u"en");
  CTrvXMLNode* data = reader.FindElement(nullptr, u"tv_pkg_data");
  CTrvXMLNode* configuration = data ? reader.FindElement(data, u"configuration") : nullptr;
  if (configuration != nullptr) configuration->GetAttribute(u"required");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  std::vector<uint8_t> document;
  if (size > 0 && data[0] >= 1 && data[0] <= 5) {
    const std::string declaration = Declaration(data[0]);
    document.assign(declaration.begin(), declaration.end());
    document.insert(document.end(), data + 1, data + size);
  } else {
    document.assign(data, data + size);
  }
  CTrvXMLReader reader;
  const int result = reader.Parse(document.data(), static_cast<int32_t>(document.size()));
  FUZZ_CHECK((result == 0) == reader.IsLoaded());
  if (result != 0) {
    FUZZ_CHECK(reader.FindElement(nullptr, u"trv_package") == nullptr);
    return 0;
  }
  PackageLookUps(reader);
  Walk(reader, reader.GetRoot());
  return 0;
}
