// The program killed (SIGKILL) at points spread over a run, as a crash or a power cut would stop it:
// every manifest keeps its old bytes or its new ones, whatever step of its rewrite the kill interrupts.
// The same holds for a restore killed while it puts the backups back.
#include <gtest/gtest.h>

#include <algorithm>
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
constexpr int WHOLE_RUNS = 3;              // timed uninterrupted, before the kills
constexpr std::uint32_t SEED = 7321;       // spreads each kill within its share of the run
constexpr int ANSWERS_BEFORE_WALK = 2;     // the confirmation and the version
constexpr int ANSWERS_BEFORE_RESTORE = 1;  // the restore's confirmation
// The temporary file beside a manifest, or a backup, that a kill can leave.
const std::string TEMPORARY = "manifest.ini" + runtime::utf16_to_utf8(files::folder_system::TEMPORARY_SUFFIX);

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
  int lost = 0;  // emptied, cut short or gone, even when its backup holds the old bytes
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
    tally.backups_cut += is_present(backups / addon.name / TEMPORARY);
    tally.manifests_cut += is_present(addons / addon.name / TEMPORARY);
    if (bytes == addon.old_bytes) {
      ++tally.untouched;
    } else if (bytes == addon.new_bytes) {
      ++tally.rewritten;
      EXPECT_EQ(backup, addon.old_bytes) << addon.name << ": rewritten without its backup";
    } else {
      ++tally.lost;
      ADD_FAILURE() << addon.name << " lost: the manifest holds " << bytes.size() << " bytes and its backup "
                    << backup.size() << ", neither the old " << addon.old_bytes.size() << " nor the new "
                    << addon.new_bytes.size();
    }
  }
  return tally;
}

// The shortest walk over the add-ons of a few whole runs, each made and checked by `whole_run`. The
// kills are spread over it, so that on a loaded machine, where a run takes longer, they still land
// inside its walk, only earlier in it.
template <typename WholeRun>
std::chrono::microseconds shortest_walk(WholeRun whole_run) {
  auto shortest = std::chrono::microseconds::max();
  for (int run = 0; run < WHOLE_RUNS; ++run) shortest = std::min(shortest, whole_run().after_last_answer);
  return shortest;
}

// The shortest walk of a whole update run.
std::chrono::microseconds shortest_walk(const std::vector<Addon>& list) {
  return shortest_walk([&] {
    driver::ProgramDriver program;
    const fs::path addons = program.appdata() / "nvda" / "addons";
    lay_out(addons, list);
    auto result = program.run(yes_to_all);
    EXPECT_TRUE(result.finished);
    const driver::Dialog* done = find_dialog(result, u"Done");
    EXPECT_TRUE(done != nullptr && done->text == summary(ADDON_COUNT, 0, 0, ADDON_COUNT));
    EXPECT_EQ(check_addons(addons, list).rewritten, ADDON_COUNT);
    return result;
  });
}

// The delay of each kill: spread evenly over the walk, each moved at random within its share.
class KillDelays {
 public:
  explicit KillDelays(std::chrono::microseconds walk) : walk_(walk) {}
  std::chrono::microseconds next(int kill) {
    return std::chrono::microseconds(
        static_cast<std::int64_t>(static_cast<double>(walk_.count()) * (kill + within_(random_)) / KILL_COUNT));
  }

 private:
  std::chrono::microseconds walk_;
  std::mt19937 random_{SEED};
  std::uniform_real_distribution<double> within_{0.0, 1.0};
};

TEST(KilledRun, EveryManifestKeepsItsOldOrItsNewBytes) {
  const std::vector<Addon> list = many_addons();
  const std::chrono::microseconds walk = shortest_walk(list);
  if (HasFailure()) return;

  KillDelays delays(walk);
  Tally total;
  // Kills that left some manifests rewritten and some not. Most land there; the test needs one, so
  // that it cannot pass with every kill before the walk or after it.
  int interrupted_walks = 0;
  std::cout << "shortest walk of " << ADDON_COUNT << " add-ons: " << walk.count() << " us; " << KILL_COUNT
            << " kills spread over it, seed " << SEED << "\n";
  for (int kill = 0; kill < KILL_COUNT; ++kill) {
    const auto delay = delays.next(kill);
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
            << total.rewritten << " rewritten, " << total.lost
            << " lost; kills while a backup was written: " << total.backups_cut
            << ", while a manifest was written: " << total.manifests_cut << "\n";
  EXPECT_EQ(total.lost, 0);
  EXPECT_GT(interrupted_walks, 0) << "no kill landed inside the walk over the add-ons";
}

// The user's way out after a crash is to run the program again: it rewrites what the killed run did
// not, and replaces the temporary files that the kill left behind.
TEST(KilledRun, ARunAfterAKilledRunLeavesEveryManifestRewritten) {
  const std::vector<Addon> list = many_addons();
  KillDelays delays(shortest_walk(list));
  for (int kill = 0; kill < KILL_COUNT; ++kill) {
    const auto delay = delays.next(kill);
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

// A finished update run over freshly laid-out add-ons, whose backups the driver's next runs restore.
fs::path update_for_restore(driver::ProgramDriver& program, const std::vector<Addon>& list) {
  const fs::path addons = program.appdata() / "nvda" / "addons";
  lay_out(addons, list);
  EXPECT_TRUE(program.run(yes_to_all).finished);
  program.use_program(QUILLBROOK_RESTORE_PROGRAM);
  return addons;
}

struct RestoreTally {
  int restored = 0;
  int temporaries = 0;  // temporary files left in the add-on folders
};

// Every manifest holds its backup's bytes or the run's, and every backup is as the run made it.
RestoreTally check_restore(const fs::path& addons, const std::vector<Addon>& list) {
  RestoreTally tally;
  for (const Addon& addon : list) {
    const std::string bytes = read_bytes(addons / addon.name / "manifest.ini");
    EXPECT_TRUE(bytes == addon.old_bytes || bytes == addon.new_bytes)
        << addon.name << ": the manifest holds " << bytes.size() << " bytes, neither the backup's "
        << addon.old_bytes.size() << " nor the run's " << addon.new_bytes.size();
    EXPECT_EQ(read_if_present(addons.parent_path() / "manifest backups" / addon.name / "manifest.ini"), addon.old_bytes)
        << addon.name << ": the backup changed";
    tally.restored += bytes == addon.old_bytes;
    const std::vector<std::string> names = test_support::list_names(addons / addon.name);
    const bool cut = names == std::vector<std::string>{"manifest.ini", TEMPORARY};
    tally.temporaries += cut;
    EXPECT_TRUE(cut || names == std::vector<std::string>{"manifest.ini"})
        << addon.name << ": " << names.size() << " files";
  }
  return tally;
}

TEST(KilledRun, EveryRestoredManifestHoldsItsBackupsBytesOrTheRunsBytes) {
  const std::vector<Addon> list = many_addons();
  const std::string all = std::to_string(ADDON_COUNT);
  const std::u16string all_restored = runtime::utf8_to_utf16(
      all + " backups found, " + all + " restored, 0 unchanged, 0 changed since, 0 not installed, 0 failed.");
  const std::chrono::microseconds walk = shortest_walk([&] {
    driver::ProgramDriver program;
    const fs::path addons = update_for_restore(program, list);
    auto result = program.run(yes_to_all);
    const driver::Dialog* done = find_dialog(result, u"Done");
    EXPECT_TRUE(done != nullptr && done->text == all_restored);
    EXPECT_EQ(check_restore(addons, list).restored, ADDON_COUNT);
    return result;
  });
  if (HasFailure()) return;

  KillDelays delays(walk);
  int interrupted_walks = 0, temporaries = 0;
  for (int kill = 0; kill < KILL_COUNT; ++kill) {
    const auto delay = delays.next(kill);
    SCOPED_TRACE("kill " + std::to_string(kill) + " after " + std::to_string(delay.count()) + " us");
    driver::ProgramDriver program;
    const fs::path addons = update_for_restore(program, list);
    program.kill_after_answer(ANSWERS_BEFORE_RESTORE, delay);
    auto result = program.run(yes_to_all);
    EXPECT_TRUE(result.killed || result.finished);

    const RestoreTally tally = check_restore(addons, list);
    // One kill stops one write at the most.
    EXPECT_LE(tally.temporaries, result.killed ? 1 : 0);
    if (result.killed && tally.restored > 0 && tally.restored < ADDON_COUNT) ++interrupted_walks;
    temporaries += tally.temporaries;
    if (HasFailure()) return;
  }
  std::cout << "restore walk of " << ADDON_COUNT << " add-ons: " << walk.count() << " us; " << interrupted_walks
            << " of " << KILL_COUNT << " kills interrupted it, " << temporaries << " while a manifest was written\n";
  EXPECT_GT(interrupted_walks, 0) << "no kill landed inside the restore's walk over the add-ons";
}

}  // namespace
