#include "manifest/manifest_rules.h"

#include <gtest/gtest.h>

#include "pattern/pattern.h"

namespace {

using namespace std::string_view_literals;
using manifest::ManifestOutcome;

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
  for (const auto& c : cases) EXPECT_EQ(manifest::is_valid_version(c.version), c.valid) << c.version.size();
}

class ManifestRules : public ::testing::Test {
 protected:
  void SetUp() override { pattern::init_pattern_library(); }
  void TearDown() override { pattern::end_pattern_library(); }
};

// The whole decision for one manifest's text, with 2036.1.1 typed; the question is asked only where
// "asked" says so, and answered with "yes". The differential test holds the same rules against the
// screen reader's own reader on generated texts; these rows are the forms worth naming.
TEST_F(ManifestRules, TheRulesGiveTheNewTextOrLeaveTheManifestAlone) {
  const manifest::ManifestGrammar grammar;
  ASSERT_TRUE(grammar.is_compiled());
  constexpr auto REWRITTEN = ManifestOutcome::REWRITTEN, SKIPPED = ManifestOutcome::SKIPPED,
                 FAILED = ManifestOutcome::FAILED;
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
      {u"\ufeff", false, false, SKIPPED, u""},
      // The value is whatever the reader reads, replaced with the rest of the line kept.
      {u"lastTestedNVDAVersion = 2023\n", false, false, REWRITTEN, u"lastTestedNVDAVersion = 2036.1.1\n"},
      {u"lastTestedNVDAVersion = 2023.1\"\n", false, false, REWRITTEN, u"lastTestedNVDAVersion = 2036.1.1\n"},
      {u"\"lastTestedNVDAVersion\" = 2024.1\n", false, false, REWRITTEN, u"\"lastTestedNVDAVersion\" = 2036.1.1\n"},
      {u"  lastTestedNVDAVersion='2024.1' # tested\r", false, false, REWRITTEN,
       u"  lastTestedNVDAVersion='2036.1.1' # tested\r"},
      {u"lastTestedNVDAVersion = \"\"\"2024.1\"\"\"\n", false, false, REWRITTEN,
       u"lastTestedNVDAVersion = \"\"\"2036.1.1\"\"\"\n"},
      {u"lastTestedNVDAVersion =\n", false, false, REWRITTEN, u"lastTestedNVDAVersion =2036.1.1\n"},
      {u"a = 1\u2028lastTestedNVDAVersion = 2024.1\u2028b = 2", false, false, REWRITTEN,
       u"a = 1\u2028lastTestedNVDAVersion = 2036.1.1\u2028b = 2"},
      // Triple quotes are a value's only where a value starts with them.
      {u"summary = \"Press ''' to start\"\nlastTestedNVDAVersion = 2023.1\ndescription = \"Then ''' again\"\n", false,
       false, REWRITTEN,
       u"summary = \"Press ''' to start\"\nlastTestedNVDAVersion = 2036.1.1\ndescription = \"Then ''' again\"\n"},
      {u"summary = s # has a \"\"\" in a comment\nlastTestedNVDAVersion = 2023.1\n", false, false, REWRITTEN,
       u"summary = s # has a \"\"\" in a comment\nlastTestedNVDAVersion = 2036.1.1\n"},
      {u"d = '''\n lastTestedNVDAVersion = \"2023.1\"\n'''\r\nlastTestedNVDAVersion = 2023.1\r\n", false, false,
       REWRITTEN, u"d = '''\n lastTestedNVDAVersion = \"2023.1\"\n'''\r\nlastTestedNVDAVersion = 2036.1.1\r\n"},
      {u"d = \"\"\"\nlastTestedNVDAVersion = 2023.1\n\"\"\"\n", true, true, REWRITTEN,
       u"d = \"\"\"\nlastTestedNVDAVersion = 2023.1\n\"\"\"\r\nlastTestedNVDAVersion = 2036.1.1\r\n"},
      // Texts the screen reader refuses, and keys it cannot hold a version in.
      {u"lastTestedNVDAVersion = \"2023.1\n", false, false, FAILED, u""},
      {u"lastTestedNVDAVersion = 2023.1\nlastTestedNVDAVersion = 2023.1\n", false, false, FAILED, u""},
      {u"lastTestedNVDAVersion = 2023.1, 2024.1\n", false, false, FAILED, u""},
      {u"lastTestedNVDAVersion = \"\"\"2023.1\n\"\"\"\n", false, false, FAILED, u""},
      {u"d = \"\"\"never closed\nlastTestedNVDAVersion = 2023.1\n", false, false, FAILED, u""},
      {u"no equals sign\n", false, false, FAILED, u""},
      {u"[a]\n[a]\n", false, false, FAILED, u""},
      {u"[[a]]\n", false, false, FAILED, u""},
      // The minimum, in any form the reader reads it, before the first section.
      {u"minimumNVDAVersion = 2040.1\n", false, false, SKIPPED, u""},
      {u"minimumNVDAVersion = \"2040.1\" # needs the new API\nlastTestedNVDAVersion = 2023.1\n", false, false, SKIPPED,
       u""},
      {u"minimumNVDAVersion\u3000= 2040.1\u00a0\nlastTestedNVDAVersion = 2023.1\n", false, false, SKIPPED, u""},
      {u"a = 1\x0cminimumNVDAVersion = 2040.1\x0clastTestedNVDAVersion = 2023.1\n", false, false, SKIPPED, u""},
      {u"a = 1\u0085minimumNVDAVersion = 2040.1\u0085lastTestedNVDAVersion = 2023.1\n", false, false, SKIPPED, u""},
      {u"minimumNVDAVersion = 2036.1.1\nlastTestedNVDAVersion = 2023.1\n", false, false, REWRITTEN,
       u"minimumNVDAVersion = 2036.1.1\nlastTestedNVDAVersion = 2036.1.1\n"},
      {u"minimumNVDAVersion = 2040.10\nlastTestedNVDAVersion = 2023.1\n", false, false, REWRITTEN,
       u"minimumNVDAVersion = 2040.10\nlastTestedNVDAVersion = 2036.1.1\n"},
      {u"lastTestedNVDAVersion = 2023.1\n[compat]\nminimumNVDAVersion = 2040.1\n", false, false, REWRITTEN,
       u"lastTestedNVDAVersion = 2036.1.1\n[compat]\nminimumNVDAVersion = 2040.1\n"},
      // No top-level key: the question, and the key before the first section or at the end.
      {u"a = 1\r\n", true, false, SKIPPED, u""},
      {u"someKey = some value\r\n\r\n", true, true, REWRITTEN,
       u"someKey = some value\r\nlastTestedNVDAVersion = 2036.1.1\r\n"},
      {u"a = 1\r[compat]\r", true, true, REWRITTEN, u"a = 1\r\nlastTestedNVDAVersion = 2036.1.1\r\n[compat]\r"},
      {u"\ufeff[compat]\n", true, true, REWRITTEN, u"\ufefflastTestedNVDAVersion = 2036.1.1\r\n[compat]\n"},
      {u"[s]\nlastTestedNVDAVersion = 1.0\n", true, true, REWRITTEN,
       u"lastTestedNVDAVersion = 2036.1.1\r\n[s]\nlastTestedNVDAVersion = 1.0\n"},
      // A section of the key's name would stand beside the added key: NVDA would refuse the new text.
      {u"[lastTestedNVDAVersion]\nx = 1\n", true, true, FAILED, u""},
  };
  for (const auto& c : cases) {
    int questions = 0;
    manifest::ManifestDecision decision = manifest::decide_manifest_text(grammar, c.text, u"2036.1.1", [&] {
      ++questions;
      return c.yes;
    });
    const std::string shown(c.text.begin(), c.text.end());
    EXPECT_EQ(questions, c.asked ? 1 : 0) << shown;
    EXPECT_EQ(decision.outcome, c.outcome) << shown;
    EXPECT_EQ(decision.new_text, c.new_text) << shown;
  }
}

// The restore's question: is a manifest an update run's work on its backup?
TEST_F(ManifestRules, ARewriteIsKnownByTheVersionOfItsOwnKey) {
  const manifest::ManifestGrammar grammar;
  struct Case {
    std::u16string_view earlier, later;
    bool rewrite;
  } cases[] = {
      {u"a = 1\nlastTestedNVDAVersion = 2023.1\n", u"a = 1\nlastTestedNVDAVersion = 2025.2\n", true},
      {u"a = 1\n", u"a = 1\r\nlastTestedNVDAVersion = 2025.2\r\n", true},
      {u"a = 1\nlastTestedNVDAVersion = 2023.1\n", u"a = 2\nlastTestedNVDAVersion = 2025.2\n", false},
      {u"a = 1\nlastTestedNVDAVersion = 2023.1\n", u"a = 1\nlastTestedNVDAVersion = 2023.1\n", false},
      {u"a = 1\nlastTestedNVDAVersion = 2023.1\n", u"a = 1\n", false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(manifest::is_rewrite_of(grammar, c.earlier, c.later), c.rewrite)
        << std::string(c.later.begin(), c.later.end());
}

}  // namespace
