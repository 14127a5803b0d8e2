#include "xml_test_util.h"

#include "platform/text.h"

namespace xmltest {

int ParseText(CTrvXMLReader& reader, const std::string& document) {
  return reader.Parse(reinterpret_cast<const uint8_t*>(document.data()),
                      static_cast<int32_t>(document.size()));
}

int ParseBytes(CTrvXMLReader& reader, const std::vector<uint8_t>& document) {
  return reader.Parse(document.data(), static_cast<int32_t>(document.size()));
}

std::optional<std::u16string> ElementText(const CTrvXMLNode* element) {
  if (element == nullptr) return std::nullopt;
  const CTrvXMLNode* first = element->GetFirstChild();
  if (first == nullptr || first->GetKind() != XMLNODE_TEXT || first->GetText() == nullptr) {
    return std::nullopt;
  }
  return std::u16string(first->GetText());
}

CTrvXMLNode* FindPath(const CTrvXMLReader& reader, const std::vector<const char16_t*>& names) {
  CTrvXMLNode* node = nullptr;
  for (const char16_t* name : names) {
    node = reader.FindElement(node, name);
    if (node == nullptr) return nullptr;
  }
  return node;
}

std::string Dump(const CTrvXMLNode* node) {
  std::string out = std::to_string(node->GetKind()) + platform::Narrow(node->GetName());
  for (int i = 0; i < node->GetAttributeCount(); ++i) {
    out += " " + platform::Narrow(node->GetAttributeName(i)) + "=" +
           platform::Narrow(node->GetAttributeValue(i));
  }
  if (node->GetText() != nullptr) out += "{" + platform::Narrow(node->GetText()) + "}";
  out += "(";
  for (const CTrvXMLNode* c = node->GetFirstChild(); c != nullptr; c = c->GetNextSibling()) {
    out += Dump(c) + ",";
  }
  return out + ")";
}

std::vector<uint8_t> EncodeUtf16(const std::u16string& text, bool bigEndian) {
  std::vector<uint8_t> out;
  for (char16_t unit : u"\xFEFF" + text) {
    const auto hi = static_cast<uint8_t>(unit >> 8);
    const auto lo = static_cast<uint8_t>(unit & 0xFF);
    out.push_back(bigEndian ? hi : lo);
    out.push_back(bigEndian ? lo : hi);
  }
  return out;
}

}  // namespace xmltest
