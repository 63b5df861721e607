#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <initializer_list>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "files/folders.h"
#include "runtime/utf8.h"
#include "tests/support/test_support.h"

namespace {

using files::PATH_IS_FOLDER;
using runtime::Text;
using test_support::ScopedTempDir;
namespace fs = std::filesystem;

Text text(const std::string& utf8) { return runtime::utf8_to_utf16(utf8); }

// Sets environment variables for one test and puts the old values back afterwards.
class EnvironmentGuard {
 public:
  explicit EnvironmentGuard(std::initializer_list<const char*> names) {
    for (const char* name : names) {
      const char* value = getenv(name);
      saved_.emplace_back(name, value ? std::optional<std::string>(value) : std::nullopt);
    }
  }
  ~EnvironmentGuard() {
    for (const auto& [name, value] : saved_) {
      if (value)
        setenv(name.c_str(), value->c_str(), 1);
      else
        unsetenv(name.c_str());
    }
  }
  EnvironmentGuard(const EnvironmentGuard&) = delete;
  EnvironmentGuard& operator=(const EnvironmentGuard&) = delete;

  static void set(const char* name, const char* value) {
    if (value)
      setenv(name, value, 1);
    else
      unsetenv(name);
  }

 private:
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

using test_support::CurrentFolderGuard;

TEST(UserFolderOnPosix, ApplicationDataIsAnAbsoluteConfigHomeElseTheHomeConfigFolder) {
  EnvironmentGuard guard({"HOME", "XDG_CONFIG_HOME"});
  EnvironmentGuard::set("HOME", "/home/someone");
  const struct {
    const char* config_home;
    const char16_t* expected;
  } cases[] = {
      {"/srv/config", u"/srv/config/"},
      {"/srv/config/", u"/srv/config/"},
      {"relative/config", u"/home/someone/.config/"},
      {"", u"/home/someone/.config/"},
      {nullptr, u"/home/someone/.config/"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.config_home ? c.config_home : "(unset)");
    EnvironmentGuard::set("XDG_CONFIG_HOME", c.config_home);
    EXPECT_EQ(files::get_user_folder(files::USER_FOLDER_APPDATA), c.expected);
  }
}

TEST(UserFolderOnPosix, OtherIdsAreTheXdgUserFoldersElseHome) {
  ScopedTempDir dir;
  EnvironmentGuard guard({"HOME", "XDG_CONFIG_HOME", "XDG_DOWNLOAD_DIR", "XDG_MUSIC_DIR", "XDG_PICTURES_DIR",
                          "XDG_DESKTOP_DIR", "XDG_DOCUMENTS_DIR"});
  for (const char* name : {"XDG_DOWNLOAD_DIR", "XDG_MUSIC_DIR", "XDG_DESKTOP_DIR", "XDG_DOCUMENTS_DIR"})
    EnvironmentGuard::set(name, nullptr);
  EnvironmentGuard::set("HOME", "/home/someone");
  EnvironmentGuard::set("XDG_CONFIG_HOME", dir.path().c_str());
  EnvironmentGuard::set("XDG_PICTURES_DIR", "/media/pictures");
  test_support::write_bytes(dir.path() / "user-dirs.dirs",
                            "# written by a user-dirs tool\n"
                            "XDG_DESKTOP_DIR=\"$HOME/Desk top\"\n"
                            "XDG_DOWNLOAD_DIR=\"/data/fetched\"\n"
                            "XDG_MUSIC_DIR=\"relative/music\"\n"
                            "XDG_PICTURES_DIR=\"$HOME/Pictures\"\n");
  const struct {
    std::int32_t id;
    const char16_t* expected;
  } cases[] = {
      {0, u"/home/someone/Desk top/"}, {1, u"/home/someone/"}, {2, u"/data/fetched/"},
      {3, u"/home/someone/"},          {7, u"/home/someone/"},  // a relative entry means nothing
      {8, u"/media/pictures/"},                                 // the environment wins over the file
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.id);
    EXPECT_EQ(files::get_user_folder(c.id), c.expected);
  }
}

TEST(PathsOnPosix, BackslashesSeparateComponents) {
  ScopedTempDir dir;
  const Text root = text(dir.path().string());
  ASSERT_NE(files::create_folder(root + u"\\outer"), 0);
  ASSERT_NE(files::create_folder(root + u"\\outer\\inner\\"), 0);
  EXPECT_TRUE(fs::is_directory(dir.path() / "outer" / "inner"));
  EXPECT_FALSE(fs::exists(dir.path() / "outer\\inner"));
  EXPECT_EQ(files::query_path_size(root + u"\\outer\\inner\\"), PATH_IS_FOLDER);

  test_support::write_bytes(dir.path() / "outer" / "file.ini", "abc");
  EXPECT_EQ(files::query_path_size(root + u"\\outer\\file.ini"), 3);
  EXPECT_NE(files::duplicate_file(root + u"\\outer\\file.ini", root + u"\\outer\\inner\\copy.ini"), 0);
  EXPECT_EQ(test_support::read_bytes(dir.path() / "outer" / "inner" / "copy.ini"), "abc");

  ASSERT_NE(files::start_folder_listing(0, root + u"\\outer\\inner", u"*.ini"), 0);
  ASSERT_EQ(files::next_folder_entry(0), 1);
  EXPECT_EQ(files::get_entry_name(0), u"copy.ini");
  files::finish_folder_listing(0);

  CurrentFolderGuard guard;
  ASSERT_NE(files::set_current_folder(root + u"\\outer\\inner"), 0);
  EXPECT_EQ(files::get_current_folder(), text(fs::current_path().string()) + u"/");
  EXPECT_TRUE(fs::equivalent(fs::current_path(), dir.path() / "outer" / "inner"));
}

TEST(PathsOnPosix, AColonMakesNoDriveLetter) {
  ScopedTempDir dir;
  test_support::write_bytes(dir.path() / "C:", "123");
  fs::create_directory(dir.path() / "D:x");
  CurrentFolderGuard guard;
  fs::current_path(dir.path());
  EXPECT_EQ(files::query_path_size(u"C:"), 3);
  EXPECT_EQ(files::query_path_size(u"C:\\"), 3);
  EXPECT_EQ(files::query_path_size(u"D:x"), PATH_IS_FOLDER);
  EXPECT_EQ(files::query_path_size(u"E:"), files::PATH_MISSING);
}

TEST(PathsOnPosix, WildcardsCompareCaseAsTheFileSystemDoes) {
  ScopedTempDir dir;
  test_support::write_bytes(dir.path() / "Manifest.ini", "");
  const Text root = text(dir.path().string());
  ASSERT_NE(files::start_folder_listing(0, root, u"*.INI"), 0);
  EXPECT_EQ(files::next_folder_entry(0), 0);
  ASSERT_NE(files::start_folder_listing(0, root, u"M*.ini"), 0);
  EXPECT_EQ(files::next_folder_entry(0), 1);
  files::end_folder_library();
}

TEST(CurrentFolderOnPosix, TheRootKeepsASingleSlash) {
  CurrentFolderGuard guard;
  ASSERT_NE(files::set_current_folder(u"/"), 0);
  EXPECT_EQ(files::get_current_folder(), u"/");
}

}  // namespace
