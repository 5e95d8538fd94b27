#include "library/format.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace talven::library {
namespace {

constexpr std::int64_t kUnlimitedFieldCap = 1 << 20;
// More than any one value can print besides its width and precision (a double's 309 integer
// digits, sign, point, exponent, prefixes).
constexpr std::int64_t kValueLengthMargin = 400;

std::string formatted(const char* directive, ...) {
  va_list args;
  va_start(args, directive);
  va_list again;
  va_copy(again, args);
  int n = std::vsnprintf(nullptr, 0, directive, args);
  va_end(args);
  std::string text;
  if (n > 0) {
    text.resize(static_cast<std::size_t>(n) + 1);
    std::vsnprintf(text.data(), text.size(), directive, again);
    text.resize(static_cast<std::size_t>(n));
  }
  va_end(again);
  return text;
}

// The string at `a`, at most `max` bytes. False when it starts outside script memory or runs off
// its end before the terminator (or `max` bytes).
bool read_script_string(vm::Address a, std::uint64_t max, std::string& out) {
  if (!vm::usable_range(a, 1)) return false;
  std::uint64_t available = vm::kAddressSpaceSize - a;
  std::uint64_t n = std::min(max, available);
  const char* p = reinterpret_cast<const char*>(vm::host_pointer(a));
  if (const void* end = std::memchr(p, 0, n)) {
    out.assign(p, static_cast<const char*>(end) - p);
    return true;
  }
  if (n == max) {
    out.assign(p, n);
    return true;
  }
  return false;
}

enum class Size { normal, half, byte, wide };

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// The decimal number at `i` (none reads 0), kept from overflowing; `i` moves past it.
std::int64_t read_number(std::string_view text, std::size_t& i) {
  std::int64_t n = 0;
  while (i < text.size() && is_digit(text[i])) n = std::min<std::int64_t>(n * 10 + (text[i++] - '0'), 1ll << 40);
  return n;
}

class Formatter {
 public:
  Formatter(vm::Address arguments, std::uint32_t first_word, std::size_t limit)
      : arguments_(arguments), word_(first_word), limit_(limit) {}

  std::string run(std::string_view format) {
    std::size_t i = 0;
    while (i < format.size() && !full()) {
      std::size_t percent = format.find('%', i);
      if (percent == std::string_view::npos) percent = format.size();
      append(format.substr(i, percent - i));
      if (percent == format.size()) break;
      i = conversion(format, percent);
    }
    return std::move(out_);
  }

 private:
  bool full() const { return out_.size() >= limit_; }

  void append(std::string_view text) {
    std::size_t room = limit_ - out_.size();
    out_.append(text.substr(0, std::min(room, text.size())));
  }

  std::uint32_t next_word() {
    std::uint32_t value = 0;
    vm::load(arguments_ + 4u * word_, value);
    ++word_;
    return value;
  }
  std::uint64_t next_pair() {
    std::uint64_t low = next_word();
    std::uint64_t high = next_word();
    return high << 32 | low;
  }

  // Reads one conversion starting at the '%' at `start` and returns the index after it.
  std::size_t conversion(std::string_view format, std::size_t start) {
    std::size_t i = start + 1;
    auto peek = [&](std::size_t k = 0) { return i + k < format.size() ? format[i + k] : '\0'; };

    std::string flags;
    while (peek() != '\0' && std::strchr("-+ #0", peek()) != nullptr) flags += format[i++];

    std::int64_t width = -1;
    if (peek() == '*') {
      ++i;
      std::int64_t w = static_cast<std::int32_t>(next_word());
      if (w < 0) {
        flags += '-';
        w = -w;
      }
      width = w;
    } else if (is_digit(peek())) {
      width = read_number(format, i);
    }

    std::int64_t precision = -1;
    if (peek() == '.') {
      ++i;
      precision = 0;
      if (peek() == '*') {
        ++i;
        std::int64_t p = static_cast<std::int32_t>(next_word());
        precision = p < 0 ? -1 : p;
      } else {
        precision = read_number(format, i);
      }
    }

    Size size = Size::normal;
    for (bool more = true; more;) {
      switch (peek()) {
        case 'h': size = size == Size::half ? Size::byte : Size::half; ++i; break;
        case 'l':
          if (peek(1) == 'l') {
            size = Size::wide;
            ++i;
          }
          ++i;
          break;
        case 'j': size = Size::wide; ++i; break;
        case 'L': case 'z': case 't': case 'w': ++i; break;
        case 'I':
          if (peek(1) == '6' && peek(2) == '4') { size = Size::wide; i += 3; }
          else if (peek(1) == '3' && peek(2) == '2') i += 3;
          else ++i;
          break;
        default: more = false;
      }
    }

    char kind = peek();
    if (kind == '\0') {  // the format ends inside the conversion: shown as written
      append(format.substr(start));
      return format.size();
    }
    ++i;

    // Fields wider than what can still be shown are narrowed so that the visible text is the
    // same and no value asks for more memory than the output can take.
    std::int64_t room = limit_ == kNoOutputLimit ? kUnlimitedFieldCap
                                                 : std::min<std::int64_t>(limit_ - out_.size(), kUnlimitedFieldCap);
    if (precision > room + 1) precision = room + 1;
    std::int64_t width_cap = limit_ == kNoOutputLimit ? kUnlimitedFieldCap : room + std::max<std::int64_t>(precision, 0) + kValueLengthMargin;
    if (width > width_cap) width = width_cap;

    auto directive = [&](const char* length_and_kind, std::int64_t forced_precision = -1) {
      std::string s = "%" + flags;
      if (width >= 0) s += std::to_string(width);
      std::int64_t p = precision >= 0 ? precision : forced_precision;
      if (p >= 0) s += "." + std::to_string(p);
      return s + length_and_kind;
    };

    switch (kind) {
      case 'd':
      case 'i': {
        std::int64_t v;
        if (size == Size::wide) v = static_cast<std::int64_t>(next_pair());
        else {
          std::uint32_t w = next_word();
          v = size == Size::half ? static_cast<std::int16_t>(w)
              : size == Size::byte ? static_cast<std::int8_t>(w)
                                   : static_cast<std::int32_t>(w);
        }
        append(formatted(directive("lld").c_str(), static_cast<long long>(v)));
        break;
      }
      case 'u':
      case 'o':
      case 'x':
      case 'X': {
        std::uint64_t v;
        if (size == Size::wide) v = next_pair();
        else {
          std::uint32_t w = next_word();
          v = size == Size::half ? static_cast<std::uint16_t>(w) : size == Size::byte ? static_cast<std::uint8_t>(w) : w;
        }
        const char tail[] = {'l', 'l', kind, '\0'};
        append(formatted(directive(tail).c_str(), static_cast<unsigned long long>(v)));
        break;
      }
      case 'p':
        append(formatted(directive("X", 8).c_str(), static_cast<unsigned>(next_word())));
        break;
      case 'c':
      case 'C':
        append(formatted(directive("c").c_str(), static_cast<int>(next_word() & 0xFF)));
        break;
      case 's':
      case 'S': {
        vm::Address a = next_word();
        // A string longer than what can still be shown plus its width reads as its visible part.
        std::uint64_t max = precision >= 0            ? static_cast<std::uint64_t>(precision)
                            : limit_ == kNoOutputLimit ? vm::kAddressSpaceSize
                                                       : static_cast<std::uint64_t>(room + 1 + std::max<std::int64_t>(width, 0));
        std::string text;
        if (!read_script_string(a, max, text)) text = "(null)";
        append(formatted(directive("s").c_str(), text.c_str()));
        break;
      }
      case 'f':
      case 'F':
      case 'e':
      case 'E':
      case 'g':
      case 'G':
      case 'a':
      case 'A': {
        std::uint64_t bits = next_pair();
        double v;
        std::memcpy(&v, &bits, sizeof v);
        const char tail[] = {kind, '\0'};
        append(formatted(directive(tail).c_str(), v));
        break;
      }
      case 'n':
        next_word();
        break;
      case '%':
        append("%");
        break;
      default:
        append(format.substr(start, i - start));
        break;
    }
    return i;
  }

  vm::Address arguments_;
  std::uint32_t word_;
  std::size_t limit_;
  std::string out_;
};

}  // namespace

std::string format_script_words(std::string_view format, vm::Address arguments, std::uint32_t first_word,
                                std::size_t output_limit) {
  return Formatter(arguments, first_word, output_limit).run(format);
}

}  // namespace talven::library
