#include <string>
#include <vector>

#include "pattern_test_support.h"

namespace {

using namespace pattern;

TEST_F(PatternTest, ReplaceAllReplacesEveryMatchLiterally) {
  struct Case {
    const char16_t* pattern;
    const char16_t* text;
    const char16_t* replacement;
    const char16_t* expected;
  };
  const Case cases[] = {
      {u"(b)", u"abcb", u"\\1", u"a\\1c\\1"},
      {u"(b)", u"abcb", u"$1", u"a$1c$1"},
      {u"b", u"abcb", u"$0\\", u"a$0\\c$0\\"},
      {u"b", u"abcb", u"", u"ac"},
      {u"z", u"abc", u"-", u"abc"},
      {u"x*", u"abc", u"-", u"-a-b-c-"},
      {u"a*", u"aab", u"-", u"--b-"},
      {u"a*", u"aa", u"-", u"--"},
      {u"x*", u"", u"-", u"-"},
      {u"(?=b)", u"abab", u"^", u"a^ba^b"},
      {u"\u00E9", u"a\u00E9b\u00E9", u"\U0001F600", u"a\U0001F600b\U0001F600"},
      {u"x*", u"\u00E9\u20AC\U0001F600", u"-", u"-\u00E9-\u20AC-\U0001F600-"},
      {u".", u"\U0001F600\u00E9", u"<$>", u"<$><$>"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(to_utf8(c.pattern) + " on " + to_utf8(c.text));
    ASSERT_NE(compile_pattern(0, c.pattern, 0), 0);
    EXPECT_EQ(replace_all(0, c.text, c.replacement), c.expected);
  }
}

// A character above U+FFFF is two Text units, and each character one more.
TEST_F(PatternTest, MatchPositionsAreTextPositionsAndChooseTheMatchesReplaced) {
  const Text text = u"\U0001F600ab\u20ACab";
  ASSERT_NE(compile_pattern(0, u"ab", 0), 0);
  ASSERT_EQ(examine_matches(0, text), 1);
  std::vector<std::int32_t> scanned, offered;
  while (next_match(0)) scanned.push_back(get_match_position(0));
  EXPECT_EQ(scanned, (std::vector<std::int32_t>{2, 5}));
  EXPECT_EQ(get_match_position(0), -1);
  auto last = [&](std::int32_t at) { return offered.push_back(at), at == 5; };
  EXPECT_EQ(replace_matches(0, text, u"-", last), u"\U0001F600ab\u20AC-");
  EXPECT_EQ(offered, scanned);
  ASSERT_NE(compile_pattern(0, u"x*", 0), 0);
  EXPECT_EQ(replace_matches(0, u"\U0001F600\u00E9", u"-", [](std::int32_t at) { return at != 2; }),
            u"-\U0001F600\u00E9-");
}

TEST_F(PatternTest, ReplaceAllAbsentArguments) {
  ASSERT_NE(compile_pattern(0, u"b", 0), 0);
  EXPECT_EQ(replace_all(0, TextView{}, u"-"), u"");
  EXPECT_EQ(replace_all(0, u"abc", TextView{}), u"ac");
}

TEST_F(PatternTest, ReplaceAllWithoutMatchGivesTheTextBackAsUtf8RoundTrip) {
  ASSERT_NE(compile_pattern(0, u"z", 0), 0);
  Text text = u"a";
  text.push_back(char16_t{0xDC00});
  EXPECT_EQ(replace_all(0, text, u"-"), u"a\uFFFD");
}

TEST_F(PatternTest, ReplaceAllLeavesTheScanAlone) {
  ASSERT_NE(compile_pattern(0, u"(\\d)", 0), 0);
  ASSERT_EQ(examine_matches(0, u"1 2"), 1);
  ASSERT_EQ(next_match(0), 1);
  EXPECT_EQ(replace_all(0, u"7 8 9", u"x"), u"x x x");
  EXPECT_EQ(get_group_text(0, 1), u"1");
  ASSERT_EQ(next_match(0), 1);
  EXPECT_EQ(get_group_text(0, 1), u"2");
}

TEST_F(PatternTest, ReplaceAllResultsBeyondTheFirstBufferAreComplete) {
  Text text, expected;
  for (int i = 0; i < 5000; ++i) {
    text += u"ab\u00E9";
    expected += u"a[xyz]\u00E9";
  }
  ASSERT_NE(compile_pattern(0, u"b", 0), 0);
  EXPECT_EQ(replace_all(0, text, u"[xyz]"), expected);

  const Text long_replacement(9000, u'\u20AC');
  EXPECT_EQ(replace_all(0, u"abc", long_replacement), u"a" + long_replacement + u"c");
}

TEST_F(PatternTest, ReplaceAllReplacesMatchesWithManyGroups) {
  // Thirty groups do not all fit the replacement's offsets vector; the whole match still does.
  Text pattern;
  for (int i = 0; i < 30; ++i) pattern += u"()";
  pattern += u"b";
  ASSERT_NE(compile_pattern(0, pattern, 0), 0);
  EXPECT_EQ(count_pattern_groups(0), 30);
  EXPECT_EQ(replace_all(0, u"abab", u"-"), u"a-a-");
}

}  // namespace
