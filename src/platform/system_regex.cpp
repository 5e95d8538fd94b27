// Oniguruma, which the script library links, also exports the POSIX names regcomp, regexec,
// regfree and regerror. Linked into the executable, its versions would replace the C library's
// for every library loaded later: the OpenGL driver then compiled with one implementation and
// matched with another, and hung. These definitions in the executable come first in symbol look-up
// and hand every caller the C library's own functions.
#include <dlfcn.h>
#include <regex.h>

namespace {

void* c_library_symbol(const char* name) {
  static void* c_library = dlopen("libc.so.6", RTLD_LAZY | RTLD_NOLOAD);
  return c_library ? dlsym(c_library, name) : nullptr;
}

}  // namespace

extern "C" {

int regcomp(regex_t* preg, const char* pattern, int cflags) {
  static auto real = reinterpret_cast<int (*)(regex_t*, const char*, int)>(c_library_symbol("regcomp"));
  return real ? real(preg, pattern, cflags) : REG_ESPACE;
}

int regexec(const regex_t* preg, const char* string, size_t nmatch, regmatch_t pmatch[], int eflags) {
  static auto real =
      reinterpret_cast<int (*)(const regex_t*, const char*, size_t, regmatch_t*, int)>(c_library_symbol("regexec"));
  return real ? real(preg, string, nmatch, pmatch, eflags) : REG_NOMATCH;
}

void regfree(regex_t* preg) {
  static auto real = reinterpret_cast<void (*)(regex_t*)>(c_library_symbol("regfree"));
  if (real) real(preg);
}

size_t regerror(int errcode, const regex_t* preg, char* errbuf, size_t errbuf_size) {
  static auto real =
      reinterpret_cast<size_t (*)(int, const regex_t*, char*, size_t)>(c_library_symbol("regerror"));
  return real ? real(errcode, preg, errbuf, errbuf_size) : 0;
}

}  // extern "C"
