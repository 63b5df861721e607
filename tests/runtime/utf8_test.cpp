#include "runtime/utf8.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using namespace runtime;

TEST(Utf16ToUtf8, EncodesEveryRange) {
  EXPECT_EQ(utf16_to_utf8(u"a = \u00e9\r\n"), "a = \xC3\xA9\r\n");
  EXPECT_EQ(utf16_to_utf8(u"\u20ac"), "\xE2\x82\xAC");
  EXPECT_EQ(utf16_to_utf8(u"\U0001F600"), "\xF0\x9F\x98\x80");
  EXPECT_EQ(utf16_to_utf8(u"\ufeffk"), "\xEF\xBB\xBFk");
  EXPECT_EQ(utf16_to_utf8(TextView{}), "");
}

TEST(Utf16ToUtf8, UnpairedSurrogatesBecomeReplacementCharacters) {
  const char16_t lone_high[] = {u'a', 0xD83D, u'b', 0};
  const char16_t lone_low[] = {0xDE00, 0};
  const char16_t high_at_end[] = {u'x', 0xD83D, 0};
  EXPECT_EQ(utf16_to_utf8(lone_high),
            "a\xEF\xBF\xBD"
            "b");
  EXPECT_EQ(utf16_to_utf8(lone_low), "\xEF\xBF\xBD");
  EXPECT_EQ(utf16_to_utf8(high_at_end), "x\xEF\xBF\xBD");
}

TEST(Utf16ToUtf8, StopsAtTheFirstZeroUnit) { EXPECT_EQ(utf16_to_utf8(TextView(u"ab\0c", 4)), "ab"); }

TEST(Utf16ToUtf8, TheFormIsRecognisedWithoutAConversionExactly) {
  const TextView texts[] = {u"", u"a=1\r\n", u"\u00E9\u20AC\U0001F600", TextView(u"\xD800x\xDC00", 3),
                            TextView(u"ab\0c", 4)};
  for (TextView text : texts) {
    const std::string form = utf16_to_utf8(text);
    EXPECT_TRUE(runtime::is_utf8_form_of(text, form)) << form;
    EXPECT_FALSE(runtime::is_utf8_form_of(text, form + "x")) << form;
    if (!form.empty()) {
      EXPECT_FALSE(runtime::is_utf8_form_of(text, form.substr(0, form.size() - 1))) << form;
      std::string changed = form;
      changed.back() ^= 1;
      EXPECT_FALSE(runtime::is_utf8_form_of(text, changed)) << form;
    }
  }
}

TEST(Utf8ToUtf16, DecodesValidSequencesWithoutReplacement) {
  EXPECT_EQ(utf8_to_utf16("k=1\r\n"), u"k=1\r\n");
  EXPECT_EQ(utf8_to_utf16("\xC3\xA9\xE2\x82\xAC"), u"\u00e9\u20ac");
  EXPECT_EQ(utf8_to_utf16("\xF0\x9F\x98\x80"), u"\U0001F600");
  EXPECT_EQ(utf8_to_utf16("\xEF\xBB\xBF"), u"\ufeff");
  EXPECT_EQ(utf8_to_utf16("\xEF\xBF\xBD"), u"\ufffd");
  EXPECT_EQ(utf8_to_utf16("\xF4\x8F\xBF\xBF"), u"\U0010FFFF");
}

TEST(Utf8ToUtf16, IllFormedSequencesBecomeReplacementCharacters) {
  // One case a line, each beside its comment.
  // clang-format off
  struct Case {
    std::string bytes;
    std::u16string expected;
  } cases[] = {
      {"a\x80" "b", u"a\ufffdb"},                      // stray continuation byte
      {"\xC3", u"\ufffd"},                             // cut short at the end
      {"\xE2\x82" "a", u"\ufffda"},                    // cut short before an ASCII byte
      {"\xC0\xAF", u"\ufffd\ufffd"},                   // overlong
      {"\xED\xA0\x80", u"\ufffd\ufffd\ufffd"},         // encoded surrogate
      {"\xF4\x90\x80\x80", u"\ufffd\ufffd\ufffd\ufffd"},  // above U+10FFFF
      {"\xFF\xFE", u"\ufffd\ufffd"},
  };
  // clang-format on
  for (const auto& c : cases) EXPECT_EQ(utf8_to_utf16(c.bytes), c.expected) << c.bytes.size();
}

TEST(Utf8Validity, TellsWellFormedFromIllFormed) {
  EXPECT_TRUE(is_valid_utf8(""));
  EXPECT_TRUE(is_valid_utf8("\xEF\xBB\xBFkey = 1\r\n"));
  EXPECT_TRUE(is_valid_utf8("\xEF\xBF\xBD"));
  EXPECT_TRUE(is_valid_utf8("\xF0\x9F\x98\x80"));
  EXPECT_FALSE(is_valid_utf8("\xE9t\xE9"));  // Windows-1252
  EXPECT_FALSE(is_valid_utf8("abc\xC3"));
  EXPECT_FALSE(is_valid_utf8("\xED\xA0\x80"));
}

TEST(Utf8RoundTrip, EveryBmpCharacterOutsideTheSurrogatesSurvives) {
  std::u16string all;
  for (char32_t c = 1; c < 0x10000; ++c)
    if (c < 0xD800 || c > 0xDFFF) all.push_back(static_cast<char16_t>(c));
  EXPECT_EQ(utf8_to_utf16(utf16_to_utf8(all)), all);
}

}  // namespace
