#include "xml/xml_build_state.h"

#include <memory>
#include <utility>
#include <vector>

#include "xml/shift_jis_encoding.h"
#include "platform/text.h"
#include "xml/xml_node.h"

namespace {

std::u16string ToUtf16(const XML_Char* text) {
  std::u16string out;
  if (text != nullptr) platform::AppendUtf8AsUtf16(out, text);
  return out;
}

// Runs one callback body, turning an exception into a stopped parse.
template <class Body>
void Guarded(void* userData, Body body) {
  auto& state = *static_cast<XmlBuildState*>(userData);
  if (state.failure || state.refused) return;
  try {
    body(state);
  } catch (...) {
    state.failure = std::current_exception();
    XML_StopParser(state.parser, XML_FALSE);
  }
}

// Counts what a new node or piece of text keeps; a document over a bound
// stops the parse, which then fails.
bool Charge(XmlBuildState& state, std::size_t nodes, std::size_t units) {
  state.nodes += nodes;
  state.units += units;
  if (state.nodes <= kMaxXmlNodes && state.units <= kMaxXmlUnits && state.depth <= kMaxXmlDepth) {
    return true;
  }
  state.refused = true;
  XML_StopParser(state.parser, XML_FALSE);
  return false;
}

void AddAndEnter(XmlBuildState& state, std::unique_ptr<CTrvXMLNode> node, std::size_t units) {
  ++state.depth;
  if (!Charge(state, 1, units)) return;
  CTrvXMLNode* added = node.release();
  state.current->AddChild(added);
  state.current = added;
}

// Converts a piece of character data into state.piece and counts it, with
// the nodes it makes; false when that goes over a bound.
bool TakePiece(XmlBuildState& state, const XML_Char* chars, std::size_t count, std::size_t nodes) {
  state.piece.clear();
  platform::AppendUtf8AsUtf16(state.piece, std::string_view(chars, count));
  return Charge(state, nodes, state.piece.size());
}

void LeaveCurrent(XmlBuildState& state) {
  if (state.current->GetParent() == nullptr) return;
  state.current = state.current->GetParent();
  --state.depth;
}

void XMLCALL OnStartElement(void* userData, const XML_Char* name, const XML_Char** attributes) {
  Guarded(userData, [&](XmlBuildState& state) {
    state.acceptText = true;
    state.firstChunk = true;
    std::vector<std::u16string> list;
    std::u16string wideName = ToUtf16(name);
    std::size_t units = wideName.size();
    for (std::size_t i = 0; attributes != nullptr && attributes[i] != nullptr; ++i) {
      units += list.emplace_back(ToUtf16(attributes[i])).size();
    }
    auto node = std::make_unique<CTrvXMLNode>(XMLNODE_ELEMENT, std::move(wideName), std::move(list));
    AddAndEnter(state, std::move(node), units);
  });
}

void XMLCALL OnEndElement(void* userData, const XML_Char* /*name*/) {
  Guarded(userData, [](XmlBuildState& state) { LeaveCurrent(state); });
}

void XMLCALL OnStartCdata(void* userData) {
  Guarded(userData, [](XmlBuildState& state) {
    state.acceptText = true;
    state.inCdata = true;
    AddAndEnter(state, std::make_unique<CTrvXMLNode>(XMLNODE_TEXT, u"#CDATA"), 0);
  });
}

void XMLCALL OnEndCdata(void* userData) {
  Guarded(userData, [](XmlBuildState& state) {
    state.inCdata = false;
    state.acceptText = false;
    LeaveCurrent(state);
  });
}

// Tab, line feed, 0x0B, 0x0C, carriage return and space.
bool IsXmlBlank(char16_t unit) { return unit == 0x20 || (unit >= 0x09 && unit <= 0x0D); }

// Pieces of character data outside CDATA: text is kept only when it begins
// right after a start tag, and later pieces only when they do not begin blank.
void TakeTextPiece(XmlBuildState& state, const XML_Char* chars, std::size_t count) {
  // A blank unit is ASCII, so the piece's first byte decides.
  const bool blank = IsXmlBlank(static_cast<unsigned char>(chars[0]));
  if (state.firstChunk) {
    if (blank) {
      state.acceptText = false;
      return;
    }
    if (!TakePiece(state, chars, count, 1)) return;
    auto node = std::make_unique<CTrvXMLNode>(XMLNODE_TEXT, u"#TEXT");
    node->SetText(state.piece);
    state.lastText = node.get();
    state.current->AddChild(node.release());
    state.firstChunk = false;
  } else if (!blank && state.lastText != nullptr && TakePiece(state, chars, count, 0)) {
    state.lastText->AppendText(state.piece);
  }
}

void XMLCALL OnCharacterData(void* userData, const XML_Char* chars, int count) {
  if (chars == nullptr || count <= 0) return;
  Guarded(userData, [&](XmlBuildState& state) {
    const auto size = static_cast<std::size_t>(count);
    if (state.inCdata) {
      if (TakePiece(state, chars, size, 0)) state.current->AppendText(state.piece);
    } else if (state.acceptText) {
      TakeTextPiece(state, chars, size);
    }
  });
}

}  // namespace

void InstallBuildHandlers(XmlBuildState& state) {
  XML_SetUserData(state.parser, &state);
  XML_SetElementHandler(state.parser, OnStartElement, OnEndElement);
  XML_SetCharacterDataHandler(state.parser, OnCharacterData);
  XML_SetCdataSectionHandler(state.parser, OnStartCdata, OnEndCdata);
  XML_SetUnknownEncodingHandler(state.parser, OnUnknownEncoding, nullptr);
}
