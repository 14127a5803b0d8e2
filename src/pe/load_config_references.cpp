// The load configuration: a record whose declared size tells which of its
// fields exist; most are virtual addresses, some name tables of addresses.

#include <algorithm>

#include "pe/reference_reader.h"

namespace pe {
namespace {

enum class Field : uint8_t {
  Pointer,        // a virtual address
  PointerList,    // the virtual address of a zero-ended list of virtual addresses
  Table,          // the virtual address of a table of addresses, counted by `count`
  RvaRanges,      // volatile metadata: two tables of addresses
  Unread,         // a structure this reader does not know: nothing may move
};

struct LoadConfigField {
  uint32_t at32, at64;  // offsets in the 32-bit and the 64-bit record
  Field kind;
  uint32_t count32 = 0, count64 = 0;  // offset of a table's count
  bool strided = false;  // entries carry the extra bytes the guard flags state
};

constexpr LoadConfigField kFields[] = {
    {32, 40, Field::PointerList},             // LockPrefixTable
    {56, 80, Field::Pointer},                 // EditList
    {60, 88, Field::Pointer},                 // SecurityCookie
    {64, 96, Field::Table, 68, 104},          // SEHandlerTable
    {72, 112, Field::Pointer},                // GuardCFCheckFunctionPointer
    {76, 120, Field::Pointer},                // GuardCFDispatchFunctionPointer
    {80, 128, Field::Table, 84, 136, true},   // GuardCFFunctionTable
    {104, 160, Field::Table, 108, 168, true}, // GuardAddressTakenIatEntryTable
    {112, 176, Field::Table, 116, 184, true}, // GuardLongJumpTargetTable
    {120, 192, Field::Unread},                // DynamicValueRelocTable
    {124, 200, Field::Unread},                // CHPEMetadataPointer
    {128, 208, Field::Pointer},               // GuardRFFailureRoutine
    {132, 216, Field::Pointer},               // GuardRFFailureRoutineFunctionPointer
    {144, 232, Field::Pointer},               // GuardRFVerifyStackPointerFunctionPointer
    {156, 248, Field::Unread},                // EnclaveConfigurationPointer
    {160, 256, Field::RvaRanges},             // VolatileMetadataPointer
    {164, 264, Field::Table, 168, 272, true}, // GuardEHContinuationTable
    {172, 280, Field::Pointer},               // GuardXFGCheckFunctionPointer
    {176, 288, Field::Pointer},               // GuardXFGDispatchFunctionPointer
    {180, 296, Field::Pointer},               // GuardXFGTableDispatchFunctionPointer
    {184, 304, Field::Pointer},               // CastGuardOsDeterminedFailureMode
    {188, 312, Field::Pointer},               // GuardMemcpyFunctionPointer
};

bool ReadPointerList(ReferenceReader& r, uint32_t start) {
  for (uint64_t at = start;; at += r.PointerSize()) {
    const auto va = r.Pointer(at);
    if (!va || !r.Step("load configuration list")) return r.Fail("load configuration list");
    if (*va == 0) {
      r.Add(ReferenceKind::LoadConfig, start, at + r.PointerSize() - start);
      return true;
    }
    r.AddPointer(ReferenceKind::LoadConfig, *va);
  }
}

bool ReadTable(ReferenceReader& r, uint32_t start, uint64_t count, uint32_t stride) {
  if (count > 0xFFFFFFFFu / stride || !r.Readable(start, count * stride)) {
    return r.Fail("load configuration table");
  }
  r.Add(ReferenceKind::LoadConfig, start, std::max<uint64_t>(count * stride, 1));
  for (uint64_t i = 0; i < count; ++i) {
    if (!r.Step("load configuration table")) return false;
    r.Add(ReferenceKind::LoadConfig, *r.Value(start + i * stride, 4));
  }
  return true;
}

// Volatile metadata: its size, a version, then an access table of addresses
// and a table of address ranges, each with its size in bytes.
bool ReadVolatileMetadata(ReferenceReader& r, uint32_t start) {
  const auto access = r.Value(start + 8, 4), accessSize = r.Value(start + 12, 4),
             ranges = r.Value(start + 16, 4), rangesSize = r.Value(start + 20, 4);
  if (!access || !accessSize || !ranges || !rangesSize) return r.Fail("volatile metadata");
  r.Add(ReferenceKind::LoadConfig, start, 24);
  if (*access != 0 && !ReadTable(r, static_cast<uint32_t>(*access), *accessSize / 4, 4)) {
    return false;
  }
  return *ranges == 0 || ReadTable(r, static_cast<uint32_t>(*ranges), *rangesSize / 8, 8);
}

bool ReadField(ReferenceReader& r, const LoadConfigField& f, uint32_t base, uint32_t stride) {
  const bool is64 = r.Image().is64;
  const auto va = r.Pointer(base + (is64 ? f.at64 : f.at32));
  if (!va) return r.Fail("load configuration");
  if (*va == 0) return true;
  const auto rva = r.Image().VaToRva(*va);
  if (!rva) return f.kind == Field::Pointer || r.Fail("load configuration address");
  switch (f.kind) {
    case Field::Pointer:
      r.Add(ReferenceKind::LoadConfig, *rva, r.PointerSize());
      return true;
    case Field::PointerList:
      return ReadPointerList(r, *rva);
    case Field::Table: {
      const auto count = r.Pointer(base + (is64 ? f.count64 : f.count32));
      return count ? ReadTable(r, *rva, *count, f.strided ? stride : 4)
                   : r.Fail("load configuration");
    }
    case Field::RvaRanges:
      return ReadVolatileMetadata(r, *rva);
    case Field::Unread:
      break;
  }
  return r.Fail("load configuration structure");
}

}  // namespace

bool ReadLoadConfig(ReferenceReader& r, DataDirectory d) {
  const auto size = r.Value(d.rva, 4);
  if (!size || *size < 4 || !r.Readable(d.rva, *size)) return r.Fail("load configuration");
  r.Add(ReferenceKind::LoadConfig, d.rva, *size);
  const bool is64 = r.Image().is64;
  // Each function table entry is an address followed by this many bytes.
  const auto guardFlags = *size >= (is64 ? 148u : 92u) ? r.Value(d.rva + (is64 ? 144 : 88), 4)
                                                       : std::optional<uint64_t>(0);
  const uint32_t stride = 4 + static_cast<uint32_t>((guardFlags.value_or(0) >> 28) & 0xF);
  for (const LoadConfigField& f : kFields) {
    const uint32_t at = is64 ? f.at64 : f.at32;
    const uint32_t end = at + r.PointerSize();
    // The SEH table exists in 32-bit images only; 64-bit ones keep the slot empty.
    if (end > *size ||
        (f.kind == Field::Table && (is64 ? f.count64 : f.count32) + r.PointerSize() > *size)) {
      continue;
    }
    if (!ReadField(r, f, d.rva, stride)) return false;
  }
  return true;
}

}  // namespace pe
