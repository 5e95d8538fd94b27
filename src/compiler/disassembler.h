// Reading compiled code back: one text line per instruction, every operand shown.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "vm/script_memory.h"

namespace talven::compiler {

struct DisassembledInstruction {
  std::uint32_t offset;  // from the start of the code
  std::uint32_t length;  // bytes
  std::string text;      // e.g. "movl r0, $5", "jmp 0x10020", "movl -24(r6), r0"
};

// Decodes `size` bytes of code that will run at `base`. An invalid opcode becomes ".byte 0xNN" and
// a truncated instruction ends the list with ".truncated".
std::vector<DisassembledInstruction> disassemble(const std::uint8_t* code, std::uint32_t size, vm::Address base);

// The same as text: "OFFSET  BYTES  INSTRUCTION" lines.
std::string disassembly_text(const std::uint8_t* code, std::uint32_t size, vm::Address base);

}  // namespace talven::compiler
