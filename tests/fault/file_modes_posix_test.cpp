// Manifests and backup folders that the program may not read, write or make. As root the program
// runs as an unprivileged user, so that the modes hold for it.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "tests/fault/fault_support.h"

namespace {

using namespace fault;
using test_support::read_bytes;

// Sets modes for one test and puts the given ones back when it ends, also after a failed assertion.
class ScopedModes {
 public:
  ~ScopedModes() { restore(); }
  // Also before the test reads what the program left, for a test that does not run as root.
  void restore() {
    for (auto it = changed_.rbegin(); it != changed_.rend(); ++it) chmod(it->first.c_str(), it->second);
    changed_.clear();
  }
  void set(const fs::path& path, mode_t mode, mode_t restored) {
    changed_.emplace_back(path, restored);
    ASSERT_EQ(chmod(path.c_str(), mode), 0) << path;
  }

 private:
  std::vector<std::pair<fs::path, mode_t>> changed_;
};

TEST(FileModes, ManifestsThatCannotBeReadOrWrittenAreCountedFailedAndKeepTheirBytes) {
  driver::ProgramDriver program;
  program.run_unprivileged();
  const fs::path nvda = program.appdata() / "nvda";
  const fs::path addons = nvda / "addons";
  const fs::path backups = nvda / "manifest backups";
  const Addon open = addon("open", 600), locked = addon("locked", 600), secret = addon("secret", 600),
              sealed = addon("sealed", 600), stuck = addon("stuck", 600);
  lay_out(addons, {open, locked, secret, sealed, stuck});
  // What stands at the temporary name cannot be removed from a folder that takes no change: not a
  // folder for an in-place write, but a failed manifest, as on Windows.
  test_support::write_bytes(addons / "stuck" / "manifest.ini.quillbrook-new", "left by a killed run");
  give_to_program(nvda);
  ScopedModes modes;
  modes.set(addons / "stuck", 0555, 0755);
  modes.set(addons / "locked" / "manifest.ini", 0444, 0644);  // may not be written
  modes.set(addons / "secret" / "manifest.ini", 0200, 0644);  // may not be read
  modes.set(addons / "sealed", 0, 0755);                      // its manifest cannot even be seen

  auto result = program.run(yes_to_all);
  modes.restore();
  EXPECT_TRUE(result.finished);
  EXPECT_EQ(result.exit_code, 0);
  ASSERT_EQ(result.dialogs.size(), 4u);
  // A manifest that cannot be reached counts nowhere; one that cannot be opened counts failed.
  EXPECT_EQ(result.dialogs[2].title, u"Done");
  EXPECT_EQ(result.dialogs[2].text, summary(4, 0, 3, 1));
  EXPECT_EQ(result.dialogs[3].title, u"Info");
  EXPECT_EQ(result.dialogs[3].text, u"Backups of the old manifests have been placed in " +
                                        driver::ProgramDriver::folder_text(nvda) +
                                        u"manifest backups. If you wish to restore the old manifests, copy all "
                                        u"directories inside the backup folder and paste them in addons folder and "
                                        u"confirm replace.");

  EXPECT_EQ(read_bytes(addons / "open" / "manifest.ini"), open.new_bytes);
  EXPECT_EQ(read_bytes(backups / "open" / "manifest.ini"), open.old_bytes);
  // The backup comes before the open for writing that fails.
  EXPECT_EQ(read_bytes(addons / "locked" / "manifest.ini"), locked.old_bytes);
  EXPECT_EQ(read_bytes(backups / "locked" / "manifest.ini"), locked.old_bytes);
  // An unreadable manifest is neither asked about nor backed up.
  EXPECT_EQ(read_bytes(addons / "secret" / "manifest.ini"), secret.old_bytes);
  EXPECT_FALSE(is_present(backups / "secret"));
  EXPECT_EQ(read_bytes(addons / "sealed" / "manifest.ini"), sealed.old_bytes);
  EXPECT_FALSE(is_present(backups / "sealed"));
  EXPECT_EQ(read_bytes(addons / "stuck" / "manifest.ini"), stuck.old_bytes);
  EXPECT_EQ(read_bytes(backups / "stuck" / "manifest.ini"), stuck.old_bytes);
}

TEST(FileModes, ABackupThatCannotBeMadeEndsTheRunBeforeItsManifestIsWritten) {
  // Where the backup is refused: the folder beside the add-ons (no room for the backup root), the
  // backup root itself, or one add-on's own backup folder.
  enum class Refused { parent, backup_root, addon_backup };
  for (Refused refused : {Refused::parent, Refused::backup_root, Refused::addon_backup}) {
    SCOPED_TRACE("refused at " + std::to_string(static_cast<int>(refused)));
    driver::ProgramDriver program;
    program.run_unprivileged();
    const fs::path nvda = program.appdata() / "nvda";
    const fs::path addons = nvda / "addons";
    const fs::path backups = nvda / "manifest backups";
    const std::vector<Addon> list = {addon("alpha", 600), addon("beta", 700), addon("gamma", 800)};
    lay_out(addons, list);
    if (refused != Refused::parent) fs::create_directories(backups);
    if (refused == Refused::addon_backup) fs::create_directories(backups / "beta");
    give_to_program(nvda);
    ScopedModes modes;
    if (refused == Refused::parent) modes.set(nvda, 0555, 0755);
    if (refused == Refused::backup_root) modes.set(backups, 0555, 0755);
    if (refused == Refused::addon_backup) modes.set(backups / "beta", 0555, 0755);

    auto result = program.run(yes_to_all);
    modes.restore();
    EXPECT_TRUE(result.finished);
    EXPECT_EQ(result.exit_code, 0);
    ASSERT_FALSE(result.dialogs.empty());
    const driver::Dialog& last = result.dialogs.back();
    EXPECT_EQ(last.title, u"Error");
    EXPECT_EQ(find_dialog(result, u"Done"), nullptr);
    if (refused == Refused::addon_backup) {
      EXPECT_EQ(last.text, could_not_back_up("beta"));
      // Add-ons listed before beta are rewritten with their backups; those after it are not reached.
      for (const Addon& addon : list) {
        std::string bytes = read_bytes(addons / addon.name / "manifest.ini");
        if (addon.name == "beta" || bytes == addon.old_bytes) {
          EXPECT_EQ(bytes, addon.old_bytes) << addon.name;
        } else {
          EXPECT_EQ(bytes, addon.new_bytes) << addon.name;
          EXPECT_EQ(read_bytes(backups / addon.name / "manifest.ini"), addon.old_bytes) << addon.name;
        }
      }
    } else {
      // The first add-on listed fails, and nothing is written.
      bool named = false;
      for (const Addon& addon : list) {
        named = named || last.text == could_not_back_up(addon.name);
        EXPECT_EQ(read_bytes(addons / addon.name / "manifest.ini"), addon.old_bytes) << addon.name;
      }
      EXPECT_TRUE(named) << runtime::utf16_to_utf8(last.text);
    }
  }
}

// The claim that keeps a second run out is a lock on the configuration folder: one that cannot be
// opened ends the run before it touches anything, and a missing one is made for this user and claimed.
TEST(FileModes, AConfigurationFolderThatCannotBeClaimedEndsTheRunAndAMissingOneIsMade) {
  driver::ProgramDriver program;
  program.run_unprivileged();
  const fs::path addons = program.appdata() / "nvda" / "addons";
  const Addon one = addon("one", 600);
  lay_out(addons, {one});
  give_to_program(program.appdata());
  ScopedModes modes;
  modes.set(program.appdata(), 0, 0755);
  auto result = program.run(yes_to_all);
  modes.restore();
  ASSERT_EQ(result.dialogs.size(), 1u);
  EXPECT_EQ(result.dialogs[0].text, u"Could not claim " + driver::ProgramDriver::folder_text(program.appdata()) +
                                        u" for this run, so Quillbrook could not make sure it runs alone.");
  EXPECT_EQ(read_bytes(addons / "one" / "manifest.ini"), one.old_bytes);
  EXPECT_FALSE(is_present(program.appdata() / "nvda" / "manifest backups"));

  // The add-ons folder is missing too: the first run waits at the chooser while a second one starts.
  const fs::path missing = program.appdata() / "made" / "config";
  driver::RunResult beside;
  driver::ProgramDriver(missing).run([&](const driver::Dialog& dialog) {
    if (dialog.kind == driver::Dialog::Kind::chooser) beside = driver::ProgramDriver(missing).run(yes_to_all);
    return yes_to_all(dialog);
  });
  ASSERT_EQ(beside.dialogs.size(), 1u);
  EXPECT_EQ(beside.dialogs[0].text, u"Quillbrook is already running.");
  EXPECT_EQ(fs::status(missing).permissions(), fs::perms::owner_all);
}

}  // namespace
