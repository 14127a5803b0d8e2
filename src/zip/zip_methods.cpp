#include "zip/zip_methods.h"

#include <algorithm>
#include <array>

namespace trvzip {

namespace {

struct Method {
  uint16_t id;
  const char* name;
  bool extractable;
};

constexpr std::array<Method, 19> kMethods = {{
    {0, "stored", true},      {1, "Shrink", false},        {2, "Reduce", false},
    {3, "Reduce", false},     {4, "Reduce", false},        {5, "Reduce", false},
    {6, "Implode", false},    {8, "Deflate", true},        {9, "Deflate64", false},
    {10, "PKWARE DCL Implode", false}, {12, "BZip2", false}, {14, "LZMA", false},
    {18, "IBM TERSE", false}, {19, "IBM LZ77", false},     {93, "Zstandard", false},
    {95, "XZ", false},        {96, "JPEG", false},         {98, "PPMd", false},
    {99, "AES", false},
}};

const Method* Find(uint16_t id) {
  const auto* it = std::find_if(kMethods.begin(), kMethods.end(),
                                [id](const Method& m) { return m.id == id; });
  return it == kMethods.end() ? nullptr : it;
}

}  // namespace

bool IsExtractableMethod(uint16_t method) {
  const Method* m = Find(method);
  return m != nullptr && m->extractable;
}

const char* MethodName(uint16_t method) {
  const Method* m = Find(method);
  return m != nullptr ? m->name : "unknown";
}

}  // namespace trvzip
