// Calling built-in handlers directly from tests: argument words, strings and buffers laid out in
// script memory, freed again when the test's ScriptScratch goes away.
#pragma once
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "vm/script_memory.h"

namespace talven::test {

// One value of a call: a word, a double (two words, low first, as on a 32-bit stack) or a text
// (placed in script memory; the word is its address).
struct Arg {
  enum class Kind { word, real, text } kind;
  std::uint32_t word = 0;
  double real = 0;
  std::string text;
  Arg(std::int32_t v) : kind(Kind::word), word(static_cast<std::uint32_t>(v)) {}  // NOLINT: implicit on purpose
  Arg(std::uint32_t v) : kind(Kind::word), word(v) {}                          // NOLINT
  Arg(double v) : kind(Kind::real), real(v) {}                                 // NOLINT
  Arg(const char* s) : kind(Kind::text), text(s) {}                            // NOLINT
  Arg(std::string s) : kind(Kind::text), text(std::move(s)) {}                 // NOLINT
};

class ScriptScratch {
 public:
  ScriptScratch() = default;
  ScriptScratch(const ScriptScratch&) = delete;
  ScriptScratch& operator=(const ScriptScratch&) = delete;
  ~ScriptScratch() {
    for (vm::Address a : blocks_) vm::script_free(a);
  }

  // A zero-filled block of `size` bytes.
  vm::Address zeroed(std::uint32_t size) {
    vm::Address a = vm::script_alloc_zeroed(size == 0 ? 1 : size);
    if (a != 0) blocks_.push_back(a);
    return a;
  }
  // `bytes` copied into a new block, not terminated.
  vm::Address bytes(std::string_view bytes) {
    vm::Address a = zeroed(static_cast<std::uint32_t>(bytes.size()));
    if (a != 0 && !bytes.empty()) std::memcpy(vm::host_pointer(a), bytes.data(), bytes.size());
    return a;
  }
  // `text` and a terminating zero.
  vm::Address text(std::string_view text) { return bytes(std::string(text) + '\0'); }

  // The argument block of a call: what a handler receives.
  vm::Address args(std::initializer_list<Arg> values) { return args(std::vector<Arg>(values)); }
  vm::Address args(const std::vector<Arg>& values) {
    std::vector<std::uint32_t> words;
    for (const Arg& v : values) {
      switch (v.kind) {
        case Arg::Kind::word: words.push_back(v.word); break;
        case Arg::Kind::text: words.push_back(text(v.text)); break;
        case Arg::Kind::real: {
          std::uint64_t bits;
          std::memcpy(&bits, &v.real, sizeof bits);
          words.push_back(static_cast<std::uint32_t>(bits));
          words.push_back(static_cast<std::uint32_t>(bits >> 32));
          break;
        }
      }
    }
    vm::Address a = zeroed(static_cast<std::uint32_t>(4 * words.size()));
    if (a != 0 && !words.empty()) std::memcpy(vm::host_pointer(a), words.data(), 4 * words.size());
    return a;
  }

 private:
  std::vector<vm::Address> blocks_;
};

// The bytes at a script address.
inline std::string script_bytes(vm::Address a, std::size_t n) {
  return std::string(reinterpret_cast<const char*>(vm::host_pointer(a)), n);
}
// The zero-terminated text at a script address.
inline std::string script_text(vm::Address a) {
  return std::string(reinterpret_cast<const char*>(vm::host_pointer(a)));
}

// A handler's result read as a signed integer.
inline std::int32_t as_int(std::uint32_t word) { return static_cast<std::int32_t>(word); }

}  // namespace talven::test
