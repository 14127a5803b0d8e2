#pragma once
// One node of a parsed XML document: an element, a text or CDATA node, or the
// document root. Child lists are kept newest first, so a walk from the head
// meets the last child of the document first.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

enum XmlNodeKind : int32_t {
  XMLNODE_ELEMENT = 0,  // elements and the document root
  XMLNODE_TEXT = 1,     // "#TEXT" and "#CDATA" nodes
};

class CTrvXMLNode {
 public:
  // attributes: name, value, name, value, ... (an odd trailing name is dropped).
  CTrvXMLNode(int32_t kind, std::u16string name, std::vector<std::u16string> attributes = {});
  virtual ~CTrvXMLNode();
  CTrvXMLNode(const CTrvXMLNode&) = delete;
  CTrvXMLNode& operator=(const CTrvXMLNode&) = delete;

  const char16_t* GetName() const { return name.c_str(); }
  int32_t GetKind() const { return kind; }
  // Null for elements, the root and a CDATA node that received no characters.
  const char16_t* GetText() const { return text ? text->c_str() : nullptr; }
  CTrvXMLNode* GetFirstChild() const { return firstChild; }
  CTrvXMLNode* GetNextSibling() const { return nextSibling; }
  CTrvXMLNode* GetParent() const { return parent; }
  int GetAttributeCount() const { return static_cast<int>(attributes.size() / 2); }
  // Name and value of the index-th attribute in start-tag order; null when out of range.
  const char16_t* GetAttributeName(int index) const { return AttributeAt(index, 0); }
  const char16_t* GetAttributeValue(int index) const { return AttributeAt(index, 1); }

  // Value of the first attribute named exactly attrName, or null.
  const char16_t* GetAttribute(const char16_t* attrName) const;
  // First node of the child list (newest first) named exactly childName, or null.
  CTrvXMLNode* FindChild(const char16_t* childName) const;
  // First node after this one in the parent's list named exactly siblingName, or null.
  CTrvXMLNode* FindNextSibling(const char16_t* siblingName) const;

  // Takes ownership of child and puts it at the head of the child list.
  bool AddChild(CTrvXMLNode* child);
  // Replaces the text with a copy of chars.
  void SetText(std::u16string_view chars) { text.emplace(chars); }
  // Appends chars to the text (making it when there is none).
  void AppendText(std::u16string_view chars);

 private:
  const char16_t* AttributeAt(int index, int part) const;

  int32_t kind;
  std::u16string name;
  std::vector<std::u16string> attributes;  // name, value, name, value, ...
  std::optional<std::u16string> text;
  CTrvXMLNode* nextSibling = nullptr;  // owned
  CTrvXMLNode* firstChild = nullptr;   // owned
  CTrvXMLNode* parent = nullptr;
};
