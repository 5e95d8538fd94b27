// The script compiler: C-like script source to a program image for the script machine.
//
// A compile is one pass over the source. With no image (base 0) it only counts code and data
// bytes (the sizing pass); with an image it writes the code from offset 0 upward and the data from
// the end downward, every address absolute (image base plus offset).
#pragma once
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "vm/script_memory.h"
#include "vm/source_map.h"

namespace talven::compiler {

// Reads a whole source file named by a cp932 path into `text`.
enum class SourceStatus { ok, open_failed, read_failed };
using SourceReader = std::function<SourceStatus(const std::string& cp932_path, std::string& text)>;

struct CompileOptions {
  vm::Address image_base = 0;  // 0: sizing pass, nothing is written
  std::uint32_t capacity = 0;  // image bytes available for code + data
  vm::Address heap_base = 0;   // where `extern` variables live (0: addresses from 0, nothing written)
  std::uint32_t heap_size = 0;
  std::string script_dir;  // cp932 prefix of every source path, with its trailing separator
  SourceReader reader;     // how sources are read (the engine reads them as data files); none: no source opens
  std::string* listing = nullptr;  // compile listing text goes here when set
  bool echo_source = false;        // source lines in the listing
  bool report_errors = true;       // hand the error text to the error reporter
};

// The fatal compile errors. The number is part of the error text's contract (CompileResult carries
// it) and indexes the message table.
enum CompileError : int {
  kInternalError = 0,      // a label out of range or defined twice
  kOutOfMemory = 1,
  kOpenFailed = 2,         // a source file cannot be opened
  kReadFailed = 3,
  kBadDirective = 4,
  kBadIncludeName = 5,     // #include without a quoted name
  kIncludeTooDeep = 6,
  kMacroTooDeep = 7,       // a 17th nested macro expansion
  kBadDeclaration = 8,
  kBadExpression = 9,
  kDivisionByZero = 10,    // a constant / or % by zero
  kConstantMissing = 11,
  kSyntaxError = 12,
  kVariableMissing = 13,   // &, ++, -- or assignment on something that is not a place
  kWrongType = 14,
  kUndefinedName = 15,
  kStringAcrossLines = 16,
  kQuoteMissing = 17,
  kTooManyGlobals = 18,
  kTooManyLocals = 19,
  kSymbolBufferFull = 20,  // the text pool or the argument pool
  kLineTooLong = 21,
  kWorkAreaFull = 22,      // the node heap, or nesting deeper than the compiler's work area
  kProgramAreaFull = 23,   // code plus data exceed the program image
  kEndOfInput = 24,        // inside a declaration or function; at the top level the normal end
  kCompileErrorCount
};

struct CompileResult {
  bool ok = false;
  std::uint32_t code_size = 0;
  std::uint32_t data_size = 0;
  std::uint32_t extern_size = 0;
  std::uint32_t lines = 0;   // lines of the main file
  std::uint32_t labels = 0;  // internal labels used
  // The compile error text (cp932) as the reporter shows it: fatal message with the source line and
  // its "??" marker, missing-token messages, link messages.
  std::string error_text;
  // The fatal error, when there was one.
  int error_code = -1;
  std::string error_file;  // cp932
  int error_line = 0;
  std::string error_message;  // cp932
  // Emitting pass only: the file, line and function of every code address.
  vm::SourceMap source_map;
};

CompileResult compile(std::string_view source_name, const CompileOptions& options);

// The fatal error texts, by code (cp932).
const char* error_message(int code);

// Functions that `extern` definitions exported; they outlive a compile.
struct ExportedFunction {
  char name[32];
  std::int32_t type;
  vm::Address address;
};
void clear_exported_functions();
// Drops the entries whose address lies in [base, base + size), for an image that is freed.
void forget_exported_functions(vm::Address base, std::uint32_t size);
std::optional<ExportedFunction> find_exported_function(std::string_view name);

// A compiled program image in script memory: `size` bytes plus the 32-bit reference count (1).
struct ProgramImage {
  vm::Address base = 0;
  std::uint32_t size = 0;
  CompileResult result;
};
// Compiles as the engine loads a program: the sizing pass when program_size is 0, then the
// emitting pass into a new zero-filled image. base is 0 on failure.
ProgramImage compile_image(std::string_view source_name, std::uint32_t program_size, const CompileOptions& options);

}  // namespace talven::compiler
