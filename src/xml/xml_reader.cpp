#include "xml/xml_reader.h"

#include <expat.h>

#include <clocale>
#include <cwctype>

#include "xml/xml_build_state.h"

namespace {

constexpr int kParseFailed = 5;

struct ParserFree {
  void operator()(XML_ParserStruct* parser) const { XML_ParserFree(parser); }
};
using ParserPtr = std::unique_ptr<XML_ParserStruct, ParserFree>;

// Equal (both texts non-null) after upper-casing every UTF-16 unit with
// towupper under the current C locale; unit by unit, which gives the same
// verdict as comparing upper-cased copies.
bool CompareNoCase(const char16_t* a, const char16_t* b) {
  for (;; ++a, ++b) {
    if (std::towupper(static_cast<std::wint_t>(*a)) != std::towupper(static_cast<std::wint_t>(*b))) {
      return false;
    }
    if (*a == u'\0') return true;
  }
}

}  // namespace

CTrvXMLReader::CTrvXMLReader() { Reset(); }

void CTrvXMLReader::Clear() {
  root.reset();
  loaded = false;
}

void CTrvXMLReader::Reset() {
  loaded = false;
  root = std::make_unique<CTrvXMLNode>(XMLNODE_ELEMENT, u"#DOCROOT");
  std::setlocale(LC_ALL, "");
}

int CTrvXMLReader::Parse(const uint8_t* bytes, int32_t length) {
  Reset();
  if (bytes == nullptr || length < 0) return kParseFailed;
  ParserPtr parser(XML_ParserCreate(nullptr));
  if (!parser) return kParseFailed;
  XmlBuildState state;
  state.current = root.get();
  state.parser = parser.get();
  InstallBuildHandlers(state);
  const XML_Status status =
      XML_Parse(parser.get(), reinterpret_cast<const char*>(bytes), length, 1);
  parser.reset();
  if (state.failure) std::rethrow_exception(state.failure);
  if (status != XML_STATUS_OK || state.refused) return kParseFailed;
  loaded = true;
  return 0;
}

CTrvXMLNode* CTrvXMLReader::FindElement(CTrvXMLNode* parent, const char16_t* name,
                                        const char16_t* attrName,
                                        const char16_t* attrValue) const {
  if (!loaded || name == nullptr) return nullptr;
  const CTrvXMLNode* from = parent != nullptr ? parent : root.get();
  if (from == nullptr) return nullptr;
  const bool filtered = attrName != nullptr && attrValue != nullptr;
  for (CTrvXMLNode* child = from->FindChild(name); child != nullptr;
       child = child->FindNextSibling(name)) {
    if (!filtered) return child;
    const char16_t* value = child->GetAttribute(attrName);
    if (value != nullptr && CompareNoCase(value, attrValue)) return child;
  }
  return nullptr;
}
