#pragma once
// Reads one whole XML document held in memory into a tree of CTrvXMLNode and
// answers look-ups by element name and attribute value.

#include <cstdint>
#include <memory>

#include "xml/xml_node.h"

class CTrvXMLReader {
 public:
  CTrvXMLReader();
  CTrvXMLReader(const CTrvXMLReader&) = delete;
  CTrvXMLReader& operator=(const CTrvXMLReader&) = delete;

  // Discards the previous tree and parses the document: 0 when it was parsed,
  // 5 when it was not (the partial tree then stays unreachable until the next
  // Parse, Reset or Clear). An exception raised while building the tree (out
  // of memory) reaches the caller after the parser has been released.
  int Parse(const uint8_t* bytes, int32_t length);
  bool IsLoaded() const { return loaded; }
  // The "#DOCROOT" node above the document element; null only after Clear.
  CTrvXMLNode* GetRoot() const { return root.get(); }
  // Destroys the tree, root included.
  void Clear();
  // Clears, makes a fresh "#DOCROOT" and selects the user's default locale.
  void Reset();

  // The newest direct child of parent (the root when parent is null) named
  // exactly name and, when attrName and attrValue are both given, whose
  // attribute attrName equals attrValue without regard to letter case. Null
  // when nothing matches or no document is loaded.
  CTrvXMLNode* FindElement(CTrvXMLNode* parent, const char16_t* name,
                           const char16_t* attrName = nullptr,
                           const char16_t* attrValue = nullptr) const;

 private:
  std::unique_ptr<CTrvXMLNode> root;
  bool loaded = false;
};
