// What a screen reader is told of every dialog of both programs, read from outside the program through
// MSAA and WinEvents, while the robot answers with the keyboard alone: in English, in a language written
// from left to right and in one written from right to left, each chosen in NVDA's configuration.
#include <windows.h>
// The headers below need the declarations of windows.h.
#include <gtest/gtest.h>
#include <oleacc.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "runtime/date.h"
#include "runtime/text_functions.h"
#include "runtime/utf8.h"
#include "tests/support/program_driver.h"
#include "tests/support/test_support.h"

namespace {

namespace fs = std::filesystem;
using driver::Answer;
using driver::Dialog;

std::string utf8(const std::u16string& text) { return runtime::utf16_to_utf8(text); }

// The programs to listen to: the build's own and, from a 64-bit build, the 32-bit program as users get
// it, whose folder tree must be read in its own layout.
std::vector<fs::path> programs() {
  std::vector<fs::path> found{{}};
#ifdef QUILLBROOK_PRODUCT_32
  std::string product = QUILLBROOK_PRODUCT_32;
  if (fs::exists("Z:" + product)) found.push_back("Z:" + product);
#endif
  return found;
}

fs::path restore_program(const fs::path& update_program) {
  if (update_program.empty()) return QUILLBROOK_RESTORE_PROGRAM;
  return update_program.parent_path() / "quillbrook-restore.exe";
}

// A run's language and its forms of the program's texts, placeholders filled in.
struct Language {
  std::string name;  // as its catalogue is named; "en" for English
  std::u16string text(std::u16string_view english, const std::map<std::u16string, std::u16string>& fields = {}) const {
    return test_support::translated(name, english, fields);
  }
};

std::u16string example() { return runtime::format_integer(runtime::read_local_clock().year + 10) + u".1.1"; }

// What the user must hear on each dialog, checked on everything the robot recorded: the focus where a
// user expects it, its name and role, and the text as the catalogue has it. Returns the dialog's kind,
// so that the caller can see that every kind came up. Windows names the buttons of a message box in its
// own language; in English they read Yes, No and OK.
std::string check(const Dialog& dialog, const std::u16string& typed, const Language& language) {
  const driver::Speech& speech = dialog.speech;
  SCOPED_TRACE(utf8(driver::transcript_line(dialog)));
  EXPECT_TRUE(speech.foreground_event);
  EXPECT_EQ(speech.name, speech.caption);
  EXPECT_TRUE(speech.focus_event);
  auto expect_button = [&](int id, const char16_t* english_name) {
    EXPECT_EQ(speech.focus_id, id);
    if (language.name == "en")
      EXPECT_EQ(speech.focus.name, english_name);
    else
      EXPECT_FALSE(speech.focus.name.empty());
    // Windows gives buttons ROLE_SYSTEM_PUSHBUTTON; Wine answers ROLE_SYSTEM_CLIENT.
    EXPECT_EQ(speech.focus.role, ROLE_SYSTEM_CLIENT);
    EXPECT_EQ(speech.message, dialog.text);
  };
  auto is = [&](std::u16string_view title, std::u16string_view english,
                const std::map<std::u16string, std::u16string>& fields) {
    return dialog.title == language.text(title) && dialog.text == language.text(english, fields);
  };
  switch (dialog.kind) {
    case Dialog::Kind::chooser:
      EXPECT_EQ(speech.focus_class, u"SysTreeView32");
      EXPECT_EQ(dialog.title, language.text(u"NVDA addon directory"));
      return "chooser";
    case Dialog::Kind::input:
      EXPECT_EQ(speech.caption, language.text(u"version"));
      EXPECT_EQ(dialog.text,
                language.text(u"set manifests to what version (year.major(optionally .minor), E.g., {example}?",
                              {{u"example", example()}}));
      EXPECT_EQ(speech.focus_id, 10);
      // The edit field's name is the label created just before it: the prompt.
      EXPECT_EQ(speech.focus.name, dialog.text);
      EXPECT_EQ(speech.focus.role, ROLE_SYSTEM_TEXT);
      EXPECT_EQ(speech.typed.value, typed);
      EXPECT_EQ(speech.focus_after_tab, 1000);
      EXPECT_EQ(speech.focus_after_shift_tab, 10);
      return "version prompt";
    case Dialog::Kind::message:
      break;
  }
  EXPECT_EQ(speech.caption, dialog.title);
  if (dialog.yes_no) {
    EXPECT_EQ(dialog.title, language.text(u"Warning"));
    if (!dialog.no_is_default) {
      expect_button(IDYES, u"Yes");
      EXPECT_EQ(dialog.text, language.text(u"Last tested version key not found in {path}. Add it?",
                                           {{u"path", u"two/manifest.ini"}}));
      return "add-it question";
    }
    expect_button(IDNO, u"No");
    EXPECT_TRUE(dialog.text ==
                    language.text(u"This will modify all manifest.ini files found in the addons folder. They "
                                  u"will be backed up in the manifest backups folder. Are you sure you want "
                                  u"to proceed?") ||
                dialog.text == language.text(u"This will put the manifests saved in the manifest backups folder back "
                                             u"into the addons folder. A manifest that has changed in any other way "
                                             u"since its backup was made is left as it is. Are you sure you want to "
                                             u"proceed?"));
    return "confirmation";
  }
  expect_button(IDOK, u"OK");
  if (is(u"Error", u"Could not back up {path}", {{u"path", u"one/manifest.ini"}})) return "backup error";
  if (is(u"Error",
         u"The version \"{version}\" is not valid. Type it as year.major or year.major.minor, for example {example}.",
         {{u"version", u"abc"}, {u"example", example()}}))
    return "version error";
  if (is(u"Done", u"{found} manifests found, {skipped} skipped, {failed} failed, {modified} modified.",
         {{u"found", u"2"}, {u"skipped", u"0"}, {u"failed", u"0"}, {u"modified", u"2"}}) ||
      is(u"Done", u"{found} manifests found, {skipped} skipped, {failed} failed, {modified} modified.",
         {{u"found", u"1"}, {u"skipped", u"0"}, {u"failed", u"0"}, {u"modified", u"1"}}) ||
      is(u"Done",
         u"{found} backups found, {restored} restored, {unchanged} unchanged, {changed} changed since, "
         u"{missing} not installed, {failed} failed.",
         {{u"found", u"2"},
          {u"restored", u"2"},
          {u"unchanged", u"0"},
          {u"changed", u"0"},
          {u"missing", u"0"},
          {u"failed", u"0"}}))
    return "summary";
  if (is(u"Info", u"Restart NVDA to load the restored manifests.", {})) return "restore note";
  EXPECT_EQ(dialog.title, language.text(u"Info"));
  return "backup note";
}

// Answers Yes and Enter, and types the given versions in turn; records what it typed.
struct KeyboardUser {
  std::vector<std::u16string> versions;
  fs::path folder;  // chosen in the chooser
  std::vector<std::u16string> typed;
  Answer operator()(const Dialog& dialog) {
    switch (dialog.kind) {
      case Dialog::Kind::chooser:
        return {Answer::Kind::choose, test_support::path_text(folder)};
      case Dialog::Kind::input:
        typed.push_back(versions[std::min(typed.size(), versions.size() - 1)]);
        return {Answer::Kind::type, typed.back()};
      case Dialog::Kind::message:
        return {dialog.yes_no ? Answer::Kind::yes : Answer::Kind::enter, {}};
    }
    return {};
  }
};

void check_run(const driver::RunResult& result, const KeyboardUser& user, const Language& language,
               std::set<std::string>& kinds) {
  EXPECT_TRUE(result.finished);
  std::size_t inputs = 0;
  for (const Dialog& dialog : result.dialogs) {
    const bool input = dialog.kind == Dialog::Kind::input;
    kinds.insert(check(dialog, input && inputs < user.typed.size() ? user.typed[inputs++] : u"", language));
  }
}

// A user's world in the language: NVDA's configuration names it.
void speak(driver::ProgramDriver& program, const fs::path& program_path, const Language& language) {
  if (!program_path.empty()) program.use_program(program_path);
  program.expect_language(language.name);
  fs::create_directories(program.appdata() / "nvda");
  test_support::write_bytes(program.appdata() / "nvda" / "nvda.ini", "[general]\nlanguage = " + language.name + "\n");
}

TEST(ScreenReader, EveryDialogOfBothProgramsSaysItsNameFocusAndTextInTheUsersLanguage) {
  for (const fs::path& program_path : programs()) {
    for (const Language& language : {Language{"en"}, Language{"es"}, Language{"ar"}}) {
      SCOPED_TRACE((program_path.empty() ? "this build's program" : program_path.string()) + " in " + language.name);
      std::set<std::string> kinds;
      {
        // A refused version; a manifest without the key; then the restore of both.
        driver::ProgramDriver program;
        speak(program, program_path, language);
        const fs::path addons = program.appdata() / "nvda" / "addons";
        fs::create_directories(addons / "one");
        fs::create_directories(addons / "two");
        test_support::write_bytes(addons / "one" / "manifest.ini", "lastTestedNVDAVersion = 2023.1\n");
        test_support::write_bytes(addons / "two" / "manifest.ini", "name = two\n");
        KeyboardUser user{{u"abc", u"2036.1.1"}, {}, {}};
        check_run(program.run(std::ref(user)), user, language, kinds);
        EXPECT_EQ(test_support::read_bytes(addons / "two" / "manifest.ini"),
                  "name = two\r\nlastTestedNVDAVersion = 2036.1.1\r\n");
        program.use_program(restore_program(program_path));
        KeyboardUser restorer{{}, {}, {}};
        check_run(program.run(std::ref(restorer)), restorer, language, kinds);
        EXPECT_EQ(test_support::read_bytes(addons / "two" / "manifest.ini"), "name = two\n");
      }
      {
        // A backup that cannot be made: a file stands where its folder would go.
        driver::ProgramDriver program;
        speak(program, program_path, language);
        const fs::path nvda = program.appdata() / "nvda";
        fs::create_directories(nvda / "addons" / "one");
        test_support::write_bytes(nvda / "addons" / "one" / "manifest.ini", "lastTestedNVDAVersion = 2023.1\n");
        fs::create_directories(nvda / "manifest backups");
        test_support::write_bytes(nvda / "manifest backups" / "one", "in the way");
        KeyboardUser user{{u"2036.1.1"}, {}, {}};
        check_run(program.run(std::ref(user)), user, language, kinds);
      }
      if (language.name == "en") {
        // No NVDA folder: the chooser comes first and its folder tree is walked to the chosen add-ons.
        driver::ProgramDriver program;
        if (!program_path.empty()) program.use_program(program_path);
        test_support::ScopedTempDir chosen(driver::ProgramDriver::chooser_base());
        fs::create_directories(chosen.path() / "addons" / "one");
        test_support::write_bytes(chosen.path() / "addons" / "one" / "manifest.ini",
                                  "lastTestedNVDAVersion = 2023.1\n");
        KeyboardUser user{{u"2036.1.1"}, chosen.path() / "addons", {}};
        check_run(program.run(std::ref(user)), user, language, kinds);
        EXPECT_EQ(test_support::read_bytes(chosen.path() / "addons" / "one" / "manifest.ini"),
                  "lastTestedNVDAVersion = 2036.1.1\n");
      }
      std::set<std::string> expected{"add-it question", "backup error", "backup note",   "confirmation",
                                     "restore note",    "summary",      "version error", "version prompt"};
      if (language.name == "en") expected.insert("chooser");
      EXPECT_EQ(kinds, expected);
    }
  }
}

}  // namespace
