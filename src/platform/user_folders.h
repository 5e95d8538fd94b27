// The user's special folders, found the way the desktop does (XDG user directories).
#pragma once
#include <optional>
#include <string>
#include <string_view>

namespace talven::platform {

// The user's documents folder as a host path (UTF-8, no trailing `/`): XDG_DOCUMENTS_DIR from
// user-dirs.dirs in $XDG_CONFIG_HOME (or ~/.config), with $HOME expanded; $HOME/Documents when the
// file does not name one. Nothing when HOME is unset or empty. The folder may not exist yet.
std::optional<std::string> documents_folder();

// Any XDG user directory by its user-dirs.dirs kind ("DESKTOP", "MUSIC", ...), falling back to
// $HOME/`fallback` ($HOME itself when `fallback` is empty). Nothing when HOME is unset or empty.
std::optional<std::string> user_directory(std::string_view kind, std::string_view fallback);
std::optional<std::string> home_folder();
// An XDG base directory ("XDG_DATA_HOME"...) or $HOME/`fallback` when the variable is unset.
std::optional<std::string> base_directory(const char* variable, std::string_view fallback);

}  // namespace talven::platform
