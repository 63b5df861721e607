// End-to-end cases that need what only the POSIX port offers: any folder as the application data,
// and a file system of its own that the test can fill.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "runtime/utf8.h"
#include "tests/support/scoped_tmpfs_posix.h"
#include "tests/support/test_support.h"
#include "tests/updater/program_driver.h"

namespace {

namespace fs = std::filesystem;
using driver::Answer;
using driver::Dialog;
using test_support::read_bytes;
using test_support::write_bytes;

Answer yes_to_all(const Dialog& dialog) {
  if (dialog.kind == Dialog::Kind::input) return {Answer::Kind::type, u"2036.1.1"};
  if (dialog.kind == Dialog::Kind::chooser) return {Answer::Kind::cancel, {}};
  return {dialog.yes_no ? Answer::Kind::yes : Answer::Kind::enter, {}};
}

// Folder permissions that the program, run as an ordinary user, cannot get past.
TEST(EndToEndPosix, AnAddonsFolderThatCannotBeEnteredEndsTheRunWithAMessage) {
  driver::ProgramDriver program;
  program.run_unprivileged();
  fs::path addons = program.appdata() / "nvda" / "addons";
  fs::create_directories(addons / "one");
  write_bytes(addons / "one" / "manifest.ini", "lastTestedNVDAVersion = 2023.1\n");
  fs::permissions(addons, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  auto result = program.run(yes_to_all);
  fs::permissions(addons, fs::perms::owner_all);
  EXPECT_TRUE(result.finished);
  EXPECT_EQ(result.exit_code, 0);
  ASSERT_EQ(result.dialogs.size(), 1u);
  EXPECT_EQ(result.dialogs[0].title, u"Error");
  EXPECT_EQ(result.dialogs[0].text,
            u"Could not open the folder " + runtime::utf8_to_utf16(program.appdata().string()) + u"/nvda\\addons\\");
  EXPECT_EQ(read_bytes(addons / "one" / "manifest.ini"), "lastTestedNVDAVersion = 2023.1\n");
}

TEST(EndToEndPosix, AnAddonsFolderThatCannotBeListedEndsTheRunWithAMessage) {
  driver::ProgramDriver program;
  program.run_unprivileged();
  fs::path addons = program.appdata() / "nvda" / "addons";
  fs::create_directories(addons);
  fs::permissions(addons, fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec);
  auto result = program.run(yes_to_all);
  fs::permissions(addons, fs::perms::owner_all);
  EXPECT_TRUE(result.finished);
  EXPECT_EQ(result.exit_code, 0);
  ASSERT_EQ(result.dialogs.size(), 2u);
  EXPECT_EQ(result.dialogs[0].title, u"Warning");
  EXPECT_EQ(result.dialogs[1].title, u"Error");
  EXPECT_EQ(result.dialogs[1].text, u"No directories found");
}

TEST(EndToEndPosix, AManifestThatCannotBeWrittenWholeIsRestoredFromItsBackup) {
  if (geteuid() != 0) GTEST_SKIP() << "mounting a small file system needs root";
  driver::ProgramDriver program;
  fs::path addons = program.appdata() / "nvda" / "addons";
  test_support::ScopedTmpfs tmpfs(addons, 64 * 1024);
  if (!tmpfs.mounted()) GTEST_SKIP() << "cannot mount a tmpfs here";

  // Exactly one page of manifest: the new text needs a second page, which the full file system
  // does not have, while the backups go to the folder beside it on another file system.
  std::string key = "lastTestedNVDAVersion = 2023.1\n";
  std::string old = std::string(4096 - key.size(), '#') + key;
  old[old.size() - key.size() - 1] = '\n';
  fs::create_directories(addons / "big");
  write_bytes(addons / "big" / "manifest.ini", old);
  {
    std::ofstream filler(addons / "filler", std::ios::binary);
    std::string block(4096, 'f');
    while (filler.write(block.data(), static_cast<std::streamsize>(block.size()))) filler.flush();
  }
  auto result = program.run(yes_to_all);
  EXPECT_TRUE(result.finished);
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(read_bytes(addons / "big" / "manifest.ini"), old);
  EXPECT_EQ(read_bytes(program.appdata() / "nvda" / "manifest backups" / "big" / "manifest.ini"), old);
  bool summarised = false;
  for (const auto& dialog : result.dialogs)
    if (dialog.title == u"Done") {
      summarised = true;
      EXPECT_EQ(dialog.text, u"1 manifests found, 0 skipped, 1 failed, 0 modified.");
    }
  EXPECT_TRUE(summarised);
  fs::remove(addons / "filler");
}

}  // namespace
