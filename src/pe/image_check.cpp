#include "pe/image_check.h"

#include <algorithm>

#include "bytes/align.h"
#include "pe/image_layout.h"
#include "pe/resource_tree.h"
#include "pe/version_resource.h"
#include "platform/console.h"

namespace pe {
namespace {

using platform::FormatText;

void CheckHeaderSizes(const PeImage& image, uint64_t fileSize, std::vector<ImageFinding>& out) {
  uint64_t firstRaw = fileSize;
  for (const SectionHeader& s : image.sections) {
    if (s.rawSize != 0) firstRaw = std::min<uint64_t>(firstRaw, s.rawPointer);
  }
  if (image.sizeOfHeaders < image.SectionHeaderOffset(image.sections.size()) ||
      image.sizeOfHeaders > firstRaw) {
    out.push_back({"SizeOfHeaders does not hold the headers", image.at.sizeOfHeaders});
  }
  if (!image.sections.empty() && image.sizeOfImage != AddressBehind(image, image.sections)) {
    out.push_back({"SizeOfImage does not end behind the last section", image.at.sizeOfImage});
  }
}

// Sections follow each other in memory without gaps, as the loader wants.
void CheckSectionAddresses(const PeImage& image, std::vector<ImageFinding>& out) {
  for (std::size_t i = 1; i < image.sections.size(); ++i) {
    const SectionHeader& prev = image.sections[i - 1];
    const uint64_t end = bytes::AlignUp(uint64_t{prev.virtualAddress} + prev.MemorySize(),
                                        image.sectionAlignment);
    if (image.sections[i].virtualAddress != end) {
      out.push_back({FormatText("section '%s' does not follow '%s'",
                                {image.sections[i].Name(), prev.Name()}),
                     image.SectionHeaderOffset(i)});
    }
  }
}

void CheckDirectories(const PeImage& image, std::span<const uint8_t> bytes, uint64_t fileSize,
                      std::vector<ImageFinding>& out) {
  for (std::size_t i = 0; i < image.directories.size(); ++i) {
    const DataDirectory d = image.directories[i];
    const auto index = static_cast<int>(i);
    const uint64_t limit = index == kDirectorySecurity ? fileSize : image.sizeOfImage;
    if (d.rva != 0 && uint64_t{d.rva} + d.size > limit) {
      out.push_back({FormatText("data directory %s lies outside the %s",
                                {std::to_string(i),
                                 index == kDirectorySecurity ? "file" : "image"}),
                     image.DirectoryOffset(index)});
    }
  }
  if (HasResourceDirectory(image) && !ReadResources(image, bytes, nullptr)) {
    out.push_back({"the resource tree cannot be read", image.DirectoryOffset(kDirectoryResource)});
  }
}

}  // namespace

std::optional<ImageFinding> SectionTableFault(const PeImage& image, uint64_t fileSize) {
  if (image.sizeOfHeaders > fileSize ||
      image.SectionHeaderOffset(image.sections.size()) > image.sizeOfHeaders) {
    return ImageFinding{"the headers do not hold the section table", image.at.sizeOfHeaders};
  }
  std::vector<std::size_t> byRaw;
  for (std::size_t i = 0; i < image.sections.size(); ++i) {
    const SectionHeader& s = image.sections[i];
    const uint32_t at = image.SectionHeaderOffset(i);
    if (i > 0 && s.virtualAddress <= image.sections[i - 1].virtualAddress) {
      return ImageFinding{FormatText("the sections are not in address order at '%s'", {s.Name()}),
                          at};
    }
    if (s.rawSize == 0) continue;
    if (s.rawPointer < image.sizeOfHeaders || s.RawEnd() > fileSize) {
      return ImageFinding{FormatText("the section '%s' lies outside the file", {s.Name()}), at};
    }
    byRaw.push_back(i);
  }
  std::sort(byRaw.begin(), byRaw.end(), [&](std::size_t a, std::size_t b) {
    return image.sections[a].rawPointer < image.sections[b].rawPointer;
  });
  for (std::size_t k = 1; k < byRaw.size(); ++k) {
    const SectionHeader& a = image.sections[byRaw[k - 1]];
    const SectionHeader& b = image.sections[byRaw[k]];
    if (b.rawPointer < a.RawEnd()) {
      return ImageFinding{FormatText("the sections '%s' and '%s' overlap in the file",
                                     {a.Name(), b.Name()}),
                          image.SectionHeaderOffset(byRaw[k])};
    }
  }
  return std::nullopt;
}

std::vector<ImageFinding> CheckImage(std::span<const uint8_t> bytes, uint64_t fileSize) {
  std::vector<ImageFinding> out;
  const auto image = PeImage::Parse(bytes, nullptr);
  if (!image) return {{"the headers cannot be read", 0}};
  if (auto fault = SectionTableFault(*image, fileSize)) out.push_back(*fault);
  CheckHeaderSizes(*image, fileSize, out);
  CheckSectionAddresses(*image, out);
  CheckDirectories(*image, bytes, fileSize, out);
  return out;
}

std::vector<ImageFinding> CheckRebuiltImage(std::span<const uint8_t> bytes, uint64_t fileSize,
                                            const RebuildExpectation& expected) {
  std::vector<ImageFinding> out = CheckImage(bytes, fileSize);
  const auto image = PeImage::Parse(bytes, nullptr);
  if (!image) return out;
  const DataDirectory resources = image->Directory(kDirectoryResource);
  const int section = image->SectionOfRva(resources.rva);
  if (resources.rva != expected.resourceRva || resources.size != expected.resourceSize ||
      section < 0 ||
      image->sections[static_cast<std::size_t>(section)].virtualAddress != resources.rva) {
    out.push_back({"the resource directory does not name the new resource section",
                   image->DirectoryOffset(kDirectoryResource)});
  }
  const DataDirectory certificates = image->Directory(kDirectorySecurity);
  if (certificates.rva != 0 || certificates.size != 0) {
    out.push_back(
        {"the certificate entry is not cleared", image->DirectoryOffset(kDirectorySecurity)});
  }
  if (image->sizeOfHeaders != expected.sizeOfHeaders) {
    out.push_back({"SizeOfHeaders is not the planned one", image->at.sizeOfHeaders});
  }
  if (expected.versionBlock) {
    const auto leaves = ReadResources(*image, bytes, nullptr);
    const ResourceLeaf* found = leaves ? FindVersionLeaf(*leaves) : nullptr;
    if (found == nullptr ||
        !std::ranges::equal(found->data, *expected.versionBlock)) {
      out.push_back({"the version resource Windows finds is not the one written",
                     image->DirectoryOffset(kDirectoryResource)});
    }
  }
  return out;
}

}  // namespace pe
