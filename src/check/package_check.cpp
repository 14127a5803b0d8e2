#include "check/package_check.h"

#include <algorithm>
#include <array>
#include <memory>

#include "check/archive_walk.h"
#include "check/member_data.h"
#include "check/package_image.h"

namespace check {

namespace {

constexpr std::size_t kScanRead = std::size_t{1} << 20;

// Whether [from, to) holds the signature of a local, central or end record:
// a second archive hidden in front of the one the directory names.
bool HoldsZipRecord(const platform::FileHandle& file, uint64_t from, uint64_t to) {
  std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[kScanRead]);
  if (!buffer) return false;
  for (uint64_t at = from; at + 3 < to;) {
    const auto want = static_cast<std::size_t>(std::min<uint64_t>(kScanRead, to - at));
    const std::size_t got = file.ReadShared(at, buffer.get(), want).value_or(0);
    if (got < 4) return false;
    for (std::size_t i = 0; i + 3 < got; ++i) {
      if (buffer[i] == 'P' && buffer[i + 1] == 'K' &&
          ((buffer[i + 2] == 3 && buffer[i + 3] == 4) ||
           (buffer[i + 2] == 1 && buffer[i + 3] == 2) ||
           (buffer[i + 2] == 5 && buffer[i + 3] == 6))) {
        return true;
      }
    }
    at += got - 3;  // a signature across two reads is seen in the second
  }
  return false;
}

// What stands between the image and the archive: bytes the stub carried
// behind its image, kept as they were, are noted (a stub may carry a package
// of another name: the build takes it, and readers go by the last end
// record); an archive that begins inside the image is a fault.
void CheckBetween(const platform::FileHandle& file, const ImageFacts& image,
                  const ArchiveWalk& walk, FindingSink& sink) {
  if (walk.start < image.end) {
    sink.Fault("the archive begins inside the image", walk.start);
    return;
  }
  if (walk.start == image.end) return;
  if (HoldsZipRecord(file, image.end, walk.start)) {
    sink.Note(std::to_string(walk.start - image.end) +
                  " bytes between the image and the archive, kept from the stub, hold the records "
                  "of another archive",
              image.end);
  } else {
    sink.Note(std::to_string(walk.start - image.end) +
                  " bytes between the image and the archive, kept from the stub",
              image.end);
  }
}

// A certificate table must follow the archive and end the file; the archive
// then ends where it begins.
uint64_t ArchiveLimit(const ImageFacts* image, uint64_t fileSize, FindingSink& sink) {
  if (image == nullptr || !image->certificates) return fileSize;
  const pe::FileRange& c = *image->certificates;
  if (c.offset > fileSize || c.length != fileSize - c.offset) {
    sink.Fault("the certificate table does not end the file", c.offset);
    return fileSize;
  }
  return c.offset;
}

}  // namespace

std::vector<Finding> CheckWrittenPackage(const platform::FileHandle& file, const Plan& plan) {
  FindingSink sink;
  const uint64_t fileSize = file.Size().value_or(0);
  const std::vector<uint8_t> head = ReadHead(file, plan.headers.size());
  const auto differ = std::ranges::mismatch(head, plan.headers);
  if (head.size() != plan.headers.size() || differ.in1 != head.end()) {
    sink.Fault("the image's headers are not the ones the update planned",
               static_cast<uint64_t>(differ.in1 - head.begin()));
  }
  if (auto walk = WalkArchive(file, fileSize, fileSize, Strictness::kWritten, sink)) {
    if (walk->start != plan.archiveStart) {
      sink.Fault("the archive begins at " + Hex(walk->start) + ", not at " +
                     Hex(plan.archiveStart) + " as planned",
                 walk->start);
    }
    CheckSpans(*walk, Strictness::kWritten, sink);
  }
  return sink.Take();
}

std::vector<Finding> CheckWholePackage(const platform::FileHandle& file) {
  FindingSink sink;
  const auto size = file.Size();
  if (!size) {
    sink.Fault("the package's size cannot be read", 0);
    return sink.Take();
  }
  const auto image = CheckPackageImage(file, *size, sink);
  const uint64_t limit = ArchiveLimit(image ? &*image : nullptr, *size, sink);
  const auto checksum = image ? image->checksum : std::nullopt;
  std::optional<SummedRanges> summed;
  if (checksum) summed.emplace(checksum->at);
  if (auto walk = WalkArchive(file, *size, limit, Strictness::kWhole, sink)) {
    CheckSpans(*walk, Strictness::kWhole, sink);
    if (image) CheckBetween(file, *image, *walk, sink);
    CheckMemberData(file, *walk, summed ? &*summed : nullptr, sink);
  }
  if (checksum) CheckFileChecksum(file, *size, *checksum, std::move(*summed), sink);
  return sink.Take();
}

}  // namespace check
