// The program killed (SIGKILL) at points spread over a run, as a crash or a power cut would stop it:
// no manifest may be lost, whatever step of its rewrite the kill interrupts.
#include <gtest/gtest.h>

#include <chrono>
#include <iostream>
#include <random>
#include <string>
#include <vector>

#include "files/folder_system.h"
#include "tests/fault/fault_support.h"

namespace {

using namespace fault;
using test_support::read_bytes;

constexpr int ADDON_COUNT = 200;
constexpr int KILL_COUNT = 30;
constexpr std::uint32_t SEED = 7321;    // spreads each kill within its share of the run
constexpr int ANSWERS_BEFORE_WALK = 2;  // the confirmation and the version

// Realistic manifests of varying size and line ends, and two large ones whose rewrite takes many
// pages, so that a kill can land inside a write.
std::vector<Addon> many_addons() {
  std::vector<Addon> list;
  for (int i = 0; i < ADDON_COUNT; ++i) {
    std::size_t size = i % 100 == 42 ? 128 * 1024 : 450 + static_cast<std::size_t>(i * 37 % 400);
    list.push_back(addon("addon" + std::to_string(i), size, i % 3 != 0));
  }
  return list;
}

struct Tally {
  int untouched = 0;
  int rewritten = 0;
  int only_in_backup = 0;  // the manifest cut short or emptied, its old bytes kept in the backup
  int lost = 0;
  // Temporary files a kill left: it stopped the run while it wrote a backup, or a manifest.
  int backups_cut = 0;
  int manifests_cut = 0;
};

Tally check_addons(const fs::path& addons, const std::vector<Addon>& list) {
  Tally tally;
  const fs::path backups = addons.parent_path() / "manifest backups";
  for (const Addon& addon : list) {
    const std::string bytes = read_bytes(addons / addon.name / "manifest.ini");
    const std::string backup = read_if_present(backups / addon.name / "manifest.ini");
    const std::string temporary = "manifest.ini" + runtime::utf16_to_utf8(files::folder_system::TEMPORARY_SUFFIX);
    tally.backups_cut += is_present(backups / addon.name / temporary);
    tally.manifests_cut += is_present(addons / addon.name / temporary);
    if (bytes == addon.old_bytes) {
      ++tally.untouched;
    } else if (bytes == addon.new_bytes) {
      ++tally.rewritten;
      EXPECT_EQ(backup, addon.old_bytes) << addon.name << ": rewritten without its backup";
    } else if (backup == addon.old_bytes) {
      ++tally.only_in_backup;
    } else {
      ++tally.lost;
      ADD_FAILURE() << addon.name << " lost: the manifest holds " << bytes.size() << " bytes and its backup "
                    << backup.size() << ", neither the old " << addon.old_bytes.size() << " nor the new "
                    << addon.new_bytes.size();
    }
  }
  return tally;
}

// The delay of each kill: spread evenly over the walk, each moved at random within its share.
class KillDelays {
 public:
  std::chrono::microseconds next(std::chrono::microseconds walk, int kill) {
    return std::chrono::microseconds(
        static_cast<std::int64_t>(static_cast<double>(walk.count()) * (kill + within_(random_)) / KILL_COUNT));
  }

 private:
  std::mt19937 random_{SEED};
  std::uniform_real_distribution<double> within_{0.0, 1.0};
};

TEST(KilledRun, EveryManifestKeepsItsOldOrNewBytesOrHasTheOldInItsBackup) {
  const std::vector<Addon> list = many_addons();

  // A whole run first: it shows what the run does uninterrupted and how long its walk takes.
  std::chrono::microseconds walk{0};
  {
    driver::ProgramDriver program;
    const fs::path addons = program.appdata() / "nvda" / "addons";
    lay_out(addons, list);
    auto result = program.run(yes_to_all);
    ASSERT_TRUE(result.finished);
    const driver::Dialog* done = find_dialog(result, u"Done");
    ASSERT_NE(done, nullptr);
    EXPECT_EQ(done->text, summary(ADDON_COUNT, 0, 0, ADDON_COUNT));
    EXPECT_EQ(check_addons(addons, list).rewritten, ADDON_COUNT);
    walk = result.after_last_answer;
  }

  KillDelays delays;
  Tally total;
  int interrupted_walks = 0;  // kills that left some manifests rewritten and some not
  std::cout << "walk of " << ADDON_COUNT << " add-ons: " << walk.count() << " us; " << KILL_COUNT
            << " kills spread over it, seed " << SEED << "\n";
  for (int kill = 0; kill < KILL_COUNT; ++kill) {
    const auto delay = delays.next(walk, kill);
    SCOPED_TRACE("kill " + std::to_string(kill) + " after " + std::to_string(delay.count()) + " us");
    driver::ProgramDriver program;
    const fs::path addons = program.appdata() / "nvda" / "addons";
    lay_out(addons, list);
    program.kill_after_answer(ANSWERS_BEFORE_WALK, delay);
    auto result = program.run(yes_to_all);
    EXPECT_TRUE(result.killed || result.finished);

    const Tally tally = check_addons(addons, list);
    if (result.killed && tally.rewritten > 0 && tally.rewritten < ADDON_COUNT) ++interrupted_walks;
    total.untouched += tally.untouched;
    total.rewritten += tally.rewritten;
    total.only_in_backup += tally.only_in_backup;
    total.lost += tally.lost;
    total.backups_cut += tally.backups_cut;
    total.manifests_cut += tally.manifests_cut;
    if (result.finished) {
      const driver::Dialog* done = find_dialog(result, u"Done");
      ASSERT_NE(done, nullptr);
      EXPECT_EQ(done->text, summary(ADDON_COUNT, 0, 0, ADDON_COUNT));
    }
    if (HasFatalFailure()) return;
  }
  std::cout << interrupted_walks << " of " << KILL_COUNT
            << " kills interrupted the walk; manifests afterwards: " << total.untouched << " untouched, "
            << total.rewritten << " rewritten, " << total.only_in_backup << " only in their backup, " << total.lost
            << " lost; kills while a backup was written: " << total.backups_cut
            << ", while a manifest was written: " << total.manifests_cut << "\n";
  EXPECT_EQ(total.lost, 0);
}

// The user's way out after a crash is to run the program again: it rewrites what the killed run did
// not, and replaces the temporary files that the kill left behind.
TEST(KilledRun, ARunAfterAKilledRunLeavesEveryManifestRewritten) {
  const std::vector<Addon> list = many_addons();
  std::chrono::microseconds walk{0};
  {
    driver::ProgramDriver program;
    lay_out(program.appdata() / "nvda" / "addons", list);
    walk = program.run(yes_to_all).after_last_answer;
  }
  KillDelays delays;
  for (int kill = 0; kill < KILL_COUNT; ++kill) {
    const auto delay = delays.next(walk, kill);
    SCOPED_TRACE("kill " + std::to_string(kill) + " after " + std::to_string(delay.count()) + " us");
    driver::ProgramDriver program;
    const fs::path addons = program.appdata() / "nvda" / "addons";
    lay_out(addons, list);
    program.kill_after_answer(ANSWERS_BEFORE_WALK, delay);
    program.run(yes_to_all);

    driver::ProgramDriver again(program.appdata());
    auto result = again.run(yes_to_all);
    ASSERT_TRUE(result.finished);
    for (const Addon& addon : list) {
      const std::string bytes = read_bytes(addons / addon.name / "manifest.ini");
      EXPECT_TRUE(bytes == addon.new_bytes)
          << addon.name << ": " << bytes.size() << " bytes instead of " << addon.new_bytes.size();
      EXPECT_EQ(test_support::list_names(addons / addon.name), std::vector<std::string>{"manifest.ini"});
    }
    if (HasFailure()) return;
  }
}

}  // namespace
