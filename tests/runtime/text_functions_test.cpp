#include "runtime/text_functions.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace {

using namespace runtime;

const TextView ABSENT{};

TEST(FormatInteger, DecimalWithSignAcrossTheWholeRange) {
  EXPECT_EQ(format_integer(0), u"0");
  EXPECT_EQ(format_integer(-7), u"-7");
  EXPECT_EQ(format_integer(2147483648LL), u"2147483648");
  EXPECT_EQ(format_integer(2036), u"2036");
  EXPECT_EQ(format_integer(INT64_MAX), u"9223372036854775807");
  EXPECT_EQ(format_integer(INT64_MIN), u"-9223372036854775808");
}

TEST(RemoveAllOccurrences, DotsAreRemovedEverywhere) {
  EXPECT_EQ(remove_all_occurrences(u"...", u"."), u"");
  EXPECT_EQ(remove_all_occurrences(u".", u"."), u"");
  EXPECT_EQ(remove_all_occurrences(u"..", u"."), u"");
  EXPECT_EQ(remove_all_occurrences(u"a.b.c", u"."), u"abc");
  EXPECT_EQ(remove_all_occurrences(u".x", u"."), u"x");
}

TEST(RemoveAllOccurrences, EmptyOrAbsentArguments) {
  EXPECT_EQ(remove_all_occurrences(u"abc", u""), u"abc");
  EXPECT_EQ(remove_all_occurrences(u"abc", ABSENT), u"abc");
  EXPECT_EQ(remove_all_occurrences(ABSENT, u"."), u"");
  EXPECT_EQ(remove_all_occurrences(u"", u"."), u"");
}

TEST(RemoveAllOccurrences, MatchesDoNotOverlap) {
  EXPECT_EQ(remove_all_occurrences(u"aaa", u"aa"), u"a");
  EXPECT_EQ(remove_all_occurrences(u"abab", u"ab"), u"");
}

TEST(RemoveAllOccurrences, GeneralFormModeStartAndCount) {
  // One case a line, each beside its comment.
  // clang-format off
  struct Case {
    const char16_t* text;
    const char16_t* search;
    std::int32_t mode, start, count;
    const char16_t* expected;
  } cases[] = {
      {u"AxaXa", u"x", 1, 1, -1, u"Aaa"},  // case-insensitive
      {u"AxaXa", u"x", 0, 1, -1, u"AaXa"},
      {u"x.x.x", u"x", 0, 2, -1, u"x.."},  // the first unit is kept
      {u"x.x.x", u"x", 0, 1, 2, u"..x"},   // at most two
      {u"x.x.x", u"x", 0, 1, 0, u".x.x"},  // 0 removes the first only
      {u"x.x.x", u"x", 0, 1, -5, u".x.x"},
      {u"ab", u"b", 0, 3, -1, u"ab"},  // start just past the end
  };
  // clang-format on
  for (const auto& c : cases)
    EXPECT_EQ(remove_all_occurrences(c.text, c.search, c.mode, c.start, c.count), c.expected)
        << "text " << std::u16string_view(c.text).size() << " start " << c.start << " count " << c.count;
}

TEST(TextPieces, MiddleAndRightClampTheirArguments) {
  EXPECT_EQ(middle_of_text(u"ab", 1, 1), u"a");
  EXPECT_EQ(middle_of_text(u"a", 1, 0), u"");
  EXPECT_EQ(middle_of_text(u"abc", 5, 2), u"");
  EXPECT_EQ(middle_of_text(u"abc", 0, 2), u"ab");
  EXPECT_EQ(middle_of_text(u"abc", 2, 10), u"bc");
  EXPECT_EQ(middle_of_text(u"abc", 2, -1), u"");
  EXPECT_EQ(right_of_text(u"", 1), u"");
  EXPECT_EQ(right_of_text(ABSENT, 1), u"");
  EXPECT_EQ(right_of_text(u"ab", 5), u"ab");
  EXPECT_EQ(right_of_text(u"ab", 1), u"b");
  EXPECT_EQ(right_of_text(u"ab", -1), u"");
}

TEST(TextPieces, TextEndsAtItsFirstZeroUnit) {
  const TextView with_zero(u"ab\0cd", 5);
  EXPECT_EQ(length_of_text(with_zero), 2);
  EXPECT_EQ(right_of_text(with_zero, 1), u"b");
  EXPECT_EQ(are_texts_equal(with_zero, u"ab"), 1);
  EXPECT_EQ(length_of_text(ABSENT), 0);
}

TEST(AreTextsEqual, ExactComparison) {
  EXPECT_EQ(are_texts_equal(u"A", u"a"), 0);
  EXPECT_EQ(are_texts_equal(ABSENT, u""), 1);
  EXPECT_EQ(are_texts_equal(u"abc", u"abc"), 1);
  EXPECT_EQ(are_texts_equal(u"abc", u"abc "), 0);
  EXPECT_EQ(are_texts_equal(u"\u00e9", u"e\u0301"), 0);
}

}  // namespace
