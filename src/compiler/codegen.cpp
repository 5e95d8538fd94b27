// Instruction emission: bytes, labels and their chains, the register allocator, and the code for
// expression trees and conditions.
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include <algorithm>

#include "compiler/compiler_internal.h"

namespace talven::compiler {

// ---- bytes -------------------------------------------------------------------------------------

void Compiler::room(std::uint32_t width) {
  if (emitting_ && std::uint64_t(data_size_) + pc_ + width > options_.capacity) fail(kProgramAreaFull);
}

void Compiler::emit8(std::uint32_t v) {
  room(1);
  if (emitting_) image_[pc_] = static_cast<std::uint8_t>(v);
  pc_ += 1;
}

void Compiler::emit16(std::uint32_t v) {
  room(2);
  if (emitting_) {
    image_[pc_] = static_cast<std::uint8_t>(v);
    image_[pc_ + 1] = static_cast<std::uint8_t>(v >> 8);
  }
  pc_ += 2;
}

void Compiler::emit32(std::uint32_t v) {
  room(4);
  if (emitting_) std::memcpy(image_ + pc_, &v, 4);
  pc_ += 4;
}

void Compiler::patch32(std::uint32_t offset, std::uint32_t v) {
  if (emitting_ && std::uint64_t(offset) + 4 <= options_.capacity) std::memcpy(image_ + offset, &v, 4);
}

std::uint32_t Compiler::read32(std::uint32_t offset) const {
  std::uint32_t v = 0;
  if (emitting_ && std::uint64_t(offset) + 4 <= options_.capacity) std::memcpy(&v, image_ + offset, 4);
  return v;
}

void Compiler::emit_rr(int opcode, int d, int s) {
  emit8(static_cast<std::uint32_t>(opcode));
  emit8(static_cast<std::uint32_t>((s << 4) | d));
}

void Compiler::emit_rr_imm(int opcode, int d, int s, std::uint32_t imm) {
  emit_rr(opcode, d, s);
  emit32(imm);
}

void Compiler::emit_imm(int opcode, std::uint32_t imm) {
  emit8(static_cast<std::uint32_t>(opcode));
  emit32(imm);
}

void Compiler::listing(const char* format, ...) {
  if (!options_.listing) return;
  char buffer[8400];
  va_list args;
  va_start(args, format);
  int n = std::vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  if (n < 0) return;
  options_.listing->append(buffer, static_cast<std::size_t>(std::min<int>(n, sizeof buffer - 1)));
}

// ---- labels ------------------------------------------------------------------------------------

int Compiler::new_label() {
  if (static_cast<int>(label_value_.size()) >= kMaxLabels) fail(kInternalError);
  label_value_.push_back(0);
  label_state_.push_back(0xDE);
  return static_cast<int>(label_value_.size() - 1);
}

void Compiler::define_label(int label) {
  flush_return();
  if (label <= 0 || label >= static_cast<int>(label_value_.size())) fail(kInternalError);
  if (label_state_[static_cast<std::size_t>(label)] == 0xDF) fail(kInternalError);
  vm::Address here = options_.image_base + pc_;
  std::uint32_t link = label_value_[static_cast<std::size_t>(label)];
  while (emitting_ && link != 0) {
    std::uint32_t next = read32(link);
    patch32(link, here);
    link = next;
  }
  label_value_[static_cast<std::size_t>(label)] = here;
  label_state_[static_cast<std::size_t>(label)] = 0xDF;
  reachable_ = true;
  listing("_%d:\n", label);
}

std::uint32_t Compiler::reference(int label, std::uint32_t operand_offset) {
  if (label <= 0 || label >= static_cast<int>(label_value_.size())) fail(kInternalError);
  std::size_t l = static_cast<std::size_t>(label);
  if (label_state_[l] == 0xDF) return label_value_[l];
  std::uint32_t previous = label_value_[l];
  label_value_[l] = operand_offset;
  return previous;
}

static const char* jump_name(int opcode) {
  static const char* const names[] = {"jmp", "je", "jne", "jg", "jge", "jl", "jle", "ja", "jae", "jb", "jbe"};
  return names[opcode - 73];
}

void Compiler::jump(int opcode, int label) {
  emit8(static_cast<std::uint32_t>(opcode));
  emit32(reference(label, pc_));
  listing("\t%s\t\t_%d\n", jump_name(opcode), label);
  if (opcode == 73) reachable_ = false;
}

// ---- registers ---------------------------------------------------------------------------------

void Compiler::reset_registers() {
  for (int i = 0; i < 6; ++i) {
    in_use_[i] = false;
    map_[i] = i;
  }
  save_stack_.clear();
  primary_ = 0;
  secondary_ = 1;
  in_use_[0] = in_use_[1] = true;
}

void Compiler::save() {
  for (int i = 0; i < 6; ++i) {
    if (!in_use_[i]) {
      save_stack_.push_back(primary_);
      in_use_[i] = true;
      primary_ = i;
      return;
    }
  }
  save_stack_.push_back(-1);
  emit_rr(31, reg(), reg());
  listing("\tpush\tr%d\n", reg());
}

void Compiler::restore() {
  int slot = save_stack_.empty() ? -1 : save_stack_.back();
  if (!save_stack_.empty()) save_stack_.pop_back();
  if (slot >= 0) {
    in_use_[secondary_] = false;
    secondary_ = slot;
    return;
  }
  emit_rr(33, sreg(), 7);
  listing("\tpop\t\tr%d\n", sreg());
}

void Compiler::move_to(int k) {
  if (map_[primary_] == k) return;
  int other = 0;
  while (map_[other] != k) ++other;
  int from = map_[primary_];
  if (in_use_[other]) {
    emit_rr(2, k, from);
    listing("\txchg\tr%d, r%d\n", k, from);
  } else {
    emit_rr(3, k, from);
    listing("\tmovl\tr%d, r%d\n", k, from);
  }
  map_[other] = from;
  map_[primary_] = k;
}

// ---- expressions -------------------------------------------------------------------------------

std::string Compiler::symbol_text(int n) const {
  int sym = arg(n, 2);
  std::string s = name_of(sym);
  std::int64_t delta = std::int64_t(static_cast<std::uint32_t>(arg(n, 1))) - static_cast<std::uint32_t>(symbols_[sym].value);
  if (delta != 0) s += (delta > 0 ? "+" : "") + std::to_string(delta);
  return s;
}

void Compiler::load_constant(std::int32_t v) {
  emit_rr_imm(4, reg(), reg(), static_cast<std::uint32_t>(v));
  listing("\tmovl\tr%d, $%d\n", reg(), v);
}

std::uint32_t Compiler::place_string(int n) {
  std::uint32_t start = static_cast<std::uint32_t>(arg(n, 1));
  std::uint32_t length = static_cast<std::uint32_t>(arg(n, 2));
  std::uint64_t total = std::uint64_t(data_size_) + length;
  if (total > 0xFFFFFFFFu) fail(kProgramAreaFull);
  data_size_ = static_cast<std::uint32_t>(total);
  if (emitting_ && std::uint64_t(pc_) + data_size_ > options_.capacity) fail(kProgramAreaFull);
  std::uint32_t offset = options_.capacity - data_size_;
  if (emitting_) std::memcpy(image_ + offset, &text_[start], length);
  if (options_.listing) {
    std::string line = "\t.ascii \"";
    for (std::uint32_t i = 0; i + 1 < length; ++i) {
      unsigned char c = text_[start + i];
      char buf[8];
      if (c == '\n') line += "\\n";
      else if (c == '"') line += "\\\"";
      else if (c < 0x20) {
        std::snprintf(buf, sizeof buf, "\\x%02x", c);
        line += buf;
      } else {
        line += static_cast<char>(c);
      }
    }
    line += "\\0\"\n";
    listing("_s%d:\n", string_counter_);
    options_.listing->append(line);
  }
  ++string_counter_;
  return options_.image_base + offset;
}

void Compiler::eval_address(int place) {
  switch (op(place)) {
    case 1:
      emit_rr_imm(5, reg(), reg(), static_cast<std::uint32_t>(arg(place, 1)));
      listing("\tmovl\tr%d, $%s\n", reg(), symbol_text(place).c_str());
      return;
    case 7:
      emit_rr_imm(11, reg(), 6, static_cast<std::uint32_t>(arg(place, 1)));
      listing("\tlea\t\tr%d, %d(r%d)\n", reg(), arg(place, 1), 6);
      return;
    case 15: eval(arg(place, 1)); return;
    default: eval(place); return;
  }
}

void Compiler::eval_binary(int n, int opcode, const char* mnemonic) {
  eval(arg(n, 2));
  save();
  eval(arg(n, 1));
  restore();
  emit_rr(opcode, reg(), sreg());
  listing("\t%s\t\tr%d, r%d\n", mnemonic, reg(), sreg());
}

namespace {

struct Width {
  const char* load;
  int load_sym, load_frame, load_mem;
  const char* store;
  int store_sym, store_frame, store_mem;
};
// By width index: 32-bit, signed char, unsigned char, short, unsigned short.
const Width kWidths[5] = {
    {"movl", 10, 16, 21, "movl", 24, 27, 30},
    {"movsbl", 7, 13, 18, "movb", 22, 25, 28},
    {"movbl", 6, 12, 17, "movb", 22, 25, 28},
    {"movswl", 9, 15, 20, "movw", 23, 26, 29},
    {"movwl", 8, 14, 19, "movw", 23, 26, 29},
};

struct Operator {
  int node;
  int opcode;
  const char* mnemonic;
};
const Operator kOperators[] = {
    {37, 62, "mul"}, {38, 62, "mul"}, {39, 63, "div"}, {40, 63, "div"}, {41, 64, "mod"}, {42, 64, "mod"},
    {43, 58, "add"}, {44, 60, "sub"}, {45, 67, "sar"}, {46, 66, "shr"}, {47, 65, "shl"}, {48, 65, "shl"},
    {63, 70, "and"}, {64, 71, "or"},  {65, 72, "xor"}, {92, 88, "fmul"}, {93, 89, "fdiv"}, {94, 90, "fmod"},
    {95, 86, "fadd"}, {96, 87, "fsub"},
};

const Operator* find_operator(int node) {
  for (const Operator& o : kOperators)
    if (o.node == node) return &o;
  return nullptr;
}

// Conditional jump taken when the comparison holds.
int true_jump(int code) {
  switch (code) {
    case 49: case 51: return 76;  // jg
    case 50: return 80;           // ja
    case 52: case 54: return 77;  // jge
    case 53: return 81;           // jae
    case 55: case 57: return 78;  // jl
    case 56: return 82;           // jb
    case 58: case 60: return 79;  // jle
    case 59: return 83;           // jbe
    case 61: return 74;           // je
    default: return 75;           // jne
  }
}

int opposite_jump(int opcode) {
  switch (opcode) {
    case 74: return 75;
    case 75: return 74;
    case 76: return 79;
    case 79: return 76;
    case 77: return 78;
    case 78: return 77;
    case 80: return 83;
    case 83: return 80;
    case 81: return 82;
    default: return 81;
  }
}

bool is_comparison(int code) { return (code >= 49 && code <= 60) || code == 61 || code == 62; }

}  // namespace

void Compiler::condition(int n, int label, bool when_true) {
  int code = op(n);
  if (code == 23) {
    condition(arg(n, 1), label, !when_true);
    return;
  }
  if (code == 66 || code == 67) {
    bool is_and = code == 66;
    if (is_and != when_true) {
      condition(arg(n, 1), label, when_true);
      condition(arg(n, 2), label, when_true);
    } else {
      int skip = new_label();
      condition(arg(n, 1), skip, !when_true);
      condition(arg(n, 2), label, when_true);
      define_label(skip);
    }
    return;
  }
  if (code == 13) {
    if ((arg(n, 1) != 0) == when_true) jump(73, label);
    return;
  }
  if (is_comparison(code)) {
    bool is_float = code == 51 || code == 54 || code == 57 || code == 60;
    eval_binary(n, is_float ? 87 : 60, is_float ? "fsub" : "sub");
    int j = true_jump(code);
    jump(when_true ? j : opposite_jump(j), label);
    return;
  }
  if (code >= 2 && code <= 6) {
    static const int zero[5] = {51, 49, 49, 50, 50};
    static const char* const names[5] = {"zerol", "zerob", "zerob", "zerow", "zerow"};
    emit_imm(zero[code - 2], static_cast<std::uint32_t>(arg(n, 1)));
    listing("\t%s\t%s\n", names[code - 2], symbol_text(n).c_str());
    jump(when_true ? 75 : 74, label);
    return;
  }
  if (code >= 8 && code <= 12) {
    static const int zero[5] = {54, 52, 52, 53, 53};
    static const char* const names[5] = {"zerol", "zerob", "zerob", "zerow", "zerow"};
    emit_imm(zero[code - 8], static_cast<std::uint32_t>(arg(n, 1)));
    listing("\t%s\t%d(r6)\n", names[code - 8], arg(n, 1));
    jump(when_true ? 75 : 74, label);
    return;
  }
  eval(n);
  emit_rr_imm(56, reg(), reg(), 0);
  listing("\tcmpl\tr%d, $0\n", reg());
  jump(when_true ? 75 : 74, label);
}

void Compiler::eval(int n) {
  int code = op(n);
  switch (code) {
    case 1:
    case 7:
      eval_address(n);
      return;
    case 2: case 3: case 4: case 5: case 6: {
      const Width& w = kWidths[code - 2];
      emit_rr_imm(w.load_sym, reg(), reg(), static_cast<std::uint32_t>(arg(n, 1)));
      listing("\t%s\tr%d, %s\n", w.load, reg(), symbol_text(n).c_str());
      return;
    }
    case 8: case 9: case 10: case 11: case 12: {
      const Width& w = kWidths[code - 8];
      emit_rr_imm(w.load_frame, reg(), 6, static_cast<std::uint32_t>(arg(n, 1)));
      listing("\t%s\tr%d, %d(r%d)\n", w.load, reg(), arg(n, 1), 6);
      return;
    }
    case 13:
      load_constant(arg(n, 1));
      return;
    case 14: {
      int sym = arg(n, 1);
      emit_rr(5, reg(), reg());
      emit32(reference(symbols_[sym].value, pc_));
      listing("\tmovl\tr%d, $%s\n", reg(), name_of(sym));
      return;
    }
    case 15:
      eval(arg(n, 1));
      return;
    case 16: case 17: case 18: case 19: case 20: {
      const Width& w = kWidths[code - 16];
      eval(arg(n, 1));
      emit_rr(w.load_mem, reg(), reg());
      listing("\t%s\tr%d, (r%d)\n", w.load, reg(), reg());
      return;
    }
    case 21:
      eval_address(arg(n, 1));
      return;
    case 22: case 97: case 23: case 24: case 90: case 91: {
      int opcode = code == 22 ? 68 : code == 97 ? 91 : code == 23 ? 57 : code == 24 ? 69 : code == 90 ? 84 : 85;
      const char* name = code == 22 ? "neg" : code == 97 ? "fneg" : code == 23 ? "set" : code == 24 ? "not" : code == 90 ? "ftoi" : "itof";
      eval(arg(n, 1));
      emit_rr(opcode, reg(), reg());
      listing("\t%s\t\tr%d\n", name, reg());
      return;
    }
    case 27:
    case 28:
      eval_address(arg(n, 1));
      emit_rr_imm(code == 28 ? 39 : 40, reg(), reg(), static_cast<std::uint32_t>(arg(n, 2)));
      listing("\t%s\tr%d, %d\n", code == 28 ? "preop" : "postop", reg(), arg(n, 2));
      return;
    case 29: case 30: case 31: case 32: case 33: case 34: case 35: case 36: {
      // post-inc, pre-inc, post-dec, pre-dec; bytes then 16-bit words
      static const int opcodes[8] = {42, 41, 44, 43, 46, 45, 48, 47};
      static const char* const names[4] = {"postinc", "preinc", "postdec", "predec"};
      eval_address(arg(n, 1));
      emit_rr(opcodes[code - 29], reg(), reg());
      listing("\t%s\t(r%d)\n", names[(code - 29) % 4], reg());
      return;
    }
    case 66: case 67: case 49: case 50: case 51: case 52: case 53: case 54: case 55: case 56: case 57:
    case 58: case 59: case 60: case 61: case 62: {
      int yes = new_label();
      condition(n, yes, true);
      load_constant(0);
      int done = new_label();
      jump(73, done);
      define_label(yes);
      load_constant(1);
      define_label(done);
      return;
    }
    case 68: {
      int second = new_label();
      condition(arg(n, 1), second, false);
      eval(arg(n, 2));
      int r = reg();
      int done = new_label();
      jump(73, done);
      define_label(second);
      eval(arg(n, 3));
      move_to(r);
      define_label(done);
      return;
    }
    case 69: case 70: case 71: case 72: case 73: {
      const Width& w = kWidths[code - 69];
      int place = arg(n, 1);
      eval(arg(n, 2));
      if (op(place) == 1) {
        emit_rr_imm(w.store_sym, reg(), reg(), static_cast<std::uint32_t>(arg(place, 1)));
        listing("\t%s\t%s, r%d\n", w.store, symbol_text(place).c_str(), reg());
      } else if (op(place) == 7) {
        emit_rr_imm(w.store_frame, 6, reg(), static_cast<std::uint32_t>(arg(place, 1)));
        listing("\t%s\t%d(r%d), r%d\n", w.store, arg(place, 1), 6, reg());
      } else {
        save();
        eval(arg(place, 1));
        restore();
        emit_rr(w.store_mem, reg(), sreg());
        listing("\t%s\t(r%d), r%d\n", w.store, reg(), sreg());
        std::swap(primary_, secondary_);
      }
      return;
    }
    case 74: case 75: case 76: case 77: case 78: {
      const Width& w = kWidths[code - 74];
      const Operator* o = find_operator(arg(n, 3));
      int place = arg(n, 1);
      eval(arg(n, 2));
      save();
      eval_address(place);
      restore();
      emit_rr(w.load_mem, reg(), reg());
      listing("\t%s\tr%d, (r%d)\n", w.load, reg(), reg());
      emit_rr(o->opcode, reg(), sreg());
      listing("\t%s\t\tr%d, r%d\n", o->mnemonic, reg(), sreg());
      save();
      eval_address(place);
      restore();
      emit_rr(w.store_mem, reg(), sreg());
      listing("\t%s\t(r%d), r%d\n", w.store, reg(), sreg());
      std::swap(primary_, secondary_);
      return;
    }
    case 79:
      eval(arg(n, 1));
      eval(arg(n, 2));
      return;
    case -12: {
      int count = 0;
      for (int a = arg(n, 2); a != 0; a = arg(a, 2)) {
        int value = arg(a, 1);
        if (op(value) == 13) {
          emit_imm(32, static_cast<std::uint32_t>(arg(value, 1)));
          listing("\tpush\t$%d\n", arg(value, 1));
        } else {
          eval(value);
          emit_rr(31, reg(), reg());
          listing("\tpush\tr%d\n", reg());
        }
        ++count;
      }
      int callee = arg(n, 1);
      if (arg(n, 3)) {
        move_to(0);
        int sym = arg(callee, 1);
        emit8(36);
        emit32(reference(symbols_[sym].value, pc_));
        listing("\tcall\t%s\n", name_of(sym));
      } else {
        eval(callee);
        move_to(0);
        emit_rr(37, reg(), reg());
        listing("\tcall\tr%d\n", reg());
      }
      if (count > 0) {
        emit_rr_imm(59, 7, 7, static_cast<std::uint32_t>(4 * count));
        listing("\tadd\t\tr%d, $%d\n", 7, 4 * count);
      }
      return;
    }
    case -31: {
      vm::Address a = place_string(n);
      emit_rr_imm(5, reg(), reg(), a);
      listing("\tmovl\tr%d, $_s%d\n", reg(), string_counter_ - 1);
      return;
    }
    default:
      break;
  }
  if (const Operator* o = find_operator(code)) {
    eval_binary(n, o->opcode, o->mnemonic);
    return;
  }
  fail(kInternalError);
}

// The source map is built in the emitting pass only, where addresses are final. A line is noted
// where a statement begins (the current token is its first), so each address maps to the
// statement it was compiled from; code emitted later for an earlier line (a `for` step, a `do`
// condition) notes that line again.
void Compiler::note_source_line() {
  if (!files_.empty()) note_line(files_.back().path, files_.back().line);
}

void Compiler::note_line(const std::string& path, int number) {
  if (!emitting_) return;
  vm::SourceMap& map = result_.source_map;
  auto file = std::find(map.files.begin(), map.files.end(), path);
  if (file == map.files.end()) file = map.files.insert(map.files.end(), path);
  const vm::SourceMap::Line line{options_.image_base + pc_, static_cast<std::uint16_t>(file - map.files.begin()),
                                 static_cast<std::uint32_t>(number)};
  if (!map.lines.empty() && map.lines.back().start == line.start) map.lines.pop_back();  // no code in between
  if (!map.lines.empty() && map.lines.back().file == line.file && map.lines.back().line == line.line) return;
  map.lines.push_back(line);
}

void Compiler::note_function(int sym) {
  if (!emitting_) return;
  result_.source_map.functions.push_back({options_.image_base + pc_, name_of(sym)});
  note_source_line();
}

}  // namespace talven::compiler
