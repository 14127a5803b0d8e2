#include "xml/xml_node.h"

#include <string_view>
#include <utility>

namespace {

// The first of node and its later siblings named exactly name, or null.
CTrvXMLNode* FindFrom(CTrvXMLNode* node, const char16_t* name) {
  if (name == nullptr) return nullptr;
  for (; node != nullptr; node = node->GetNextSibling()) {
    if (std::u16string_view(node->GetName()) == name) return node;
  }
  return nullptr;
}

}  // namespace

CTrvXMLNode::CTrvXMLNode(int32_t kind, std::u16string name, std::vector<std::u16string> attributes)
    : kind(kind), name(std::move(name)), attributes(std::move(attributes)) {
  if (this->attributes.size() % 2 != 0) this->attributes.pop_back();
}

// A node owns its first child and its next sibling. Deleting them recursively
// would nest once per sibling and per level, so the owned nodes are taken apart
// by rotation instead: a node with a child hands that child its place, and a
// node without one is deleted with nothing left attached.
CTrvXMLNode::~CTrvXMLNode() {
  CTrvXMLNode* node = std::exchange(firstChild, nullptr);
  CTrvXMLNode* rest = std::exchange(nextSibling, nullptr);
  while (node != nullptr || rest != nullptr) {
    if (node == nullptr) node = std::exchange(rest, nullptr);
    if (node->firstChild != nullptr) {
      CTrvXMLNode* child = node->firstChild;
      node->firstChild = child->nextSibling;
      child->nextSibling = node;
      node = child;
    } else {
      CTrvXMLNode* next = std::exchange(node->nextSibling, nullptr);
      delete node;
      node = next;
    }
  }
}

const char16_t* CTrvXMLNode::GetAttribute(const char16_t* attrName) const {
  if (attrName == nullptr) return nullptr;
  for (std::size_t i = 0; i + 1 < attributes.size(); i += 2) {
    if (attributes[i] == attrName) return attributes[i + 1].c_str();
  }
  return nullptr;
}

const char16_t* CTrvXMLNode::AttributeAt(int index, int part) const {
  if (index < 0 || index >= GetAttributeCount()) return nullptr;
  return attributes[static_cast<std::size_t>(index) * 2 + static_cast<std::size_t>(part)].c_str();
}

CTrvXMLNode* CTrvXMLNode::FindChild(const char16_t* childName) const {
  return FindFrom(firstChild, childName);
}

CTrvXMLNode* CTrvXMLNode::FindNextSibling(const char16_t* siblingName) const {
  return FindFrom(nextSibling, siblingName);
}

bool CTrvXMLNode::AddChild(CTrvXMLNode* child) {
  if (child == nullptr) return false;
  child->nextSibling = firstChild;
  child->parent = this;
  firstChild = child;
  return true;
}

void CTrvXMLNode::AppendText(std::u16string_view chars) {
  if (!text) text.emplace();
  text->append(chars);
}
