// What a screen reader is told of every dialog of a run, read from outside the program through MSAA
// and WinEvents, while the robot answers with the keyboard alone.
#include <windows.h>
// The headers below need the declarations of windows.h.
#include <gtest/gtest.h>
#include <oleacc.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "runtime/utf8.h"
#include "tests/support/program_driver.h"
#include "tests/support/test_support.h"

namespace {

namespace fs = std::filesystem;
using driver::Answer;
using driver::Dialog;

std::string utf8(const std::u16string& text) { return runtime::utf16_to_utf8(text); }

bool starts_with(const std::u16string& text, std::u16string_view start) { return text.rfind(start, 0) == 0; }

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

// What the user must hear on each kind of dialog, checked on everything the robot recorded. Returns
// the kind, so that the caller can see that every kind came up.
std::string check(const Dialog& dialog, const std::u16string& typed) {
  const driver::Speech& speech = dialog.speech;
  SCOPED_TRACE(utf8(driver::transcript_line(dialog)));
  EXPECT_TRUE(speech.foreground_event);
  EXPECT_EQ(speech.name, speech.caption);
  EXPECT_TRUE(speech.focus_event);
  auto expect_button = [&](int id, const char16_t* name) {
    EXPECT_EQ(speech.focus_id, id);
    EXPECT_EQ(speech.focus.name, name);
    // Windows gives buttons ROLE_SYSTEM_PUSHBUTTON; Wine answers ROLE_SYSTEM_CLIENT.
    EXPECT_EQ(speech.focus.role, ROLE_SYSTEM_CLIENT);
    EXPECT_EQ(speech.message, dialog.text);
  };
  switch (dialog.kind) {
    case Dialog::Kind::chooser:
      EXPECT_EQ(speech.focus_class, u"SysTreeView32");
      return "chooser";
    case Dialog::Kind::input:
      EXPECT_EQ(speech.caption, u"version");
      EXPECT_EQ(speech.focus_id, 10);
      // The edit field's name is the label created just before it: the prompt.
      EXPECT_EQ(speech.focus.name, dialog.text);
      EXPECT_EQ(speech.focus.role, ROLE_SYSTEM_TEXT);
      EXPECT_EQ(speech.typed.value, typed);
      EXPECT_EQ(speech.focus_after_tab, 1000);
      EXPECT_EQ(speech.focus_after_shift_tab, 10);
      return "version prompt";
    case Dialog::Kind::message:
      EXPECT_EQ(speech.caption, dialog.title);
      if (!dialog.yes_no) {
        expect_button(IDOK, u"OK");
        if (dialog.title == u"Error")
          return starts_with(dialog.text, u"Could not back up") ? "backup error" : "version error";
        return dialog.title == u"Done" ? "summary" : "backup note";
      }
      if (dialog.no_is_default) {
        expect_button(IDNO, u"No");
        return "confirmation";
      }
      expect_button(IDYES, u"Yes");
      return "add-it question";
  }
  return "unknown";
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

void check_run(const driver::RunResult& result, const KeyboardUser& user, std::set<std::string>& kinds) {
  EXPECT_TRUE(result.finished);
  std::size_t inputs = 0;
  for (const Dialog& dialog : result.dialogs) {
    const bool input = dialog.kind == Dialog::Kind::input;
    kinds.insert(check(dialog, input && inputs < user.typed.size() ? user.typed[inputs++] : u""));
  }
}

TEST(ScreenReader, EveryDialogOfARunSaysItsNameFocusAndTextAndAnswersToKeys) {
  for (const fs::path& program_path : programs()) {
    SCOPED_TRACE(program_path.empty() ? "this build's program" : program_path.string());
    std::set<std::string> kinds;
    {
      // A refused version; a manifest without the key.
      driver::ProgramDriver program;
      if (!program_path.empty()) program.use_program(program_path);
      const fs::path addons = program.appdata() / "nvda" / "addons";
      fs::create_directories(addons / "one");
      fs::create_directories(addons / "two");
      test_support::write_bytes(addons / "one" / "manifest.ini", "lastTestedNVDAVersion = 2023.1\n");
      test_support::write_bytes(addons / "two" / "manifest.ini", "name = two\n");
      KeyboardUser user{{u"abc", u"2036.1.1"}, {}, {}};
      check_run(program.run(std::ref(user)), user, kinds);
      EXPECT_EQ(test_support::read_bytes(addons / "two" / "manifest.ini"),
                "name = two\r\nlastTestedNVDAVersion = 2036.1.1\r\n");
    }
    {
      // A backup that cannot be made: a file stands where its folder would go.
      driver::ProgramDriver program;
      if (!program_path.empty()) program.use_program(program_path);
      const fs::path nvda = program.appdata() / "nvda";
      fs::create_directories(nvda / "addons" / "one");
      test_support::write_bytes(nvda / "addons" / "one" / "manifest.ini", "lastTestedNVDAVersion = 2023.1\n");
      fs::create_directories(nvda / "manifest backups");
      test_support::write_bytes(nvda / "manifest backups" / "one", "in the way");
      KeyboardUser user{{u"2036.1.1"}, {}, {}};
      check_run(program.run(std::ref(user)), user, kinds);
    }
    {
      // No NVDA folder: the chooser comes first and its folder tree is walked to the chosen add-ons.
      driver::ProgramDriver program;
      if (!program_path.empty()) program.use_program(program_path);
      test_support::ScopedTempDir chosen(driver::ProgramDriver::chooser_base());
      fs::create_directories(chosen.path() / "addons" / "one");
      test_support::write_bytes(chosen.path() / "addons" / "one" / "manifest.ini", "lastTestedNVDAVersion = 2023.1\n");
      KeyboardUser user{{u"2036.1.1"}, chosen.path() / "addons", {}};
      check_run(program.run(std::ref(user)), user, kinds);
      EXPECT_EQ(test_support::read_bytes(chosen.path() / "addons" / "one" / "manifest.ini"),
                "lastTestedNVDAVersion = 2036.1.1\n");
    }
    EXPECT_EQ(kinds, (std::set<std::string>{"add-it question", "backup error", "backup note", "chooser", "confirmation",
                                            "summary", "version error", "version prompt"}));
  }
}

}  // namespace
