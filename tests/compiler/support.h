// Compiling sources held in memory, and reading the result back.
#pragma once
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "compiler/compiler.h"
#include "compiler/disassembler.h"
#include "platform/text_encoding.h"
#include "shell/error_reporter.h"
#include "vm/script_memory.h"

namespace talven::compiler::testing {

struct Compiled {
  CompileResult result;
  std::string listing;
  vm::Address base = 0;
  std::uint32_t capacity = 0;
  vm::Address heap = 0;

  // The instructions of the emitted code as text.
  std::vector<std::string> code() const {
    std::vector<std::string> out;
    if (!base) return out;
    for (const auto& i : disassemble(vm::host_pointer(base), result.code_size, base)) out.push_back(i.text);
    return out;
  }
  // Listing lines from the label line `name:` up to and including the function's `ret`.
  std::vector<std::string> function(const std::string& name) const {
    std::vector<std::string> out;
    std::size_t at = listing.find("\n" + name + ":\n");
    if (at == std::string::npos) return out;
    at += name.size() + 3;
    while (at < listing.size()) {
      std::size_t end = listing.find('\n', at);
      std::string line = listing.substr(at, end - at);
      at = end + 1;
      if (line.empty()) continue;
      out.push_back(line);
      if (line == "\tret") break;
    }
    return out;
  }
  std::int32_t word_at(vm::Address a) const {
    std::int32_t v = 0;
    std::memcpy(&v, vm::host_pointer(a), 4);
    return v;
  }
  // The error text in UTF-8.
  std::string errors() const { return platform::cp932_to_utf8(result.error_text); }
};

class CompilerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    clear_exported_functions();
  }
  void TearDown() override {
    for (vm::Address a : blocks_) vm::script_free(a);
    clear_exported_functions();
  }

  Compiled build(const std::map<std::string, std::string>& files, std::uint32_t capacity = 65536,
                 vm::Address heap = 0, const std::string& main = "main.c") {
    Compiled c;
    c.capacity = capacity;
    c.base = vm::script_alloc_zeroed(capacity + 4);
    blocks_.push_back(c.base);
    c.heap = heap;
    CompileOptions options;
    options.image_base = c.base;
    options.capacity = capacity;
    options.heap_base = heap;
    options.heap_size = heap ? 4096 : 0;
    options.report_errors = false;
    options.listing = &c.listing;
    options.reader = [files](const std::string& path, std::string& text) {
      auto it = files.find(path);
      if (it == files.end()) return SourceStatus::open_failed;
      text = it->second;
      return SourceStatus::ok;
    };
    c.result = compile(platform::utf8_to_cp932(main), options);
    return c;
  }
  Compiled build(const std::string& source, std::uint32_t capacity = 65536, vm::Address heap = 0) {
    return build(std::map<std::string, std::string>{{"main.c", source}}, capacity, heap);
  }
  vm::Address heap_block() {
    vm::Address h = vm::script_alloc_zeroed(4096);
    blocks_.push_back(h);
    return h;
  }

  std::vector<vm::Address> blocks_;
};

// Lines of `haystack` equal to `line`.
inline int count_lines(const std::vector<std::string>& lines, const std::string& line) {
  int n = 0;
  for (const auto& l : lines) n += l == line;
  return n;
}

inline int index_of(const std::vector<std::string>& lines, const std::string& line) {
  for (std::size_t i = 0; i < lines.size(); ++i)
    if (lines[i] == line) return static_cast<int>(i);
  return -1;
}

}  // namespace talven::compiler::testing
