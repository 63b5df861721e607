#include <gtest/gtest.h>

#include "pattern/pattern.h"
#include "updater/update_run.h"

namespace {

using namespace std::string_view_literals;
using updater::find_first_section_line;
using updater::has_key_line;
using updater::has_minimum_above;
using updater::is_valid_version;
using updater::ManifestOutcome;

TEST(VersionCheck, AcceptsYearMajorAndOptionalMinorOnly) {
  struct Case {
    std::u16string_view version;
    bool valid;
  } cases[] = {
      {u"2024.1", true},         {u"2036.1.1", true},    {u"2024.10", false},    {u"2024.1.10", false},
      {u"24.1", false},          {u"20244.1", false},    {u"2024", false},       {u"2024.", false},
      {u"2024.1.", false},       {u"2024.1.1.1", false}, {u"abc", false},        {u" 2024.1", false},
      {u"2024.1 ", false},       {u"\"2024.1\"", false}, {u"2024,1", false},     {u"\uff12024.1", false},
      {u"\u0662024.1", false},   {u"", false},           {u"2036.1\0"sv, false}, {u"2036.1\0.1"sv, false},
      {u"2036.1.1\0x"sv, false}, {u"\0"sv, false},
  };
  for (const auto& c : cases) EXPECT_EQ(is_valid_version(c.version), c.valid) << c.version.size();
}

TEST(Answers, OnlyYesConfirmsAndABoxThatCouldNotBeShownIsANo) {
  struct Case {
    std::int32_t answer;
    bool confirmed, add_key;
  } cases[] = {
      {0, false, false},  // the box could not be shown
      {6, true, true},    // Yes
      {7, false, false},  // No
      {2, false, true},   // closed without a button (Escape under Wine), at a box whose default is Yes
  };
  for (const auto& c : cases) {
    EXPECT_EQ(updater::is_confirmed(c.answer), c.confirmed) << c.answer;
    EXPECT_EQ(updater::is_yes_to_adding_key(c.answer), c.add_key) << c.answer;
  }
}

TEST(MinimumVersion, OnlyALoaderVersionAboveTheTypedOneBeforeAnySectionCounts) {
  struct Case {
    std::u16string_view text;
    bool above;  // with 2036.1.1 typed
  } cases[] = {
      {u"minimumNVDAVersion = 2036.2\nlastTestedNVDAVersion = 2023.1\n", true},
      {u"minimumNVDAVersion = 2037.0", true},
      {u"minimumNVDAVersion = 2036.1.2\r\n", true},
      {u"\ufeff \tminimumNVDAVersion\t=  \"2040.1\" \t\r\n[compat]\n", true},
      {u"name = x\rminimumNVDAVersion=2040.1\"", true},
      {u"minimumNVDAVersion = \"2040.1\nx = 1\nminimumNVDAVersion = 2020.1\n", true},
      {u"minimumNVDAVersion = 2036.1.1\n", false},
      {u"minimumNVDAVersion = 2036.1\n", false},
      {u"minimumNVDAVersion = 2019.3\n", false},
      {u"minimumNVDAVersion = 0\n", false},
      {u"minimumNVDAVersion = None\n", false},
      {u"minimumNVDAVersion = 2040.10\n", false},
      {u"minimumNVDAVersion = 2040.1.1.1\n", false},
      {u"minimumNVDAVersion = '2040.1'\n", true},
      {u"minimumNVDAVersion = 2040.1 \t# needs the new API\n", true},
      {u"minimumNVDAVersion = '2040.10'\n", false},
      {u"minimumNVDAVersion = 2040.10 # later\n", false},
      {u"minimumNVDAVersion = 2040\n", false},
      {u"minimumnvdaversion = 2040.1\n", false},
      {u"x minimumNVDAVersion = 2040.1\n", false},
      {u"minimumNVDAVersion = \uff12040.1\n", false},
      {u"[compat]\nminimumNVDAVersion = 2040.1\n", false},
      {u"name = x\n[compat]\nminimumNVDAVersion = 2040.1\n", false},
      {u"description = \"\"\"one\n[two]\"\"\"\nminimumNVDAVersion = 2040.1\n", true},
      {u"name = x\n\ufeffminimumNVDAVersion = 2040.1\n", false},
      {u"", false},
  };
  for (const auto& c : cases) EXPECT_EQ(has_minimum_above(c.text, u"2036.1.1"), c.above) << c.text.size();
  EXPECT_TRUE(has_minimum_above(u"minimumNVDAVersion = 2036.1.1", u"2036.1"));
  EXPECT_FALSE(has_minimum_above(u"minimumNVDAVersion = 0000.0", u"0000.0"));
}

TEST(KeyLineWithoutMatch, FindsAKeyLineThePatternCannotRead) {
  struct Case {
    const char16_t* text;
    bool has_key;
  } cases[] = {
      {u"name = x\r\nlastTestedNVDAVersion = 2023\r\n", true},
      {u"lastTestedNVDAVersion=2023.1.0.1", true},
      {u"  \tlastTestedNVDAVersion \t= 2023.1 # tested", true},
      {u"\ufefflastTestedNVDAVersion = 2023.1\n", true},
      {u"a\rlastTestedNVDAVersion =\r", true},
      {u"lastTestedNVDAVersion", false},
      {u"lastTestedNVDAVersion : 2023.1", false},
      {u"lasttestednvdaversion = 2023.1", false},
      {u"x lastTestedNVDAVersion = 2023.1", false},
      {u"lastTestedNVDAVersionX = 2023.1", false},
      {u"name = x\n\ufefflastTestedNVDAVersion = 1", false},
      {u"description = \"\"\"one\nlastTestedNVDAVersion = 2023\n\"\"\"\n", false},
      {u"", false},
  };
  for (const auto& c : cases) EXPECT_EQ(has_key_line(c.text), c.has_key) << std::u16string_view(c.text).size();
}

TEST(SectionLine, FirstSectionOutsideTripleQuotedValues) {
  struct Case {
    std::u16string_view text;
    std::size_t position;  // npos: none
  } cases[] = {
      {u"name = x\r\n[compatibility]\r\nkey = 1\r\n", 10},
      {u"name = x\n  \t[a]\n[b]\n", 9},
      {u"[a]\nname = x\n", 0},
      {u"\ufeff[a]\n", 1},
      {u"description = \"\"\"one\n[not a section]\n\"\"\"\n[real]\n", 41},
      {u"description = '''one\n[no]\n'''\n[yes]\n", 30},
      {u"description = \"\"\"one line\"\"\"\n[yes]\n", 29},
      {u"description = \"\"\"quote ''' inside\n[no]\n\"\"\"\n", std::u16string_view::npos},
      {u"name = x [y]\n", std::u16string_view::npos},
      {u"name = x\r[a]", 9},
  };
  for (const auto& c : cases) {
    std::size_t expected = c.position == std::u16string_view::npos ? c.text.size() : c.position;
    EXPECT_EQ(find_first_section_line(c.text), expected) << c.text.size();
  }
}

// The whole decision for one manifest's text, with 2036.1.1 typed; the question is asked only where
// "asked" says so, and answered with "yes".
TEST(ManifestDecision, TheRulesGiveTheNewTextOrLeaveTheManifestAlone) {
  pattern::init_pattern_library();
  const updater::KeyPattern key_pattern(0);
  constexpr auto REWRITTEN = ManifestOutcome::REWRITTEN, SKIPPED = ManifestOutcome::SKIPPED;
  struct Case {
    std::u16string_view text;
    bool asked, yes;
    ManifestOutcome outcome;
    std::u16string_view new_text;
  } cases[] = {
      {u"a = 1\r\nlastTestedNVDAVersion = 2023.1\r\nb = 2\r\n", false, false, REWRITTEN,
       u"a = 1\r\nlastTestedNVDAVersion = 2036.1.1\r\nb = 2\r\n"},
      {u"\ufefflastTestedNVDAVersion = \"2023.1.2\" \n", false, false, REWRITTEN,
       u"\ufefflastTestedNVDAVersion = \"2036.1.1\" \n"},
      {u"lastTestedNVDAVersion = 2036.1.1\n", false, false, SKIPPED, u""},
      {u"", false, false, SKIPPED, u""},
      {u"minimumNVDAVersion = 2040.1\n", false, false, SKIPPED, u""},
      {u"lastTestedNVDAVersion = 2023\n", false, false, SKIPPED, u""},
      {u"a = 1\r\n", true, false, SKIPPED, u""},
      {u"someKey = some value\r\n\r\n", true, true, REWRITTEN,
       u"someKey = some value\r\nlastTestedNVDAVersion = 2036.1.1\r\n"},
      {u"a = 1\r[compat]\r", true, true, REWRITTEN, u"a = 1\r\nlastTestedNVDAVersion = 2036.1.1\r\n[compat]\r"},
      {u"\ufeff[compat]\n", true, true, REWRITTEN, u"\ufefflastTestedNVDAVersion = 2036.1.1\r\n[compat]\n"},
      {u"\ufeff", false, false, SKIPPED, u""},
      // A key line inside a triple-quoted value is part of the value.
      {u"d = \"\"\"\nlastTestedNVDAVersion = 2023.1\n\"\"\"\n", true, true, REWRITTEN,
       u"d = \"\"\"\nlastTestedNVDAVersion = 2023.1\n\"\"\"\r\nlastTestedNVDAVersion = 2036.1.1\r\n"},
      {u"d = '''one\n lastTestedNVDAVersion = 2023.1'''\n", true, false, SKIPPED, u""},
      {u"d = \"\"\"never closed\nlastTestedNVDAVersion = 2023.1\n", false, false, SKIPPED, u""},
      {u"d = '''\n lastTestedNVDAVersion = \"2023.1\"\n'''\r\nlastTestedNVDAVersion = 2023.1\r\n", false, false,
       REWRITTEN, u"d = '''\n lastTestedNVDAVersion = \"2023.1\"\n'''\r\nlastTestedNVDAVersion = 2036.1.1\r\n"},
      {u"lastTestedNVDAVersion = 2023.1\nd = \"\"\"\nlastTestedNVDAVersion = 2023.1\n\"\"\"", false, false, REWRITTEN,
       u"lastTestedNVDAVersion = 2036.1.1\nd = \"\"\"\nlastTestedNVDAVersion = 2023.1\n\"\"\""},
  };
  for (const auto& c : cases) {
    int questions = 0;
    updater::ManifestDecision decision = updater::decide_manifest_text(key_pattern, c.text, u"2036.1.1", [&] {
      ++questions;
      return c.yes;
    });
    EXPECT_EQ(questions, c.asked ? 1 : 0) << c.text.size();
    EXPECT_EQ(decision.outcome, c.outcome) << c.text.size();
    EXPECT_EQ(decision.new_text, c.new_text) << c.text.size();
  }
  pattern::end_pattern_library();
}

}  // namespace
