// Out of memory while the tree is built: the exception reaches the caller of
// Parse, the parser is released (LeakSanitizer checks that in the sanitizer
// build) and the reader works again. The replaced operator new fails once a
// countdown runs out; Expat allocates with malloc and is not hit.

#include <gtest/gtest.h>

#include <cstdlib>
#include <new>

#include "xml_test_util.h"

namespace {
long allocationsLeft = -1;  // negative: no failure armed
}  // namespace

void* operator new(std::size_t size) {
  if (allocationsLeft == 0) throw std::bad_alloc();
  if (allocationsLeft > 0) --allocationsLeft;
  if (void* p = std::malloc(size != 0 ? size : 1)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return ::operator new(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

TEST(XmlAlloc, FailureAtEveryAllocationReachesTheCaller) {
  const std::string document =
      "<?xml version='1.0' encoding='Shift_JIS'?><p a='1' b='\x93\xFA'>t\nu<q>x</q>"
      "<![CDATA[c]]>\xB1</p>";
  int failures = 0;
  for (long n = 0;; ++n) {
    CTrvXMLReader reader;
    int result = -1;
    allocationsLeft = n;
    try {
      result = xmltest::Parse(reader, document);
    } catch (const std::bad_alloc&) {
      ++failures;
    }
    allocationsLeft = -1;
    if (result == 0) break;
    EXPECT_FALSE(reader.IsLoaded());
    ASSERT_EQ(0, xmltest::Parse(reader, document)) << n;
  }
  EXPECT_GE(failures, 5);  // root, nodes, attribute lists, texts
}
