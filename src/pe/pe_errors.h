#pragma once
// Error numbers of the PE layer, in the style of the platform's own (the file
// errors come from platform/file_handle.h).

#include <cstdint>
#include <optional>

#include "platform/file_handle.h"

namespace pe {

inline constexpr uint32_t kErrorInvalidHandle = 6;         // no update pending
inline constexpr uint32_t kErrorInsufficientBuffer = 122;  // no room for a section header
inline constexpr uint32_t kErrorResourceDataNotFound = 1812;
inline constexpr uint32_t kErrorResourceTypeNotFound = 1813;
inline constexpr uint32_t kErrorResourceNameNotFound = 1814;

// Stores code in *error when the caller asked for it.
inline void SetError(uint32_t* error, uint32_t code) {
  if (error != nullptr) *error = code;
}

// A failed step of a function returning an optional: sets the error, gives nullopt.
inline std::nullopt_t Fail(uint32_t* error, uint32_t code) {
  SetError(error, code);
  return std::nullopt;
}

}  // namespace pe
