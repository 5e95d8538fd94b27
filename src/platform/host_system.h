// Services of the running system that scripts may query or use: the system's version and display,
// starting other programs, the text clipboard and native libraries.
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

// The primary display's desktop mode. Without a display: a nominal 1920 x 1080 x 32.
struct DisplayMode {
  int width = 1920, height = 1080, bits_per_pixel = 32;
};
DisplayMode primary_display_mode();

// Starts `/bin/sh -c command_line` detached (never waited for, never left as a zombie).
// False when the process could not be started.
bool start_shell_command(const std::string& command_line);
// Hands a file, folder or URL to the desktop's opener (xdg-open), detached. False when it could
// not be started.
bool open_with_desktop(const std::string& target);

// The text clipboard in UTF-8. With a display it is the desktop's clipboard; headless (or when the
// display has none) it is a clipboard private to this process.
bool clipboard_set_text(const std::string& utf8);
// Nothing when the clipboard holds no text.
std::optional<std::string> clipboard_text();

// Native libraries.
void* library_open(const std::string& path_or_name);  // nullptr on failure
void* main_program_handle();  // the running program itself, as a library handle
void library_close(void* library);
void* library_symbol(void* library, const std::string& name);  // nullptr when not exported

}  // namespace talven::platform
