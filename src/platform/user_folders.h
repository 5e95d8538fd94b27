// The user's special folders, found the way the desktop does (XDG user directories).
#pragma once
#include <optional>
#include <string>

namespace talven::platform {

// The user's documents folder as a host path (UTF-8, no trailing `/`): XDG_DOCUMENTS_DIR from
// user-dirs.dirs in $XDG_CONFIG_HOME (or ~/.config), with $HOME expanded; $HOME/Documents when the
// file does not name one. Nothing when HOME is unset or empty. The folder may not exist yet.
std::optional<std::string> documents_folder();

}  // namespace talven::platform
