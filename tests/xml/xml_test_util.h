#pragma once
// Helpers for the XML reader tests: parsing text, reading an element's text,
// and a printable form of a whole tree for comparisons.

#include <optional>
#include <string>
#include <vector>

#include "xml/xml_reader.h"

namespace xmltest {

int ParseText(CTrvXMLReader& reader, const std::string& document);
int ParseBytes(CTrvXMLReader& reader, const std::vector<uint8_t>& document);

// The element's text as the package code reads it: its first child's text when
// that child is a text or CDATA node.
std::optional<std::u16string> ElementText(const CTrvXMLNode* element);

// Follows FindElement from the root through the given names.
CTrvXMLNode* FindPath(const CTrvXMLReader& reader, const std::vector<const char16_t*>& names);

// Whole tree as UTF-8, children in list order (newest first).
std::string Dump(const CTrvXMLNode* node);

// UTF-16 bytes of text with a byte-order mark.
std::vector<uint8_t> EncodeUtf16(const std::u16string& text, bool bigEndian);

}  // namespace xmltest
