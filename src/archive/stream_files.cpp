// fopen ... fputs: C streams on plain files for scripts.
//
// Games were written against the Windows C library, so text mode behaves as it did there: CR LF
// reads as LF, LF is written as CR LF, and reading stops at a Ctrl-Z. Streams are always opened in
// binary mode underneath and translated here, so the behaviour does not depend on the host's C
// library. Handles are indexes into a fixed table, never host pointers.
#include <cstdio>
#include <mutex>
#include <optional>
#include <string>

#include "archive/file_builtins.h"
#include "platform/files.h"
#include "platform/game_paths.h"
#include "vm/call_gate.h"

namespace talven::archive {
namespace {

enum class Direction { none, reading, writing };

struct Stream {
  std::FILE* file = nullptr;
  bool text = false;
  Direction last = Direction::none;
};

// The C library wants a seek between reading and writing an update stream and leaves a missing
// one undefined; scripts rarely knew, so the stream takes that step itself.
void turn_to(Stream& s, Direction direction) {
  if (s.last != Direction::none && s.last != direction) std::fseek(s.file, 0, SEEK_CUR);
  s.last = direction;
}

std::mutex g_mutex;
Stream g_streams[kStreamSlots];

// The stream behind a script handle, or null. Callers hold g_mutex.
Stream* stream_of(std::uint32_t handle) {
  if (handle < 1 || handle > kStreamSlots) return nullptr;
  Stream* s = &g_streams[handle - 1];
  return s->file ? s : nullptr;
}

struct OpenMode {
  std::string host_mode;  // always binary
  bool text = true;
};

// The mode letters the Windows C library accepts: r, w or a, then + b t, and the hints c n N S R
// that change nothing here. Anything else (temporary-file flags, encodings) is refused.
std::optional<OpenMode> parse_mode(std::string_view mode) {
  while (!mode.empty() && mode.front() == ' ') mode.remove_prefix(1);
  if (mode.empty() || (mode[0] != 'r' && mode[0] != 'w' && mode[0] != 'a')) return std::nullopt;
  OpenMode result;
  bool update = false, binary = false, text = false;
  for (char c : mode.substr(1)) {
    switch (c) {
      case '+':
        if (update) return std::nullopt;
        update = true;
        break;
      case 'b':
      case 't':
        if (binary || text) return std::nullopt;
        (c == 'b' ? binary : text) = true;
        break;
      case 'c': case 'n': case 'N': case 'S': case 'R': case ' ':
        break;
      default:
        return std::nullopt;
    }
  }
  result.host_mode = std::string(1, mode[0]) + (update ? "+b" : "b");
  result.text = !binary;
  return result;
}

// In text mode a Ctrl-Z ends the file for reading, as it did for DOS-era text files.
constexpr int kEndOfText = 0x1A;

// One byte in the stream's mode; EOF at the end or on error.
int read_char(Stream& s) {
  turn_to(s, Direction::reading);
  int c = std::getc(s.file);
  if (!s.text) return c;
  if (c == kEndOfText) {
    // Stays unread, so every later read ends there too.
    std::ungetc(c, s.file);
    return EOF;
  }
  if (c == '\r') {
    int next = std::getc(s.file);
    if (next == '\n') return '\n';
    if (next != EOF) std::ungetc(next, s.file);
  }
  return c;
}

// Reads up to `count` bytes; the number read.
std::size_t read_bytes(Stream& s, std::uint8_t* out, std::size_t count) {
  turn_to(s, Direction::reading);
  if (!s.text) return std::fread(out, 1, count, s.file);
  std::size_t got = 0;
  while (got < count) {
    int c = read_char(s);
    if (c == EOF) break;
    out[got++] = static_cast<std::uint8_t>(c);
  }
  return got;
}

// Writes up to `count` bytes; the number of source bytes written.
std::size_t write_bytes(Stream& s, const std::uint8_t* in, std::size_t count) {
  turn_to(s, Direction::writing);
  if (!s.text) return std::fwrite(in, 1, count, s.file);
  for (std::size_t i = 0; i < count; ++i) {
    if (in[i] == '\n' && std::putc('\r', s.file) == EOF) return i;
    if (std::putc(in[i], s.file) == EOF) return i;
  }
  return count;
}

constexpr std::uint32_t kFailed = static_cast<std::uint32_t>(-1);

}  // namespace

std::uint32_t bi_fopen(vm::Address arguments) {
  auto name = vm::load_string(vm::argument_word(arguments, 0));
  auto mode_text = vm::load_string(vm::argument_word(arguments, 1));
  if (!name || !mode_text || name->empty()) return 0;
  std::optional<OpenMode> mode = parse_mode(*mode_text);
  if (!mode) return 0;
  std::string host_path = platform::resolve_game_path(*name);
  // The C library on Linux opens a directory for reading; the engine's never did.
  if (platform::is_directory(host_path)) return 0;

  std::lock_guard lock(g_mutex);
  for (int i = 0; i < kStreamSlots; ++i) {
    if (g_streams[i].file != nullptr) continue;
    std::FILE* file = platform::open_c_stream(host_path, mode->host_mode.c_str());
    if (file == nullptr) return 0;
    g_streams[i] = {file, mode->text, Direction::none};
    return static_cast<std::uint32_t>(i + 1);
  }
  return 0;
}

std::uint32_t bi_fclose(vm::Address arguments) {
  std::lock_guard lock(g_mutex);
  Stream* s = stream_of(vm::argument_word(arguments, 0));
  if (s == nullptr) return kFailed;
  int result = std::fclose(s->file);
  *s = Stream();
  return result == 0 ? 0 : kFailed;
}

std::uint32_t bi_fread(vm::Address arguments) {
  vm::Address buffer = vm::argument_word(arguments, 0);
  std::uint64_t size = vm::argument_word(arguments, 1);
  std::uint64_t count = vm::argument_word(arguments, 2);
  std::lock_guard lock(g_mutex);
  Stream* s = stream_of(vm::argument_word(arguments, 3));
  if (s == nullptr || size == 0 || count == 0) return 0;
  std::uint8_t* out = vm::checked_pointer(buffer, size * count);
  if (out == nullptr) return 0;
  return static_cast<std::uint32_t>(read_bytes(*s, out, size * count) / size);
}

std::uint32_t bi_fwrite(vm::Address arguments) {
  vm::Address buffer = vm::argument_word(arguments, 0);
  std::uint64_t size = vm::argument_word(arguments, 1);
  std::uint64_t count = vm::argument_word(arguments, 2);
  std::lock_guard lock(g_mutex);
  Stream* s = stream_of(vm::argument_word(arguments, 3));
  if (s == nullptr || size == 0 || count == 0) return 0;
  const std::uint8_t* in = vm::checked_pointer(buffer, size * count);
  if (in == nullptr) return 0;
  return static_cast<std::uint32_t>(write_bytes(*s, in, size * count) / size);
}

std::uint32_t bi_fseek(vm::Address arguments) {
  std::int32_t offset = vm::argument_int(arguments, 1);
  std::int32_t origin = vm::argument_int(arguments, 2);
  std::lock_guard lock(g_mutex);
  Stream* s = stream_of(vm::argument_word(arguments, 0));
  if (s == nullptr || origin < 0 || origin > 2) return kFailed;
  static constexpr int kOrigins[] = {SEEK_SET, SEEK_CUR, SEEK_END};
  if (std::fseek(s->file, offset, kOrigins[origin]) != 0) return kFailed;
  s->last = Direction::none;
  return 0;
}

std::uint32_t bi_ftell(vm::Address arguments) {
  std::lock_guard lock(g_mutex);
  Stream* s = stream_of(vm::argument_word(arguments, 0));
  if (s == nullptr) return kFailed;
  long position = std::ftell(s->file);
  // A 32-bit position, as the script's long is.
  if (position < 0 || position > 0x7FFFFFFF) return kFailed;
  return static_cast<std::uint32_t>(position);
}

std::uint32_t bi_fgets(vm::Address arguments) {
  vm::Address buffer = vm::argument_word(arguments, 0);
  std::int32_t size = vm::argument_int(arguments, 1);
  std::lock_guard lock(g_mutex);
  Stream* s = stream_of(vm::argument_word(arguments, 2));
  if (s == nullptr || size < 1) return 0;
  std::uint8_t* out = vm::checked_pointer(buffer, static_cast<std::uint32_t>(size));
  if (out == nullptr) return 0;
  std::size_t got = 0;
  while (got + 1 < static_cast<std::size_t>(size)) {
    int c = read_char(*s);
    if (c == EOF) {
      // Nothing read, or a read error: the buffer's contents are not the caller's line.
      if (got == 0 || std::ferror(s->file)) return 0;
      break;
    }
    out[got++] = static_cast<std::uint8_t>(c);
    if (c == '\n') break;
  }
  out[got] = 0;
  return buffer;
}

std::uint32_t bi_fputs(vm::Address arguments) {
  auto text = vm::load_string(vm::argument_word(arguments, 0));
  std::lock_guard lock(g_mutex);
  Stream* s = stream_of(vm::argument_word(arguments, 1));
  if (s == nullptr || !text) return kFailed;
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(text->data());
  return write_bytes(*s, bytes, text->size()) == text->size() ? 0 : kFailed;
}

void close_all_streams() {
  std::lock_guard lock(g_mutex);
  for (Stream& s : g_streams) {
    if (s.file != nullptr) std::fclose(s.file);
    s = Stream();
  }
}

}  // namespace talven::archive
