#include "platform/host_system.h"
#include "platform/devices.h"

#include <SDL.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <mutex>

namespace talven::platform {
namespace {

std::uint32_t leading_number(const char*& p) {
  std::uint32_t value = 0;
  while (*p >= '0' && *p <= '9') value = value * 10 + static_cast<std::uint32_t>(*p++ - '0');
  return value;
}

// Runs argv detached: a middle child starts the program and exits at once, so the program is
// adopted by init and never waited for by us.
bool spawn_detached(const char* const argv[]) {
  int pipe_fds[2];
  if (pipe2(pipe_fds, O_CLOEXEC) != 0) return false;
  pid_t middle = fork();
  if (middle < 0) {
    close(pipe_fds[0]);
    close(pipe_fds[1]);
    return false;
  }
  if (middle == 0) {
    pid_t child = fork();
    if (child < 0) _exit(1);
    if (child == 0) {
      setsid();
      execvp(argv[0], const_cast<char* const*>(argv));
      char failed = 1;
      ssize_t ignored = write(pipe_fds[1], &failed, 1);
      (void)ignored;
      _exit(127);
    }
    _exit(0);
  }
  close(pipe_fds[1]);
  int status = 0;
  while (waitpid(middle, &status, 0) < 0 && errno == EINTR) {
  }
  // The pipe closes on a successful exec; a byte means exec failed.
  char failed = 0;
  ssize_t got;
  do {
    got = read(pipe_fds[0], &failed, 1);
  } while (got < 0 && errno == EINTR);
  close(pipe_fds[0]);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 && got == 0;
}

}  // namespace

SystemVersion system_version() {
  SystemVersion v;
  struct utsname name {};
  if (uname(&name) != 0) return v;
  const char* p = name.release;
  v.major = leading_number(p);
  if (*p == '.') v.minor = leading_number(++p);
  if (*p == '.') v.build = leading_number(++p);
  return v;
}

bool start_shell_command(const std::string& command_line) {
  const char* argv[] = {"/bin/sh", "-c", command_line.c_str(), nullptr};
  return spawn_detached(argv);
}

bool open_with_desktop(const std::string& target) {
  const char* argv[] = {"xdg-open", target.c_str(), nullptr};
  return spawn_detached(argv);
}

namespace {

// The desktop's clipboard; the SDL display is open whenever this back end is chosen.
class SdlClipboard final : public Clipboard {
 public:
  bool set_text(const std::string& utf8) override { return SDL_SetClipboardText(utf8.c_str()) == 0; }
  std::optional<std::string> text() override {
    if (SDL_HasClipboardText() != SDL_TRUE) return std::nullopt;
    char* text = SDL_GetClipboardText();
    if (text == nullptr) return std::nullopt;
    std::string result(text);
    SDL_free(text);
    return result;
  }
};

}  // namespace

Clipboard& sdl_clipboard() {
  static SdlClipboard clipboard;
  return clipboard;
}

void* library_open(const std::string& path_or_name) {
  if (path_or_name.empty()) return nullptr;
  return dlopen(path_or_name.c_str(), RTLD_NOW | RTLD_LOCAL);
}

void* main_program_handle() {
  // dlopen(NULL) only counts a reference to the program, which stays loaded anyway.
  static void* const program = dlopen(nullptr, RTLD_NOW);
  return program;
}

void library_close(void* library) {
  if (library != nullptr) dlclose(library);
}

void* library_symbol(void* library, const std::string& name) {
  if (library == nullptr) return nullptr;
  return dlsym(library, name.c_str());
}

}  // namespace talven::platform
