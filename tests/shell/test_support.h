// Small helpers for the shell tests: a scratch folder, whole-file access, environment overrides.
#pragma once
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <sstream>
#include <string>

namespace talven::test {

// A fresh folder under the system's temporary folder, removed with everything in it at the end.
class ScratchFolder {
 public:
  ScratchFolder() {
    std::random_device random;
    for (;;) {
      path_ = std::filesystem::temp_directory_path() / ("talven-shell-" + std::to_string(random()));
      if (std::filesystem::create_directory(path_)) break;
    }
  }
  ~ScratchFolder() {
    std::error_code ignored;
    // Give back write permission that a test may have taken away, so everything can go.
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all, ignored);
    for (auto& entry : std::filesystem::recursive_directory_iterator(path_, ignored))
      if (entry.is_directory(ignored))
        std::filesystem::permissions(entry.path(), std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(path_, ignored);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  const std::filesystem::path& path() const { return path_; }
  // The folder as a string with a trailing '/', the way the engine gets a game folder.
  std::string prefix() const { return path_.string() + "/"; }

 private:
  std::filesystem::path path_;
};

inline void write_bytes(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

inline std::optional<std::string> read_bytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream contents;
  contents << in.rdbuf();
  return contents.str();
}

// Sets (or, with nullopt, removes) an environment variable for the life of the object.
class EnvironmentOverride {
 public:
  EnvironmentOverride(const char* name, const std::optional<std::string>& value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value)
      setenv(name, value->c_str(), 1);
    else
      unsetenv(name);
  }
  ~EnvironmentOverride() {
    if (old_)
      setenv(name_, old_->c_str(), 1);
    else
      unsetenv(name_);
  }
  EnvironmentOverride(const EnvironmentOverride&) = delete;
  EnvironmentOverride& operator=(const EnvironmentOverride&) = delete;

 private:
  const char* name_;
  std::optional<std::string> old_;
};

}  // namespace talven::test
