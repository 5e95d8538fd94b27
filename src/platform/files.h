// Whole-file reading and crash-safe replacement, directories. Paths are host paths (UTF-8, `/`).
#pragma once
#include <optional>
#include <string>
#include <string_view>

namespace talven::platform {

// The whole contents of a regular file; nothing when it is missing, a directory or unreadable.
std::optional<std::string> read_whole_file(const std::string& path);

// Replaces `path` (or creates it) with `bytes` so that no reader and no crash ever sees a mix of
// old and new contents: the bytes go to a new file in the same folder, reach the disk, and that file
// is renamed over the old one. A symbolic link is followed, so the file it names is replaced. The
// old file's permission bits are kept. On any failure the old file is untouched, the temporary file
// is removed and the result is false.
bool replace_file_atomically(const std::string& path, std::string_view bytes);

// Anything at `path` (file, directory, or a link to one).
bool path_exists(const std::string& path);
bool is_directory(const std::string& path);

// Creates one directory level (its parent must exist). True when the directory exists afterwards.
bool make_directory(const std::string& path);

}  // namespace talven::platform
