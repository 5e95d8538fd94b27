// Game paths: cp932 names written with `\` or `/`, relative to the current directory (the game's
// folder), as games made on Windows spell them.
#pragma once
#include <string>
#include <string_view>

namespace talven::platform {

// The host path (UTF-8, `/` separators) that a game path names. When the exact path does not
// exist, each component is matched without regard to letter case against the directory's entries;
// a component that matches nothing is kept as written, so a file about to be created gets the name
// the game gave it. Directories are listed anew on every miss, so files created later are found.
// Letter case is ignored for ASCII and for the full-width Latin letters. Writers use the same
// resolution: an existing file is overwritten under its own spelling, a new one gets the name as
// written (inside existing folders found without regard to case).
std::string resolve_game_path(std::string_view game_path);

// The same below the host folder `host_root` (a mounted medium): the game path is taken relative
// to it even when it begins with a separator. An empty root means the current directory.
std::string resolve_game_path_in(std::string_view host_root, std::string_view game_path);

// Splits a cp932 game path into UTF-8 components-with-`/` without touching the disk: separators
// become `/`, and a 0x5C that is the trail byte of a double-byte character stays part of its
// character.
std::string game_path_to_utf8(std::string_view game_path);

}  // namespace talven::platform
