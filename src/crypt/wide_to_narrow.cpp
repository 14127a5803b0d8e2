#include "crypt/wide_to_narrow.h"

#include <cstring>

char* WideToNarrow(char* buffer, const char16_t* text, std::size_t size, unsigned codePage) {
  if (buffer == nullptr || text == nullptr) return nullptr;
  if (size > 0) buffer[0] = '\0';
  const auto narrow = platform::WideToCodePage(text, codePage);
  // The terminator is part of the output, so it needs room as well.
  if (!narrow || narrow->size() + 1 > size) return nullptr;
  std::memcpy(buffer, narrow->c_str(), narrow->size() + 1);
  return buffer;
}
