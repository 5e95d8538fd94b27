// The compiler's state: one work block per compilation, laid out as the fixed tables the language
// limits are stated in (text pool, argument pool, symbol table, node heap, labels, registers).
#pragma once
#include <array>
#include <cstdint>
#include <memory>
#include <utility>
#include <string>
#include <vector>

#include "compiler/compiler.h"

namespace talven::compiler {

// Token codes.
enum Token : int {
  tk_number = 13,
  tk_ident = -30,
  tk_string = -31,
  tk_not = 23, tk_bnot = 24, tk_inc = 25, tk_dec = 26,
  tk_mul = 37, tk_div = 39, tk_mod = 41, tk_add = 43, tk_sub = 44, tk_shr = 45, tk_shl = 47,
  tk_gt = 49, tk_ge = 52, tk_lt = 55, tk_le = 58, tk_eq = 61, tk_ne = 62,
  tk_and = 63, tk_or = 64, tk_xor = 65, tk_land = 66, tk_lor = 67, tk_quest = 68, tk_assign = 69,
  tk_comma = 79, tk_lparen = 80, tk_rparen = 81, tk_lbracket = 82, tk_rbracket = 83,
  tk_lbrace = 84, tk_rbrace = 85, tk_colon = 86, tk_semi = 87, tk_dot = 88, tk_arrow = 89,
  // keywords
  kw_int = -37, kw_char = -3, kw_short = -2, kw_long = -1, kw_float = -7, kw_signed = -38,
  kw_unsigned = -39, kw_struct = -10, kw_union = -11, kw_static = -14, kw_extern = -41,
  kw_typedef = -35, kw_sizeof = -36, kw_goto = -15, kw_return = -16, kw_break = -17,
  kw_continue = -18, kw_if = -19, kw_else = -20, kw_for = -21, kw_do = -22, kw_while = -23,
  kw_switch = -24, kw_case = -25, kw_default = -26,
};

// Symbol kinds.
enum Kind : int {
  k_empty = 0, k_new = -13, k_keyword = -27, k_macro = -32, k_function = -12, k_global = 1,
  k_local = 7, k_member = -29, k_tag = -28, k_typedef = -40, k_goto_label = -34, k_label = -33,
};

// Base types (negative) and type node kinds.
enum Type : int {
  t_int = -1, t_short = -2, t_char = -3, t_uint = -4, t_ushort = -5, t_uchar = -6, t_float = -7,
  n_pointer = -8, n_array = -9, n_struct = -10, n_union = -11, n_function = -12,
};

struct Symbol {
  std::uint32_t name;  // offset in the text pool
  std::int32_t kind;
  std::int32_t type;
  std::int32_t value;
};

inline constexpr int kSymbols = 8192;
inline constexpr int kGlobalSymbols = 7168;
inline constexpr std::uint32_t kTextPool = 0x40000;
inline constexpr std::uint32_t kArgPool = 0x4000;
inline constexpr int kNodeWords = 8192;
inline constexpr int kFiles = 16;
inline constexpr int kFrames = 16;
inline constexpr int kLineBuffer = 4096;
inline constexpr int kIncludeList = 4096;
inline constexpr int kPathLimit = 259;     // bytes of a source path (record of 260 with its zero)
inline constexpr int kMacroParams = 32;
inline constexpr int kMaxLabels = 1 << 20;
inline constexpr std::size_t kErrorText = 8192;
// Parentheses, unary operators, statements, declarators and structure definitions nest at most
// this deep; deeper nesting is error 22 (the compiler's work area), never a native stack overflow.
inline constexpr int kMaxNesting = 200;
// The largest frame: local offsets (-20 - size) must stay within 32 bits.
inline constexpr int kMaxFrame = 0x7FFF0000;

// Symbol flags kept beside the table.
inline constexpr std::uint8_t f_static = 1, f_extern = 2, f_function_like = 4, f_defined = 8;

struct CompileAbort {
  int code;
};

struct Expr {
  int node;
  int type;
};

class Compiler {
 public:
  Compiler(const CompileOptions& options, CompileResult& result);
  bool run(std::string_view source_name);

  // ---- errors
  [[noreturn]] void fail(CompileError code);
  void error_text(const std::string& s);
  void expect(int token);

  // ---- symbols (compiler.cpp)
  std::uint32_t pool_add(const char* bytes, std::size_t n, bool zero);
  const char* name_of(int sym) const { return reinterpret_cast<const char*>(&text_[symbols_[sym].name]); }
  static std::uint32_t hash(const char* s, std::size_t n);
  int area_lookup(int first, int count, std::uint32_t start, const char* s, std::size_t n, bool create,
                  CompileError full_error);
  int global_lookup(const char* s, std::size_t n, bool create);
  int local_lookup(const char* s, std::size_t n, bool create);
  bool name_matches(int sym, const char* s, std::size_t n) const;
  void clear_locals();
  void enter_keyword(const char* s, int code);

  // ---- lexer (lexer.cpp)
  void next_char();
  void read_line();
  bool directive();
  void define_directive(const char* p);
  void include_directive(const char* p);
  void push_file(const std::string& name);
  void skip_white();
  int next_token();
  int lex();
  void read_identifier();
  void read_number();
  int read_escape();
  void read_string();
  void expand_macro(int sym);
  void open_frame(const char* text, bool restore_char);
  bool at_label_colon();
  std::string current_line_marked() const;

  // ---- types and declarations (parser.cpp)
  int node(int n);
  int type_node2(int kind, int a);
  int type_node3(int kind, int a, int b);
  int size_of(int type);
  bool same_type(int a, int b) const;
  bool is_integer(int t) const { return t <= -1 && t >= -6; }
  bool is_arith(int t) const { return t <= -1 && t >= -7; }
  bool is_pointer(int t) const { return t > 0 && heap_[t] == n_pointer; }
  bool is_array(int t) const { return t > 0 && heap_[t] == n_array; }
  bool is_struct(int t) const { return t > 0 && (heap_[t] == n_struct || heap_[t] == n_union); }
  bool is_function(int t) const { return t > 0 && heap_[t] == n_function; }
  bool is_unsigned(int t) const { return t == t_uint || t == t_ushort || t == t_uchar || is_pointer(t); }
  int target(int t) const { return heap_[t + (heap_[t] == n_array ? 2 : 1)]; }
  bool starts_declaration() const;
  int type_specifier(bool& found);
  int struct_specifier();
  struct Declarator;
  void declarator(Declarator& d, bool abstract);
  int apply(const Declarator& d, int base);
  int abstract_type(int base);
  void top_level();
  void function_definition(int sym, const Declarator& d, int type, bool is_static, bool is_extern);
  void local_declaration();
  void declare_members(int struct_type, int number);
  void global_initializer(int type, vm::Address address, bool in_heap, const std::string& name);
  void local_initializer(int type, int offset, const std::string& name, bool outer);
  void write_data(vm::Address address, const void* bytes, std::uint32_t n, bool in_heap);
  std::pair<std::uint32_t, std::uint32_t> string_token();
  static std::int32_t float_to_int(float f);
  bool starts_type_name() const;
  Expr condition_expression();
  std::uint32_t allocate_data(std::uint32_t size);

  // ---- expressions (parser.cpp)
  int mk(int op, int a = 0, int b = 0, int c = 0);
  int op(int n) const { return heap_[n]; }
  int arg(int n, int i) const { return heap_[n + i]; }
  Expr expression();
  Expr assignment();
  Expr conditional();
  Expr binary(int level);
  Expr unary();
  Expr postfix(Expr e);
  Expr primary();
  Expr rvalue(Expr e);
  Expr constant(std::int32_t v, bool is_float);
  bool is_const(int n) const { return op(n) == 13; }
  bool is_place(int n) const { return op(n) == 1 || op(n) == 7 || op(n) == 15; }
  Expr arith(int tok, Expr l, Expr r);
  Expr convert(Expr e, int to);
  Expr to_float(Expr e);
  Expr to_int(Expr e);
  Expr indirect(Expr p, int unused);
  Expr member(Expr s, const std::string& name);
  Expr call(Expr f);
  Expr increment(Expr place, bool pre, bool up);
  Expr assign_to(Expr place, Expr value);
  Expr compound(Expr place, Expr value, int tok);
  int usual(int a, int b) const;
  std::int32_t constant_expression();

  // ---- statements (parser.cpp)
  void statement();
  void flush_return();
  void expression_statement_value(int n);

  // ---- source map (codegen.cpp): code from here on comes from the current line / this function
  void note_source_line();
  void note_line(const std::string& path, int line);
  void note_function(int sym);

  // ---- code generation (codegen.cpp)
  void emit8(std::uint32_t v);
  void emit16(std::uint32_t v);
  void emit32(std::uint32_t v);
  void room(std::uint32_t width);
  void patch32(std::uint32_t offset, std::uint32_t v);
  std::uint32_t read32(std::uint32_t offset) const;
  void listing(const char* format, ...) __attribute__((format(printf, 2, 3)));
  int new_label();
  void define_label(int label);
  std::uint32_t reference(int label, std::uint32_t operand_offset);
  void jump(int opcode, int label);
  void reset_registers();
  void save();
  void restore();
  void move_to(int reg);
  int reg() const { return map_[primary_]; }
  int sreg() const { return map_[secondary_]; }
  void eval(int n);
  void eval_address(int place);
  void eval_binary(int n, int opcode, const char* mnemonic);
  void condition(int n, int label, bool when_true);
  void emit_rr(int opcode, int d, int s);
  void emit_rr_imm(int opcode, int d, int s, std::uint32_t imm);
  void emit_imm(int opcode, std::uint32_t imm);
  std::string symbol_text(int n) const;
  void string_literal(int n);
  void load_constant(std::int32_t v);
  std::uint32_t place_string(int n);

  struct NestingGuard {
    explicit NestingGuard(Compiler& c) : compiler(c) {
      if (++compiler.nesting_ > kMaxNesting) compiler.fail(kWorkAreaFull);
    }
    ~NestingGuard() { --compiler.nesting_; }
    Compiler& compiler;
  };
  int nesting_ = 0;

  // ---- state -----------------------------------------------------------------------------------
  const CompileOptions& options_;
  CompileResult& result_;
  bool emitting_ = false;
  std::uint8_t* image_ = nullptr;

  // work memory
  std::vector<std::uint8_t> text_;
  std::uint32_t text_top_ = 0;
  std::vector<char> args_;
  std::uint32_t args_top_ = 0;
  std::vector<Symbol> symbols_;
  std::vector<std::uint8_t> flags_;
  std::array<std::int32_t, kNodeWords + 1> heap_{};
  int perm_top_ = 1;
  int temp_top_ = kNodeWords;
  bool permanent_ = true;
  bool param_context_ = false;
  int declaration_serial_ = 0;

  // source files
  struct SourceFile {
    std::string path;
    std::string text;
    std::size_t pos = 0;
    int line = 0;
  };
  std::vector<SourceFile> files_;
  std::string include_list_;
  std::array<char, kLineBuffer + 8> line_{};
  const char* rp_ = nullptr;
  int ch_ = 0;
  struct Frame {
    const char* resume;
    int saved_char;
    bool restore_char;
    std::uint32_t saved_args;
  };
  std::array<Frame, kFrames> frames_{};
  int depth_ = 0;
  int comment_depth_ = 0;
  bool in_asm_ = false;
  int trap_counter_ = 0;
  int pending_trap_ = -1;

  // token
  int tok_ = 0;
  std::int32_t tok_value_ = 0;
  bool tok_float_ = false;
  int tok_sym_ = 0;   // the entry the name resolves to
  int tok_gsym_ = 0;  // its global entry
  std::uint32_t tok_str_ = 0, tok_len_ = 0;
  std::string ident_;

  // parser state
  bool in_function_ = false;
  bool at_top_ = true;  // between top-level declarations: end of input is the normal end
  int struct_counter_ = 0;
  int frame_size_ = 0;
  int function_type_ = t_int;
  int exit_label_ = 0;
  bool pending_return_ = false;
  bool reachable_ = true;
  std::vector<int> break_labels_, continue_labels_;
  struct Switch {
    int reg;
    int next_test;
    int default_label;
    bool first;
  };
  std::vector<Switch> switches_;

  // emitter
  std::uint32_t pc_ = 0;
  std::uint32_t data_size_ = 0;
  std::uint32_t extern_size_ = 0;
  std::vector<std::uint32_t> label_value_;
  std::vector<std::uint8_t> label_state_;
  int map_[6] = {0, 1, 2, 3, 4, 5};
  bool in_use_[6] = {};
  int primary_ = 0, secondary_ = 1;
  std::vector<int> save_stack_;
  int string_counter_ = 0;
};

}  // namespace talven::compiler
