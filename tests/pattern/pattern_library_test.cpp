#include <filesystem>
#include <string>
#include <vector>

#include "pattern/pattern_internal.h"
#include "pattern_test_support.h"
#include "runtime/utf8.h"
#include "tests/support/test_support.h"

namespace {

using namespace pattern;

// Every match of a scan as the list of its groups 1 to count.
std::vector<std::vector<Text>> scan_all(ObjectNumber number, TextView text) {
  std::vector<std::vector<Text>> matches;
  if (!examine_matches(number, text)) return matches;
  while (next_match(number)) {
    std::vector<Text> groups;
    for (std::int32_t i = 1; i <= count_pattern_groups(number); ++i) groups.push_back(get_group_text(number, i));
    matches.push_back(groups);
    if (matches.size() > 100) break;  // a scan that never ends is a failure, not a hang
  }
  return matches;
}

TEST_F(PatternTest, FailedCompileEmptiesTheNumber) {
  ASSERT_NE(compile_pattern(0, u"(a)", 0), 0);
  ASSERT_EQ(examine_matches(0, u"a"), 1);
  ASSERT_EQ(next_match(0), 1);

  EXPECT_EQ(compile_pattern(0, u"(", 0), 0);
  EXPECT_EQ(count_pattern_groups(0), 0);
  EXPECT_EQ(match_pattern(0, u"a"), 0);
  EXPECT_EQ(get_group_text(0, 1), u"");
  EXPECT_EQ(examine_matches(0, u"a"), 0);
  EXPECT_EQ(next_match(0), 0);
  EXPECT_EQ(replace_all(0, u"a", u"b"), u"");
}

TEST_F(PatternTest, RecompilingANumberEndsItsScan) {
  ASSERT_NE(compile_pattern(0, u"(a)", 0), 0);
  ASSERT_EQ(examine_matches(0, u"aaa"), 1);
  ASSERT_EQ(next_match(0), 1);
  ASSERT_EQ(get_group_text(0, 1), u"a");

  ASSERT_NE(compile_pattern(0, u"(a)", 0), 0);
  EXPECT_EQ(get_group_text(0, 1), u"");
  EXPECT_EQ(next_match(0), 0);
}

TEST_F(PatternTest, EmptyNumbersGiveNothing) {
  for (ObjectNumber number : {0, 5, 40, -5}) {
    SCOPED_TRACE(number);
    EXPECT_EQ(match_pattern(number, u"a"), 0);
    EXPECT_EQ(count_pattern_groups(number), 0);
    EXPECT_EQ(examine_matches(number, u"a"), 0);
    EXPECT_EQ(next_match(number), 0);
    EXPECT_EQ(get_group_text(number, 1), u"");
    EXPECT_EQ(replace_all(number, u"a", u"b"), u"");
    free_pattern(number);
  }
  EXPECT_EQ(compile_pattern(-5, u"a", 0), 0);
}

TEST_F(PatternTest, DynamicPatternIsNamedByItsHandle) {
  std::intptr_t handle = compile_pattern(ANY_NUMBER, u"(b)(c)?", 0);
  ASSERT_LT(handle, ANY_NUMBER);
  auto number = static_cast<ObjectNumber>(handle);
  EXPECT_EQ(count_pattern_groups(number), 2);
  EXPECT_EQ(match_pattern(number, u"abc"), 1);
  EXPECT_EQ(replace_all(number, u"abcab", u"-"), u"a-a-");
  free_pattern(number);
  EXPECT_EQ(match_pattern(number, u"abc"), 0);

  EXPECT_EQ(compile_pattern(ANY_NUMBER, u"(", 0), 0);
}

TEST_F(PatternTest, FreeingAnyNumberFreesEveryPattern) {
  ASSERT_NE(compile_pattern(0, u"a", 0), 0);
  ASSERT_NE(compile_pattern(3, u"a", 0), 0);
  auto handle = static_cast<ObjectNumber>(compile_pattern(ANY_NUMBER, u"a", 0));
  free_pattern(ANY_NUMBER);
  for (ObjectNumber number : {0, 3, handle}) EXPECT_EQ(match_pattern(number, u"a"), 0) << number;

  ASSERT_NE(compile_pattern(0, u"a", 0), 0);
  end_pattern_library();
  EXPECT_EQ(match_pattern(0, u"a"), 0);
}

TEST_F(PatternTest, GroupTextOnlyForACurrentMatchAndAnExistingGroup) {
  ASSERT_NE(compile_pattern(0, u"(a)(x)?", 0), 0);
  ASSERT_EQ(examine_matches(0, u"ba"), 1);
  EXPECT_EQ(get_group_text(0, 1), u"") << "before the first next_match";
  ASSERT_EQ(next_match(0), 1);
  EXPECT_EQ(get_group_text(0, 1), u"a");
  EXPECT_EQ(get_group_text(0, 0), u"") << "the whole match is not a group";
  EXPECT_EQ(get_group_text(0, -1), u"");
  EXPECT_EQ(get_group_text(0, 2), u"") << "a group that took no part";
  EXPECT_EQ(get_group_text(0, 3), u"") << "above the group count";
  EXPECT_EQ(next_match(0), 0);
  EXPECT_EQ(get_group_text(0, 1), u"") << "after the last match";
}

TEST_F(PatternTest, EmptyTextHasNoScanMatchesButMatchesAnEmptyPattern) {
  ASSERT_NE(compile_pattern(0, u"x*", 0), 0);
  EXPECT_EQ(match_pattern(0, u""), 1);
  EXPECT_EQ(match_pattern(0, TextView{}), 1);
  EXPECT_EQ(examine_matches(0, u""), 1);
  EXPECT_EQ(next_match(0), 0);
  EXPECT_EQ(examine_matches(0, TextView{}), 1);
  EXPECT_EQ(next_match(0), 0);
}

TEST_F(PatternTest, EmptyMatchIsReportedOnce) {
  ASSERT_NE(compile_pattern(0, u"(?=(b))", 0), 0);
  auto matches = scan_all(0, u"ab");
  ASSERT_EQ(matches.size(), 1u);
  EXPECT_EQ(matches[0][0], u"b");
}

TEST_F(PatternTest, EmptyMatchStepsOverAWholeCharacter) {
  // One empty match before each character, none at the very end, whatever each character's UTF-8 length.
  ASSERT_NE(compile_pattern(0, u"(x*)", 0), 0);
  EXPECT_EQ(scan_all(0, u"a\u00E9\u20AC\U0001F600").size(), 4u);
  ASSERT_NE(compile_pattern(0, u"(?=(.))", 0), 0);
  auto matches = scan_all(0, u"\u00E9\U0001F600z");
  ASSERT_EQ(matches.size(), 3u);
  EXPECT_EQ(matches[0][0], u"\u00E9");
  EXPECT_EQ(matches[1][0], u"\U0001F600");
  EXPECT_EQ(matches[2][0], u"z");
}

TEST_F(PatternTest, ScanFindsEveryMatchInOrderAndCanStartAgain) {
  ASSERT_NE(compile_pattern(0, u"(\\d+)", 0), 0);
  for (int round = 0; round < 2; ++round) {
    auto matches = scan_all(0, u"a1 22 333");
    ASSERT_EQ(matches.size(), 3u);
    EXPECT_EQ(matches[0][0], u"1");
    EXPECT_EQ(matches[1][0], u"22");
    EXPECT_EQ(matches[2][0], u"333");
  }
  // A new scan replaces the old one midway.
  ASSERT_EQ(examine_matches(0, u"1 2"), 1);
  ASSERT_EQ(next_match(0), 1);
  ASSERT_EQ(examine_matches(0, u"7"), 1);
  ASSERT_EQ(next_match(0), 1);
  EXPECT_EQ(get_group_text(0, 1), u"7");
  EXPECT_EQ(next_match(0), 0);
}

TEST_F(PatternTest, CompileFlagsReachTheEngineAndOnlyLfBreaksLines) {
  ASSERT_NE(compile_pattern(0, u"^b", 0), 0);
  EXPECT_EQ(match_pattern(0, u"a\nb"), 0);
  ASSERT_NE(compile_pattern(0, u"^b", PATTERN_MULTILINE), 0);
  EXPECT_EQ(match_pattern(0, u"a\nb"), 1);
  EXPECT_EQ(match_pattern(0, u"a\rb"), 0);
  EXPECT_EQ(match_pattern(0, u"a\u2028b"), 0);
}

TEST_F(PatternTest, GroupsComeBackAsUtf16) {
  ASSERT_NE(compile_pattern(0, u"(.)(.)", 0), 0);
  ASSERT_EQ(examine_matches(0, u"\U0001F600\u00E9"), 1);
  ASSERT_EQ(next_match(0), 1);
  EXPECT_EQ(get_group_text(0, 1), u"\U0001F600");
  EXPECT_EQ(get_group_text(0, 2), u"\u00E9");

  Text unpaired = u"a";
  unpaired.push_back(char16_t{0xD800});
  unpaired.push_back(u'b');
  ASSERT_NE(compile_pattern(0, u"a(.)b", 0), 0);
  ASSERT_EQ(examine_matches(0, unpaired), 1);
  ASSERT_EQ(next_match(0), 1);
  EXPECT_EQ(get_group_text(0, 1), u"\uFFFD");
}

TEST_F(PatternTest, AnEngineErrorIsReportedAndGivesNoMatchAndNoPartialReplacement) {
  // Nested runs that backtrack exponentially before the b: the engine stops at its match limit.
  const Text stuck = u"c" + Text(30, u'a') + u"b";
  ASSERT_NE(compile_pattern(0, u"c|(a+)+$", 0), 0);
  EXPECT_EQ(get_match_error(0), 0);
  EXPECT_EQ(match_pattern(0, stuck.substr(1)), 0);
  EXPECT_EQ(get_match_error(0), PATTERN_ERROR_MATCH_LIMIT);
  EXPECT_EQ(match_pattern(0, u"xaa"), 1);
  EXPECT_EQ(get_match_error(0), 0);

  ASSERT_EQ(examine_matches(0, stuck), 1);
  EXPECT_EQ(next_match(0), 1);
  EXPECT_EQ(get_match_error(0), 0);
  EXPECT_EQ(next_match(0), 0);
  EXPECT_EQ(get_match_error(0), PATTERN_ERROR_MATCH_LIMIT);
  ASSERT_EQ(examine_matches(0, u"aa"), 1);
  EXPECT_EQ(get_match_error(0), 0);

  // The c before the stuck run is a match already replaced when the engine gives up.
  EXPECT_EQ(replace_all(0, stuck, u"-"), u"");
  EXPECT_EQ(get_match_error(0), PATTERN_ERROR_MATCH_LIMIT);
  EXPECT_EQ(replace_all(0, u"caa", u"-"), u"--");
  EXPECT_EQ(get_match_error(0), 0);
  EXPECT_EQ(get_match_error(5), 0);
}

// The JIT's code runs a search where the pattern has it; the interpreter runs it where the JIT is
// refused (no executable memory) or its stack is too small. Each engine's limits apply to its own run.
class EnginePatternTest : public PatternTest, public ::testing::WithParamInterface<bool> {
 protected:
  void SetUp() override {
    PatternTest::SetUp();
    detail::refuse_jit(GetParam());
  }
  void TearDown() override {
    detail::refuse_jit(false);
    PatternTest::TearDown();
  }
};

TEST_P(EnginePatternTest, OnlyTheMatchLimitStopsASearch) {
  Text blank_lines;
  for (int i = 0; i < 200'000; ++i) blank_lines += u" \r\n";
  struct Case {
    const char* name;
    const char16_t* pattern;
    Text text;
    int matches;
    std::int32_t error;
  };
  const Case cases[] = {
      {"200,000 blank lines before the key line", MANIFEST_PATTERN,
       blank_lines + u"lastTestedNVDAVersion = 2023.1\r\n" + blank_lines, 1, 0},
      {"a group repeated 300,000 times", u"^(?:(a)|b)*$", Text(300'000, u'a'), 1, 0},
      {"a lazy run over a line of 1,000,000 characters", u"^(.*?)x$", Text(1'000'000, u'\u00E9') + u"x", 1, 0},
      {"backtracking that grows with every character", u"(a+)+$", Text(30, u'a') + u"b", 0, PATTERN_ERROR_MATCH_LIMIT},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_NE(compile_pattern(0, c.pattern, PATTERN_MULTILINE), 0);
    EXPECT_EQ(match_pattern(0, c.text), c.matches);
    EXPECT_EQ(get_match_error(0), c.error);
  }
}

// Every match, its position and its groups, then the replacement and the error: what callers see.
Text search_record(ObjectNumber number, TextView text) {
  std::string numbers;
  Text record;
  if (examine_matches(number, text)) {
    while (next_match(number)) {
      numbers += std::to_string(get_match_position(number)) + ' ';
      for (std::int32_t i = 1; i <= count_pattern_groups(number); ++i) (record += u'|') += get_group_text(number, i);
    }
  }
  (record += u'#') += replace_all(number, text, u"<>");
  numbers += std::to_string(get_match_error(number));
  return record += runtime::utf8_to_utf16(numbers);
}

std::size_t jit_code_size(ObjectNumber number) {
  std::size_t size = 0;
  pcre2_pattern_info(detail::compiled_pattern(number), PCRE2_INFO_JITSIZE, &size);
  return size;
}

TEST_F(PatternTest, WithTheJitRefusedEverySearchFindsWhatTheJitFinds) {
  const char16_t* patterns[] = {MANIFEST_PATTERN, PLAIN_MANIFEST_PATTERN,        u"(x*)",         u"(?=(.))",
                                u"c|(a+)+$",      u"^(\\S+)\\s*=\\s*(.*?)\\s*$", u"(?<=\\h)(\\w)"};
  std::vector<Text> texts = {u"lastTestedNVDAVersion = \"2019.3\"\r\nname = caf\u00E9\r\n",
                             u"\n\n lastTestedNVDAVersion\u00A0=\u30002019.3\u202F\nx", u"\U0001F600a\u00E9 b = c\n",
                             u"c" + Text(30, u'a') + u"b"};
  if (const auto corpus = test_support::shared_dir() / "corpus" / "manifests"; std::filesystem::exists(corpus)) {
    for (const auto& entry : std::filesystem::directory_iterator(corpus))
      texts.push_back(runtime::utf8_to_utf16(test_support::read_bytes(entry.path())));
  }
  for (const char16_t* pattern : patterns) {
    SCOPED_TRACE(to_utf8(pattern));
    ASSERT_NE(compile_pattern(0, pattern, PATTERN_MULTILINE), 0);
    detail::refuse_jit(true);
    ASSERT_NE(compile_pattern(1, pattern, PATTERN_MULTILINE), 0);
    detail::refuse_jit(false);
    EXPECT_GT(jit_code_size(0), 0u);
    EXPECT_EQ(jit_code_size(1), 0u);
    for (const Text& text : texts) EXPECT_EQ(search_record(1, text), search_record(0, text));
  }
}

INSTANTIATE_TEST_SUITE_P(JitOrRefused, EnginePatternTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "JitRefused" : "Jit"; });

TEST(Utf8RangeToText, GivesTheRangeOrNothing) {
  const std::string subject = "a\xC3\xA9z";
  EXPECT_EQ(pattern::utf8_range_to_text(subject, 1, 3), u"\u00E9");
  EXPECT_EQ(pattern::utf8_range_to_text(subject, 0, 4), u"a\u00E9z");
  EXPECT_EQ(pattern::utf8_range_to_text(subject, -1, -1), u"");
  EXPECT_EQ(pattern::utf8_range_to_text(subject, 2, 2), u"");
  EXPECT_EQ(pattern::utf8_range_to_text(subject, 3, 2), u"");
  EXPECT_EQ(pattern::utf8_range_to_text(subject, 2, 9), u"");
}

}  // namespace
