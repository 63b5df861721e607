#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <string>

#include "files/folders.h"
#include "runtime/utf8.h"
#include "tests/support/test_support.h"

namespace {

using files::PATH_IS_FOLDER;
using files::PATH_MISSING;
using runtime::Text;
namespace fs = std::filesystem;

using test_support::CurrentFolderGuard;

bool drive_exists(char16_t letter) { return (GetLogicalDrives() >> (letter - u'A')) & 1; }

TEST(QueryPathSizeOnWindows, DriveRootsAreFoldersOnlyWhenTheDriveExists) {
  ASSERT_TRUE(drive_exists(u'C'));
  char16_t missing = 0;
  for (char16_t letter = u'Y'; letter >= u'D' && !missing; --letter)
    if (!drive_exists(letter)) missing = letter;
  ASSERT_NE(missing, 0) << "every drive letter is in use";
  const struct {
    Text path;
    std::int64_t expected;
  } cases[] = {
      {u"C:", PATH_IS_FOLDER},
      {u"C:\\", PATH_IS_FOLDER},
      {u"c:/", PATH_IS_FOLDER},
      {Text{missing, u':'}, PATH_MISSING},
      {Text{missing, u':', u'\\'}, PATH_MISSING},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(runtime::utf16_to_utf8(c.path));
    EXPECT_EQ(files::query_path_size(c.path), c.expected);
  }
}

TEST(QueryPathSizeOnWindows, ADriveRelativeNameIsLookedUpRatherThanTakenForTheRoot) {
  test_support::ScopedTempDir dir;
  test_support::write_bytes(dir.path() / "a", "12");
  CurrentFolderGuard guard;
  ASSERT_NE(files::set_current_folder(dir.text()), 0);
  Text drive_relative{dir.text()[0], u':', u'a'};
  EXPECT_EQ(files::query_path_size(drive_relative), 2);
}

TEST(CurrentFolderOnWindows, ADriveRootKeepsASingleClosingBackslash) {
  CurrentFolderGuard guard;
  ASSERT_NE(files::set_current_folder(u"C:\\"), 0);
  EXPECT_EQ(files::get_current_folder(), u"C:\\");
}

}  // namespace
