// Reading compiled code back: one text line per instruction, every operand shown.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "vm/script_memory.h"
#include "vm/source_map.h"

namespace talven::compiler {

struct DisassembledInstruction {
  std::uint32_t offset;  // from the start of the code
  std::uint32_t length;  // bytes
  std::string text;      // e.g. "movl r0, $5", "jmp 0x10020", "movl -24(r6), r0"
};

// Decodes `size` bytes of code that will run at `base`. An invalid opcode becomes ".byte 0xNN" and
// a truncated instruction ends the list with ".truncated".
std::vector<DisassembledInstruction> disassemble(const std::uint8_t* code, std::uint32_t size, vm::Address base);

// The text of line `line` (1-based) of the source file `file` (cp932), without its line end; empty
// when unknown.
using SourceLineText = std::function<std::string(const std::string& file, std::uint32_t line)>;

// The same as text: "ADDRESS  BYTES  INSTRUCTION" lines. With a source map, a function's name
// comes before its first instruction and "; FILE(LINE): TEXT" before the code of each source line
// (cp932 where the sources are).
std::string disassembly_text(const std::uint8_t* code, std::uint32_t size, vm::Address base,
                             const vm::SourceMap* map = nullptr, const SourceLineText& line_text = {});

}  // namespace talven::compiler
