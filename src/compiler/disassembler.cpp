#include "compiler/disassembler.h"

#include <cstdio>
#include <cstring>

namespace talven::compiler {
namespace {

enum Shape {
  none,       // op
  trap16,     // op imm16
  reg_reg,    // rD, rS
  reg_unary,  // rD (rD = f(rS), printed with rS when it differs)
  reg_imm,    // rD, $imm
  reg_addr,   // rD, $0xADDR
  load_sym,   // rD, 0xADDR
  load_frame, // rD, d(r6)
  load_mem,   // rD, (rS)
  store_sym,  // 0xADDR, rS
  store_frame,// d(r6), rS
  store_mem,  // (rD), rS
  push_reg,   // rS
  push_imm,   // $imm
  pop_reg,    // rD
  frame_size, // N
  target,     // 0xADDR
  call_reg,   // rS
  step,       // rD, imm (address in rS)
  inc_mem,    // (rD)
  zero_sym,   // 0xADDR
  zero_frame, // d(r6)
};

struct Entry {
  const char* name;
  Shape shape;
};

const Entry kTable[92] = {
    {"nop", none},          {"trap", trap16},        {"xchg", reg_reg},       {"movl", reg_reg},
    {"movl", reg_imm},      {"movl", reg_addr},      {"movbl", load_sym},     {"movsbl", load_sym},
    {"movwl", load_sym},    {"movswl", load_sym},    {"movl", load_sym},      {"lea", load_frame},
    {"movbl", load_frame},  {"movsbl", load_frame},  {"movwl", load_frame},   {"movswl", load_frame},
    {"movl", load_frame},   {"movbl", load_mem},     {"movsbl", load_mem},    {"movwl", load_mem},
    {"movswl", load_mem},   {"movl", load_mem},      {"movb", store_sym},     {"movw", store_sym},
    {"movl", store_sym},    {"movb", store_frame},   {"movw", store_frame},   {"movl", store_frame},
    {"movb", store_mem},    {"movw", store_mem},     {"movl", store_mem},     {"push", push_reg},
    {"push", push_imm},     {"pop", pop_reg},        {"enter", frame_size},   {"leave", frame_size},
    {"call", target},       {"call", call_reg},      {"ret", none},           {"preop", step},
    {"postop", step},       {"preincb", inc_mem},    {"postincb", inc_mem},   {"predecb", inc_mem},
    {"postdecb", inc_mem},  {"preincw", inc_mem},    {"postincw", inc_mem},   {"predecw", inc_mem},
    {"postdecw", inc_mem},  {"zerob", zero_sym},     {"zerow", zero_sym},     {"zerol", zero_sym},
    {"zerob", zero_frame},  {"zerow", zero_frame},   {"zerol", zero_frame},   {"cmp", reg_reg},
    {"cmp", reg_imm},       {"set", reg_unary},      {"add", reg_reg},        {"add", reg_imm},
    {"sub", reg_reg},       {"sub", reg_imm},        {"mul", reg_reg},        {"div", reg_reg},
    {"mod", reg_reg},       {"shl", reg_reg},        {"shr", reg_reg},        {"sar", reg_reg},
    {"neg", reg_unary},     {"not", reg_unary},      {"and", reg_reg},        {"or", reg_reg},
    {"xor", reg_reg},       {"jmp", target},         {"je", target},          {"jne", target},
    {"jg", target},         {"jge", target},         {"jl", target},          {"jle", target},
    {"ja", target},         {"jae", target},         {"jb", target},          {"jbe", target},
    {"ftoi", reg_unary},    {"itof", reg_unary},     {"fadd", reg_reg},       {"fsub", reg_reg},
    {"fmul", reg_reg},      {"fdiv", reg_reg},       {"fmod", reg_reg},       {"fneg", reg_unary},
};

int length_of(Shape s) {
  switch (s) {
    case none: return 1;
    case trap16: return 3;
    case reg_reg: case reg_unary: case load_mem: case store_mem: case push_reg: case pop_reg:
    case call_reg: case inc_mem:
      return 2;
    case push_imm: case frame_size: case target: case zero_sym: case zero_frame: return 5;
    default: return 6;
  }
}

}  // namespace

std::vector<DisassembledInstruction> disassemble(const std::uint8_t* code, std::uint32_t size, vm::Address base) {
  std::vector<DisassembledInstruction> out;
  std::uint32_t pc = 0;
  while (pc < size) {
    std::uint8_t opcode = code[pc];
    DisassembledInstruction ins{pc, 1, ""};
    char text[96];
    if (opcode >= 92) {
      std::snprintf(text, sizeof text, ".byte 0x%02x", opcode);
      ins.text = text;
      out.push_back(ins);
      ++pc;
      continue;
    }
    const Entry& e = kTable[opcode];
    int length = length_of(e.shape);
    if (pc + static_cast<std::uint32_t>(length) > size) {
      ins.text = ".truncated";
      ins.length = size - pc;
      out.push_back(ins);
      break;
    }
    int d = length > 1 ? code[pc + 1] & 15 : 0;
    int s = length > 1 ? code[pc + 1] >> 4 : 0;
    std::uint32_t imm = 0;
    if (length == 6) std::memcpy(&imm, code + pc + 2, 4);
    if (length == 5) std::memcpy(&imm, code + pc + 1, 4);
    std::int32_t value = static_cast<std::int32_t>(imm);
    switch (e.shape) {
      case none: std::snprintf(text, sizeof text, "%s", e.name); break;
      case trap16: std::snprintf(text, sizeof text, "%s %u", e.name, code[pc + 1] | (code[pc + 2] << 8)); break;
      case reg_reg: std::snprintf(text, sizeof text, "%s r%d, r%d", e.name, d, s); break;
      case reg_unary:
        if (d == s) std::snprintf(text, sizeof text, "%s r%d", e.name, d);
        else std::snprintf(text, sizeof text, "%s r%d, r%d", e.name, d, s);
        break;
      case reg_imm: std::snprintf(text, sizeof text, "%s r%d, $%d", e.name, d, value); break;
      case reg_addr: std::snprintf(text, sizeof text, "%s r%d, $0x%x", e.name, d, imm); break;
      case load_sym: std::snprintf(text, sizeof text, "%s r%d, 0x%x", e.name, d, imm); break;
      case load_frame: std::snprintf(text, sizeof text, "%s r%d, %d(r6)", e.name, d, value); break;
      case load_mem: std::snprintf(text, sizeof text, "%s r%d, (r%d)", e.name, d, s); break;
      case store_sym: std::snprintf(text, sizeof text, "%s 0x%x, r%d", e.name, imm, s); break;
      case store_frame: std::snprintf(text, sizeof text, "%s %d(r6), r%d", e.name, value, s); break;
      case store_mem: std::snprintf(text, sizeof text, "%s (r%d), r%d", e.name, d, s); break;
      case push_reg: std::snprintf(text, sizeof text, "%s r%d", e.name, s); break;
      case push_imm: std::snprintf(text, sizeof text, "%s $%d", e.name, value); break;
      case pop_reg: std::snprintf(text, sizeof text, "%s r%d", e.name, d); break;
      case frame_size: std::snprintf(text, sizeof text, "%s %u", e.name, imm); break;
      case target: std::snprintf(text, sizeof text, "%s 0x%x", e.name, imm); break;
      case call_reg: std::snprintf(text, sizeof text, "%s r%d", e.name, s); break;
      case step: std::snprintf(text, sizeof text, "%s r%d, %d", e.name, d, value); break;
      case inc_mem: std::snprintf(text, sizeof text, "%s (r%d)", e.name, d); break;
      case zero_sym: std::snprintf(text, sizeof text, "%s 0x%x", e.name, imm); break;
      case zero_frame: std::snprintf(text, sizeof text, "%s %d(r6)", e.name, value); break;
    }
    ins.text = text;
    ins.length = static_cast<std::uint32_t>(length);
    out.push_back(ins);
    pc += static_cast<std::uint32_t>(length);
  }
  (void)base;
  return out;
}

std::string disassembly_text(const std::uint8_t* code, std::uint32_t size, vm::Address base,
                             const vm::SourceMap* map, const SourceLineText& line_text) {
  std::string out;
  std::size_t next_function = 0, next_line = 0;
  for (const DisassembledInstruction& ins : disassemble(code, size, base)) {
    const vm::Address at = base + ins.offset;
    // Map entries start on instruction boundaries; an entry passed over (inside an instruction,
    // which the compiler never makes) is shown at the next instruction.
    for (; map && next_function < map->functions.size() && map->functions[next_function].start <= at; ++next_function)
      out += "\n" + map->functions[next_function].name + ":\n";
    for (; map && next_line < map->lines.size() && map->lines[next_line].start <= at; ++next_line) {
      const vm::SourceMap::Line& l = map->lines[next_line];
      const std::string& file = l.file < map->files.size() ? map->files[l.file] : std::string();
      out += "; " + file + "(" + std::to_string(l.line) + ")";
      std::string text = line_text ? line_text(file, l.line) : std::string();
      std::size_t first = text.find_first_not_of(" \t");
      if (first != std::string::npos) out += ": " + text.substr(first);
      out += '\n';
    }
    char head[64];
    std::snprintf(head, sizeof head, "%08x  ", base + ins.offset);
    out += head;
    std::string bytes;
    for (std::uint32_t i = 0; i < ins.length; ++i) {
      char b[4];
      std::snprintf(b, sizeof b, "%02x ", code[ins.offset + i]);
      bytes += b;
    }
    bytes.resize(20, ' ');
    out += bytes;
    out += ins.text;
    out += '\n';
  }
  return out;
}

}  // namespace talven::compiler
