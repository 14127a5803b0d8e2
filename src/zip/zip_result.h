#pragma once
// Result codes of the archive layer: 0 for success, a negative code
// otherwise, one code for each situation, so that a caller can tell from the
// code alone why an archive or a member cannot be used. The first nine keep
// the values callers have always seen for them.

namespace trvzip {

enum ZipResult : int {
  kZipOk = 0,
  kZipErrorNoEndRecord = -1,  // no end of central directory record: not an archive
  kZipErrorDataEnded = -2,    // a member's data ended before it produced a byte
  kZipErrorSeek = -3,         // a position cannot be reached
  kZipErrorWrite = -4,        // the output cannot be created or written
  kZipErrorNoMemory = -5,
  kZipErrorCrc = -6,          // a member's data fails its CRC-32
  kZipErrorDamaged = -7,      // headers that disagree, or point where no record is, or
                              // ZIP64 placeholders without the values they stand for
  kZipErrorArgument = -8,     // no state, no buffer or no length for an extraction
  kZipErrorOpen = -9,         // the archive file cannot be opened
  kZipErrorFileSize = -10,    // the file's size cannot be determined
  kZipErrorInflateStart = -11,
  kZipErrorRead = -12,         // a read fails, or the file ends, inside a member's data
  kZipErrorStoredShort = -13,  // a stored member holds fewer bytes than its size
  kZipErrorMultiDisk = -14,    // the archive is split over several disks
  kZipErrorDescriptor = -15,   // a data descriptor disagrees with its central header
  kZipErrorEncrypted = -17,    // a member's data is encrypted
  kZipErrorMethod = -18,       // a member uses a method that cannot be extracted
  kZipErrorTooLarge = -19,     // an extra field and its ZIP64 block would pass 65,535 bytes
  kZipErrorSourceChanged = -20,  // the source no longer holds what the open read
};

// The lowest code, for checks that a result is one of these.
inline constexpr int kZipResultLowest = kZipErrorSourceChanged;

}  // namespace trvzip
