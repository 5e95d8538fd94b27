// Compilation driver, error text, symbol table, linking and the exported function table.
#include <cstdio>
#include <cstring>
#include <mutex>

#include "compiler/compiler_internal.h"
#include "platform/text_encoding.h"
#include "vm/report.h"
#include "vm/interpreter.h"

namespace talven::compiler {
namespace {

// By CompileError.
const char* const kMessages[kCompileErrorCount] = {
    "内部エラー",
    "メモリの確保に失敗しました",
    "ファイルのオープンに失敗しました",
    "ファイルの読み込みに失敗しました",
    "ディレクティプ命令でエラーが発生しました",
    "インクルードファイルの指定が間違ってます",
    "インクルードファイルのネスト回数が多すぎます",
    "マクロの参照回数が１６回を超えました",
    "変数（関数）の宣言に誤りがあります",
    "式の記述に誤りがあります",
    "０で除算しました",
    "定数がありません",
    "文法エラー",
    "変数がありません",
    "型の指定が間違っています",
    "定義されていない文字列です",
    "文字列は一行内に記述してください",
    "クォーテーションがありません",
    "グローバルシンボルの数が多すぎます",
    "ローカルシンボルの数が多すぎます",
    "シンボルバッファの長さをオーバーしました",
    "一行の長さが長すぎます",
    "ヒープ領域が溢れました",
    "プログラム領域が足りません",
    "コンパイル途中で EOF が現れました",
};

constexpr int kExportLimit = 1024;
ExportedFunction g_exports[kExportLimit];
int g_export_count = 0;

struct KeywordEntry {
  const char* name;
  int code;
};
const KeywordEntry kKeywords[] = {
    {"int", kw_int},       {"void", kw_int},         {"char", kw_char},       {"short", kw_short},
    {"long", kw_long},     {"float", kw_float},      {"signed", kw_signed},   {"unsigned", kw_unsigned},
    {"struct", kw_struct}, {"union", kw_union},      {"static", kw_static},   {"extern", kw_extern},
    {"typedef", kw_typedef}, {"sizeof", kw_sizeof},  {"goto", kw_goto},       {"return", kw_return},
    {"break", kw_break},   {"continue", kw_continue}, {"if", kw_if},          {"else", kw_else},
    {"for", kw_for},       {"do", kw_do},            {"while", kw_while},     {"switch", kw_switch},
    {"case", kw_case},     {"default", kw_default},
};

}  // namespace

const char* error_message(int code) {
  if (code < 0 || code >= kCompileErrorCount) return "";
  return platform::cp932(kMessages[code]);
}

// Programs end on their own threads while another thread may be compiling, so the table is
// guarded and look-ups hand out copies.
static std::mutex g_export_mutex;

void clear_exported_functions() {
  std::lock_guard lock(g_export_mutex);
  g_export_count = 0;
}

void forget_exported_functions(vm::Address base, std::uint32_t size) {
  std::lock_guard lock(g_export_mutex);
  int kept = 0;
  for (int i = 0; i < g_export_count; ++i) {
    bool inside = g_exports[i].address >= base && g_exports[i].address - base < size;
    if (!inside) g_exports[kept++] = g_exports[i];
  }
  g_export_count = kept;
}

std::optional<ExportedFunction> find_exported_function(std::string_view name) {
  std::lock_guard lock(g_export_mutex);
  for (int i = g_export_count - 1; i >= 0; --i)
    if (name == g_exports[i].name) return g_exports[i];
  return std::nullopt;
}

// Later definitions of a name replace earlier ones, so a caller never links to a stale program.
static bool export_function(std::string_view name, std::int32_t type, vm::Address address) {
  if (name.size() > 31) return false;
  std::lock_guard lock(g_export_mutex);
  for (int i = 0; i < g_export_count; ++i) {
    if (name == g_exports[i].name) {
      g_exports[i].type = type;
      g_exports[i].address = address;
      return true;
    }
  }
  if (g_export_count >= kExportLimit) return false;
  ExportedFunction& e = g_exports[g_export_count++];
  std::memset(e.name, 0, sizeof e.name);
  std::memcpy(e.name, name.data(), name.size());
  e.type = type;
  e.address = address;
  return true;
}

Compiler::Compiler(const CompileOptions& options, CompileResult& result) : options_(options), result_(result) {
  emitting_ = options.image_base != 0;
  if (emitting_) image_ = vm::host_pointer(options.image_base);
}

// ---- errors ------------------------------------------------------------------------------------

void Compiler::error_text(const std::string& s) {
  std::string& t = result_.error_text;
  if (t.size() >= kErrorText - 1) return;
  std::size_t room = kErrorText - 1 - t.size();
  t.append(s, 0, std::min(room, s.size()));
}

void Compiler::fail(CompileError code) {
  if (code == kEndOfInput && at_top_ && depth_ == 0) throw CompileAbort{-1};  // the normal end of input
  const SourceFile* f = files_.empty() ? nullptr : &files_.back();
  std::string path = f ? f->path : std::string();
  int line = f ? f->line : 0;
  char head[600];
  std::snprintf(head, sizeof head, "%s(%d) : %s%s\n", path.c_str(), line, error_message(code),
                platform::cp932("。"));
  error_text(head);
  error_text(current_line_marked());
  result_.error_code = code;
  result_.error_file = path;
  result_.error_line = line;
  result_.error_message = error_message(code);
  throw CompileAbort{code};
}

void Compiler::expect(int token) {
  if (tok_ == token) {
    next_token();
    return;
  }
  const char* what;
  switch (token) {
    case tk_lparen: what = "'('"; break;
    case tk_rparen: what = "')'"; break;
    case tk_rbracket: what = "']'"; break;
    case tk_semi: what = "';'"; break;
    case tk_colon: what = "':'"; break;
    case kw_while: what = "'while'"; break;
    default: what = platform::cp932("識別子"); break;
  }
  const SourceFile& f = files_.back();
  char text[600];
  std::snprintf(text, sizeof text, "%s(%d) : %s %s\n", f.path.c_str(), f.line, what, platform::cp932("がありません"));
  error_text(text);
}

// ---- symbols -----------------------------------------------------------------------------------

std::uint32_t Compiler::pool_add(const char* bytes, std::size_t n, bool zero) {
  std::size_t need = n + (zero ? 1 : 0);
  if (text_top_ + need > kTextPool) fail(kSymbolBufferFull);
  std::uint32_t at = text_top_;
  std::memcpy(&text_[at], bytes, n);
  if (zero) text_[at + n] = 0;
  text_top_ += static_cast<std::uint32_t>(need);
  return at;
}

std::uint32_t Compiler::hash(const char* s, std::size_t n) {
  std::uint32_t h = 0;
  for (std::size_t i = 0; i < n; ++i)
    h = (h * 7) ^ static_cast<std::uint32_t>(static_cast<std::int32_t>(static_cast<std::int8_t>(s[i])));
  return h;
}

bool Compiler::name_matches(int sym, const char* s, std::size_t n) const {
  const char* stored = name_of(sym);
  std::size_t i = 0;
  for (; stored[i] && stored[i] != '.'; ++i)
    if (i >= n || stored[i] != s[i]) return false;
  return i == n;
}

// Globals and locals are two areas of one symbol table, each probed linearly from the name's hash
// and wrapping inside its own area; a full area is the compile error `full_error`.
int Compiler::area_lookup(int first, int count, std::uint32_t start, const char* s, std::size_t n, bool create,
                          CompileError full_error) {
  int at = first + static_cast<int>(start);
  for (int step = 0; step < count; ++step) {
    Symbol& e = symbols_[at];
    if (e.kind == k_empty) {
      if (!create) return -1;
      e.name = pool_add(s, n, true);
      e.kind = k_new;
      e.type = 0;
      e.value = 0;
      flags_[at] = 0;
      return at;
    }
    if (name_matches(at, s, n)) return at;
    at = at + 1 == first + count ? first : at + 1;
  }
  fail(full_error);
}

int Compiler::global_lookup(const char* s, std::size_t n, bool create) {
  return area_lookup(0, kGlobalSymbols, hash(s, n) % kGlobalSymbols, s, n, create, kTooManyGlobals);
}

int Compiler::local_lookup(const char* s, std::size_t n, bool create) {
  return area_lookup(kGlobalSymbols, kSymbols - kGlobalSymbols, hash(s, n) & 1023, s, n, create, kTooManyLocals);
}

void Compiler::clear_locals() {
  for (int i = kGlobalSymbols; i < kSymbols; ++i) {
    symbols_[i].kind = k_empty;
    flags_[i] = 0;
  }
}

void Compiler::enter_keyword(const char* s, int code) {
  int e = global_lookup(s, std::strlen(s), true);
  symbols_[e].kind = k_keyword;
  symbols_[e].value = code;
}

// ---- driver ------------------------------------------------------------------------------------

bool Compiler::run(std::string_view source_name) {
  std::string listing_header;
  bool ok = false;
  try {
    text_.assign(kTextPool, 0);
    text_top_ = 1;  // offset 0 means "no name"
    args_.assign(kArgPool, 0);
    symbols_.assign(kSymbols, Symbol{0, 0, 0, 0});
    flags_.assign(kSymbols, 0);
    label_value_.assign(1, 0);
    label_state_.assign(1, 0);
    line_[0] = 0;
    rp_ = line_.data();
    for (const KeywordEntry& k : kKeywords) enter_keyword(k.name, k.code);
    {
      char header[400];
      std::string name(source_name);
      std::snprintf(header, sizeof header, ".file \"%s\"\n.text\n\n", name.c_str());
      listing("%s", header);
    }
    reset_registers();
    int main_sym = global_lookup("main", 4, true);
    symbols_[main_sym].kind = k_function;
    symbols_[main_sym].type = t_int;
    symbols_[main_sym].value = new_label();
    jump(73, symbols_[main_sym].value);
    push_file(std::string(source_name));
    at_top_ = true;
    next_char();
    next_token();
    for (;;) {
      clear_locals();
      at_top_ = true;
      while (tok_ == tk_semi) next_token();
      at_top_ = false;
      top_level();
    }
  } catch (const CompileAbort& abort) {
    if (abort.code == -1) ok = true;
  }

  if (ok) {
    // End of input: the global variables, then the link.
    for (int i = 0; i < kGlobalSymbols; ++i) {
      if (symbols_[i].kind == k_global) {
        int size = symbols_[i].type > 0 && heap_[symbols_[i].type] == n_function ? 4 : 0;
        try {
          size = size_of(symbols_[i].type);
        } catch (const CompileAbort&) {
        }
        listing(".comm %s, %d\n", name_of(i), size);
      }
    }
    bool linked = true;
    for (int i = 0; i < kGlobalSymbols; ++i) {
      const Symbol& s = symbols_[i];
      if (s.kind == k_function) {
        int label = s.value;
        if (label <= 0 || label >= static_cast<int>(label_state_.size()) || label_state_[label] == 0xDF) continue;
        if (auto e = find_exported_function(name_of(i))) {
          std::uint32_t link = label_value_[label];
          while (emitting_ && link != 0) {
            std::uint32_t next = read32(link);
            patch32(link, e->address);
            link = next;
          }
        } else {
          error_text(std::string(name_of(i)) + platform::cp932(" 関数は定義されていません。") + "\n");
          linked = false;
        }
      } else if (s.kind == k_goto_label) {
        error_text(std::string(name_of(i)) + platform::cp932(" ラベルは定義されていません。") + "\n");
        linked = false;
      }
    }
    ok = linked;
    if (ok) {
      unsigned lines = files_.empty() ? 0u : static_cast<unsigned>(files_.front().line - 1);
      result_.lines = lines;
      listing("\n;==================================================\n");
      listing("; Compiled %u lines.\n", lines);
      listing("; Total internal labels  : %u.\n", static_cast<unsigned>(label_value_.size() - 1));
      listing("; Total program size : %u bytes.\n", pc_);
      listing("; Total data size : %u bytes.\n", data_size_);
      listing("; Total external data size : %u bytes.\n\n", extern_size_);
    }
  }
  result_.ok = ok;
  result_.code_size = pc_;
  result_.source_map.code_end = options_.image_base + pc_;
  if (!emitting_) result_.source_map = {};
  result_.data_size = data_size_;
  result_.extern_size = extern_size_;
  result_.labels = static_cast<std::uint32_t>(label_value_.empty() ? 0 : label_value_.size() - 1);
  files_.clear();
  text_.clear();
  text_.shrink_to_fit();
  if (options_.report_errors && !result_.error_text.empty())
    vm::report(1, "%s", result_.error_text.c_str());
  return ok;
}

CompileResult compile(std::string_view source_name, const CompileOptions& options) {
  CompileResult result;
  auto compiler = std::make_unique<Compiler>(options, result);
  compiler->run(source_name);
  return result;
}

ProgramImage compile_image(std::string_view source_name, std::uint32_t program_size, const CompileOptions& options) {
  ProgramImage image;
  std::uint32_t size = program_size;
  if (size == 0) {
    CompileOptions sizing = options;
    sizing.image_base = 0;
    sizing.capacity = 0;
    sizing.listing = nullptr;
    image.result = compile(source_name, sizing);
    if (!image.result.ok) return image;
    std::uint64_t total = std::uint64_t(image.result.code_size) + image.result.data_size;
    if (total > 0xFFFFFFF0u) return image;
    size = static_cast<std::uint32_t>(total);
  }
  vm::Address base = vm::script_alloc_zeroed(size + 4);
  if (base == 0) {
    image.result = CompileResult{};
    image.result.error_code = 1;
    image.result.error_message = error_message(kOutOfMemory);
    image.result.error_text = std::string(source_name) + " : " + error_message(kOutOfMemory);
    if (options.report_errors) vm::report(1, "%s", image.result.error_text.c_str());
    return image;
  }
  CompileOptions emit = options;
  emit.image_base = base;
  emit.capacity = size;
  image.result = compile(source_name, emit);
  if (!image.result.ok) {
    forget_exported_functions(base, size);
    vm::script_free(base);
    return image;
  }
  std::uint32_t one = 1;
  std::memcpy(vm::host_pointer(base + size), &one, 4);
  // The block may have held code that an interpreter decoded before it was freed.
  vm::note_code_write(base, size + 4);
  image.base = base;
  image.size = size;
  return image;
}

// Exported by the function-definition code.
bool record_export(std::string_view name, std::int32_t type, vm::Address address) {
  return export_function(name, type, address);
}

}  // namespace talven::compiler
