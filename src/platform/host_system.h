// Services of the running system that scripts may query or use: the system's version and display,
// starting other programs and native libraries (the display and the clipboard are devices: devices.h).
#pragma once
#include <cstdint>
#include <optional>
#include <string>

namespace talven::platform {

// The kernel's version from its release text ("6.1.0-18-amd64" gives 6, 1, 0).
struct SystemVersion {
  std::uint32_t major = 0, minor = 0, build = 0;
};
SystemVersion system_version();

// Starts `/bin/sh -c command_line` detached (never waited for, never left as a zombie).
// False when the process could not be started.
bool start_shell_command(const std::string& command_line);
// Hands a file, folder or URL to the desktop's opener (xdg-open), detached. False when it could
// not be started.
bool open_with_desktop(const std::string& target);

// Native libraries.
void* library_open(const std::string& path_or_name);  // nullptr on failure
void* main_program_handle();  // the running program itself, as a library handle
void library_close(void* library);
void* library_symbol(void* library, const std::string& name);  // nullptr when not exported

}  // namespace talven::platform
