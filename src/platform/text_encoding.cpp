#include "platform/text_encoding.h"

#include <iconv.h>

#include <cerrno>
#include <mutex>

namespace talven::platform {
namespace {

// iconv descriptors keep shift state and are not thread-safe; one per direction, used under a lock.
class Converter {
 public:
  Converter(const char* to, const char* from, std::string_view replacement)
      : cd_(iconv_open(to, from)), replacement_(replacement) {}
  ~Converter() {
    if (cd_ != reinterpret_cast<iconv_t>(-1)) iconv_close(cd_);
  }

  std::string convert(std::string_view in, bool two_byte_lead_skip) {
    std::string out;
    if (in.empty()) return out;
    std::lock_guard lock(mutex_);
    if (cd_ == reinterpret_cast<iconv_t>(-1)) return std::string(in);
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    char* src = const_cast<char*>(in.data());
    size_t src_left = in.size();
    char buffer[1024];
    while (src_left > 0) {
      char* dst = buffer;
      size_t dst_left = sizeof buffer;
      size_t r = iconv(cd_, &src, &src_left, &dst, &dst_left);
      out.append(buffer, static_cast<size_t>(dst - buffer));
      if (r == static_cast<size_t>(-1)) {
        if (errno == E2BIG) continue;
        // Invalid or incomplete sequence: replace one character and go on.
        out.append(replacement_);
        size_t skip = 1;
        if (two_byte_lead_skip) {
          unsigned char c = static_cast<unsigned char>(*src);
          bool lead = (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
          if (lead && src_left >= 2) skip = 2;
        } else {
          // Skip a whole UTF-8 sequence.
          unsigned char c = static_cast<unsigned char>(*src);
          skip = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
          if (skip > src_left) skip = src_left;
        }
        src += skip;
        src_left -= skip;
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);
      }
    }
    return out;
  }

 private:
  iconv_t cd_;
  std::string replacement_;
  std::mutex mutex_;
};

}  // namespace

std::string cp932_to_utf8(std::string_view cp932) {
  static Converter converter("UTF-8", "CP932", "\xEF\xBF\xBD");
  return converter.convert(cp932, true);
}

std::string utf8_to_cp932(std::string_view utf8) {
  static Converter converter("CP932", "UTF-8", "?");
  return converter.convert(utf8, false);
}

}  // namespace talven::platform

#include <memory>
#include <unordered_map>

namespace talven::platform {

const char* cp932(const char* utf8_literal) {
  static std::mutex mutex;
  static std::unordered_map<const char*, std::unique_ptr<std::string>> cache;
  std::lock_guard lock(mutex);
  auto& slot = cache[utf8_literal];
  if (!slot) slot = std::make_unique<std::string>(utf8_to_cp932(utf8_literal));
  return slot->c_str();
}

}  // namespace talven::platform
