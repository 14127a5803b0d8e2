#pragma once
// errno values as the error numbers the rest of the tool expects. Internal to
// the POSIX sources of this folder.

#include <cerrno>
#include <cstdint>

#include "platform/file_handle.h"

namespace platform {

inline uint32_t ErrorFromErrno(int err) {
  switch (err) {
    case 0: return kErrorSuccess;
    case ENOENT: return kErrorFileNotFound;
    case ENOTDIR: return kErrorPathNotFound;
    case ENOMEM: return kErrorNotEnoughMemory;
    case EWOULDBLOCK: return kErrorSharingViolation;
    case EEXIST: return kErrorFileExists;
    case ENOSPC:
    case EDQUOT: return kErrorDiskFull;
    case EFBIG: return kErrorHandleDiskFull;
    case EINVAL: return kErrorInvalidParameter;
    default: return kErrorAccessDenied;  // EACCES, EPERM, EROFS, EISDIR, ELOOP and the rest
  }
}

}  // namespace platform
