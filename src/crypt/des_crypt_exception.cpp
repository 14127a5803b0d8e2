#include "crypt/des_crypt_exception.h"

#include <cstring>

DesCryptException::DesCryptException(const char* text) {
  std::memset(message, 0, sizeof message);
  if (text == nullptr) return;
  const std::size_t n = ::strnlen(text, sizeof message - 1);
  std::memcpy(message, text, n);
}
