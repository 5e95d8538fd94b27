// Where compiled code came from: for each program image, the source file, line and function of
// every code address, kept host-side beside the image from its compile until it is freed. Runtime
// errors are reported with it, and the disassembler shows the source lines.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "vm/script_memory.h"

namespace talven::vm {

struct SourceMap {
  struct Function {
    Address start;     // the function's first instruction
    std::string name;  // cp932
  };
  struct Line {
    Address start;       // the first instruction compiled from the line
    std::uint16_t file;  // index into `files`
    std::uint32_t line;  // 1-based
  };
  std::vector<std::string> files;       // cp932 paths as the compiler opened them
  std::vector<Function> functions;      // ascending starts
  std::vector<Line> lines;              // ascending starts
  Address code_end = 0;                 // the end of the code; data follows it

  struct Position {
    std::string file;      // cp932
    std::uint32_t line = 0;
    std::string function;  // cp932; empty when the address is before the first function
  };
  // The position of the instruction that holds `address`; nothing outside the code.
  std::optional<Position> find(Address address) const;
};

// Keeps `map` for the image at `image_base` (replacing any earlier one) until forget_source_map.
void attach_source_map(Address image_base, SourceMap map);
// Drops the map of the image at `image_base`, for an image that is freed.
void forget_source_map(Address image_base);
void forget_all_source_maps();
// The position of `address` in whichever image holds it; nothing when no map covers it.
std::optional<SourceMap::Position> find_source_position(Address address);

}  // namespace talven::vm
