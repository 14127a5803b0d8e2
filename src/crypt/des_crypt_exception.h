#pragma once
// The one error type of the cipher layer: a fixed message text, copied byte
// for byte when thrown and caught by value.

#include <cstring>

class DesCryptException {
 public:
  static constexpr unsigned kMessageSize = 1024;

  // Copies text, cut to its first 1023 bytes; a null text gives an empty message.
  explicit DesCryptException(const char* text) {
    if (text != nullptr) std::memcpy(message, text, ::strnlen(text, sizeof message - 1));
  }
  const char* GetMessage() const { return message; }

  char message[kMessageSize] = {};
};

// Messages thrown by the hex and DES routines.
inline constexpr const char* kDesBadLengthMessage =
    "Input string is not a multiple of 16 characters!";
inline constexpr const char* kDesBadOutputMessage = "Bad output buffer";
inline constexpr const char* kDesBadDigitMessage =
    "Input text contains a non-hexadecimal character!";
