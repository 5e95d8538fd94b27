#include "platform/sjis.h"

namespace talven::platform {

std::size_t sjis_safe_length(const char* text, std::size_t limit) {
  std::size_t i = 0;
  while (i < limit && text[i] != '\0') {
    std::size_t width = is_sjis_lead(static_cast<unsigned char>(text[i])) ? 2 : 1;
    if (i + width > limit || (width == 2 && text[i + 1] == '\0')) break;
    i += width;
  }
  return i;
}

}  // namespace talven::platform
