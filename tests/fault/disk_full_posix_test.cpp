// A file system that fills up while the manifests are backed up and rewritten: no manifest may end
// damaged, and the summary must count what could not be written.
#include <gtest/gtest.h>
#include <unistd.h>

#include <iostream>
#include <string>
#include <vector>

#include "tests/fault/fault_support.h"

namespace {

using namespace fault;
using test_support::read_bytes;

// Manifests of one page that stay within it, of one page that need a second one once rewritten
// (4095 + 2 bytes), and of three pages that need a fourth and are written in one piece that the
// file system cuts short.
std::vector<Addon> mixed_addons() {
  std::vector<Addon> list;
  for (int i = 0; i < 4; ++i) list.push_back(addon("small" + std::to_string(i), 600, i % 2 == 0));
  list.push_back(addon("exact", 4094));  // ends at 4096 bytes: still one page
  for (int i = 0; i < 6; ++i) list.push_back(addon("edge" + std::to_string(i), 4095));
  for (int i = 0; i < 3; ++i) list.push_back(addon("big" + std::to_string(i), 3 * 4096 - 1));
  return list;
}

constexpr int GROWING = 9;  // the edge and big manifests: each needs one more page

struct Outcome {
  int unchanged = 0;
  int rewritten = 0;
};

// Every manifest holds its old bytes or its new ones, a rewritten one has its old bytes in its
// backup, and no add-on folder holds anything new.
Outcome check_manifests(const fs::path& addons, const std::vector<Addon>& list) {
  Outcome outcome;
  const fs::path backups = addons.parent_path() / "manifest backups";
  for (const Addon& addon : list) {
    std::string bytes = read_bytes(addons / addon.name / "manifest.ini");
    if (bytes == addon.old_bytes) {
      ++outcome.unchanged;
    } else if (bytes == addon.new_bytes) {
      ++outcome.rewritten;
      EXPECT_EQ(read_if_present(backups / addon.name / "manifest.ini"), addon.old_bytes) << addon.name;
    } else {
      ADD_FAILURE() << addon.name << ": damaged, " << bytes.size() << " bytes instead of " << addon.old_bytes.size()
                    << " or " << addon.new_bytes.size();
    }
    EXPECT_EQ(test_support::list_names(addons / addon.name), std::vector<std::string>{"manifest.ini"}) << addon.name;
  }
  return outcome;
}

TEST(DiskFull, AManifestThatDoesNotFitIsLeftAsItWasAndCountedFailed) {
  if (geteuid() != 0) GTEST_SKIP() << "mounting a small file system needs root";
  // Free pages left once the add-ons are in place; the backups lie on another file system. Each new
  // manifest is written whole beside the old one before it replaces it, so it needs room for all its
  // pages at once: none fits in no room, and every one fits when there is room for the growth of all
  // of them and a whole big one besides.
  for (std::size_t free_pages : {0, 1, 4, 8, GROWING + 4}) {
    SCOPED_TRACE("free pages: " + std::to_string(free_pages));
    driver::ProgramDriver program;
    const fs::path addons = program.appdata() / "nvda" / "addons";
    ScopedTmpfs tmpfs(addons, 256 * 1024);
    if (!tmpfs.mounted()) GTEST_SKIP() << "cannot mount a tmpfs here";
    const std::vector<Addon> list = mixed_addons();
    lay_out(addons, list);
    fill_leaving(addons, free_pages);

    auto result = program.run(yes_to_all);
    fs::remove(addons / "filler");
    EXPECT_TRUE(result.finished);
    EXPECT_EQ(result.exit_code, 0);
    const Outcome outcome = check_manifests(addons, list);
    const int total = static_cast<int>(list.size());
    if (free_pages == 0) {
      EXPECT_EQ(outcome.unchanged, total);
    }
    if (free_pages == GROWING + 4) {
      EXPECT_EQ(outcome.rewritten, total);
    }
    const driver::Dialog* done = find_dialog(result, u"Done");
    ASSERT_NE(done, nullptr);
    EXPECT_EQ(done->text, summary(total, 0, outcome.unchanged, outcome.rewritten));
    EXPECT_NE(find_dialog(result, u"Info"), nullptr);
  }
}

TEST(DiskFull, BackupsOnTheSameFullFileSystemLoseNoManifest) {
  if (geteuid() != 0) GTEST_SKIP() << "mounting a small file system needs root";
  // The backups now take room too: some runs end at a backup that does not fit, some after a
  // rewrite that does not fit behind its backup.
  for (std::size_t free_pages : {0, 1, 3, 5, 9, 14, 20, 26, 40}) {
    SCOPED_TRACE("free pages: " + std::to_string(free_pages));
    driver::ProgramDriver program;
    const fs::path nvda = program.appdata() / "nvda";
    const fs::path addons = nvda / "addons";
    ScopedTmpfs tmpfs(nvda, 256 * 1024);
    if (!tmpfs.mounted()) GTEST_SKIP() << "cannot mount a tmpfs here";
    const std::vector<Addon> list = mixed_addons();
    lay_out(addons, list);
    fill_leaving(nvda, free_pages);

    auto result = program.run(yes_to_all);
    EXPECT_TRUE(result.finished);
    EXPECT_EQ(result.exit_code, 0);
    const Outcome outcome = check_manifests(addons, list);
    const driver::Dialog* error = find_dialog(result, u"Error");
    const driver::Dialog* done = find_dialog(result, u"Done");
    const int total = static_cast<int>(list.size());
    std::cout << "free pages " << free_pages << ": "
              << runtime::utf16_to_utf8(error  ? error->text
                                        : done ? done->text
                                               : u"no end message")
              << "\n";
    if (error) {
      // The run ends at the backup that failed: its manifest untouched, and no summary.
      EXPECT_EQ(done, nullptr);
      EXPECT_EQ(result.dialogs.back().title, u"Error");
      bool named = false;
      for (const Addon& addon : list)
        if (error->text == could_not_back_up(addon.name)) {
          named = true;
          EXPECT_EQ(read_bytes(addons / addon.name / "manifest.ini"), addon.old_bytes);
        }
      EXPECT_TRUE(named) << runtime::utf16_to_utf8(error->text);
    } else {
      ASSERT_NE(done, nullptr);
      EXPECT_EQ(done->text, summary(total, 0, outcome.unchanged, outcome.rewritten));
    }
    if (free_pages == 0) {
      EXPECT_NE(error, nullptr) << "no room for even one backup";
    }
    if (free_pages == 40) {
      ASSERT_NE(done, nullptr) << "room for everything";
      EXPECT_EQ(done->text, summary(total, 0, 0, total));
    }
  }
}

}  // namespace
