#include "package/member_name.h"

#include "platform/path.h"
#include "platform/text.h"

std::u16string DefinitionMemberName(std::string_view path) {
  return platform::Widen(platform::FileNameComponent(path)) + u".xml";
}
