#pragma once
// Result codes of the archive layer: 0 for success, a negative code otherwise.

namespace trvzip {

enum ZipResult : int {
  kZipOk = 0,
  // No end of central directory record; also inflate start-up, a failed seek
  // or read while extracting, and a failed write of the archive comment.
  kZipErrorNoEndRecord = -1,
  // The member's data ended before the member was produced.
  kZipErrorDataEnded = -2,
  // The file size is unusable, or a seek did not land where asked.
  kZipErrorSeek = -3,
  // The output cannot be created or written, or its offsets would not fit.
  kZipErrorWrite = -4,
  kZipErrorNoMemory = -5,
  kZipErrorCrc = -6,
  // Malformed or unsupported archive or member.
  kZipErrorFormat = -7,
  kZipErrorArgument = -8,
  kZipErrorOpen = -9,
};

}  // namespace trvzip
