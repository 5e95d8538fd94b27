// Declarations, types, expressions (trees and type rules) and statements.
#include <cmath>
#include <cstring>

#include "compiler/compiler_internal.h"

namespace talven::compiler {

bool record_export(std::string_view name, std::int32_t type, vm::Address address);

struct Compiler::Declarator {
  struct Param {
    std::string name;
    int type;
  };
  struct Mod {
    int kind;  // n_pointer, n_array, n_function
    int count;
    int params;  // index into param_lists for functions
  };
  bool has_name = false;
  std::string name;
  int gsym = -1;
  std::vector<Mod> mods;
  std::vector<std::vector<Param>> param_lists;
};

// ---- nodes and types ---------------------------------------------------------------------------

int Compiler::node(int n) {
  if (permanent_) {
    if (perm_top_ + n > temp_top_) fail(kWorkAreaFull);
    int at = perm_top_;
    perm_top_ += n;
    return at;
  }
  if (temp_top_ - n < perm_top_) fail(kWorkAreaFull);
  temp_top_ -= n;
  return temp_top_;
}

int Compiler::type_node2(int kind, int a) {
  int n = node(2);
  heap_[n] = kind;
  heap_[n + 1] = a;
  return n;
}

int Compiler::type_node3(int kind, int a, int b) {
  int n = node(3);
  heap_[n] = kind;
  heap_[n + 1] = a;
  heap_[n + 2] = b;
  return n;
}

int Compiler::mk(int code, int a, int b, int c) {
  if (temp_top_ - 4 < perm_top_) fail(kWorkAreaFull);
  temp_top_ -= 4;
  int n = temp_top_;
  heap_[n] = code;
  heap_[n + 1] = a;
  heap_[n + 2] = b;
  heap_[n + 3] = c;
  return n;
}

int Compiler::size_of(int t) {
  switch (t) {
    case t_int: case t_uint: case t_float: return 4;
    case t_short: case t_ushort: return 2;
    case t_char: case t_uchar: return 1;
    default: break;
  }
  if (t <= 0 || t > kNodeWords) fail(kBadDeclaration);
  switch (heap_[t]) {
    case n_pointer: return 4;
    case n_array: {
      std::int64_t total = std::int64_t(heap_[t + 1]) * size_of(heap_[t + 2]);
      if (total < 0 || total > 0x7FFFFFFF) fail(kBadDeclaration);
      return static_cast<int>(total);
    }
    case n_struct: case n_union:
      if (heap_[t + 1] < 0) fail(kBadDeclaration);
      return heap_[t + 1];
    default: fail(kBadDeclaration);
  }
}

bool Compiler::same_type(int a, int b) const {
  if (a == b) return true;
  if (a <= 0 || b <= 0) return false;
  if (heap_[a] != heap_[b]) return false;
  switch (heap_[a]) {
    case n_pointer: case n_function: return same_type(heap_[a + 1], heap_[b + 1]);
    case n_array: return heap_[a + 1] == heap_[b + 1] && same_type(heap_[a + 2], heap_[b + 2]);
    default: return false;
  }
}

int Compiler::usual(int a, int b) const {
  if (a == t_float || b == t_float) return t_float;
  auto sz = [](int t) { return (t == t_char || t == t_uchar) ? 1 : (t == t_short || t == t_ushort) ? 2 : 4; };
  int sa = sz(a), sb = sz(b);
  if (sa != sb) return sa > sb ? a : b;
  if (is_unsigned(a)) return a;
  if (is_unsigned(b)) return b;
  return a;
}

// ---- declarations ------------------------------------------------------------------------------

bool Compiler::starts_declaration() const {
  switch (tok_) {
    case kw_int: case kw_char: case kw_short: case kw_long: case kw_float: case kw_signed:
    case kw_unsigned: case kw_struct: case kw_union: case kw_static: case kw_extern: case kw_typedef:
      return true;
    case tk_ident: return symbols_[tok_sym_].kind == k_typedef;
    default: return false;
  }
}

int Compiler::type_specifier(bool& found) {
  found = true;
  switch (tok_) {
    case kw_signed:
      next_token();
      if (tok_ == kw_char) { next_token(); return t_char; }
      if (tok_ == kw_short) { next_token(); if (tok_ == kw_int) next_token(); return t_short; }
      if (tok_ == kw_long) { next_token(); if (tok_ == kw_int) next_token(); return t_int; }
      if (tok_ == kw_int) next_token();
      return t_int;
    case kw_unsigned:
      next_token();
      if (tok_ == kw_char) { next_token(); return t_uchar; }
      if (tok_ == kw_short) { next_token(); if (tok_ == kw_int) next_token(); return t_ushort; }
      if (tok_ == kw_long) { next_token(); if (tok_ == kw_int) next_token(); return t_uint; }
      if (tok_ == kw_int) next_token();
      return t_uint;
    case kw_int: next_token(); return t_int;
    case kw_char: next_token(); return t_char;
    case kw_short: next_token(); if (tok_ == kw_int) next_token(); return t_short;
    case kw_long: next_token(); if (tok_ == kw_int) next_token(); return t_int;
    case kw_float: next_token(); return t_float;
    case kw_struct: case kw_union: return struct_specifier();
    case tk_ident:
      if (symbols_[tok_sym_].kind == k_typedef) {
        int t = symbols_[tok_sym_].type;
        next_token();
        return t;
      }
      break;
    default: break;
  }
  found = false;
  return t_int;
}

int Compiler::struct_specifier() {
  NestingGuard guard(*this);
  int kind = tok_ == kw_struct ? n_struct : n_union;
  next_token();
  int number = ++struct_counter_;
  int tag = -1;
  if (tok_ == tk_ident) {
    tag = tok_sym_;
    std::string name = ident_;
    next_token();
    if (tok_ != tk_lbrace) {
      const Symbol& s = symbols_[tag];
      if (s.kind == k_tag) {
        if (heap_[s.type] != kind) fail(kWrongType);
        return s.type;
      }
      if (s.kind == k_new || s.kind == k_empty) fail(kUndefinedName);
      fail(kWrongType);
    }
    if (in_function_) tag = local_lookup(name.data(), name.size(), true);
    if (symbols_[tag].kind != k_new) fail(kWrongType);
  }
  if (tok_ != tk_lbrace) fail(kBadDeclaration);
  bool was_permanent = permanent_;
  permanent_ = !in_function_;
  int t = type_node3(kind, -1, number);
  if (tag >= 0) {
    symbols_[tag].kind = k_tag;
    symbols_[tag].type = t;
  }
  next_token();
  int size = 0;
  while (tok_ != tk_rbrace) {
    bool found;
    int base = type_specifier(found);
    if (!found) fail(kBadDeclaration);
    if (tok_ != tk_semi) {
      for (;;) {
        Declarator d;
        declarator(d, false);
        if (!d.has_name) fail(kBadDeclaration);
        int mt = apply(d, base);
        int msize = size_of(mt);
        std::string mname = d.name + "_" + std::to_string(number);
        int m = global_lookup(mname.data(), mname.size(), true);
        if (symbols_[m].kind != k_new) fail(kWrongType);
        symbols_[m].kind = k_member;
        symbols_[m].type = mt;
        if (kind == n_struct) {
          symbols_[m].value = size;
          if (std::int64_t(size) + msize > 0x7FFFFFFF) fail(kBadDeclaration);
          size += msize;
        } else {
          symbols_[m].value = 0;
          if (msize > size) size = msize;
        }
        if (tok_ != tk_comma) break;
        next_token();
      }
    }
    if (tok_ != tk_semi) fail(kBadDeclaration);
    next_token();
  }
  heap_[t + 1] = size;
  permanent_ = was_permanent;
  next_token();
  return t;
}

void Compiler::declarator(Declarator& d, bool abstract) {
  NestingGuard guard(*this);
  int pointers = 0;
  while (tok_ == tk_mul) {
    ++pointers;
    next_token();
  }
  Declarator inner;
  bool has_inner = false;
  std::vector<Declarator::Mod> suffixes;
  auto parse_params = [&]() {
    // '(' already consumed
    std::vector<Declarator::Param> params;
    bool was_permanent = permanent_;
    if (!in_function_ && !abstract) temp_top_ = kNodeWords;
    permanent_ = false;
    if (tok_ != tk_rparen) {
      for (;;) {
        bool is_void = tok_ == kw_int && ident_ == "void";
        bool found;
        int base = type_specifier(found);
        Declarator::Param p;
        if (!found) {
          if (tok_ != tk_ident) fail(kBadDeclaration);
          p.name = ident_;
          p.type = t_int;
          next_token();
        } else {
          Declarator pd;
          declarator(pd, true);
          if (is_void && !pd.has_name && pd.mods.empty() && tok_ == tk_rparen && params.empty()) break;
          bool was_param = param_context_;
          param_context_ = true;
          int t = apply(pd, base);
          param_context_ = was_param;
          if (t > 0 && heap_[t] == n_array) t = type_node2(n_pointer, heap_[t + 2]);
          else if (t > 0 && heap_[t] == n_function) t = type_node2(n_pointer, t);
          p.name = pd.has_name ? pd.name : std::string();
          p.type = t;
        }
        params.push_back(p);
        if (tok_ != tk_comma) break;
        next_token();
      }
    }
    permanent_ = was_permanent;
    expect(tk_rparen);
    d.param_lists.push_back(std::move(params));
    suffixes.push_back({n_function, 0, static_cast<int>(d.param_lists.size() - 1)});
  };
  if (tok_ == tk_lparen) {
    next_token();
    if (!abstract || tok_ == tk_mul || tok_ == tk_lparen) {
      declarator(inner, abstract);
      expect(tk_rparen);
      has_inner = true;
    } else {
      parse_params();
    }
  } else if (tok_ == tk_ident) {
    d.has_name = true;
    d.name = ident_;
    d.gsym = tok_gsym_;
    next_token();
  }
  for (;;) {
    if (tok_ == tk_lbracket) {
      next_token();
      if (tok_ == tk_rbracket) {
        next_token();
        suffixes.push_back({n_array, -1, 0});
      } else {
        std::int32_t n = constant_expression();
        if (n < 0) fail(kBadDeclaration);
        expect(tk_rbracket);
        suffixes.push_back({n_array, n, 0});
      }
    } else if (tok_ == tk_lparen) {
      next_token();
      parse_params();
    } else {
      break;
    }
  }
  for (int i = 0; i < pointers; ++i) d.mods.push_back({n_pointer, 0, 0});
  for (auto it = suffixes.rbegin(); it != suffixes.rend(); ++it) d.mods.push_back(*it);
  if (has_inner) {
    int offset = static_cast<int>(d.param_lists.size());
    for (auto& list : inner.param_lists) d.param_lists.push_back(std::move(list));
    for (Declarator::Mod m : inner.mods) {
      if (m.kind == n_function) m.params += offset;
      d.mods.push_back(m);
    }
    if (inner.has_name) {
      d.has_name = true;
      d.name = inner.name;
      d.gsym = inner.gsym;
    }
  }
}

int Compiler::apply(const Declarator& d, int base) {
  int t = base;
  for (std::size_t i = 0; i < d.mods.size(); ++i) {
    const Declarator::Mod& m = d.mods[i];
    if (m.kind == n_pointer) {
      t = type_node2(n_pointer, t);
    } else if (m.kind == n_array) {
      if (m.count < 0) {
        // `[]` stands for a pointer, and only in a parameter list
        if (i + 1 == d.mods.size() && param_context_) {
          t = type_node2(n_pointer, t);
          continue;
        }
        fail(kBadDeclaration);
      }
      t = type_node3(n_array, m.count, t);
    } else {
      t = type_node2(n_function, t);
    }
  }
  return t;
}

int Compiler::abstract_type(int base) {
  Declarator d;
  declarator(d, true);
  return apply(d, base);
}

std::uint32_t Compiler::allocate_data(std::uint32_t size) {
  std::uint64_t total = std::uint64_t(data_size_) + size;
  if (total > 0xFFFFFFFFu) fail(kProgramAreaFull);
  data_size_ = static_cast<std::uint32_t>(total);
  if (emitting_ && std::uint64_t(pc_) + data_size_ > options_.capacity) fail(kProgramAreaFull);
  return options_.capacity - data_size_;
}

void Compiler::top_level() {
  int storage = 0;
  if (tok_ == kw_static || tok_ == kw_extern || tok_ == kw_typedef) {
    storage = tok_;
    next_token();
  }
  bool found;
  int base = type_specifier(found);
  if (tok_ == tk_semi) {
    at_top_ = true;
    next_token();
    return;
  }
  for (;;) {
    Declarator d;
    param_context_ = false;
    declarator(d, false);
    if (!d.has_name) fail(kBadDeclaration);
    int sym = d.gsym;
    bool is_func = !d.mods.empty() && d.mods.back().kind == n_function;
    if (storage == kw_typedef) {
      int t = apply(d, base);
      if (symbols_[sym].kind != k_new) fail(kWrongType);
      symbols_[sym].kind = k_typedef;
      symbols_[sym].type = t;
    } else if (is_func) {
      Declarator ret = d;
      ret.mods.pop_back();
      int rt = apply(ret, base);
      Symbol& s = symbols_[sym];
      if (s.kind == k_function) {
        if (!same_type(s.type, rt)) fail(kWrongType);
      } else if (s.kind == k_new) {
        s.kind = k_function;
        s.type = rt;
        s.value = new_label();
      } else {
        fail(kBadDeclaration);
      }
      if (storage == kw_static) flags_[sym] |= f_static;
      const auto& params = d.param_lists[static_cast<std::size_t>(d.mods.back().params)];
      if (pending_trap_ >= 0) {
        int number = pending_trap_;
        pending_trap_ = -1;
        define_label(symbols_[sym].value);
        note_function(sym);
        listing("%s:\n", name_of(sym));
        emit8(1);
        emit16(static_cast<std::uint32_t>(number));
        listing("\ttrap\t%d\n", number);
        move_to(0);
        emit8(38);
        listing("\tret\n\n");
      } else if (!params.empty() || tok_ == tk_lbrace) {
        function_definition(sym, d, rt, storage == kw_static, storage == kw_extern);
        return;
      }
    } else {
      int t = apply(d, base);
      Symbol& s = symbols_[sym];
      if (s.kind != k_new) fail(kWrongType);
      int size = size_of(t);
      vm::Address address;
      if (storage == kw_extern) {
        if (options_.heap_size != 0 && std::uint64_t(extern_size_) + size > options_.heap_size) fail(kProgramAreaFull);
        address = options_.heap_base + extern_size_;
        extern_size_ += static_cast<std::uint32_t>(size);
        flags_[sym] |= f_extern;
      } else {
        address = options_.image_base + allocate_data(static_cast<std::uint32_t>(size));
      }
      if (storage == kw_static) flags_[sym] |= f_static;
      s.kind = k_global;
      s.type = t;
      s.value = static_cast<std::int32_t>(address);
      if (tok_ == tk_assign) {
        next_token();
        listing(".global\t%s\n%s:\n", name_of(sym), name_of(sym));
        global_initializer(t, address, storage == kw_extern, name_of(sym));
      }
    }
    if (tok_ == tk_comma) {
      next_token();
      continue;
    }
    if (tok_ == tk_semi) {
      at_top_ = true;
      next_token();
      return;
    }
    fail(kBadDeclaration);
  }
}

void Compiler::function_definition(int sym, const Declarator& d, int type, bool is_static, bool is_extern) {
  const auto& params = d.param_lists[static_cast<std::size_t>(d.mods.back().params)];
  in_function_ = true;
  permanent_ = false;
  frame_size_ = 0;
  for (std::size_t i = 0; i < params.size(); ++i) {
    if (params[i].name.empty()) continue;
    int l = local_lookup(params[i].name.data(), params[i].name.size(), true);
    if (symbols_[l].kind != k_new) fail(kBadDeclaration);
    symbols_[l].kind = k_local;
    symbols_[l].type = params[i].type;
    symbols_[l].value = static_cast<std::int32_t>(8 + 4 * i);
  }
  // Old-style parameter declarations.
  while (tok_ != tk_lbrace) {
    bool found;
    int base = type_specifier(found);
    if (!found) fail(kBadDeclaration);
    for (;;) {
      Declarator pd;
      param_context_ = true;
      declarator(pd, false);
      param_context_ = false;
      if (!pd.has_name) fail(kBadDeclaration);
      int l = local_lookup(pd.name.data(), pd.name.size(), false);
      if (l < 0 || symbols_[l].kind != k_local) fail(kBadDeclaration);
      int t = apply(pd, base);
      if (t > 0 && heap_[t] == n_array) t = type_node2(n_pointer, heap_[t + 2]);
      symbols_[l].type = t;
      if (tok_ != tk_comma) break;
      next_token();
    }
    if (tok_ != tk_semi) fail(kBadDeclaration);
    next_token();
  }
  int label = symbols_[sym].value;
  define_label(label);
  note_function(sym);
  if (!is_static) listing(".global %s, @function\n", name_of(sym));
  listing("%s:\n", name_of(sym));
  if (is_extern && emitting_) {
    if (!record_export(name_of(sym), type, options_.image_base + pc_)) fail(kBadDeclaration);
  }
  exit_label_ = new_label();
  function_type_ = type;
  std::uint32_t enter_operand = pc_ + 1;
  emit_imm(34, 0);
  listing("\tenter\n");
  reachable_ = true;
  pending_return_ = false;
  next_token();  // past '{'
  while (tok_ != tk_rbrace) statement();
  pending_return_ = false;
  move_to(0);
  define_label(exit_label_);
  if (emitting_) patch32(enter_operand, static_cast<std::uint32_t>(frame_size_));
  emit_imm(35, static_cast<std::uint32_t>(frame_size_));
  listing("\tleave\n");
  emit8(38);
  listing("\tret\n\n");
  for (int i = kGlobalSymbols; i < kSymbols; ++i) {
    if (symbols_[i].kind == k_global) {
      int size = 0;
      if (symbols_[i].type < 0 || heap_[symbols_[i].type] != n_function) size = size_of(symbols_[i].type);
      listing(".lcomm %s, %d\n\n", name_of(i), size);
    }
  }
  in_function_ = false;
  permanent_ = true;
  break_labels_.clear();
  continue_labels_.clear();
  switches_.clear();
  at_top_ = true;
  next_token();  // past '}'
}

void Compiler::local_declaration() {
  int storage = 0;
  if (tok_ == kw_static || tok_ == kw_extern || tok_ == kw_typedef) {
    storage = tok_;
    next_token();
  }
  bool found;
  int base = type_specifier(found);
  ++declaration_serial_;
  if (tok_ == tk_semi) {
    next_token();
    return;
  }
  for (;;) {
    Declarator d;
    declarator(d, false);
    if (!d.has_name) fail(kBadDeclaration);
    bool is_func = !d.mods.empty() && d.mods.back().kind == n_function;
    if (is_func) {
      if (!d.param_lists[static_cast<std::size_t>(d.mods.back().params)].empty()) fail(kBadDeclaration);
      // A function declared inside a body is still the program's one function of that name.
      Declarator ret = d;
      ret.mods.pop_back();
      int rt = apply(ret, base);
      Symbol& s = symbols_[d.gsym];
      if (s.kind == k_function) {
        if (!same_type(s.type, rt)) fail(kWrongType);
      } else if (s.kind == k_new) {
        s.kind = k_function;
        s.type = rt;
        s.value = new_label();
      } else {
        fail(kBadDeclaration);
      }
    } else {
      int t = apply(d, base);
      int l = local_lookup(d.name.data(), d.name.size(), true);
      Symbol& s = symbols_[l];
      if (s.kind != k_new) fail(kWrongType);
      if (storage == kw_typedef) {
        s.kind = k_typedef;
        s.type = t;
      } else if (storage == kw_static || storage == kw_extern) {
        int size = size_of(t);
        vm::Address address;
        if (storage == kw_extern) {
          if (options_.heap_size != 0 && std::uint64_t(extern_size_) + size > options_.heap_size) fail(kProgramAreaFull);
          address = options_.heap_base + extern_size_;
          extern_size_ += static_cast<std::uint32_t>(size);
        } else {
          address = options_.image_base + allocate_data(static_cast<std::uint32_t>(size));
          std::string stored = d.name + ".";
          symbols_[l].name = pool_add(stored.data(), stored.size(), true);
        }
        symbols_[l].kind = k_global;
        symbols_[l].type = t;
        symbols_[l].value = static_cast<std::int32_t>(address);
        if (tok_ == tk_assign) {
          next_token();
          listing(".global\t%s\n%s:\n", name_of(l), name_of(l));
          global_initializer(t, address, storage == kw_extern, name_of(l));
        }
      } else {
        int size = size_of(t);
        if (std::int64_t(frame_size_) + size > kMaxFrame) fail(kBadDeclaration);
        frame_size_ += size;
        s.kind = k_local;
        s.type = t;
        s.value = -20 - frame_size_;
        if (tok_ == tk_assign) {
          next_token();
          local_initializer(t, s.value, d.name, true);
        }
      }
    }
    if (tok_ == tk_comma) {
      next_token();
      continue;
    }
    if (tok_ == tk_semi) {
      next_token();
      return;
    }
    fail(kBadDeclaration);
  }
}

// Collects adjacent string literals into one; returns {text offset, length with the zero}.
std::pair<std::uint32_t, std::uint32_t> Compiler::string_token() {
  std::uint32_t start = tok_str_, length = tok_len_;
  next_token();
  while (tok_ == tk_string) {
    if (tok_str_ == start + length) {
      std::memmove(&text_[start + length - 1], &text_[tok_str_], tok_len_);
      text_top_ -= 1;
    } else {
      std::uint32_t at = pool_add(reinterpret_cast<const char*>(&text_[tok_str_]), tok_len_, false);
      (void)at;
      std::memmove(&text_[start + length - 1], &text_[at], tok_len_);
    }
    length += tok_len_ - 1;
    next_token();
  }
  return {start, length};
}

void Compiler::local_initializer(int type, int offset, const std::string& name, bool outer) {
  NestingGuard guard(*this);
  if (is_array(type)) {
    int count = heap_[type + 1];
    int element = heap_[type + 2];
    bool brace = tok_ == tk_lbrace;
    if (brace) next_token();
    if ((element == t_char || element == t_uchar) && tok_ == tk_string) {
      // A character array takes a copy of the string (as much of it as fits).
      auto [start, length] = string_token();
      std::uint32_t n = std::min<std::uint32_t>(length, static_cast<std::uint32_t>(count));
      int mark = temp_top_;
      flush_return();
      reset_registers();
      std::uint32_t i = 0;
      for (; i + 4 <= n; i += 4) {
        std::int32_t word;
        std::memcpy(&word, &text_[start + i], 4);
        load_constant(word);
        emit_rr_imm(27, 6, reg(), static_cast<std::uint32_t>(offset + static_cast<int>(i)));
        listing("\tmovl\t%d(r6), r%d\n", offset + static_cast<int>(i), reg());
      }
      for (; i < n; ++i) {
        load_constant(text_[start + i]);
        emit_rr_imm(25, 6, reg(), static_cast<std::uint32_t>(offset + static_cast<int>(i)));
        listing("\tmovb\t%d(r6), r%d\n", offset + static_cast<int>(i), reg());
      }
      temp_top_ = mark;
      if (brace) {
        if (tok_ != tk_rbrace) fail(kWrongType);
        next_token();
      }
      return;
    }
    int esize = size_of(element);
    int i = 0;
    for (;;) {
      if (!brace && i >= count) break;
      if (tok_ == tk_comma) {
        ++i;
        next_token();
        continue;
      }
      if (tok_ == tk_rbrace || tok_ == tk_semi) break;
      if (i >= count) fail(kWrongType);
      local_initializer(element, offset + i * esize, name, false);
      ++i;
      if (tok_ == tk_comma) {
        next_token();
        continue;
      }
      if (tok_ == tk_rbrace || tok_ == tk_semi) break;
      fail(kWrongType);
    }
    if (brace) {
      if (tok_ != tk_rbrace) fail(kWrongType);
      next_token();
    }
    return;
  }
  if (is_struct(type)) fail(kWrongType);
  (void)outer;
  (void)name;
  int mark = temp_top_;
  flush_return();
  reset_registers();
  Expr place{mk(7, offset), type};
  Expr value = rvalue(assignment());
  Expr e = assign_to(place, value);
  eval(e.node);
  temp_top_ = mark;
}

void Compiler::write_data(vm::Address address, const void* bytes, std::uint32_t n, bool in_heap) {
  if (!emitting_) return;
  if (in_heap && options_.heap_base == 0) return;
  std::uint8_t* p = vm::checked_pointer(address, n);
  if (p) std::memcpy(p, bytes, n);
}

void Compiler::global_initializer(int type, vm::Address address, bool in_heap, const std::string& name) {
  NestingGuard guard(*this);
  if (is_array(type)) {
    int count = heap_[type + 1];
    int element = heap_[type + 2];
    int esize = size_of(element);
    bool brace = tok_ == tk_lbrace;
    if (brace) next_token();
    int i = 0;
    for (;;) {
      if (!brace && i >= count) break;
      if (tok_ == tk_comma) {
        listing("\t.byte ? dup(%d)\n", esize);
        ++i;
        next_token();
        continue;
      }
      if (tok_ == tk_rbrace || tok_ == tk_semi) break;
      if (i >= count) fail(kWrongType);
      global_initializer(element, address + static_cast<vm::Address>(i * esize), in_heap, name);
      ++i;
      if (tok_ == tk_comma) {
        next_token();
        continue;
      }
      if (tok_ == tk_rbrace || tok_ == tk_semi) break;
      fail(kWrongType);
    }
    if (i < count) listing("\t.byte ? dup(%d)\n", (count - i) * esize);
    if (brace) {
      if (tok_ != tk_rbrace) fail(kWrongType);
      next_token();
    }
    return;
  }
  if (is_struct(type)) fail(kWrongType);
  int mark = temp_top_;
  Expr e = rvalue(assignment());
  int n = e.node;
  if (op(n) == 13) {
    std::int32_t v = arg(n, 1);
    bool is_float = arg(n, 2) != 0;
    if (type == t_float) {
      if (!is_float) {
        float f = static_cast<float>(v);
        std::memcpy(&v, &f, 4);
      }
      float f;
      std::memcpy(&f, &v, 4);
      write_data(address, &v, 4, in_heap);
      listing("\t.float %f\n", static_cast<double>(f));
    } else {
      if (is_float) {
        float f;
        std::memcpy(&f, &v, 4);
        v = float_to_int(f);
      }
      int size = (type == t_char || type == t_uchar) ? 1 : (type == t_short || type == t_ushort) ? 2 : 4;
      if (!is_arith(type) && !is_pointer(type)) fail(kWrongType);
      write_data(address, &v, static_cast<std::uint32_t>(size), in_heap);
      if (size == 1) listing("\t.byte %d\n", static_cast<std::int8_t>(v));
      else if (size == 2) listing("\t.short %d\n", static_cast<std::int16_t>(v));
      else listing("\t.long %d\n", v);
    }
  } else if (!is_pointer(type) && type != t_int && type != t_uint) {
    fail(kWrongType);
  } else if (op(n) == -31) {
    vm::Address s = place_string(n);
    write_data(address, &s, 4, in_heap);
  } else if (op(n) == 21 && op(arg(n, 1)) == 1) {
    vm::Address a = static_cast<vm::Address>(arg(arg(n, 1), 1));
    write_data(address, &a, 4, in_heap);
    listing("\t.long $%s\n", symbol_text(arg(n, 1)).c_str());
  } else if (op(n) == 14) {
    int sym = arg(n, 1);
    int label = symbols_[sym].value;
    if (label_state_[static_cast<std::size_t>(label)] == 0xDF) {
      vm::Address a = label_value_[static_cast<std::size_t>(label)];
      write_data(address, &a, 4, in_heap);
    } else {
      if (in_heap) fail(kWrongType);
      std::uint32_t link = reference(label, address - options_.image_base);
      write_data(address, &link, 4, false);
    }
    listing("\t.long $%s\n", name_of(sym));
  } else {
    fail(kWrongType);
  }
  temp_top_ = mark;
}

// ---- expressions -------------------------------------------------------------------------------

std::int32_t Compiler::float_to_int(float f) {
  if (!(f > -2147483904.0f && f < 2147483648.0f)) return INT32_MIN;
  return static_cast<std::int32_t>(f);
}

static float as_float(std::int32_t bits) {
  float f;
  std::memcpy(&f, &bits, 4);
  return f;
}
static std::int32_t float_bits(float f) {
  std::int32_t v;
  std::memcpy(&v, &f, 4);
  return v;
}

Expr Compiler::constant(std::int32_t v, bool is_float) { return {mk(13, v, is_float ? 1 : 0), is_float ? t_float : t_int}; }

Expr Compiler::to_float(Expr e) {
  if (e.type == t_float) return e;
  if (is_const(e.node)) return constant(float_bits(static_cast<float>(arg(e.node, 1))), true);
  return {mk(91, e.node), t_float};
}

Expr Compiler::to_int(Expr e) {
  if (e.type != t_float) return e;
  if (is_const(e.node)) return constant(float_to_int(as_float(arg(e.node, 1))), false);
  return {mk(90, e.node), t_int};
}

Expr Compiler::rvalue(Expr e) {
  int n = e.node;
  int t = e.type;
  if (op(n) == -31) return {n, type_node2(n_pointer, t_char)};
  if (!is_place(n)) {
    if (is_array(t)) return {n, type_node2(n_pointer, heap_[t + 2])};
    return e;
  }
  if (is_array(t)) {
    int pt = type_node2(n_pointer, heap_[t + 2]);
    if (op(n) == 15) return {arg(n, 1), pt};
    return {mk(21, n), pt};
  }
  if (is_struct(t) || is_function(t)) fail(kWrongType);
  int width = 0, result = t;
  switch (t) {
    case t_char: width = 1; result = t_int; break;
    case t_uchar: width = 2; result = t_uint; break;
    case t_short: width = 3; result = t_int; break;
    case t_ushort: width = 4; result = t_uint; break;
    default: break;
  }
  switch (op(n)) {
    case 1: return {mk(2 + width, arg(n, 1), arg(n, 2)), result};
    case 7: return {mk(8 + width, arg(n, 1)), result};
    default: return {mk(16 + width, arg(n, 1)), result};
  }
}

Expr Compiler::indirect(Expr p, int) {
  if (is_pointer(p.type)) {
    int t = heap_[p.type + 1];
    if (op(p.node) == 21) return {arg(p.node, 1), t};
    return {mk(15, p.node), t};
  }
  if (p.type == t_int || p.type == t_uint || p.type == t_short || p.type == t_ushort) return {mk(15, p.node), t_char};
  fail(kWrongType);
}

static int arith_node(int tok) {
  switch (tok) {
    case tk_mul: return 37;
    case tk_div: return 39;
    case tk_mod: return 41;
    case tk_add: return 43;
    case tk_sub: return 44;
    case tk_shr: return 45;
    case tk_shl: return 47;
    case tk_and: return 63;
    case tk_or: return 64;
    default: return 65;
  }
}

static int float_node(int tok) {
  switch (tok) {
    case tk_mul: return 92;
    case tk_div: return 93;
    case tk_mod: return 94;
    case tk_add: return 95;
    case tk_sub: return 96;
    default: return 0;
  }
}

// Adds a constant byte offset to the address of a variable at compile time.
static bool foldable_address(const Compiler& c, int n) {
  return c.op(n) == 21 && (c.op(c.arg(n, 1)) == 1 || c.op(c.arg(n, 1)) == 7);
}

Expr Compiler::arith(int tok, Expr l, Expr r) {
  // 1. constants fold
  if (is_const(l.node) && is_const(r.node)) {
    bool lf = l.type == t_float, rf = r.type == t_float;
    if (lf || rf) {
      if (!float_node(tok)) fail(kWrongType);
      float a = lf ? as_float(arg(l.node, 1)) : static_cast<float>(arg(l.node, 1));
      float b = rf ? as_float(arg(r.node, 1)) : static_cast<float>(arg(r.node, 1));
      float v = 0;
      switch (tok) {
        case tk_mul: v = a * b; break;
        case tk_div: v = a / b; break;
        case tk_mod: v = std::fmod(a, b); break;
        case tk_add: v = a + b; break;
        default: v = a - b; break;
      }
      return constant(float_bits(v), true);
    }
    std::uint32_t a = static_cast<std::uint32_t>(arg(l.node, 1)), b = static_cast<std::uint32_t>(arg(r.node, 1));
    int type = usual(l.type, r.type);
    bool uns = is_unsigned(type);
    std::uint32_t v = 0;
    switch (tok) {
      case tk_mul: v = a * b; break;
      case tk_div:
      case tk_mod: {
        if (b == 0) fail(kDivisionByZero);
        if (uns) {
          v = tok == tk_div ? a / b : a % b;
        } else {
          std::int32_t x = static_cast<std::int32_t>(a), y = static_cast<std::int32_t>(b);
          if (x == INT32_MIN && y == -1) v = tok == tk_div ? a : 0;
          else v = static_cast<std::uint32_t>(tok == tk_div ? x / y : x % y);
        }
        break;
      }
      case tk_add: v = a + b; break;
      case tk_sub: v = a - b; break;
      case tk_shr: v = uns ? a >> (b & 31) : static_cast<std::uint32_t>(static_cast<std::int32_t>(a) >> (b & 31)); break;
      case tk_shl: v = a << (b & 31); break;
      case tk_and: v = a & b; break;
      case tk_or: v = a | b; break;
      default: v = a ^ b; break;
    }
    Expr c = constant(static_cast<std::int32_t>(v), false);
    c.type = type;
    return c;
  }
  // 2. floats
  if (l.type == t_float || r.type == t_float) {
    if (!is_arith(l.type) || !is_arith(r.type)) fail(kWrongType);
    int code = float_node(tok);
    if (!code) fail(kWrongType);
    l = to_float(l);
    r = to_float(r);
    return {mk(code, l.node, r.node), t_float};
  }
  // 3. operand order for commutative operators
  if (tok == tk_add || tok == tk_mul || tok == tk_or || tok == tk_xor || tok == tk_and) {
    if (is_const(l.node) || (!is_const(r.node) && (op(l.node) == 2 || op(l.node) == 8))) std::swap(l, r);
  }
  // 4. and 5. pointer arithmetic
  if (tok == tk_add || tok == tk_sub) {
    bool lp = is_pointer(l.type), rp = is_pointer(r.type);
    if (!lp && !rp) {
      if (!is_integer(l.type) || !is_integer(r.type)) fail(kWrongType);
      return {mk(arith_node(tok), l.node, r.node), usual(l.type, r.type)};
    }
    if (lp && rp) {
      if (tok == tk_add) fail(kWrongType);
      if (!same_type(heap_[l.type + 1], heap_[r.type + 1])) fail(kWrongType);
      int esize = size_of(heap_[l.type + 1]);
      Expr d{mk(44, l.node, r.node), t_int};
      return arith(tk_div, d, constant(esize, false));
    }
    if (tok == tk_sub && rp) fail(kWrongType);
    Expr p = lp ? l : r;
    Expr i = lp ? r : l;
    if (!is_integer(i.type)) fail(kWrongType);
    int esize = size_of(heap_[p.type + 1]);
    Expr scaled = arith(tk_mul, i, constant(esize, false));
    if (is_const(scaled.node) && foldable_address(*this, p.node)) {
      std::int32_t k = arg(scaled.node, 1);
      if (tok == tk_sub) k = static_cast<std::int32_t>(0u - static_cast<std::uint32_t>(k));
      int place = arg(p.node, 1);
      int moved = op(place) == 1 ? mk(1, static_cast<std::int32_t>(static_cast<std::uint32_t>(arg(place, 1)) + static_cast<std::uint32_t>(k)), arg(place, 2))
                                 : mk(7, static_cast<std::int32_t>(static_cast<std::uint32_t>(arg(place, 1)) + static_cast<std::uint32_t>(k)));
      return {mk(21, moved), p.type};
    }
    int n = lp ? mk(arith_node(tok), p.node, scaled.node) : mk(arith_node(tok), scaled.node, p.node);
    return {n, p.type};
  }
  // 6. the other integer operators
  if (!is_integer(l.type) || !is_integer(r.type)) fail(kWrongType);
  if ((tok == tk_mul || tok == tk_div) && is_const(r.node) && arg(r.node, 1) == 1) return l;
  int type = usual(l.type, r.type);
  int code = arith_node(tok);
  if (is_unsigned(type) && (code == 37 || code == 39 || code == 41 || code == 45 || code == 47)) ++code;
  return {mk(code, l.node, r.node), type};
}

Expr Compiler::assign_to(Expr place, Expr value) {
  if (!is_place(place.node)) fail(kVariableMissing);
  int t = place.type;
  if (!is_arith(t) && !is_pointer(t)) fail(kVariableMissing);
  if (t == t_float && is_arith(value.type)) value = to_float(value);
  else if (is_integer(t) && value.type == t_float) value = to_int(value);
  switch (t) {
    case t_char: return {mk(70, place.node, value.node), t_int};
    case t_uchar: return {mk(71, place.node, value.node), t_uint};
    case t_short: return {mk(72, place.node, value.node), t_int};
    case t_ushort: return {mk(73, place.node, value.node), t_uint};
    default: return {mk(69, place.node, value.node), t};
  }
}

Expr Compiler::compound(Expr place, Expr value, int tok) {
  if (!is_place(place.node)) fail(kVariableMissing);
  int t = place.type;
  if (!is_arith(t) && !is_pointer(t)) fail(kVariableMissing);
  if (!is_arith(value.type)) fail(kWrongType);
  int oper = tok - 100;
  int code;
  if (t == t_float) {
    value = to_float(value);
    code = float_node(oper);
    if (!code) fail(kWrongType);
  } else if (is_pointer(t)) {
    // Pointer steps are scaled by the element size, as in `p = p + n`.
    if (oper != tk_add && oper != tk_sub) fail(kWrongType);
    value = to_int(value);
    value = arith(tk_mul, value, constant(size_of(heap_[t + 1]), false));
    code = arith_node(oper);
  } else {
    value = to_int(value);
    code = arith_node(oper);
    if ((is_unsigned(t) || is_unsigned(value.type)) && (code == 37 || code == 39 || code == 41 || code == 45 || code == 47))
      ++code;
  }
  switch (t) {
    case t_char: return {mk(75, place.node, value.node, code), t_int};
    case t_uchar: return {mk(76, place.node, value.node, code), t_uint};
    case t_short: return {mk(77, place.node, value.node, code), t_int};
    case t_ushort: return {mk(78, place.node, value.node, code), t_uint};
    default: return {mk(74, place.node, value.node, code), t};
  }
}

Expr Compiler::increment(Expr place, bool pre, bool up) {
  if (!is_place(place.node)) fail(kVariableMissing);
  int t = place.type;
  if (!is_arith(t) && !is_pointer(t)) fail(kVariableMissing);
  if (t == t_float) {
    // A float steps by 1.0 in float arithmetic; the old value of a postfix step is kept in a
    // frame slot of its own.
    if (!in_function_) fail(kWrongType);
    Expr one = constant(float_bits(1.0f), true);
    Expr step = compound(place, one, up ? 143 : 144);
    if (pre) return step;
    if (frame_size_ + 4 > kMaxFrame) fail(kBadDeclaration);
    frame_size_ += 4;
    Expr slot{mk(7, -20 - frame_size_), t_float};
    Expr save = assign_to(slot, rvalue(place));
    Expr old = rvalue(slot);
    return {mk(79, mk(79, save.node, step.node), old.node), t_float};
  }
  switch (t) {
    case t_char: case t_uchar: return {mk(pre ? (up ? 30 : 32) : (up ? 29 : 31), place.node), t_int};
    case t_short: case t_ushort: return {mk(pre ? (up ? 34 : 36) : (up ? 33 : 35), place.node), t_int};
    default: break;
  }
  int step = is_pointer(t) ? size_of(heap_[t + 1]) : 1;
  return {mk(pre ? 28 : 27, place.node, up ? step : -step), t};
}

Expr Compiler::member(Expr s, const std::string& name) {
  if (!is_struct(s.type)) fail(kWrongType);
  std::string mname = name + "_" + std::to_string(heap_[s.type + 2]);
  int m = global_lookup(mname.data(), mname.size(), false);
  if (m < 0 || symbols_[m].kind != k_member) fail(kWrongType);
  std::int32_t off = symbols_[m].value;
  int t = symbols_[m].type;
  switch (op(s.node)) {
    case 1:
      return {mk(1, static_cast<std::int32_t>(static_cast<std::uint32_t>(arg(s.node, 1)) + static_cast<std::uint32_t>(off)), arg(s.node, 2)), t};
    case 7: return {mk(7, arg(s.node, 1) + off), t};
    case 15: {
      int p = arg(s.node, 1);
      if (off != 0) p = mk(43, p, constant(off, false).node);
      return {mk(15, p), t};
    }
    default: fail(kWrongType);
  }
}

Expr Compiler::call(Expr f) {
  next_token();  // past '('
  std::vector<int> args;
  if (tok_ != tk_rparen) {
    for (;;) {
      args.push_back(rvalue(assignment()).node);
      if (tok_ != tk_comma) break;
      next_token();
    }
  }
  expect(tk_rparen);
  int list = 0;
  for (int a : args) list = mk(100, a, list);  // the last argument heads the list
  int callee, ret;
  bool direct = false;
  if (op(f.node) == 14) {
    callee = f.node;
    ret = symbols_[arg(f.node, 1)].type;
    direct = true;
  } else if (is_function(f.type) && op(f.node) == 15) {
    callee = arg(f.node, 1);
    ret = heap_[f.type + 1];
  } else if (is_pointer(f.type) && is_function(heap_[f.type + 1])) {
    callee = rvalue(f).node;
    ret = heap_[heap_[f.type + 1] + 1];
  } else {
    fail(kWrongType);
  }
  if (ret == t_char || ret == t_short) ret = t_int;
  if (ret == t_uchar || ret == t_ushort) ret = t_uint;
  return {mk(-12, callee, list, direct ? 1 : 0), ret};
}

Expr Compiler::primary() {
  switch (tok_) {
    case tk_number: {
      Expr e = constant(tok_value_, tok_float_);
      next_token();
      return e;
    }
    case tk_string: {
      auto [start, length] = string_token();
      return {mk(-31, static_cast<std::int32_t>(start), static_cast<std::int32_t>(length)),
              type_node3(n_array, static_cast<std::int32_t>(length), t_char)};
    }
    case tk_ident: {
      int s = tok_sym_;
      const Symbol& e = symbols_[s];
      switch (e.kind) {
        case k_global: next_token(); return {mk(1, e.value, s), e.type};
        case k_local: next_token(); return {mk(7, e.value), e.type};
        case k_function: next_token(); return {mk(14, s), type_node2(n_function, e.type)};
        case k_new: {
          int g = tok_gsym_;
          auto x = find_exported_function(name_of(g));
          next_token();
          if (!x && tok_ != tk_lparen) fail(kUndefinedName);
          Symbol& gs = symbols_[g];
          if (gs.kind != k_new) fail(kUndefinedName);
          gs.kind = k_function;
          gs.type = x ? x->type : t_int;
          if (x && x->type > 0) gs.type = t_int;  // type nodes of another compile mean nothing here
          gs.value = new_label();
          return {mk(14, g), type_node2(n_function, gs.type)};
        }
        default: fail(kUndefinedName);
      }
    }
    default: fail(kBadExpression);
  }
}

Expr Compiler::postfix(Expr e) {
  for (;;) {
    switch (tok_) {
      case tk_lbracket: {
        next_token();
        Expr i = rvalue(expression());
        expect(tk_rbracket);
        e = indirect(arith(tk_add, rvalue(e), i), 0);
        break;
      }
      case tk_lparen: e = call(e); break;
      case tk_dot:
      case tk_arrow: {
        bool arrow = tok_ == tk_arrow;
        next_token();
        if (tok_ != tk_ident) {
          expect(tk_ident);
          fail(kWrongType);
        }
        std::string name = ident_;
        next_token();
        if (arrow) {
          Expr p = rvalue(e);
          if (!is_pointer(p.type)) fail(kWrongType);
          e = indirect(p, 0);
        }
        e = member(e, name);
        break;
      }
      case tk_inc: next_token(); e = increment(e, false, true); break;
      case tk_dec: next_token(); e = increment(e, false, false); break;
      default: return e;
    }
  }
}

bool Compiler::starts_type_name() const {
  switch (tok_) {
    case kw_int: case kw_char: case kw_short: case kw_long: case kw_float: case kw_signed:
    case kw_unsigned: case kw_struct: case kw_union:
      return true;
    case tk_ident: return symbols_[tok_sym_].kind == k_typedef;
    default: return false;
  }
}

Expr Compiler::unary() {
  NestingGuard guard(*this);
  switch (tok_) {
    case tk_not: {
      next_token();
      Expr e = rvalue(unary());
      return {mk(23, e.node), t_int};
    }
    case tk_bnot: {
      next_token();
      Expr e = rvalue(unary());
      if (!is_integer(e.type)) fail(kWrongType);
      if (is_const(e.node)) {
        Expr c = constant(~arg(e.node, 1), false);
        c.type = e.type;
        return c;
      }
      return {mk(24, e.node), e.type};
    }
    case tk_sub: {
      next_token();
      Expr e = rvalue(unary());
      if (!is_arith(e.type)) fail(kWrongType);
      if (is_const(e.node)) {
        std::uint32_t v = static_cast<std::uint32_t>(arg(e.node, 1));
        Expr c = e.type == t_float ? constant(static_cast<std::int32_t>(v ^ 0x80000000u), true)
                                   : constant(static_cast<std::int32_t>(0u - v), false);
        c.type = e.type;
        return c;
      }
      return {mk(e.type == t_float ? 97 : 22, e.node), e.type};
    }
    case tk_mul: {
      next_token();
      return indirect(rvalue(unary()), 0);
    }
    case tk_and: {
      next_token();
      Expr e = unary();
      if (op(e.node) == 1 || op(e.node) == 7) return {mk(21, e.node), type_node2(n_pointer, e.type)};
      if (op(e.node) == 14) return e;
      if (op(e.node) == 15) return {arg(e.node, 1), type_node2(n_pointer, e.type)};
      fail(kVariableMissing);
    }
    case tk_inc:
    case tk_dec: {
      bool up = tok_ == tk_inc;
      next_token();
      return increment(unary(), true, up);
    }
    case kw_sizeof: {
      next_token();
      int t;
      if (tok_ == tk_lparen) {
        next_token();
        if (starts_type_name()) {
          bool found;
          int base = type_specifier(found);
          t = abstract_type(base);
          expect(tk_rparen);
        } else {
          Expr e = expression();
          expect(tk_rparen);
          t = postfix(e).type;
        }
      } else {
        t = unary().type;
      }
      return constant(size_of(t), false);
    }
    case tk_lparen: {
      next_token();
      if (starts_type_name()) {
        bool found;
        int base = type_specifier(found);
        int t = abstract_type(base);
        expect(tk_rparen);
        Expr e = rvalue(unary());
        if (is_arith(t) && is_arith(e.type)) {
          if (t == t_float) e = to_float(e);
          else if (e.type == t_float) e = to_int(e);
        }
        if (is_struct(t)) fail(kWrongType);
        // Otherwise a cast only changes the type, of a constant as of any other value: `(char)300`
        // is 300 typed char, as `(char)v` is v's value typed char.
        return {e.node, t};
      }
      Expr e = expression();
      expect(tk_rparen);
      return postfix(e);
    }
    default: return postfix(primary());
  }
}

static int binary_level(int tok) {
  switch (tok) {
    case tk_lor: return 4;
    case tk_land: return 5;
    case tk_or: return 6;
    case tk_xor: return 7;
    case tk_and: return 8;
    case tk_eq: case tk_ne: return 9;
    case tk_lt: case tk_le: case tk_gt: case tk_ge: return 10;
    case tk_shl: case tk_shr: return 11;
    case tk_add: case tk_sub: return 12;
    case tk_mul: case tk_div: case tk_mod: return 13;
    default: return 0;
  }
}

Expr Compiler::binary(int level) {
  if (level > 13) return unary();
  Expr l = binary(level + 1);
  for (;;) {
    int t = tok_;
    if (binary_level(t) != level) return l;
    next_token();
    Expr r = rvalue(binary(level + 1));
    l = rvalue(l);
    switch (level) {
      case 4: l = {mk(67, l.node, r.node), t_int}; break;
      case 5: l = {mk(66, l.node, r.node), t_int}; break;
      case 9: l = {mk(t == tk_eq ? 61 : 62, l.node, r.node), t_int}; break;
      case 10: {
        int code = t == tk_gt ? 49 : t == tk_ge ? 52 : t == tk_lt ? 55 : 58;
        if (l.type == t_float || r.type == t_float) {
          if (!is_arith(l.type) || !is_arith(r.type)) fail(kWrongType);
          l = to_float(l);
          r = to_float(r);
          code += 2;
        } else if (!(l.type == t_int && r.type == t_int)) {
          code += 1;
        }
        l = {mk(code, l.node, r.node), t_int};
        break;
      }
      default: l = arith(t, l, r); break;
    }
  }
}

Expr Compiler::conditional() {
  Expr c = binary(4);
  if (tok_ != tk_quest) return c;
  c = rvalue(c);
  next_token();
  Expr a = rvalue(expression());
  expect(tk_colon);
  Expr b = rvalue(conditional());
  int t = (b.type == t_int || (b.type == t_uint && a.type != t_int)) ? a.type : b.type;
  if (is_const(c.node)) {
    Expr chosen = arg(c.node, 1) != 0 ? a : b;
    return {chosen.node, t};
  }
  return {mk(68, c.node, a.node, b.node), t};
}

Expr Compiler::assignment() {
  Expr l = conditional();
  int t = tok_;
  if (t == tk_assign) {
    next_token();
    Expr r = rvalue(assignment());
    return assign_to(l, r);
  }
  switch (t) {
    case 137: case 139: case 141: case 143: case 144: case 145: case 147: case 163: case 164: case 165: {
      next_token();
      Expr r = rvalue(assignment());
      return compound(l, r, t);
    }
    default: return l;
  }
}

Expr Compiler::expression() {
  Expr e = assignment();
  while (tok_ == tk_comma) {
    next_token();
    Expr r = rvalue(assignment());
    e = {mk(79, rvalue(e).node, r.node), r.type};
  }
  return e;
}

std::int32_t Compiler::constant_expression() {
  int mark = temp_top_;
  Expr e = rvalue(conditional());
  if (!is_const(e.node)) fail(kConstantMissing);
  std::int32_t v = arg(e.node, 1);
  if (e.type == t_float) v = float_to_int(as_float(v));
  temp_top_ = mark;
  return v;
}

// ---- statements --------------------------------------------------------------------------------

void Compiler::flush_return() {
  if (!pending_return_) return;
  pending_return_ = false;
  move_to(0);
  jump(73, exit_label_);
}

Expr Compiler::condition_expression() {
  expect(tk_lparen);
  Expr c = rvalue(expression());
  expect(tk_rparen);
  return c;
}

void Compiler::statement() {
  NestingGuard guard(*this);
  flush_return();
  note_source_line();
  switch (tok_) {
    case tk_lbrace:
      next_token();
      while (tok_ != tk_rbrace) statement();
      next_token();
      return;
    case tk_semi:
      next_token();
      return;
    case kw_if: {
      next_token();
      int mark = temp_top_;
      reset_registers();
      Expr c = condition_expression();
      int l1 = new_label();
      condition(c.node, l1, false);
      temp_top_ = mark;
      statement();
      if (tok_ == kw_else) {
        next_token();
        flush_return();
        int l2 = 0;
        if (reachable_) {
          l2 = new_label();
          jump(73, l2);
        }
        define_label(l1);
        statement();
        if (l2) define_label(l2);
      } else {
        define_label(l1);
      }
      return;
    }
    case kw_while: {
      next_token();
      int top = new_label();
      define_label(top);
      int mark = temp_top_;
      reset_registers();
      Expr c = condition_expression();
      if (tok_ == tk_semi) {
        condition(c.node, top, true);
        temp_top_ = mark;
        next_token();
        return;
      }
      int out = new_label();
      condition(c.node, out, false);
      temp_top_ = mark;
      break_labels_.push_back(out);
      continue_labels_.push_back(top);
      statement();
      break_labels_.pop_back();
      continue_labels_.pop_back();
      flush_return();
      if (reachable_) jump(73, top);
      define_label(out);
      return;
    }
    case kw_do: {
      next_token();
      int top = new_label();
      define_label(top);
      int cont = new_label();
      int out = new_label();
      break_labels_.push_back(out);
      continue_labels_.push_back(cont);
      statement();
      break_labels_.pop_back();
      continue_labels_.pop_back();
      define_label(cont);
      note_source_line();  // the condition, on the line of its `while`
      expect(kw_while);
      int mark = temp_top_;
      reset_registers();
      Expr c = condition_expression();
      condition(c.node, top, true);
      temp_top_ = mark;
      define_label(out);
      expect(tk_semi);
      return;
    }
    case kw_for: {
      const std::string for_file = files_.back().path;
      const int for_line = files_.back().line;
      next_token();
      expect(tk_lparen);
      if (tok_ != tk_semi) {
        int mark = temp_top_;
        reset_registers();
        eval(expression().node);
        temp_top_ = mark;
      }
      expect(tk_semi);
      int top = new_label();
      define_label(top);
      int out = new_label();
      if (tok_ != tk_semi) {
        int mark = temp_top_;
        reset_registers();
        Expr c = rvalue(expression());
        condition(c.node, out, false);
        temp_top_ = mark;
      }
      expect(tk_semi);
      int step = 0, cont = top;
      int step_mark = temp_top_;
      if (tok_ != tk_rparen) {
        step = expression().node;
        cont = new_label();
      }
      expect(tk_rparen);
      int serial = declaration_serial_;
      break_labels_.push_back(out);
      continue_labels_.push_back(cont);
      statement();
      break_labels_.pop_back();
      continue_labels_.pop_back();
      if (step) {
        define_label(cont);
        note_line(for_file, for_line);  // the step, on the line of its `for`
        reset_registers();
        eval(step);
        // Declarations in the body made type nodes below the step's tree; they must stay.
        if (serial == declaration_serial_) temp_top_ = step_mark;
      }
      flush_return();
      jump(73, top);
      define_label(out);
      return;
    }
    case kw_switch: {
      next_token();
      int mark = temp_top_;
      reset_registers();
      Expr v = condition_expression();
      eval(v.node);
      temp_top_ = mark;
      int out = new_label();
      switches_.push_back(Switch{reg(), 0, 0, true});
      break_labels_.push_back(out);
      statement();
      break_labels_.pop_back();
      Switch sw = switches_.back();
      switches_.pop_back();
      flush_return();
      if (sw.default_label) {
        if (sw.next_test) {
          int around = 0;
          if (reachable_) {
            around = new_label();
            jump(73, around);
          }
          define_label(sw.next_test);
          jump(73, sw.default_label);
          if (around) define_label(around);
        }
      } else if (sw.next_test) {
        define_label(sw.next_test);
      }
      define_label(out);
      return;
    }
    case kw_case: {
      if (switches_.empty()) fail(kSyntaxError);
      std::vector<std::int32_t> values;
      while (tok_ == kw_case) {
        next_token();
        values.push_back(constant_expression());
        expect(tk_colon);
      }
      flush_return();
      Switch& sw = switches_.back();
      int body = new_label();
      if (!sw.first && reachable_) jump(73, body);
      if (sw.next_test) define_label(sw.next_test);
      for (std::size_t i = values.size(); i-- > 1;) {
        emit_rr_imm(56, sw.reg, sw.reg, static_cast<std::uint32_t>(values[i]));
        listing("\tcmp\t\tr%d, $%d\n", sw.reg, values[i]);
        jump(74, body);
      }
      emit_rr_imm(56, sw.reg, sw.reg, static_cast<std::uint32_t>(values[0]));
      listing("\tcmp\t\tr%d, $%d\n", sw.reg, values[0]);
      sw.next_test = new_label();
      jump(75, sw.next_test);
      sw.first = false;
      define_label(body);
      if (tok_ != tk_rbrace) statement();
      return;
    }
    case kw_default: {
      if (switches_.empty()) fail(kSyntaxError);
      next_token();
      expect(tk_colon);
      Switch& sw = switches_.back();
      if (sw.default_label) fail(kSyntaxError);
      flush_return();
      if (!sw.next_test) {
        sw.next_test = new_label();
        jump(73, sw.next_test);
      }
      sw.default_label = new_label();
      sw.first = false;
      define_label(sw.default_label);
      if (tok_ != tk_rbrace) statement();
      return;
    }
    case kw_break:
    case kw_continue: {
      std::vector<int>& labels = tok_ == kw_break ? break_labels_ : continue_labels_;
      if (labels.empty()) fail(kSyntaxError);
      next_token();
      jump(73, labels.back());
      expect(tk_semi);
      return;
    }
    case kw_return: {
      next_token();
      if (tok_ != tk_semi) {
        int mark = temp_top_;
        reset_registers();
        Expr e = rvalue(expression());
        // The value leaves as the function's declared type.
        if (function_type_ == t_float && is_arith(e.type)) e = to_float(e);
        else if (is_integer(function_type_) && e.type == t_float) e = to_int(e);
        eval(e.node);
        temp_top_ = mark;
      }
      pending_return_ = true;
      expect(tk_semi);
      return;
    }
    case kw_goto: {
      next_token();
      if (tok_ != tk_ident) {
        expect(tk_ident);
        return;
      }
      Symbol& s = symbols_[tok_sym_];
      if (s.kind == k_new) {
        s.kind = k_goto_label;
        s.value = new_label();
      } else if (s.kind != k_goto_label && s.kind != k_label) {
        fail(kSyntaxError);
      }
      int label = s.value;
      next_token();
      jump(73, label);
      expect(tk_semi);
      return;
    }
    case tk_ident:
      if (symbols_[tok_sym_].kind == k_typedef) {
        local_declaration();
        return;
      }
      if (at_label_colon()) {
        Symbol& s = symbols_[tok_sym_];
        if (s.kind == k_new) {
          s.kind = k_label;
          s.value = new_label();
        } else if (s.kind == k_goto_label) {
          s.kind = k_label;
        } else {
          fail(kWrongType);
        }
        define_label(s.value);
        next_token();
        expect(tk_colon);
        return;
      }
      break;
    default:
      if (starts_declaration()) {
        local_declaration();
        return;
      }
      break;
  }
  int mark = temp_top_;
  reset_registers();
  eval(expression().node);
  temp_top_ = mark;
  expect(tk_semi);
}

}  // namespace talven::compiler
