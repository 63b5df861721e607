// The whole program, driven as a user drives it: through its dialogs under Wine, through the terminal
// on POSIX. The same scenarios run on both.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "manifest/manifest_rules.h"
#include "pattern/pattern.h"
#include "runtime/date.h"
#include "runtime/text_functions.h"
#include "runtime/utf8.h"
#include "tests/support/program_driver.h"
#include "tests/support/test_support.h"

namespace {

namespace fs = std::filesystem;
using driver::Answer;
using driver::Dialog;
using driver::RunResult;
using test_support::read_bytes;
using test_support::write_bytes;

const std::u16string CONFIRMATION =
    u"This will modify all manifest.ini files found in the addons folder. They will be backed up in the manifest "
    u"backups folder. Are you sure you want to proceed?";

std::u16string version_prompt() {
  return u"set manifests to what version (year.major(optionally .minor), E.g., " +
         runtime::format_integer(runtime::read_local_clock().year + 10) + u".1.1?";
}

std::string utf8(const std::u16string& text) { return runtime::utf16_to_utf8(text); }

// Answers Yes to every question, types the version at the prompt and confirms every message.
struct Scripted {
  std::u16string version = u"2036.1.1";
  bool add_key = true;
  Answer operator()(const Dialog& dialog) const {
    switch (dialog.kind) {
      case Dialog::Kind::input:
        return {Answer::Kind::type, version};
      case Dialog::Kind::chooser:
        return {Answer::Kind::cancel, {}};
      case Dialog::Kind::message:
        if (!dialog.yes_no) return {Answer::Kind::enter, {}};
        if (dialog.text == CONFIRMATION) return {Answer::Kind::yes, {}};
        return {add_key ? Answer::Kind::yes : Answer::Kind::no, {}};
    }
    return {};
  }
};

// The restore program of this build, or the one QUILLBROOK_RESTORE_PROGRAM names (the packaged one).
fs::path restore_program() {
  const char* other = std::getenv("QUILLBROOK_RESTORE_PROGRAM");
  return other && *other ? fs::path(other) : fs::path(QUILLBROOK_RESTORE_PROGRAM);
}

class EndToEnd : public ::testing::Test {
 protected:
  fs::path addons() const { return program.appdata() / "nvda" / "addons"; }
  fs::path backups() const { return program.appdata() / "nvda" / "manifest backups"; }

  void add_addon(const std::string& name, const std::string& manifest) {
    fs::create_directories(addons() / name);
    write_bytes(addons() / name / "manifest.ini", manifest);
  }
  std::string manifest(const std::string& name) const { return read_bytes(addons() / name / "manifest.ini"); }
  std::string backup(const std::string& name) const { return read_bytes(backups() / name / "manifest.ini"); }

  static std::vector<std::u16string> titles(const RunResult& result) {
    std::vector<std::u16string> out;
    for (const auto& dialog : result.dialogs) out.push_back(dialog.title);
    return out;
  }
  static const Dialog* find(const RunResult& result, const std::u16string& title) {
    for (const auto& dialog : result.dialogs)
      if (dialog.title == title) return &dialog;
    return nullptr;
  }
  static std::u16string summary(const RunResult& result) {
    const Dialog* done = find(result, u"Done");
    return done ? done->text : u"(no summary)";
  }
  static std::u16string counts(int found, int skipped, int failed, int modified) {
    using runtime::format_integer;
    return format_integer(found) + u" manifests found, " + format_integer(skipped) + u" skipped, " +
           format_integer(failed) + u" failed, " + format_integer(modified) + u" modified.";
  }
  void expect_clean_exit(const RunResult& result) const {
    EXPECT_TRUE(result.finished);
    EXPECT_EQ(result.exit_code, 0);
  }

  driver::ProgramDriver program;
};

TEST_F(EndToEnd, WithoutTheDefaultFolderTheChooserComesFirstAndCancelEndsTheRun) {
  RunResult result = program.run(Scripted{});
  expect_clean_exit(result);
  ASSERT_EQ(result.dialogs.size(), 1u);
  EXPECT_EQ(result.dialogs[0].kind, Dialog::Kind::chooser);
  EXPECT_EQ(result.dialogs[0].title, u"NVDA addon directory");
}

TEST_F(EndToEnd, AChosenFolderIsUsedWhenTheDefaultIsMissing) {
  test_support::ScopedTempDir chosen(driver::ProgramDriver::chooser_base());
  fs::create_directories(chosen.path() / "addons" / "one");
  write_bytes(chosen.path() / "addons" / "one" / "manifest.ini", "lastTestedNVDAVersion = 2023.1\r\n");
  RunResult result = program.run([&](const Dialog& dialog) {
    if (dialog.kind == Dialog::Kind::chooser)
      return Answer{Answer::Kind::choose, test_support::path_text(chosen.path() / "addons")};
    return Scripted{}(dialog);
  });
  expect_clean_exit(result);
  EXPECT_EQ(summary(result), counts(1, 0, 0, 1)) << utf8(result.dialogs.back().text);
  EXPECT_EQ(read_bytes(chosen.path() / "addons" / "one" / "manifest.ini"), "lastTestedNVDAVersion = 2036.1.1\r\n");
  EXPECT_EQ(read_bytes(chosen.path() / "manifest backups" / "one" / "manifest.ini"),
            "lastTestedNVDAVersion = 2023.1\r\n");
}

TEST_F(EndToEnd, DecliningTheConfirmationChangesNothing) {
  const std::string old = "lastTestedNVDAVersion = 2023.1\r\n";
  add_addon("one", old);
  for (auto answer : {Answer::Kind::no, Answer::Kind::enter}) {
    RunResult result = program.run([&](const Dialog& dialog) {
      if (dialog.text == CONFIRMATION) {
        EXPECT_TRUE(dialog.yes_no);
        EXPECT_TRUE(dialog.no_is_default);
        return Answer{answer, {}};
      }
      ADD_FAILURE() << "unexpected dialog " << utf8(dialog.title);
      return Answer{Answer::Kind::cancel, {}};
    });
    expect_clean_exit(result);
    ASSERT_EQ(result.dialogs.size(), 1u);
    EXPECT_EQ(result.dialogs[0].title, u"Warning");
    EXPECT_EQ(manifest("one"), old);
    EXPECT_FALSE(fs::exists(backups()));
  }
}

TEST_F(EndToEnd, CancellingOrEmptyingTheVersionChangesNothing) {
  const std::string old = "lastTestedNVDAVersion = 2023.1\r\n";
  add_addon("one", old);
  for (auto answer : {Answer{Answer::Kind::cancel, {}}, Answer{Answer::Kind::type, u""}}) {
    RunResult result = program.run([&](const Dialog& dialog) {
      if (dialog.kind == Dialog::Kind::input) {
        EXPECT_EQ(dialog.title, u"version");
        EXPECT_EQ(dialog.text, version_prompt());
        return answer;
      }
      return Scripted{}(dialog);
    });
    expect_clean_exit(result);
    EXPECT_EQ(titles(result), (std::vector<std::u16string>{u"Warning", u"version"}));
    EXPECT_EQ(manifest("one"), old);
    EXPECT_FALSE(fs::exists(backups()));
  }
}

TEST_F(EndToEnd, WorkedExamplesAreRewrittenByteForByteAndBackedUp) {
  const std::string replaced_before = "someKey = some value\r\nlastTestedNVDAVersion = 2023.1\r\notherKey = 1\r\n";
  const std::string appended_before = "someKey = some value\r\n\r\n";
  add_addon("sample", replaced_before);
  add_addon("second", appended_before);
  std::vector<std::u16string> questions;
  RunResult result = program.run([&](const Dialog& dialog) {
    if (dialog.yes_no && dialog.text != CONFIRMATION) {
      questions.push_back(dialog.text);
      EXPECT_EQ(dialog.title, u"Warning");
      EXPECT_FALSE(dialog.no_is_default);
    }
    return Scripted{}(dialog);
  });
  expect_clean_exit(result);
  EXPECT_EQ(manifest("sample"), "someKey = some value\r\nlastTestedNVDAVersion = 2036.1.1\r\notherKey = 1\r\n");
  EXPECT_EQ(backup("sample"), replaced_before);
  EXPECT_EQ(manifest("second"), "someKey = some value\r\nlastTestedNVDAVersion = 2036.1.1\r\n");
  EXPECT_EQ(backup("second"), appended_before);
  EXPECT_EQ(questions,
            std::vector<std::u16string>{u"Last tested version key not found in second/manifest.ini. Add it?"});

  EXPECT_EQ(summary(result), counts(2, 0, 0, 2));
  ASSERT_GE(result.dialogs.size(), 2u);
  const Dialog& note = result.dialogs.back();
  EXPECT_EQ(note.title, u"Info");
  EXPECT_EQ(note.text, u"Backups of the old manifests have been placed in " +
                           driver::ProgramDriver::folder_text(program.appdata() / "nvda") +
                           u"manifest backups. If you wish to restore the old manifests, copy all directories inside "
                           u"the backup folder and paste them in addons folder and confirm replace.");
  EXPECT_EQ(titles(result).back(), u"Info");
  EXPECT_EQ(result.dialogs[result.dialogs.size() - 2].title, u"Done");
}

TEST_F(EndToEnd, EveryOutcomeIsCounted) {
  add_addon("rewritten", "lastTestedNVDAVersion = 2023.1\n");
  add_addon("appended", "name = x\n");
  add_addon("declined", "name = y\n");
  add_addon("empty", "");
  fs::create_directories(addons() / "no manifest");
  fs::create_directories(addons() / "folder manifest" / "manifest.ini");
  write_bytes(addons() / "a file", "not an add-on");
  RunResult result = program.run([&](const Dialog& dialog) {
    if (dialog.yes_no && dialog.text.find(u"declined/") != std::u16string::npos) return Answer{Answer::Kind::no, {}};
    return Scripted{}(dialog);
  });
  expect_clean_exit(result);
  EXPECT_EQ(summary(result), counts(5, 2, 1, 2));
  EXPECT_EQ(manifest("declined"), "name = y\n");
  EXPECT_EQ(manifest("empty"), "");
  EXPECT_FALSE(fs::exists(backups() / "empty"));
  EXPECT_FALSE(fs::exists(backups() / "declined"));
  EXPECT_FALSE(fs::exists(backups() / "no manifest"));
}

TEST_F(EndToEnd, DotNamesAreNotAddonsButDotPrefixedFoldersAre) {
  add_addon(".x", "lastTestedNVDAVersion = 2023.1\n");
  // Windows drops trailing dots from names, so a folder named "..." exists only on POSIX.
  fs::create_directories(addons() / "...");
  bool dot_only = false;
  for (const auto& entry : fs::directory_iterator(addons())) dot_only |= entry.path().filename() == "...";
  if (dot_only) write_bytes(addons() / "..." / "manifest.ini", "lastTestedNVDAVersion = 2023.1\n");
  RunResult result = program.run(Scripted{});
  expect_clean_exit(result);
  EXPECT_EQ(summary(result), counts(1, 0, 0, 1));
  EXPECT_EQ(manifest(".x"), "lastTestedNVDAVersion = 2036.1.1\n");
  if (dot_only) {
    EXPECT_EQ(manifest("..."), "lastTestedNVDAVersion = 2023.1\n");
  }
}

TEST_F(EndToEnd, AnOnlyFilesFolderGivesZeroCountsAndTheNote) {
  fs::create_directories(addons());
  write_bytes(addons() / "readme.txt", "x");
  RunResult result = program.run(Scripted{});
  expect_clean_exit(result);
  EXPECT_EQ(summary(result), counts(0, 0, 0, 0));
  EXPECT_EQ(titles(result).back(), u"Info");
}

TEST_F(EndToEnd, KeyLineVariantsAreRewrittenInPlace) {
  struct Case {
    std::string before, after;
  } cases[] = {
      {"a = 1\r\nlastTestedNVDAVersion = \"2019.3\"\r\nname = x\r\n",
       "a = 1\r\nlastTestedNVDAVersion = \"2036.1.1\"\r\nname = x\r\n"},
      {"x = 1\n  lastTestedNVDAVersion=2022.3.4 \n", "x = 1\n  lastTestedNVDAVersion=2036.1.1 \n"},
      {"a = 1\n\nlastTestedNVDAVersion = 2019.3", "a = 1\n\nlastTestedNVDAVersion = 2036.1.1"},
      {"\xEF\xBB\xBFname = x\nlastTestedNVDAVersion = 2023.1\n",
       "\xEF\xBB\xBFname = x\nlastTestedNVDAVersion = 2036.1.1\n"},
      {"name = \xC3\xA9t\xC3\xA9\r\nlastTestedNVDAVersion = 2023.1.0\r\n",
       "name = \xC3\xA9t\xC3\xA9\r\nlastTestedNVDAVersion = 2036.1.1\r\n"},
      // The byte-order mark stays in front; the key line right after it is read like any other.
      {"\xEF\xBB\xBFlastTestedNVDAVersion = 2023.1\nname = x",
       "\xEF\xBB\xBFlastTestedNVDAVersion = 2036.1.1\nname = x"},
      {"\xEF\xBB\xBF\r\nlastTestedNVDAVersion = 2023.1\r\n", "\xEF\xBB\xBF\r\nlastTestedNVDAVersion = 2036.1.1\r\n"},
      // An old key line behind a long run of blank lines and another line.
      {"a = 1\n" + std::string(20000, '\n') + "b = 2\nlastTestedNVDAVersion = 2023.1\n",
       "a = 1\n" + std::string(20000, '\n') + "b = 2\nlastTestedNVDAVersion = 2036.1.1\n"},
  };
  int index = 0;
  for (const auto& c : cases) add_addon("case" + std::to_string(index++), c.before);
  RunResult result = program.run(Scripted{});
  expect_clean_exit(result);
  EXPECT_EQ(summary(result), counts(8, 0, 0, 8));
  index = 0;
  for (const auto& c : cases) {
    std::string name = "case" + std::to_string(index++);
    EXPECT_EQ(manifest(name), c.after) << name;
    EXPECT_EQ(backup(name), c.before) << name;
  }
}

TEST_F(EndToEnd, ThreeNumbersAreReplacedByTwo) {
  add_addon("one", "lastTestedNVDAVersion = 2023.1.0\r\n");
  RunResult result = program.run(Scripted{u"2024.1"});
  expect_clean_exit(result);
  EXPECT_EQ(manifest("one"), "lastTestedNVDAVersion = 2024.1\r\n");
}

TEST_F(EndToEnd, AppendedKeysFollowTheTextAfterItsLineEndsAreStripped) {
  add_addon("lflf", "name = x\n\n");
  add_addon("trailing", "name = x \t");
  RunResult result = program.run(Scripted{});
  expect_clean_exit(result);
  EXPECT_EQ(manifest("lflf"), "name = x\r\nlastTestedNVDAVersion = 2036.1.1\r\n");
  EXPECT_EQ(manifest("trailing"), "name = x \t\r\nlastTestedNVDAVersion = 2036.1.1\r\n");
  EXPECT_EQ(summary(result), counts(2, 0, 0, 2));
}

// Later runs keep the backup of the manifest as it was before the first run, so that one restore
// puts it back; only an add-on updated since gets a backup of its updated manifest.
TEST_F(EndToEnd, LaterRunsKeepTheOriginalBackupUnlessTheAddonWasUpdatedSince) {
  const std::map<std::string, std::string> original = {
      {"one", "lastTestedNVDAVersion = 2023.1\r\n"},
      {"two", "name = x\nlastTestedNVDAVersion = 2023.1\nx = 1\n"},
      {"added", "name = added\r\n[compat]\r\n"},
      {"updated", "name = updated\r\nversion = 1.0\r\nlastTestedNVDAVersion = 2023.1\r\n"},
  };
  for (const auto& [name, bytes] : original) add_addon(name, bytes);
  const std::string store_update = "name = updated\r\nversion = 2.0\r\nlastTestedNVDAVersion = 2024.1\r\n";
  for (const char16_t* version : {u"2024.1", u"2025.2", u"2026.1"}) {
    expect_clean_exit(program.run(Scripted{version}));
    if (version == std::u16string(u"2024.1")) write_bytes(addons() / "updated" / "manifest.ini", store_update);
  }
  EXPECT_EQ(manifest("one"), "lastTestedNVDAVersion = 2026.1\r\n");
  for (const char* name : {"one", "two", "added"}) EXPECT_EQ(backup(name), original.at(name)) << name;
  EXPECT_EQ(backup("updated"), store_update);

  RunResult same = program.run(Scripted{u"2026.1"});
  expect_clean_exit(same);
  EXPECT_EQ(summary(same), counts(4, 4, 0, 0));

  program.use_program(restore_program());
  expect_clean_exit(program.run(Scripted{}));
  for (const char* name : {"one", "two", "added"}) EXPECT_EQ(manifest(name), original.at(name)) << name;
  EXPECT_EQ(manifest("updated"), store_update);
}

TEST_F(EndToEnd, AManifestChangedWhileTheQuestionWasOpenIsLeftAsTheOtherProgramMadeIt) {
  add_addon("asked", "name = asked\r\n");
  add_addon("kept", "lastTestedNVDAVersion = 2023.1\r\n");
  const std::string edited = "name = asked\r\nlastTestedNVDAVersion = 2030.1\r\n";
  RunResult result = program.run([&](const Dialog& dialog) {
    // Another program saves the manifest while the user thinks about the question.
    if (dialog.yes_no && dialog.text != CONFIRMATION) write_bytes(addons() / "asked" / "manifest.ini", edited);
    return Scripted{}(dialog);
  });
  expect_clean_exit(result);
  EXPECT_EQ(summary(result), counts(2, 0, 1, 1));
  EXPECT_EQ(manifest("asked"), edited);
  // The backup, written before the check, holds what the new text was made from.
  EXPECT_EQ(backup("asked"), "name = asked\r\n");
  EXPECT_EQ(manifest("kept"), "lastTestedNVDAVersion = 2036.1.1\r\n");
}

TEST_F(EndToEnd, ASecondRunBesideTheFirstEndsAtOnceWithAMessage) {
  add_addon("one", "lastTestedNVDAVersion = 2023.1\r\n");
  const std::vector<std::string> before = test_support::list_names(program.appdata());
  RunResult second;
  RunResult first = program.run([&](const Dialog& dialog) {
    if (dialog.text == CONFIRMATION) {
      driver::ProgramDriver beside(program.appdata());
      second = beside.run(Scripted{});
      return Answer{Answer::Kind::no, {}};
    }
    return Scripted{}(dialog);
  });
  expect_clean_exit(first);
  expect_clean_exit(second);
  ASSERT_EQ(second.dialogs.size(), 1u);
  EXPECT_EQ(second.dialogs[0].title, u"Error");
  EXPECT_EQ(second.dialogs[0].text, u"Quillbrook is already running.");
  EXPECT_EQ(manifest("one"), "lastTestedNVDAVersion = 2023.1\r\n");
  // The claim leaves nothing behind in the user's folder.
  EXPECT_EQ(test_support::list_names(program.appdata()), before);
  // Once the first has ended, a run goes ahead.
  EXPECT_EQ(summary(program.run(Scripted{})), counts(1, 0, 0, 1));
}

TEST_F(EndToEnd, ABackupFailureEndsTheRunAfterTheAddonsBeforeIt) {
  for (int i = 0; i < 5; ++i) add_addon("addon" + std::to_string(i), "lastTestedNVDAVersion = 2023.1\r\n");
  // The program walks the folder in the file system's order; the third add-on in that order cannot
  // be backed up because a file stands where its backup folder would go.
  std::vector<std::string> order;
  for (const auto& entry : fs::directory_iterator(addons())) order.push_back(entry.path().filename().string());
  ASSERT_EQ(order.size(), 5u);
  fs::create_directories(backups());
  write_bytes(backups() / order[2], "in the way");

  RunResult result = program.run(Scripted{});
  expect_clean_exit(result);
  ASSERT_FALSE(result.dialogs.empty());
  EXPECT_EQ(result.dialogs.back().title, u"Error");
  EXPECT_EQ(result.dialogs.back().text, u"Could not back up " + runtime::utf8_to_utf16(order[2]) + u"/manifest.ini");
  EXPECT_EQ(find(result, u"Done"), nullptr);
  for (std::size_t i = 0; i < order.size(); ++i)
    EXPECT_EQ(manifest(order[i]), i < 2 ? "lastTestedNVDAVersion = 2036.1.1\r\n" : "lastTestedNVDAVersion = 2023.1\r\n")
        << order[i];
}

TEST_F(EndToEnd, ManifestsThatCannotBeReadOrRewrittenWholeAreLeftAlone) {
  const std::string key = "lastTestedNVDAVersion = 2023.1";
  // Lines of ten million blanks, which the screen reader refuses: an unclosed quote, and a second key.
  const std::string endless_blanks = std::string(10'500'000, ' ') + "x\r\n";
  const std::map<std::string, std::string> unreadable = {
      {"latin1", "name = \xE9t\xE9\r\n" + key + "\r\n"},
      {"stray", "name = \x92quote\x92\r\n" + key + "\r\n"},
      {"zero", key + std::string("\r\n\0tail", 7)},
      {"utf16", std::string("\xFF\xFEn\0a\0", 6)},
      {"unclosed quote", "lastTestedNVDAVersion = \"2023.1" + endless_blanks},
      {"second key", key + "\r\n" + key + endless_blanks},
  };
  for (const auto& [name, bytes] : unreadable) add_addon(name, bytes);
  // Too long for a Text, one byte over the limit and one 32-bit length further; sparse, so cheap.
  const std::uintmax_t too_large[] = {0x80000000u, 0x100000000u + key.size()};
  for (std::uintmax_t size : too_large) {
    std::string name = "size " + std::to_string(size);
    add_addon(name, key + "\r\n");
    fs::resize_file(addons() / name / "manifest.ini", size);
  }
  RunResult result = program.run([&](const Dialog& dialog) {
    if (dialog.yes_no && dialog.text != CONFIRMATION) ADD_FAILURE() << "asked about " << utf8(dialog.text);
    return Scripted{}(dialog);
  });
  expect_clean_exit(result);
  EXPECT_EQ(summary(result), counts(8, 0, 8, 0));
  for (const auto& [name, bytes] : unreadable) EXPECT_TRUE(manifest(name) == bytes) << name;
  for (std::uintmax_t size : too_large)
    EXPECT_EQ(fs::file_size(addons() / ("size " + std::to_string(size)) / "manifest.ini"), size);
  EXPECT_FALSE(fs::exists(backups()));
}

TEST_F(EndToEnd, AMinimumVersionAboveTheTypedOneLeavesTheManifestAlone) {
  const std::string above = "minimumNVDAVersion = 2036.2\r\nlastTestedNVDAVersion = 2023.1\r\n";
  const std::string above_no_key = "name = x\nminimumNVDAVersion = \"2037.1.0\"\n";
  add_addon("above", above);
  add_addon("above, no key", above_no_key);
  add_addon("equal", "minimumNVDAVersion = 2036.1.1\nlastTestedNVDAVersion = 2023.1\n");
  add_addon("in a section", "lastTestedNVDAVersion = 2023.1\n[compat]\nminimumNVDAVersion = 2040.1\n");
  RunResult result = program.run([&](const Dialog& dialog) {
    if (dialog.yes_no && dialog.text != CONFIRMATION) ADD_FAILURE() << "asked about " << utf8(dialog.text);
    return Scripted{}(dialog);
  });
  expect_clean_exit(result);
  EXPECT_EQ(summary(result), counts(4, 2, 0, 2));
  EXPECT_EQ(manifest("above"), above);
  EXPECT_EQ(manifest("above, no key"), above_no_key);
  EXPECT_FALSE(fs::exists(backups() / "above"));
  EXPECT_FALSE(fs::exists(backups() / "above, no key"));
  EXPECT_EQ(manifest("equal"), "minimumNVDAVersion = 2036.1.1\nlastTestedNVDAVersion = 2036.1.1\n");
  EXPECT_EQ(manifest("in a section"), "lastTestedNVDAVersion = 2036.1.1\n[compat]\nminimumNVDAVersion = 2040.1\n");
}

TEST_F(EndToEnd, AnInvalidVersionIsRefusedAndOfferedAgain) {
  add_addon("one", "lastTestedNVDAVersion = 2023.1\r\n");
  std::vector<std::u16string> defaults;
  int prompts = 0;
  RunResult result = program.run([&](const Dialog& dialog) {
    if (dialog.kind == Dialog::Kind::input) return Answer{Answer::Kind::type, ++prompts == 1 ? u"abc" : u"2030.2"};
    return Scripted{}(dialog);
  });
  expect_clean_exit(result);
  EXPECT_EQ(prompts, 2);
  const Dialog* error = find(result, u"Error");
  ASSERT_NE(error, nullptr);
  std::u16string year = runtime::format_integer(runtime::read_local_clock().year + 10);
  EXPECT_EQ(error->text, u"The version \"abc\" is not valid. Type it as year.major or year.major.minor, for example " +
                             year + u".1.1.");
  EXPECT_EQ(manifest("one"), "lastTestedNVDAVersion = 2030.2\r\n");
}

TEST_F(EndToEnd, TheKeyIsReplacedWhateverItsValueAndAKeyInAnotherCaseIsAnotherKey) {
  add_addon("four", "name = x\nlastTestedNVDAVersion = 2023.1.0.1\n");
  add_addon("comment", "lastTestedNVDAVersion = 2023.1 # tested\n");
  add_addon("case", "lasttestednvdaversion = 2023.1\n");
  std::vector<std::u16string> questions;
  RunResult result = program.run([&](const Dialog& dialog) {
    if (dialog.yes_no && dialog.text != CONFIRMATION) questions.push_back(dialog.text);
    return Scripted{}(dialog);
  });
  expect_clean_exit(result);
  EXPECT_EQ(manifest("four"), "name = x\nlastTestedNVDAVersion = 2036.1.1\n");
  EXPECT_EQ(manifest("comment"), "lastTestedNVDAVersion = 2036.1.1 # tested\n");
  EXPECT_EQ(questions, std::vector<std::u16string>{u"Last tested version key not found in case/manifest.ini. Add it?"});
  EXPECT_EQ(manifest("case"), "lasttestednvdaversion = 2023.1\r\nlastTestedNVDAVersion = 2036.1.1\r\n");
  EXPECT_EQ(summary(result), counts(3, 0, 0, 3));
}

TEST_F(EndToEnd, AnAddedKeyGoesBeforeTheFirstSectionWhereTheNextRunReadsIt) {
  const std::map<std::string, std::string> quoted{
      {"sections", "name = x\r\ndescription = \"\"\"two\r\n[lines]\"\"\"\r\n[compat]\r\nminimum = 1\r\n"},
      {"single quotes", "description = '''one\r\n[no]\r\n'''\r\n[yes]\r\n"},
      {"mixed quotes", "description = '''one \"\"\"\r\n[no]\r\n'''\r\n[yes]\r\n"}};
  for (const auto& [name, text] : quoted) add_addon(name, text);
  add_addon("lone cr", "name = x\r[s]\r");
  add_addon("bom", "\xEF\xBB\xBF[s]\n");
  add_addon("bom lone cr", "\xEF\xBB\xBFname = x\r[s]");
  RunResult result = program.run(Scripted{});
  expect_clean_exit(result);
  EXPECT_EQ(manifest("sections"),
            "name = x\r\ndescription = \"\"\"two\r\n[lines]\"\"\"\r\nlastTestedNVDAVersion = 2036.1.1\r\n[compat]\r\n"
            "minimum = 1\r\n");
  EXPECT_EQ(manifest("single quotes"),
            "description = '''one\r\n[no]\r\n'''\r\nlastTestedNVDAVersion = 2036.1.1\r\n[yes]\r\n");
  EXPECT_EQ(manifest("lone cr"), "name = x\r\nlastTestedNVDAVersion = 2036.1.1\r\n[s]\r");
  EXPECT_EQ(manifest("bom"), "\xEF\xBB\xBFlastTestedNVDAVersion = 2036.1.1\r\n[s]\n");
  EXPECT_EQ(manifest("bom lone cr"), "\xEF\xBB\xBFname = x\r\nlastTestedNVDAVersion = 2036.1.1\r\n[s]");

  // The next run finds every added key and rewrites it without asking again.
  RunResult again = program.run([](const Dialog& dialog) {
    if (dialog.yes_no && dialog.text != CONFIRMATION) ADD_FAILURE() << "asked about " << utf8(dialog.text);
    return Scripted{u"2037.2"}(dialog);
  });
  expect_clean_exit(again);
  EXPECT_EQ(summary(again), counts(6, 0, 0, 6));
  EXPECT_EQ(manifest("lone cr"), "name = x\r\nlastTestedNVDAVersion = 2037.2\r\n[s]\r");
  EXPECT_EQ(manifest("bom"), "\xEF\xBB\xBFlastTestedNVDAVersion = 2037.2\r\n[s]\n");
}

}  // namespace

namespace {

// What the rules make of a manifest, answered Yes. The rules are held against the screen reader's own
// reader by the differential test; here the program must do on the disk what they decide.
manifest::ManifestDecision expected_decision(const std::string& old, const std::string& version) {
  if (old.find('\0') != std::string::npos || !runtime::is_valid_utf8(old))
    return {manifest::ManifestOutcome::FAILED, {}};
  pattern::init_pattern_library();
  const manifest::ManifestGrammar grammar;
  return manifest::decide_manifest_text(grammar, runtime::utf8_to_utf16(old), runtime::utf8_to_utf16(version),
                                        [] { return true; });
}

const std::u16string RESTORE_CONFIRMATION =
    u"This will put the manifests saved in the manifest backups folder back into the addons folder. A manifest that "
    u"has changed in any other way since its backup was made is left as it is. Are you sure you want to proceed?";

// After an update run, each add-on is put in the state its name says; the restore puts back only what
// the run made, and a second restore finds it all as the first left it.
TEST_F(EndToEnd, ARestorePutsBackWhatTheRunChangedAndNothingElse) {
  const std::map<std::string, std::string> before = {
      {"restored", "name = restored\r\nlastTestedNVDAVersion = 2023.1\r\nb = 2\r\n"},
      {"quoted", "lastTestedNVDAVersion = \"2023.1.2\" \t\nname = quoted\n"},
      {"indented", "name = indented\r\n  lastTestedNVDAVersion='2022.1' # tested\r\n"},
      {"added before section", "name = section\r\n[compat]\r\nx = 1\r\n"},
      {"added at end", "name = end\n\n"},
      {"updated since", "name = updated\r\nlastTestedNVDAVersion = 2023.1\r\n"},
      {"unchanged", "name = unchanged\r\nlastTestedNVDAVersion = 2023.1\r\n"},
      {"gone", "name = gone\r\nlastTestedNVDAVersion = 2023.1\r\n"},
      {"no manifest", "name = no manifest\r\nlastTestedNVDAVersion = 2023.1\r\n"},
      {"not utf8", "name = not utf8\r\nlastTestedNVDAVersion = 2023.1\r\n"},
  };
  for (const auto& [name, bytes] : before) add_addon(name, bytes);
  EXPECT_EQ(summary(program.run(Scripted{})), counts(10, 0, 0, 10));
  const std::string store_update = "name = updated\r\nversion = 2.0\r\nlastTestedNVDAVersion = 2036.1.1\r\n";
  write_bytes(addons() / "updated since" / "manifest.ini", store_update);
  write_bytes(addons() / "unchanged" / "manifest.ini", before.at("unchanged"));
  fs::remove_all(addons() / "gone");
  fs::remove(addons() / "no manifest" / "manifest.ini");
  write_bytes(addons() / "not utf8" / "manifest.ini", "name = \xE9t\xE9\r\nlastTestedNVDAVersion = 2036.1.1\r\n");
  std::map<std::string, std::string> backups_before;
  for (const auto& [name, bytes] : before) backups_before[name] = backup(name);

  program.use_program(restore_program());
  RunResult result = program.run(Scripted{});
  expect_clean_exit(result);
  EXPECT_EQ(titles(result), (std::vector<std::u16string>{u"Warning", u"Warning", u"Done", u"Info"}));
  ASSERT_EQ(result.dialogs.size(), 4u);
  EXPECT_EQ(result.dialogs[0].text, RESTORE_CONFIRMATION);
  EXPECT_TRUE(result.dialogs[0].no_is_default);
  EXPECT_EQ(result.dialogs[1].text,
            u"These manifests have changed since their backups were made and were left as they are: updated since.");
  EXPECT_EQ(result.dialogs[2].text,
            u"10 backups found, 5 restored, 1 unchanged, 1 changed since, 2 not installed, 1 failed.");
  EXPECT_EQ(result.dialogs[3].text, u"Restart NVDA to load the restored manifests.");
  for (const char* name : {"restored", "quoted", "indented", "added before section", "added at end", "unchanged"})
    EXPECT_EQ(manifest(name), before.at(name)) << name;
  EXPECT_EQ(manifest("updated since"), store_update);
  EXPECT_FALSE(fs::exists(addons() / "gone"));
  EXPECT_FALSE(fs::exists(addons() / "no manifest" / "manifest.ini"));

  RunResult again = program.run(Scripted{});
  EXPECT_EQ(find(again, u"Done")->text,
            u"10 backups found, 0 restored, 6 unchanged, 1 changed since, 2 not installed, 1 failed.");
  EXPECT_EQ(find(again, u"Info"), nullptr);
  for (const auto& [name, bytes] : backups_before) EXPECT_EQ(backup(name), bytes) << name;
}

TEST_F(EndToEnd, ARestoreNeedsBackupsAConfirmationAndNoOtherRun) {
  fs::create_directories(addons());
  program.use_program(restore_program());
  RunResult none = program.run(Scripted{});
  expect_clean_exit(none);
  ASSERT_EQ(none.dialogs.size(), 1u);
  EXPECT_EQ(none.dialogs[0].title, u"Info");
  EXPECT_EQ(none.dialogs[0].text, u"No manifest backups found in " +
                                      driver::ProgramDriver::folder_text(program.appdata() / "nvda") +
                                      u"manifest backups.");

  add_addon("one", "lastTestedNVDAVersion = 2023.1\r\n");
  program.use_program({});
  program.run(Scripted{});
  program.use_program(restore_program());
  for (Answer::Kind answer : {Answer::Kind::no, Answer::Kind::enter}) {
    RunResult declined = program.run([&](const Dialog&) { return Answer{answer, {}}; });
    expect_clean_exit(declined);
    EXPECT_EQ(titles(declined), std::vector<std::u16string>{u"Warning"});
    EXPECT_EQ(manifest("one"), "lastTestedNVDAVersion = 2036.1.1\r\n");
  }

  // A restore beside an update run, which waits at its confirmation.
  RunResult restore;
  program.use_program({});
  RunResult update = program.run([&](const Dialog& dialog) {
    if (dialog.text == CONFIRMATION) {
      driver::ProgramDriver beside(program.appdata());
      beside.use_program(restore_program());
      restore = beside.run(Scripted{});
      return Answer{Answer::Kind::no, {}};
    }
    return Scripted{}(dialog);
  });
  expect_clean_exit(update);
  ASSERT_EQ(restore.dialogs.size(), 1u);
  EXPECT_EQ(restore.dialogs[0].text, u"Quillbrook is already running.");
  EXPECT_EQ(manifest("one"), "lastTestedNVDAVersion = 2036.1.1\r\n");
}

// NVDA's own language (nvda.ini) first, else the system's (the environment on POSIX, Wine's locale
// under Wine), else English; the version typed with the digits of the user's keyboard. Each run goes
// through to its notes in that language, and so does the restore after it.
TEST_F(EndToEnd, ARunSpeaksNvdasLanguageElseTheSystemsElseEnglish) {
  struct Row {
    const char* nvda_ini;  // nothing when empty
    const char* locale;    // the system's, when not empty
    const char* language;  // what the run must speak
    std::u16string typed;  // read as 2036.1.1
  };
  const Row rows[] = {
      {"[general]\nlanguage = es\n", "", "es", u"2036.1.1"},
      {"[general]\r\nlanguage = ar\r\n", "", "ar", u"\u0662\u0660\u0663\u0666\u066B\u0661\u066B\u0661"},
      {"", "es_ES.UTF-8", "es", u"2036.1.1"},
      {"", "ar_EG.UTF-8", "ar", u"2036.1.1"},
      {"[general]\nlanguage = Windows\n", "ar_EG.UTF-8", "ar", u"\u06F2\u06F0\u06F3\u06F6.\u06F1.\u06F1"},
      {"[general]\nlanguage = de\n", "es_ES.UTF-8", "de", u"2036.1.1"},
      {"[general]\nlanguage = ja\n", "", "ja", u"\uFF12\uFF10\uFF13\uFF16\uFF0E\uFF11\uFF0E\uFF11"},
      // A language without a catalogue, an nvda.ini that NVDA refuses, a language outside [general].
      {"[general]\nlanguage = pt_PT\n", "es_ES.UTF-8", "es", u"2036.1.1"},
      {"[general]\nlanguage = pt_BR\n", "", "pt_BR", u"2036.1.1"},
      {"[general]\nlanguage = es\nlanguage = de\n", "", "en", u"2036.1.1"},
      {"[speech]\nlanguage = es\n", "", "en", u"2036.1.1"},
  };
  for (const Row& row : rows) {
    if (!driver::ProgramDriver::can_use_system_locale(row.locale)) continue;
    SCOPED_TRACE(std::string(row.nvda_ini) + " / " + row.locale + " -> " + row.language);
    driver::ProgramDriver user;
    user.use_system_locale(row.locale);
    user.expect_language(row.language);
    const fs::path nvda = user.appdata() / "nvda";
    fs::create_directories(nvda / "addons" / "one");
    write_bytes(nvda / "addons" / "one" / "manifest.ini", "lastTestedNVDAVersion = 2023.1\n");
    if (*row.nvda_ini) write_bytes(nvda / "nvda.ini", row.nvda_ini);
    const std::string language = row.language;

    RunResult result = user.run([&](const Dialog& dialog) {
      if (dialog.kind == Dialog::Kind::input) return Answer{Answer::Kind::type, row.typed};
      return Answer{dialog.yes_no ? Answer::Kind::yes : Answer::Kind::enter, {}};
    });
    expect_clean_exit(result);
    ASSERT_EQ(titles(result),
              (std::vector<std::u16string>{
                  test_support::translated(language, u"Warning"), test_support::translated(language, u"version"),
                  test_support::translated(language, u"Done"), test_support::translated(language, u"Info")}));
    EXPECT_EQ(result.dialogs[1].text,
              test_support::translated(
                  language, u"set manifests to what version (year.major(optionally .minor), E.g., {example}?",
                  {{u"example", runtime::format_integer(runtime::read_local_clock().year + 10) + u".1.1"}}));
    EXPECT_EQ(result.dialogs[2].text,
              test_support::translated(
                  language, u"{found} manifests found, {skipped} skipped, {failed} failed, {modified} modified.",
                  {{u"found", u"1"}, {u"skipped", u"0"}, {u"failed", u"0"}, {u"modified", u"1"}}));
    EXPECT_EQ(read_bytes(nvda / "addons" / "one" / "manifest.ini"), "lastTestedNVDAVersion = 2036.1.1\n");

    user.use_program(restore_program());
    result = user.run([](const Dialog& dialog) {
      return Answer{dialog.yes_no ? Answer::Kind::yes : Answer::Kind::enter, {}};
    });
    expect_clean_exit(result);
    ASSERT_EQ(result.dialogs.size(), 3u);
    EXPECT_EQ(result.dialogs[1].text,
              test_support::translated(
                  language,
                  u"{found} backups found, {restored} restored, {unchanged} unchanged, {changed} changed since, "
                  u"{missing} not installed, {failed} failed.",
                  {{u"found", u"1"},
                   {u"restored", u"1"},
                   {u"unchanged", u"0"},
                   {u"changed", u"0"},
                   {u"missing", u"0"},
                   {u"failed", u"0"}}));
    EXPECT_EQ(read_bytes(nvda / "addons" / "one" / "manifest.ini"), "lastTestedNVDAVersion = 2023.1\n");
  }
}

TEST_F(EndToEnd, RealManifestsAreRewrittenByTheRules) {
  SKIP_WITHOUT_SHARED_DIR();
  std::map<std::string, std::string> before;
  for (const char* folder : {"manifests", "manifests-crlf-reconstructed", "manifests-field"}) {
    for (const auto& entry : fs::directory_iterator(test_support::shared_dir() / "corpus" / folder)) {
      if (entry.path().extension() != ".ini") continue;
      std::string name = std::string(folder) + "-" + entry.path().stem().string();
      before[name] = read_bytes(entry.path());
      add_addon(name, before[name]);
    }
  }
  ASSERT_GE(before.size(), 47u);
  // A version that some of the manifests' minimum versions lie above.
  RunResult result = program.run(Scripted{u"2025.2"});
  expect_clean_exit(result);
  int outcomes[3] = {};
  for (const auto& [name, old] : before) {
    const manifest::ManifestDecision expected = expected_decision(old, "2025.2");
    ++outcomes[static_cast<int>(expected.outcome)];
    if (expected.outcome == manifest::ManifestOutcome::REWRITTEN) {
      EXPECT_EQ(manifest(name), runtime::utf16_to_utf8(expected.new_text)) << name;
      EXPECT_EQ(backup(name), old) << name;
    } else {
      EXPECT_EQ(manifest(name), old) << name;
    }
  }
  using manifest::ManifestOutcome;
  EXPECT_EQ(summary(result), counts(static_cast<int>(before.size()), outcomes[int(ManifestOutcome::SKIPPED)],
                                    outcomes[int(ManifestOutcome::FAILED)], outcomes[int(ManifestOutcome::REWRITTEN)]));
}

}  // namespace
