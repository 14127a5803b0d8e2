#pragma once
// Helpers for the XML reader tests.

#include <optional>
#include <string>
#include <vector>

#include "platform/text.h"
#include "xml/element_text.h"
#include "xml/xml_reader.h"

namespace xmltest {

inline int Parse(CTrvXMLReader& reader, const std::string& document) {
  return reader.Parse(reinterpret_cast<const uint8_t*>(document.data()),
                      static_cast<int32_t>(document.size()));
}
inline int Parse(CTrvXMLReader& reader, const std::vector<uint8_t>& document) {
  return reader.Parse(document.data(), static_cast<int32_t>(document.size()));
}

// An element's text as the package code reads it, as a value to compare.
inline std::optional<std::u16string> TextOf(const CTrvXMLNode* element) {
  const char16_t* text = ElementText(element);
  if (text == nullptr) return std::nullopt;
  return std::u16string(text);
}

// Follows FindElement from the root through the given names.
inline CTrvXMLNode* FindPath(const CTrvXMLReader& reader,
                             const std::vector<const char16_t*>& names) {
  CTrvXMLNode* node = nullptr;
  for (const char16_t* name : names) {
    if ((node = reader.FindElement(node, name)) == nullptr) break;
  }
  return node;
}

// A subtree as UTF-8, children in list order (newest first).
inline std::string Dump(const CTrvXMLNode* node) {
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

}  // namespace xmltest
