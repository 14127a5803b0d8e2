#pragma once
// How the package documents are read: an element's text is its first child
// in the reader's tree (the last in the document) when that child is a text
// or CDATA node.

#include "xml/xml_node.h"

// Null when element is null or has no text.
inline const char16_t* ElementText(const CTrvXMLNode* element) {
  if (element == nullptr) return nullptr;
  const CTrvXMLNode* first = element->GetFirstChild();
  if (first == nullptr || first->GetKind() != XMLNODE_TEXT) return nullptr;
  return first->GetText();
}
