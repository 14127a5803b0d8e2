#pragma once
// The state one parse hands to Expat, and the callbacks that grow the tree
// from it. Internal to the reader.

#include <expat.h>

#include <cstddef>
#include <exception>
#include <string>

class CTrvXMLNode;

// What one document may cost: package documents nest a few levels and hold
// hundreds of nodes; these bounds leave room a thousandfold and keep a hostile
// document from taking the machine's memory.
inline constexpr std::size_t kMaxXmlDepth = 256;
inline constexpr std::size_t kMaxXmlNodes = 100000;
inline constexpr std::size_t kMaxXmlUnits = std::size_t{16} << 20;  // names, values and texts

struct XmlBuildState {
  CTrvXMLNode* current = nullptr;   // receives new children
  CTrvXMLNode* lastText = nullptr;  // text node made most recently
  bool acceptText = true;           // character data may still make or extend text
  bool firstChunk = true;           // the next accepted piece starts a new text node
  bool inCdata = false;
  XML_Parser parser = nullptr;
  // Exceptions must not unwind through Expat's C frames: the first one is kept
  // here, the parser is stopped, and Parse rethrows it after freeing the parser.
  std::exception_ptr failure;
  std::u16string piece;  // scratch buffer for the current piece in UTF-16
  std::size_t depth = 0;
  std::size_t nodes = 0;
  std::size_t units = 0;  // UTF-16 units kept in the tree
  bool refused = false;   // the document went over a bound; the parse fails
};

// Registers the tree-building callbacks and the Shift-JIS handler on
// state.parser, with state as user data.
void InstallBuildHandlers(XmlBuildState& state);
