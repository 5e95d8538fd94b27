// Source reading, directives, macro expansion and tokens.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "compiler/compiler_internal.h"

namespace talven::compiler {
namespace {

constexpr std::uint8_t c_space = 0x01, c_digit = 0x02, c_hex = 0x04, c_lower = 0x08, c_upper = 0x10,
                       c_ident = 0x20, c_lead = 0x80;
constexpr std::uint8_t f_in_args = 16;

struct CharClasses {
  std::uint8_t table[256] = {};
  CharClasses() {
    for (int c : {' ', '\t', '\n', '\r'}) table[c] |= c_space;
    for (int c = '0'; c <= '9'; ++c) table[c] |= c_digit | c_hex;
    for (int c = 'a'; c <= 'f'; ++c) table[c] |= c_hex;
    for (int c = 'A'; c <= 'F'; ++c) table[c] |= c_hex;
    for (int c = 'a'; c <= 'z'; ++c) table[c] |= c_lower | c_ident;
    for (int c = 'A'; c <= 'Z'; ++c) table[c] |= c_upper | c_ident;
    table[static_cast<int>('_')] |= c_ident;
    for (int c = 0x81; c <= 0x9F; ++c) table[c] |= c_lead;
    for (int c = 0xE0; c <= 0xFC; ++c) table[c] |= c_lead;
  }
};
const CharClasses kClasses;

inline std::uint8_t cls(int c) { return kClasses.table[c & 0xFF]; }
inline bool ident_start(int c) { return cls(c) & (c_ident | c_lead); }
inline bool ident_char(int c) { return cls(c) & (c_ident | c_digit | c_lead); }
inline bool is_lead(int c) { return cls(c) & c_lead; }
inline int lower(int c) { return (c >= 'A' && c <= 'Z') ? c + 32 : c; }

bool same_name_nocase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    int x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
    if (lower(x) != lower(y)) return false;
    if (is_lead(x)) {
      ++i;
      if (i < a.size() && a[i] != b[i]) return false;
    }
  }
  return true;
}

// Reads an identifier starting at p; returns its end.
const char* scan_identifier(const char* p) {
  while (*p && ident_char(static_cast<unsigned char>(*p))) {
    if (is_lead(static_cast<unsigned char>(*p)) && p[1]) ++p;
    ++p;
  }
  return p;
}

}  // namespace

// ---- characters --------------------------------------------------------------------------------

void Compiler::open_frame(const char* text, bool restore_char) {
  if (depth_ >= kFrames) fail(kMacroTooDeep);
  frames_[depth_++] = Frame{rp_, ch_, restore_char, args_top_};
  rp_ = text;
}

void Compiler::next_char() {
  for (;;) {
    if (*rp_ == 0) {
      if (depth_ > 0) {
        const Frame& f = frames_[--depth_];
        rp_ = f.resume;
        args_top_ = f.saved_args;
        if (f.restore_char) {
          ch_ = f.saved_char;
          return;
        }
        continue;
      }
      read_line();
      continue;
    }
    if (depth_ > 0 && rp_[0] == '#' && rp_[1] == '#' && ident_start(static_cast<unsigned char>(rp_[2]))) {
      const char* start = rp_ + 2;
      const char* end = scan_identifier(start);
      int sym = global_lookup(start, static_cast<std::size_t>(end - start), false);
      if (sym >= 0 && symbols_[sym].kind == k_macro) {
        if (flags_[sym] & f_function_like) fail(kBadDirective);
        const char* after = end;
        if (after[0] == '#' && after[1] == '#') after += 2;
        if (depth_ >= kFrames) fail(kMacroTooDeep);
        frames_[depth_++] = Frame{after, 0, false, args_top_};
        const char* body = (flags_[sym] & f_in_args) ? &args_[symbols_[sym].value]
                                                     : reinterpret_cast<const char*>(&text_[symbols_[sym].value]);
        rp_ = body;
        continue;
      }
    }
    ch_ = static_cast<unsigned char>(*rp_++);
    return;
  }
}

void Compiler::push_file(const std::string& name) {
  if (files_.size() >= kFiles) fail(kIncludeTooDeep);
  std::string path = options_.script_dir + name;
  if (path.size() > kPathLimit) fail(kSymbolBufferFull);
  if (include_list_.size() + name.size() + 2 > kIncludeList) fail(kSymbolBufferFull);
  include_list_ += name;
  include_list_ += '\0';
  // The record is pushed before the file is opened, so that an open or read failure names the
  // file it could not open ("path(0) : ...").
  SourceFile f;
  f.path = path;
  files_.push_back(std::move(f));
  std::string text;
  SourceStatus status = options_.reader ? options_.reader(path, text) : SourceStatus::open_failed;
  if (status == SourceStatus::open_failed) fail(kOpenFailed);
  if (status == SourceStatus::read_failed) fail(kReadFailed);
  files_.back().text = std::move(text);
  files_.back().text += '\n';
}

void Compiler::include_directive(const char* p) {
  if (files_.size() >= kFiles) fail(kIncludeTooDeep);
  while (*p == ' ' || *p == '\t') ++p;
  if (*p != '"') fail(kBadIncludeName);
  ++p;
  std::string name;
  while (*p != '"') {
    if (*p == '\n' || *p == 0) fail(kBadIncludeName);
    if (is_lead(static_cast<unsigned char>(*p)) && p[1] != '\n' && p[1] != 0) name += *p++;
    name += *p++;
  }
  if (name.size() > kPathLimit) fail(kSymbolBufferFull);
  for (std::size_t at = 0; at < include_list_.size();) {
    std::size_t end = include_list_.find('\0', at);
    if (same_name_nocase(std::string_view(include_list_).substr(at, end - at), name)) return;
    at = end + 1;
  }
  push_file(name);
}

void Compiler::read_line() {
  for (;;) {
    while (files_.back().pos >= files_.back().text.size() && files_.size() > 1) files_.pop_back();
    SourceFile& f = files_.back();
    f.line++;
    if (f.pos >= f.text.size()) {
      line_[0] = 0;
      rp_ = line_.data();
      fail(kEndOfInput);
    }
    int n = 0;
    while (f.pos < f.text.size()) {
      char c = f.text[f.pos++];
      if (c == '\r') continue;
      if (c == '\n') break;
      if (n >= kLineBuffer - 2) fail(kLineTooLong);
      line_[n++] = c;
      if (is_lead(static_cast<unsigned char>(c)) && f.pos < f.text.size()) {
        char t = f.text[f.pos++];
        if (t == '\n') {  // a lead byte takes the next byte, whatever it is
          if (n >= kLineBuffer - 2) fail(kLineTooLong);
          line_[n++] = t;
          continue;
        }
        if (n >= kLineBuffer - 2) fail(kLineTooLong);
        line_[n++] = t;
      }
    }
    line_[n] = '\n';
    line_[n + 1] = 0;
    rp_ = line_.data();

    if (in_asm_) {
      if (std::strncmp(line_.data(), "#endasm", 7) == 0) {
        in_asm_ = false;
        rp_ = line_.data() + 7;
        return;
      }
      if (std::strncmp(line_.data(), "#asm", 4) == 0) fail(kBadDirective);
      listing("%.*s\n", n, line_.data());
      continue;
    }
    if (comment_depth_ > 0) return;
    if (line_[0] != '#') {
      if (options_.echo_source) listing("*\t%.*s\n", n, line_.data());
      return;
    }
    if (!directive()) return;
  }
}

// A directive line; returns false when the rest of the line is to be read as source.
bool Compiler::directive() {
  const char* p = line_.data() + 1;
  if (std::strncmp(p, "define", 6) == 0) {
    define_directive(p + 6);
    return true;
  }
  if (std::strncmp(p, "include", 7) == 0) {
    include_directive(p + 7);
    return true;
  }
  if (std::strncmp(p, "trap", 4) == 0) {
    pending_trap_ = trap_counter_++;
    rp_ = p + 4;
    return false;
  }
  if (std::strncmp(p, "asm", 3) == 0) {
    in_asm_ = true;
    return true;
  }
  if (std::strncmp(p, "endasm", 6) == 0) fail(kBadDirective);
  if (*p == ' ') return true;
  fail(kBadDirective);
}

void Compiler::define_directive(const char* p) {
  while (*p == ' ' || *p == '\t') ++p;
  if (!ident_start(static_cast<unsigned char>(*p))) fail(kBadDirective);
  const char* end = scan_identifier(p);
  std::string name(p, end);
  if (name.size() > kLineBuffer) fail(kBadDirective);
  int sym = global_lookup(name.data(), name.size(), true);
  if (symbols_[sym].kind != k_new) fail(kBadDirective);
  if (*end != '(') {
    std::size_t n = std::strlen(end);  // to and including the line feed
    symbols_[sym].value = static_cast<std::int32_t>(pool_add(end, n, true));
    symbols_[sym].type = 0;
    symbols_[sym].kind = k_macro;
    return;
  }
  // Parameters.
  std::vector<std::string> params;
  p = end + 1;
  for (;;) {
    while (*p == ' ' || *p == '\t' || *p == ',') ++p;
    if (*p == ')') {
      ++p;
      break;
    }
    if (!ident_start(static_cast<unsigned char>(*p))) fail(kSyntaxError);
    const char* e = scan_identifier(p);
    if (static_cast<int>(params.size()) >= kMacroParams) fail(kSymbolBufferFull);
    params.emplace_back(p, e);
    pool_add(p, static_cast<std::size_t>(e - p), true);
    p = e;
  }
  // The body, parameters replaced by their macro names, continued over backslash-newline.
  std::string body;
  for (;;) {
    if (*p == 0) break;
    if (*p == '\\' && p[1] == '\n') {
      // continuation: the next source line, never a directive
      SourceFile& f = files_.back();
      if (f.pos >= f.text.size()) break;
      f.line++;
      int n = 0;
      while (f.pos < f.text.size()) {
        char c = f.text[f.pos++];
        if (c == '\r') continue;
        if (c == '\n') break;
        if (n >= kLineBuffer - 2) fail(kLineTooLong);
        line_[n++] = c;
      }
      line_[n] = '\n';
      line_[n + 1] = 0;
      p = line_.data();
      rp_ = p;
      continue;
    }
    unsigned char c = static_cast<unsigned char>(*p);
    if (c == '\n') break;
    if (cls(c) & c_digit) {
      while (ident_char(static_cast<unsigned char>(*p))) body += *p++;
      continue;
    }
    if (ident_start(c)) {
      const char* e = scan_identifier(p);
      std::string_view word(p, static_cast<std::size_t>(e - p));
      bool replaced = false;
      for (std::size_t i = 0; i < params.size(); ++i) {
        if (same_name_nocase(word, params[i])) {
          body += name + "_" + std::to_string(i);
          replaced = true;
          break;
        }
      }
      if (!replaced) body.append(word);
      p = e;
      continue;
    }
    if (is_lead(c) && p[1] && p[1] != '\n') body += *p++;
    body += *p++;
  }
  body += '\n';
  for (std::size_t i = 0; i < params.size(); ++i) {
    std::string pname = name + "_" + std::to_string(i);
    int ps = global_lookup(pname.data(), pname.size(), true);
    symbols_[ps].kind = k_macro;
    symbols_[ps].type = 0;
    symbols_[ps].value = static_cast<std::int32_t>(pool_add("", 0, true));
    flags_[ps] &= static_cast<std::uint8_t>(~(f_in_args | f_function_like));
  }
  symbols_[sym].value = static_cast<std::int32_t>(pool_add(body.data(), body.size(), true));
  symbols_[sym].type = static_cast<std::int32_t>(params.size());
  symbols_[sym].kind = k_macro;
  flags_[sym] |= f_function_like;
  rp_ = line_.data() + std::strlen(line_.data());  // the rest of the line is discarded
}

void Compiler::expand_macro(int sym) {
  if (depth_ >= kFrames) fail(kMacroTooDeep);
  if (flags_[sym] & f_function_like) {
    int count = symbols_[sym].type;
    std::string name = name_of(sym);
    skip_white();
    bool paren = ch_ == '(';
    if (paren) next_char();
    int close = paren ? ')' : ';';
    std::vector<std::string> values(static_cast<std::size_t>(count));
    bool closed = false;
    for (int i = 0; i < count && !closed; ++i) {
      skip_white();
      std::string& v = values[static_cast<std::size_t>(i)];
      int nest = 0;
      for (;;) {
        int c = ch_;
        if (nest == 0 && ((c == ',' && i < count - 1) || c == close)) break;
        if (c == '(') ++nest;
        if (c == ')') --nest;
        if (c == '"' || c == '\'') {  // literals are copied whole
          int quote = c;
          v += static_cast<char>(c);
          next_char();
          while (ch_ != quote && ch_ != '\n') {
            if (ch_ == '\\') {
              v += '\\';
              next_char();
            } else if (is_lead(ch_)) {
              v += static_cast<char>(ch_);
              next_char();
            }
            v += static_cast<char>(ch_);
            next_char();
          }
          if (ch_ == quote) {
            v += static_cast<char>(ch_);
            next_char();
          }
          continue;
        }
        if (ident_start(c)) {
          while (ident_char(ch_)) {
            if (is_lead(ch_)) {
              v += static_cast<char>(ch_);
              next_char();
            }
            v += static_cast<char>(ch_);
            next_char();
          }
          continue;
        }
        v += static_cast<char>(c);
        next_char();
      }
      if (ch_ == ',' && i < count - 1) {
        next_char();
      } else {
        closed = true;
      }
    }
    if (paren) {
      // Anything left before the closing parenthesis (no parameters, or fewer than given) is skipped.
      int nest = 0;
      while (!(ch_ == ')' && nest == 0)) {
        if (ch_ == '(') ++nest;
        if (ch_ == ')') --nest;
        next_char();
      }
      next_char();
    }
    for (int i = 0; i < count; ++i) {
      std::string pname = name + "_" + std::to_string(i);
      int ps = global_lookup(pname.data(), pname.size(), true);
      const std::string& v = values[static_cast<std::size_t>(i)];
      if (args_top_ + v.size() + 1 > kArgPool) fail(kSymbolBufferFull);
      std::memcpy(&args_[args_top_], v.data(), v.size());
      args_[args_top_ + v.size()] = 0;
      symbols_[ps].kind = k_macro;
      symbols_[ps].value = static_cast<std::int32_t>(args_top_);
      flags_[ps] = static_cast<std::uint8_t>((flags_[ps] & ~f_function_like) | f_in_args);
      args_top_ += static_cast<std::uint32_t>(v.size() + 1);
    }
    std::uint32_t saved = args_top_;
    // The arguments belong to this expansion: released when it ends.
    std::uint32_t first = saved;
    for (const std::string& v : values) first -= static_cast<std::uint32_t>(v.size() + 1);
    if (depth_ >= kFrames) fail(kMacroTooDeep);
    frames_[depth_++] = Frame{rp_, ch_, true, first};
  } else {
    frames_[depth_++] = Frame{rp_, ch_, true, args_top_};
  }
  const char* body = (flags_[sym] & f_in_args) ? &args_[symbols_[sym].value]
                                               : reinterpret_cast<const char*>(&text_[symbols_[sym].value]);
  rp_ = body;
  next_char();
}

// ---- tokens ------------------------------------------------------------------------------------

void Compiler::skip_white() {
  while (cls(ch_) & c_space) next_char();
}

bool Compiler::at_label_colon() {
  skip_white();
  return ch_ == ':';
}

void Compiler::read_identifier() {
  ident_.clear();
  while (ident_char(ch_)) {
    if (ident_.size() >= kLineBuffer - 2) break;
    if (is_lead(ch_)) {
      ident_ += static_cast<char>(ch_);
      next_char();
    }
    ident_ += static_cast<char>(ch_);
    next_char();
  }
}

void Compiler::read_number() {
  std::uint32_t v = 0;
  tok_float_ = false;
  if (ch_ == '0') {
    next_char();
    if (ch_ == 'x' || ch_ == 'X') {
      next_char();
      while (cls(ch_) & c_hex) {
        int d = (cls(ch_) & c_digit) ? ch_ - '0' : lower(ch_) - 'a' + 10;
        v = v * 16 + static_cast<std::uint32_t>(d);
        next_char();
      }
      tok_value_ = static_cast<std::int32_t>(v);
      return;
    }
    if (ch_ == 'b' || ch_ == 'B') {
      next_char();
      while (ch_ == '0' || ch_ == '1') {
        v = v * 2 + static_cast<std::uint32_t>(ch_ - '0');
        next_char();
      }
      tok_value_ = static_cast<std::int32_t>(v);
      return;
    }
  }
  while (cls(ch_) & c_digit) {
    v = v * 10 + static_cast<std::uint32_t>(ch_ - '0');
    next_char();
  }
  float f = 0;
  if (ch_ == '.') {
    next_char();
    char text[64];
    int n = std::snprintf(text, sizeof text, "%d.", static_cast<std::int32_t>(v));
    std::string s(text, static_cast<std::size_t>(n));
    while (cls(ch_) & c_digit) {
      if (s.size() < 200) s += static_cast<char>(ch_);
      next_char();
    }
    f = std::strtof(s.c_str(), nullptr);
    tok_float_ = true;
  }
  if (ch_ == 'f' || ch_ == 'F') {
    next_char();
    if (!tok_float_) f = static_cast<float>(static_cast<std::int32_t>(v));
    tok_float_ = true;
  }
  if (tok_float_) {
    std::memcpy(&tok_value_, &f, 4);
  } else {
    tok_value_ = static_cast<std::int32_t>(v);
  }
}

// ch_ is the character after the backslash; leaves ch_ after the sequence.
int Compiler::read_escape() {
  int c = ch_;
  switch (c) {
    case 'n': next_char(); return 10;
    case 't': next_char(); return 9;
    case 'r': next_char(); return 13;
    case 'b': next_char(); return 8;
    case 'f': next_char(); return 12;
    case 'x': {
      next_char();
      int v = 0;
      for (int i = 0; i < 2 && (cls(ch_) & c_hex); ++i) {
        v = v * 16 + ((cls(ch_) & c_digit) ? ch_ - '0' : lower(ch_) - 'a' + 10);
        next_char();
      }
      return v;
    }
    case '0': {
      next_char();
      int v = 0;
      for (int i = 0; i < 2 && ch_ >= '0' && ch_ <= '7'; ++i) {
        v = v * 8 + (ch_ - '0');
        next_char();
      }
      return v & 0xFF;
    }
    default:
      break;
  }
  if (c >= '1' && c <= '9') {
    int v = 0;
    for (int i = 0; i < 3 && (cls(ch_) & c_digit); ++i) {
      v = v * 10 + (ch_ - '0');
      next_char();
    }
    return v & 0xFF;
  }
  next_char();
  return c;
}

void Compiler::read_string() {
  std::string bytes;
  next_char();
  while (ch_ != '"') {
    if (ch_ == '\n') fail(kStringAcrossLines);
    if (ch_ == '\\') {
      next_char();
      if (ch_ == '\n') {
        next_char();
        continue;
      }
      bytes += static_cast<char>(read_escape());
      continue;
    }
    if (is_lead(ch_)) {
      bytes += static_cast<char>(ch_);
      next_char();
    }
    bytes += static_cast<char>(ch_);
    next_char();
  }
  next_char();
  tok_str_ = pool_add(bytes.data(), bytes.size(), true);
  tok_len_ = static_cast<std::uint32_t>(bytes.size() + 1);
}

int Compiler::next_token() {
  tok_ = lex();
  return tok_;
}

int Compiler::lex() {
  for (;;) {
    skip_white();
    int c = ch_;
    if (ident_start(c)) {
      read_identifier();
      int g = global_lookup(ident_.data(), ident_.size(), true);
      const Symbol& s = symbols_[g];
      if (s.kind == k_keyword) return s.value;
      if (s.kind == k_macro) {
        expand_macro(g);
        continue;
      }
      tok_gsym_ = g;
      tok_sym_ = g;
      if (in_function_) {
        int l = local_lookup(ident_.data(), ident_.size(), false);
        if (l >= 0 && symbols_[l].kind != k_new) tok_sym_ = l;
      }
      return tk_ident;
    }
    if (cls(c) & c_digit) {
      read_number();
      return tk_number;
    }
    switch (c) {
      case '\'': {
        next_char();
        int v;
        if (ch_ == '\\') {
          next_char();
          v = read_escape();
        } else if (is_lead(ch_)) {
          v = ch_ << 8;
          next_char();
          v |= ch_;
          next_char();
        } else {
          v = ch_;
          next_char();
        }
        if (ch_ != '\'') fail(kQuoteMissing);
        next_char();
        tok_value_ = v;
        tok_float_ = false;
        return tk_number;
      }
      case '"':
        read_string();
        return tk_string;
      case '/':
        next_char();
        if (ch_ == '/') {
          while (ch_ != '\n') next_char();
          continue;
        }
        if (ch_ == '*') {
          comment_depth_ = 1;
          next_char();
          while (comment_depth_ > 0) {
            if (ch_ == '/') {
              next_char();
              if (ch_ == '*') {
                ++comment_depth_;
                next_char();
              }
            } else if (ch_ == '*') {
              next_char();
              if (ch_ == '/') {
                --comment_depth_;
                if (comment_depth_ == 0) {
                  // The closing character is consumed without reading the next line first.
                  next_char();
                  break;
                }
                next_char();
              }
            } else if (is_lead(ch_)) {
              next_char();
              next_char();
            } else {
              next_char();
            }
          }
          continue;
        }
        if (ch_ == '=') { next_char(); return 139; }
        return tk_div;
      case '!': next_char(); if (ch_ == '=') { next_char(); return tk_ne; } return tk_not;
      case '~': next_char(); return tk_bnot;
      case '+': next_char(); if (ch_ == '+') { next_char(); return tk_inc; } if (ch_ == '=') { next_char(); return 143; } return tk_add;
      case '-': next_char(); if (ch_ == '-') { next_char(); return tk_dec; } if (ch_ == '=') { next_char(); return 144; }
        if (ch_ == '>') { next_char(); return tk_arrow; } return tk_sub;
      case '*': next_char(); if (ch_ == '=') { next_char(); return 137; } return tk_mul;
      case '%': next_char(); if (ch_ == '=') { next_char(); return 141; } return tk_mod;
      case '<': next_char();
        if (ch_ == '<') { next_char(); if (ch_ == '=') { next_char(); return 147; } return tk_shl; }
        if (ch_ == '=') { next_char(); return tk_le; } return tk_lt;
      case '>': next_char();
        if (ch_ == '>') { next_char(); if (ch_ == '=') { next_char(); return 145; } return tk_shr; }
        if (ch_ == '=') { next_char(); return tk_ge; } return tk_gt;
      case '=': next_char(); if (ch_ == '=') { next_char(); return tk_eq; } return tk_assign;
      case '&': next_char(); if (ch_ == '&') { next_char(); return tk_land; } if (ch_ == '=') { next_char(); return 163; } return tk_and;
      case '|': next_char(); if (ch_ == '|') { next_char(); return tk_lor; } if (ch_ == '=') { next_char(); return 164; } return tk_or;
      case '^': next_char(); if (ch_ == '=') { next_char(); return 165; } return tk_xor;
      case '?': next_char(); return tk_quest;
      case ',': next_char(); return tk_comma;
      case '(': next_char(); return tk_lparen;
      case ')': next_char(); return tk_rparen;
      case '[': next_char(); return tk_lbracket;
      case ']': next_char(); return tk_rbracket;
      case '{': next_char(); return tk_lbrace;
      case '}': next_char(); return tk_rbrace;
      case ':': next_char(); return tk_colon;
      case ';': next_char(); return tk_semi;
      case '.': next_char(); return tk_dot;
      default: fail(kSyntaxError);
    }
  }
}

// The current source line for the error text: tabs expanded to 4 columns and "??" at the read
// position (or where the outermost macro expansion began).
std::string Compiler::current_line_marked() const {
  const char* line = line_.data();
  const char* at = rp_;
  if (depth_ > 0) at = frames_[0].resume;
  std::size_t length = 0;
  while (length < kLineBuffer && line[length] && line[length] != '\n') ++length;
  std::size_t pos = length + 1;
  if (at >= line && at <= line + length) pos = static_cast<std::size_t>(at - line);
  std::string out;
  std::size_t column = 0;
  bool marked = false;
  for (std::size_t i = 0; i < length; ++i) {
    if (!marked && i >= pos) {
      out += "??";
      marked = true;
    }
    unsigned char c = static_cast<unsigned char>(line[i]);
    if (c == '\t') {
      do {
        out += ' ';
        ++column;
      } while (column % 4 != 0);
      continue;
    }
    out += static_cast<char>(c);
    ++column;
    if (is_lead(c) && i + 1 < length) {
      out += line[++i];
      ++column;
    }
  }
  if (!marked) out += "??";
  return out;
}

}  // namespace talven::compiler
