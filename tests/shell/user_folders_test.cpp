#include "platform/user_folders.h"

#include <gtest/gtest.h>

#include "shell/test_support.h"

namespace talven::platform {
namespace {

using test::EnvironmentOverride;
using test::ScratchFolder;
using test::write_bytes;

TEST(DocumentsFolder, ComesFromTheUserDirsFile) {
  ScratchFolder root;
  const std::string home = root.path().string() + "/home";
  EnvironmentOverride home_variable("HOME", home + "/");
  EnvironmentOverride config_home("XDG_CONFIG_HOME", root.path().string());

  struct Case {
    const char* what;
    std::optional<std::string> file;
    std::string expected;
  };
  const Case cases[] = {
      {"$HOME expanded", "XDG_DOCUMENTS_DIR=\"$HOME/Docs\"\n", home + "/Docs"},
      {"absolute, comments and other entries skipped",
       "# XDG_DOCUMENTS_DIR=\"/wrong\"\nXDG_DESKTOP_DIR=\"$HOME/Desktop\"\n  XDG_DOCUMENTS_DIR=\"/data/my docs/\"\n",
       "/data/my docs"},
      {"escaped quote", "XDG_DOCUMENTS_DIR=\"$HOME/a\\\"b\"\n", home + "/a\"b"},
      {"$HOME alone", "XDG_DOCUMENTS_DIR=\"$HOME/\"\n", home},
      {"relative path is not valid", "XDG_DOCUMENTS_DIR=\"Docs\"\n", home + "/Documents"},
      {"$HOMEX is not $HOME", "XDG_DOCUMENTS_DIR=\"$HOMEX/d\"\n", home + "/Documents"},
      {"no entry", "XDG_MUSIC_DIR=\"$HOME/Music\"\n", home + "/Documents"},
      {"no file", std::nullopt, home + "/Documents"},
  };
  for (const Case& c : cases) {
    std::filesystem::remove(root.path() / "user-dirs.dirs");
    if (c.file) write_bytes(root.path() / "user-dirs.dirs", *c.file);
    EXPECT_EQ(documents_folder(), c.expected) << c.what;
  }
}

TEST(DocumentsFolder, DefaultConfigFolderAndNoHome) {
  ScratchFolder root;
  EnvironmentOverride home_variable("HOME", root.path().string());
  EnvironmentOverride config_home("XDG_CONFIG_HOME", std::nullopt);
  std::filesystem::create_directory(root.path() / ".config");
  write_bytes(root.path() / ".config" / "user-dirs.dirs", "XDG_DOCUMENTS_DIR=\"$HOME/Dokumente\"\n");
  EXPECT_EQ(documents_folder(), root.path().string() + "/Dokumente");

  EnvironmentOverride no_home("HOME", std::nullopt);
  EXPECT_EQ(documents_folder(), std::nullopt);
}

}  // namespace
}  // namespace talven::platform
