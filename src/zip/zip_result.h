#pragma once
// Result codes of the archive layer: 0 for success, a negative code otherwise.
// Some values stand for several situations; each has its own name, so that
// every site says what went wrong.

namespace trvzip {

enum ZipResult : int {
  kZipOk = 0,
  // -1: no end of central directory record; inflate cannot start; a read
  // fails while extracting; the archive comment cannot be written.
  kZipErrorNoEndRecord = -1,
  kZipErrorInflateStart = -1,
  kZipErrorRead = -1,
  kZipErrorCommentWrite = -1,
  // -2: the member's data ended before it produced a byte.
  kZipErrorDataEnded = -2,
  // -3: the file size is unusable, or a position cannot be reached.
  kZipErrorFileSize = -3,
  kZipErrorSeek = -3,
  // -4: the output cannot be created or written, or its offsets would not fit.
  kZipErrorWrite = -4,
  kZipErrorNoMemory = -5,
  kZipErrorCrc = -6,
  // -7: malformed or unsupported archive or member.
  kZipErrorFormat = -7,
  kZipErrorArgument = -8,
  kZipErrorOpen = -9,
};

// Why an archive cannot be used, for the line that explains a refusal; the
// result code alone does not tell a damaged archive from one that needs a
// feature this layer lacks.
enum class ZipCause {
  kNone,        // nothing to add to the result code
  kNotZip,      // no end of central directory record
  kMultiDisk,   // split over several disks
  kDamaged,     // headers that disagree or point where no record is, ZIP64 placeholders
                // without the values they stand for
  kDescriptor,  // a data descriptor that disagrees with the central header
  kEncrypted,   // a member's data is encrypted
  kMethod,      // a member uses a method that cannot be extracted
  kCrc,         // a member's data fails its CRC-32
  kTruncated,   // a member's data ends before its declared size
};

}  // namespace trvzip
