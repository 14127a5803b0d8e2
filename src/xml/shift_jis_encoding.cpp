#include "xml/shift_jis_encoding.h"

#include <iconv.h>

#include <cstddef>

namespace {

constexpr std::array<int, 256> MakeShiftJisByteMap() {
  std::array<int, 256> map{};
  for (int b = 0; b < 256; ++b) {
    if ((b >= 0x09 && b <= 0x0F) || (b >= 0x20 && b <= 0x7F)) {
      map[b] = b;
    } else if ((b >= 0x80 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFE)) {
      map[b] = -2;
    } else if (b >= 0xA0 && b <= 0xDF) {
      map[b] = 0xFF60 + (b - 0xA0);  // half-width forms
    } else {
      map[b] = -1;
    }
  }
  return map;
}

bool IsShiftJisName(const XML_Char* name) {
  static constexpr char kName[] = "SHIFT_JIS";
  if (name == nullptr) return false;
  std::size_t i = 0;
  for (; kName[i] != '\0'; ++i) {
    char c = name[i];
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (c != kName[i]) return false;
  }
  return name[i] == '\0';
}

// One descriptor per thread, opened on first use: Expat asks for every pair.
class Cp932Decoder {
 public:
  Cp932Decoder() : cd(::iconv_open("UTF-16LE", "CP932")) {}
  ~Cp932Decoder() {
    if (IsOpen()) ::iconv_close(cd);
  }
  Cp932Decoder(const Cp932Decoder&) = delete;
  Cp932Decoder& operator=(const Cp932Decoder&) = delete;

  int Decode(const char* bytes) {
    if (!IsOpen()) return -1;
    ::iconv(cd, nullptr, nullptr, nullptr, nullptr);
    char in[2] = {bytes[0], bytes[1]};
    unsigned char out[8] = {};
    char* inPtr = in;
    char* outPtr = reinterpret_cast<char*>(out);
    std::size_t inLeft = sizeof in;
    std::size_t outLeft = sizeof out;
    if (::iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) == static_cast<std::size_t>(-1)) return -1;
    // Exactly one unit for both bytes; nothing, two characters or a surrogate
    // pair is not a character the parser can take from one sequence.
    if (inLeft != 0 || sizeof out - outLeft != 2) return -1;
    const int unit = out[0] | (out[1] << 8);
    if (unit >= 0xD800 && unit <= 0xDFFF) return -1;
    return unit;
  }

 private:
  bool IsOpen() const { return cd != reinterpret_cast<iconv_t>(-1); }
  iconv_t cd;
};

}  // namespace

const std::array<int, 256> ShiftJisByteMap = MakeShiftJisByteMap();

int XMLCALL OnUnknownEncoding(void* /*handlerData*/, const XML_Char* name, XML_Encoding* info) {
  if (info == nullptr || !IsShiftJisName(name)) return 0;
  for (std::size_t i = 0; i < ShiftJisByteMap.size(); ++i) info->map[i] = ShiftJisByteMap[i];
  info->convert = ConvertShiftJisPair;
  return 1;
}

int XMLCALL ConvertShiftJisPair(void* /*data*/, const char* bytes) {
  if (bytes == nullptr) return -1;
  thread_local Cp932Decoder decoder;
  return decoder.Decode(bytes);
}
