#include "check/package_image.h"

#include <algorithm>
#include <cstdlib>
#include <memory>

#include "pe/image_check.h"
#include "pe/resource_tree.h"
#include "pe/version_resource.h"
#include "verinfo/version_block.h"

namespace check {

namespace {

constexpr std::size_t kFirstRead = 4096;
// Headers beyond this are not an image's; nor is a resource section that
// would take more (it is held in memory).
constexpr uint64_t kLargestHeaders = uint64_t{16} << 20;
constexpr uint64_t kLargestHeld = uint64_t{256} << 20;

// The bytes of the file from 0 to `size`, of which only the headers and the
// resource section are read: the rest stays zero. calloc leaves the pages
// never read unmapped, so an image with a large section before its
// resources costs no memory for it.
struct HeldImage {
  std::unique_ptr<uint8_t, decltype(&std::free)> bytes{nullptr, &std::free};
  std::size_t size = 0;
  std::span<const uint8_t> Span() const { return {bytes.get(), size}; }
};

bool ReadRange(const platform::FileHandle& file, uint8_t* into, uint64_t offset, uint64_t length) {
  const auto got = file.ReadShared(offset, into + offset, static_cast<std::size_t>(length));
  return got && *got == length;
}

int ResourceSection(const pe::PeImage& image) {
  if (!pe::HasResourceDirectory(image)) return -1;
  return image.SectionOfRva(image.Directory(pe::kDirectoryResource).rva);
}

std::optional<HeldImage> Hold(const platform::FileHandle& file, uint64_t fileSize,
                              const pe::PeImage& image, FindingSink& sink) {
  uint64_t size = std::min<uint64_t>(image.sizeOfHeaders, fileSize);
  const int r = ResourceSection(image);
  uint64_t rsrcAt = 0, rsrcLength = 0;
  if (r >= 0) {
    const pe::SectionHeader& s = image.sections[static_cast<std::size_t>(r)];
    rsrcAt = std::min<uint64_t>(s.rawPointer, fileSize);
    rsrcLength = std::min<uint64_t>(image.FileBackedSize(s), fileSize - rsrcAt);
    size = std::max(size, rsrcAt + rsrcLength);
  }
  if (size > kLargestHeld || image.sizeOfHeaders > kLargestHeaders) {
    sink.Fault("the image's headers or resource section are too large to be an image's", 0);
    return std::nullopt;
  }
  HeldImage held;
  held.bytes.reset(static_cast<uint8_t*>(std::calloc(std::max<uint64_t>(size, 1), 1)));
  held.size = static_cast<std::size_t>(size);
  const uint64_t headers = std::min<uint64_t>(image.sizeOfHeaders, fileSize);
  if (!held.bytes || !ReadRange(file, held.bytes.get(), 0, headers) ||
      !ReadRange(file, held.bytes.get(), rsrcAt, rsrcLength)) {
    sink.Fault("the image cannot be read", 0);
    return std::nullopt;
  }
  return held;
}

// Every leaf inside the resource section, and the version block readable.
void CheckResources(const pe::PeImage& image, const HeldImage& held, FindingSink& sink) {
  const int r = ResourceSection(image);
  const uint32_t directoryAt = image.DirectoryOffset(pe::kDirectoryResource);
  if (r < 0) {
    sink.Fault("the image has no resource section", directoryAt);
    return;
  }
  const auto leaves = pe::ReadResources(image, held.Span(), nullptr);
  if (!leaves) return;  // the image check has said so
  const pe::SectionHeader& s = image.sections[static_cast<std::size_t>(r)];
  const uint64_t from = s.rawPointer, to = from + image.FileBackedSize(s);
  for (const pe::ResourceLeaf& leaf : *leaves) {
    const auto at = static_cast<uint64_t>(leaf.data.data() - held.bytes.get());
    if (at < from || at + leaf.data.size() > to) {
      sink.Fault("a resource's data lies outside the resource section", at);
    }
  }
  const pe::ResourceLeaf* version = pe::FindVersionLeaf(*leaves);
  const void* value = nullptr;
  uint32_t length = 0;
  if (version == nullptr) {
    sink.Fault("the image has no version resource", directoryAt);
  } else if (!VerQueryValue(version->data, u"\\", &value, &length)) {
    sink.Fault("the version block cannot be read",
               static_cast<uint64_t>(version->data.data() - held.bytes.get()));
  }
}

}  // namespace

std::vector<uint8_t> ReadHead(const platform::FileHandle& file, std::size_t count) {
  std::vector<uint8_t> head(count);
  head.resize(file.ReadShared(0, head.data(), head.size()).value_or(0));
  return head;
}

std::optional<ImageFacts> CheckPackageImage(const platform::FileHandle& file, uint64_t fileSize,
                                            FindingSink& sink) {
  std::vector<uint8_t> head = ReadHead(file, kFirstRead);
  auto image = pe::PeImage::Parse(head, nullptr);
  if (image && image->sizeOfHeaders > head.size() && image->sizeOfHeaders <= kLargestHeaders) {
    head = ReadHead(file, image->sizeOfHeaders);
    image = pe::PeImage::Parse(head, nullptr);
  }
  if (!image) {
    sink.Fault("the package does not begin with a PE image", 0);
    return std::nullopt;
  }
  const auto held = Hold(file, fileSize, *image, sink);
  if (!held) return std::nullopt;
  for (const pe::ImageFinding& f : pe::CheckImage(held->Span(), fileSize)) {
    sink.Fault(f.what, f.where);
  }
  CheckResources(*image, *held, sink);
  ImageFacts facts;
  facts.end = image->EndOfRawData();
  if (image->checkSum != 0) facts.checksum = ChecksumField{image->at.checkSum, image->checkSum};
  const pe::DataDirectory certificates = image->Directory(pe::kDirectorySecurity);
  if (certificates.rva != 0 || certificates.size != 0) {
    sink.Note("signed: a certificate table of " + std::to_string(certificates.size) + " bytes",
              certificates.rva);
    facts.certificates = pe::FileRange{certificates.rva, certificates.size};
  }
  return facts;
}

}  // namespace check
