#include "crypt/wide_to_narrow.h"

#include <cstring>
#include <optional>
#include <string>

#include "platform/text.h"

char* WideToNarrow(char* buffer, const char16_t* text, std::size_t size, unsigned codePage) {
  if (buffer == nullptr || text == nullptr) return nullptr;
  if (size > 0) buffer[0] = '\0';
  const std::u16string_view wide(text);
  std::optional<std::string> narrow;
  switch (codePage) {
    case kCodePageAnsi:
    case kCodePageThreadAnsi:
      narrow = platform::WideToLocale(wide);
      break;
    case kCodePageUtf8:
      narrow = platform::Utf16ToUtf8(wide);
      break;
    default:
      return nullptr;
  }
  // The terminator is part of the output, so it needs room as well.
  if (!narrow || narrow->size() + 1 > size) return nullptr;
  std::memcpy(buffer, narrow->c_str(), narrow->size() + 1);
  return buffer;
}
