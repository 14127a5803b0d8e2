#include "pe/image_rebuild.h"

#include <algorithm>
#include <cstring>

#include "bytes/align.h"
#include "bytes/byte_writer.h"
#include "pe/pe_errors.h"
#include "pe/resource_layout.h"
#include "pe/version_resource.h"
#include "platform/console.h"

namespace pe {
namespace {

// Every section, moved or grown, must end inside the 32-bit address space.
bool FitsAddressSpace(const std::vector<SectionHeader>& sections, uint32_t sectionAlignment) {
  return std::all_of(sections.begin(), sections.end(), [&](const SectionHeader& s) {
    const uint64_t end = uint64_t{s.virtualAddress} + s.MemorySize();
    return bytes::AlignUp(end, sectionAlignment) <= 0xFFFFFFFFu;
  });
}

// The bytes behind the image, without a certificate table that lies among them.
std::vector<FileRange> OverlayRanges(const ImageLayout& layout, uint64_t fileSize) {
  const uint64_t end = layout.oldEnd;
  if (end >= fileSize) return {};
  const FileRange cert = layout.certificates;
  if (cert.length != 0) {
    const uint64_t after = cert.offset + cert.length;
    return {{end, cert.offset - end}, {after, fileSize - after}};
  }
  return {{end, fileSize - end}};
}

void SetCause(std::string* cause, std::string text) {
  if (cause != nullptr) *cause = std::move(text);
}

// Moves bytes [from, to) of out by shift (either way), zeroing nothing.
void MoveRange(std::vector<uint8_t>& out, uint64_t from, uint64_t to, int64_t shift) {
  if (to <= from || shift == 0) return;
  std::memmove(out.data() + static_cast<int64_t>(from) + shift, out.data() + from, to - from);
}

void ZeroRange(std::vector<uint8_t>& out, uint64_t from, uint64_t to) {
  if (to > from) std::memset(out.data() + from, 0, to - from);
}

// The section data goes where the layout puts it, the gaps become zeros and
// the resources go into their section. The pieces move up or down as whole
// ranges; the later piece goes first when both move up.
void MoveSections(std::vector<uint8_t>& out, const ImageLayout& layout,
                  const std::vector<uint8_t>& resources) {
  const auto shiftA = static_cast<int64_t>(layout.headerShift);
  const int64_t shiftB = shiftA + layout.growth;
  if (layout.newEnd > out.size()) out.resize(static_cast<std::size_t>(layout.newEnd));
  if (shiftB >= 0) {
    MoveRange(out, layout.resourceEnd, layout.oldEnd, shiftB);
    MoveRange(out, layout.firstRaw, layout.resourceStart, shiftA);
  } else {
    MoveRange(out, layout.firstRaw, layout.resourceStart, shiftA);
    MoveRange(out, layout.resourceEnd, layout.oldEnd, shiftB);
  }
  const auto at = [](uint64_t offset, int64_t shift) {
    return static_cast<uint64_t>(static_cast<int64_t>(offset) + shift);
  };
  ZeroRange(out, layout.firstRaw, at(layout.firstRaw, shiftA));
  ZeroRange(out, at(layout.resourceStart, shiftA), at(layout.resourceEnd, shiftB));
  ZeroRange(out, at(layout.oldEnd, shiftB), layout.newEnd);
  out.resize(static_cast<std::size_t>(layout.newEnd));
  const SectionHeader& s = layout.after[layout.resource];
  std::copy(resources.begin(), resources.end(), out.begin() + s.rawPointer);
}

bool PutDirectory(bytes::SpanWriter& out, const PeImage& image, int index, DataDirectory d) {
  if (static_cast<std::size_t>(index) >= image.directories.size()) return true;
  return out.U32At(image.DirectoryOffset(index), d.rva) && out.U32(d.size);
}

// Every field that holds a file offset or an address of something that
// moved; the first field that misses the image is named.
const char* RemapFields(const RebuildPlan& plan, bytes::SpanWriter& out) {
  const PeImage& image = plan.before;
  const ImageLayout& layout = plan.layout;
  if (image.pointerToSymbolTable != 0 &&
      !out.U32At(image.at.pointerToSymbolTable,
                 static_cast<uint32_t>(layout.MapOffset(image.pointerToSymbolTable)))) {
    return "the symbol table pointer";
  }
  for (std::size_t i = 0; i < image.directories.size(); ++i) {
    const auto index = static_cast<int>(i);
    const DataDirectory d = image.directories[i];
    if (index == kDirectoryResource || index == kDirectorySecurity || d.rva == 0) continue;
    if (!PutDirectory(out, image, index, {layout.MapRva(d.rva), d.size})) {
      return "a data directory";
    }
  }
  for (const DebugEntry& e : plan.debug.entries) {
    const uint64_t at = layout.MapOffset(e.at);
    if ((e.addressOfRawData != 0 &&
         !out.U32At(at + DebugEntry::kAddressField, layout.MapRva(e.addressOfRawData))) ||
        (e.pointerToRawData != 0 &&
         !out.U32At(at + DebugEntry::kPointerField,
                    static_cast<uint32_t>(layout.MapOffset(e.pointerToRawData))))) {
      return "a debug directory entry";
    }
  }
  return nullptr;
}

const char* FinishHeaders(const RebuildPlan& plan, std::vector<uint8_t>& file) {
  const PeImage& image = plan.before;
  const ImageLayout& layout = plan.layout;
  bytes::SpanWriter out{std::span<uint8_t>(file)};
  if (!out.Seek(image.SectionHeaderOffset(0))) return "the section table";
  for (const SectionHeader& s : layout.after) {
    if (!SectionHeader::Fields(out, s)) return "the section table";
  }
  const SectionHeader& s = layout.after[layout.resource];
  const int64_t initialized =
      int64_t{s.rawSize} - (layout.reused ? layout.before[layout.resource].rawSize : 0);
  // A stub that understated its initialised data must not wrap below zero.
  const auto sizeOfInitializedData =
      static_cast<uint32_t>(std::max<int64_t>(0, image.sizeOfInitializedData + initialized));
  if (!out.Seek(image.at.numberOfSections) ||
      !out.U16(static_cast<uint16_t>(layout.after.size())) ||
      !out.U32At(image.at.sizeOfImage, static_cast<uint32_t>(AddressBehind(image, layout.after))) ||
      !out.U32At(image.at.sizeOfHeaders, layout.sizeOfHeaders) ||
      !out.U32At(image.at.sizeOfInitializedData, sizeOfInitializedData)) {
    return "the optional header";
  }
  if (const char* missed = RemapFields(plan, out)) return missed;
  const DataDirectory certificates = image.Directory(kDirectorySecurity);
  if (!PutDirectory(out, image, kDirectoryResource,
                    {s.virtualAddress, static_cast<uint32_t>(plan.resources.size())}) ||
      ((certificates.rva != 0 || certificates.size != 0) &&
       !PutDirectory(out, image, kDirectorySecurity, {0, 0}))) {
    return "a data directory";
  }
  return nullptr;
}

}  // namespace

std::optional<RebuildPlan> PlanRebuild(std::span<const uint8_t> held, uint64_t fileSize,
                                       const PeImage& image,
                                       const std::vector<ResourceLeaf>& leaves,
                                       std::string* cause, uint32_t* error) {
  if (const auto fault = SectionTableFault(image, fileSize)) {
    // "the sections ..." becomes "the stub's sections ...".
    SetCause(cause, platform::FormatText("the stub's %s", {fault->what.substr(4)}));
    return Fail(error, platform::kErrorInvalidData);
  }
  // Without a slot for the resource directory the new section could not be
  // found by anyone; refusing beats reporting an update that is not there.
  if (held.size() < image.ExtentEnd(fileSize) || image.directories.size() <= kDirectoryResource) {
    return Fail(error, platform::kErrorInvalidData);
  }
  const uint64_t size = ResourceSectionSize(leaves);
  if (size > 0x7FFFFFFF) return Fail(error, platform::kErrorNotEnoughMemory);
  RebuildPlan plan;
  plan.before = image;
  plan.debug = ReadDebugDirectory(image, held, fileSize);
  const ImageUse use = SummarizeReferences(image, held, plan.debug);
  auto layout = PlanLayout(image, held, fileSize, use, size, cause, error);
  if (!layout) return std::nullopt;
  plan.layout = std::move(*layout);
  if (!FitsAddressSpace(plan.layout.after, image.sectionAlignment) ||
      plan.layout.newEnd > 0xFFFFFFFFu) {
    return Fail(error, platform::kErrorInvalidData);
  }
  const SectionHeader& section = plan.layout.after[plan.layout.resource];
  auto resources = LayoutResources(leaves, section.virtualAddress);
  if (!resources) return Fail(error, platform::kErrorNotEnoughMemory);
  plan.resources = std::move(*resources);
  plan.overlay = OverlayRanges(plan.layout, fileSize);
  if (image.checkSum != 0) plan.checksumField = image.at.checkSum;
  plan.expected.resourceRva = section.virtualAddress;
  plan.expected.resourceSize = static_cast<uint32_t>(plan.resources.size());
  plan.expected.sizeOfHeaders = plan.layout.sizeOfHeaders;
  if (const ResourceLeaf* version = FindVersionLeaf(leaves)) {
    plan.expected.versionBlock.emplace(version->data.begin(), version->data.end());
  }
  return plan;
}

uint32_t ApplyRebuild(std::vector<uint8_t>& bytes, const RebuildPlan& plan, std::string* cause) {
  MoveSections(bytes, plan.layout, plan.resources);
  if (const char* missed = FinishHeaders(plan, bytes)) {
    SetCause(cause, platform::FormatText("the rebuilt image has no room for %s", {missed}));
    return platform::kErrorInvalidData;
  }
  return platform::kErrorSuccess;
}

}  // namespace pe
