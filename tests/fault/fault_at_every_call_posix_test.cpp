// A system call that fails at any point of a run: for each kind of call the program makes on files
// and folders, and each error, the first call fails in one run, the second in the next, and so on
// until a run makes no such call. No failure may cost a manifest its bytes.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "tests/fault/fault_support.h"

namespace {

using namespace fault;
using test_support::read_bytes;

// Sets the environment that the preloaded library reads for the program runs of one scope.
class ScopedFailure {
 public:
  ScopedFailure(const std::string& call, long at, int error, const fs::path& mark, long count = 1) {
    set("LD_PRELOAD", FAIL_CALL_PRELOAD);
    // The sanitizer runtime would insist on coming first among the program's libraries.
    set("ASAN_OPTIONS", "verify_asan_link_order=0");
    set("QUILLBROOK_FAIL_CALL", call);
    set("QUILLBROOK_FAIL_AT", std::to_string(at));
    set("QUILLBROOK_FAIL_COUNT", std::to_string(count));
    set("QUILLBROOK_FAIL_ERRNO", std::to_string(error));
    set("QUILLBROOK_FAIL_MARK", mark.string());
  }
  ~ScopedFailure() {
    for (const auto& [name, value] : saved_) value ? setenv(name.c_str(), value->c_str(), 1) : unsetenv(name.c_str());
  }
  ScopedFailure(const ScopedFailure&) = delete;
  ScopedFailure& operator=(const ScopedFailure&) = delete;

  // Sets one more variable for the scope.
  void set(const std::string& name, const std::string& value) {
    const char* old = std::getenv(name.c_str());
    saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
    setenv(name.c_str(), value.c_str(), 1);
  }

 private:
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

// One add-on with the key, one without it whose question is answered Yes, one answered No.
struct SmallFolder {
  Addon keyed = addon("keyed", 600);
  Addon asked_yes{"asked yes", "name = asked yes\r\nversion = 1.0\r\n",
                  "name = asked yes\r\nversion = 1.0\r\nlastTestedNVDAVersion = 2036.1.1\r\n"};
  Addon asked_no{"asked no", "name = asked no\r\n", "name = asked no\r\n"};
  std::vector<Addon> all() const { return {keyed, asked_yes, asked_no}; }
};

driver::Answer answer(const driver::Dialog& dialog) {
  if (dialog.yes_no && dialog.text.find(u"asked no/") != std::u16string::npos) return {driver::Answer::Kind::no, {}};
  return yes_to_all(dialog);
}

// The numbers of a summary, or nothing for another text.
std::optional<std::vector<int>> summary_counts(const std::u16string& text) {
  int found, skipped, failed, modified;
  if (std::sscanf(runtime::utf16_to_utf8(text).c_str(), "%d manifests found, %d skipped, %d failed, %d modified.",
                  &found, &skipped, &failed, &modified) != 4)
    return std::nullopt;
  return std::vector<int>{found, skipped, failed, modified};
}

void check_run(const driver::RunResult& result, const fs::path& addons, const std::vector<Addon>& list) {
  EXPECT_TRUE(result.finished);
  EXPECT_EQ(result.exit_code, 0) << "a sanitizer report, or an early end";
  const fs::path backups = addons.parent_path() / "manifest backups";
  int rewritten = 0;
  for (const Addon& addon : list) {
    const std::string bytes = read_bytes(addons / addon.name / "manifest.ini");
    if (bytes == addon.new_bytes && bytes != addon.old_bytes) {
      ++rewritten;
      EXPECT_EQ(read_if_present(backups / addon.name / "manifest.ini"), addon.old_bytes) << addon.name;
    } else {
      EXPECT_EQ(bytes, addon.old_bytes) << addon.name << ": neither its old bytes nor its new ones";
    }
  }
  const driver::Dialog* done = find_dialog(result, u"Done");
  if (!done) {
    // Only a backup that failed ends the run without a summary, with its message last, or a claim that
    // could not be taken, before anything was written.
    ASSERT_FALSE(result.dialogs.empty());
    EXPECT_EQ(result.dialogs.back().title, u"Error");
    const std::u16string& text = result.dialogs.back().text;
    if (text.rfind(u"Could not claim ", 0) == 0) {
      EXPECT_EQ(result.dialogs.size(), 1u);
      EXPECT_EQ(rewritten, 0);
      return;
    }
    EXPECT_EQ(text.rfind(u"Could not back up ", 0), 0u) << "no summary";
    return;
  }
  const std::optional<std::vector<int>> counts = summary_counts(done->text);
  ASSERT_TRUE(counts) << runtime::utf16_to_utf8(done->text);
  EXPECT_EQ((*counts)[0], (*counts)[1] + (*counts)[2] + (*counts)[3]) << runtime::utf16_to_utf8(done->text);
  // "Modified" means the new bytes are there; every other manifest kept its old ones (checked above).
  EXPECT_EQ((*counts)[3], rewritten) << runtime::utf16_to_utf8(done->text);
}

TEST(FaultAtEveryCall, NoFailingCallCostsAManifestItsBytes) {
  const char* kinds[] = {"open", "read", "write", "fsync", "rename", "mkdir", "close"};
  const int errors[] = {EIO, ENOSPC, EACCES};
  const SmallFolder folder;
  int runs = 0;
  for (const char* kind : kinds) {
    for (int error : errors) {
      for (long at = 1;; ++at) {
        SCOPED_TRACE(std::string(kind) + " number " + std::to_string(at) + " fails with errno " +
                     std::to_string(error));
        driver::ProgramDriver program;
        const fs::path addons = program.appdata() / "nvda" / "addons";
        lay_out(addons, folder.all());
        const fs::path mark = program.appdata() / "failed";
        driver::RunResult result;
        {
          ScopedFailure failure(kind, at, error, mark);
          result = program.run(answer);
        }
        ++runs;
        check_run(result, addons, folder.all());
        if (HasFatalFailure() || !is_present(mark)) break;
      }
      if (HasFailure()) break;
    }
  }
  std::cout << runs << " runs, each with one failing call\n";
  EXPECT_GT(runs, 50);
}

// Another program saves a manifest while its backup is being flushed: the check just before the
// rename sees it, and the manifest keeps that program's bytes.
TEST(FaultAtEveryCall, AManifestSavedDuringItsBackupIsLeftAsTheOtherProgramMadeIt) {
  driver::ProgramDriver program;
  const fs::path addons = program.appdata() / "nvda" / "addons";
  const Addon keyed = addon("keyed", 600);
  lay_out(addons, {keyed});
  const std::string edited = "name = keyed\r\nlastTestedNVDAVersion = 2030.1\r\n";
  driver::RunResult result;
  {
    ScopedFailure at_backup_flush("fsync", 1, 0, program.appdata() / "failed");
    at_backup_flush.set("QUILLBROOK_EDIT_FILE", (addons / "keyed" / "manifest.ini").string());
    at_backup_flush.set("QUILLBROOK_EDIT_BYTES", edited);
    result = program.run(yes_to_all);
  }
  EXPECT_EQ(result.exit_code, 0);
  const driver::Dialog* done = find_dialog(result, u"Done");
  ASSERT_NE(done, nullptr);
  EXPECT_EQ(done->text, summary(1, 0, 1, 0));
  EXPECT_EQ(read_bytes(addons / "keyed" / "manifest.ini"), edited);
  EXPECT_EQ(read_bytes(addons.parent_path() / "manifest backups" / "keyed" / "manifest.ini"), keyed.old_bytes);
  EXPECT_EQ(test_support::list_names(addons / "keyed"), std::vector<std::string>{"manifest.ini"});
}

// In a folder that takes no temporary file the manifest is written in place; when its new text and
// then its old bytes both fail to go in, the user is told which manifest to restore by hand.
TEST(FaultAtEveryCall, AFailedRestoreAfterAnInPlaceRewriteIsReported) {
  driver::ProgramDriver program;
  program.run_unprivileged();
  const fs::path nvda = program.appdata() / "nvda";
  const fs::path addons = nvda / "addons";
  const Addon fixed = addon("fixed", 600);
  lay_out(addons, {fixed});
  give_to_program(nvda);
  ASSERT_EQ(chmod((addons / "fixed").c_str(), 0555), 0);
  driver::RunResult result;
  {
    // The first write is the backup's; every later one fails.
    ScopedFailure failure("write", 2, EIO, program.appdata() / "failed", 0);
    result = program.run(yes_to_all);
  }
  chmod((addons / "fixed").c_str(), 0755);
  EXPECT_TRUE(result.finished);
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(read_bytes(nvda / "manifest backups" / "fixed" / "manifest.ini"), fixed.old_bytes);
  const driver::Dialog* error = find_dialog(result, u"Error");
  ASSERT_NE(error, nullptr);
  EXPECT_EQ(error->text, u"Could not restore fixed/manifest.ini from its backup");
  const driver::Dialog* done = find_dialog(result, u"Done");
  ASSERT_NE(done, nullptr);
  EXPECT_EQ(done->text, summary(1, 0, 1, 0));
}

}  // namespace
