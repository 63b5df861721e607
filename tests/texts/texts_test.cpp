// The catalogues as the program has them: which one a tag chooses, what a template becomes, and the
// digits a keyboard types. That the catalogues themselves are complete is scripts/check-catalogues'.
#include <gtest/gtest.h>

#include <string>

#include "runtime/utf8.h"
#include "texts/catalogue.h"
#include "texts/catalogue_table.h"
#include "texts/typed_digits.h"

namespace {

using runtime::Text;

struct EnglishAfter {
  ~EnglishAfter() { texts::choose_language(u"en"); }
};

TEST(Catalogue, ATagChoosesItsFullNameThenItsLanguageAloneAndOtherwiseKeepsTheChoice) {
  EnglishAfter english;
  struct Row {
    const char16_t* tag;
    bool chosen;
    const char16_t* language;  // the choice afterwards, from "es" before each row
  };
  const Row rows[] = {
      {u"de", true, u"de"},    {u"pt_BR", true, u"pt_BR"},    {u"pt-BR", true, u"pt_BR"},   {u"zh-CN", true, u"zh_CN"},
      {u"es_MX", true, u"es"}, {u"ar_EG.UTF-8", true, u"ar"}, {u"fr_FR@euro", true, u"fr"}, {u"en_GB", true, u"en"},
      {u"en", true, u"en"},    {u"pt_PT", false, u"es"},      {u"pt", false, u"es"},        {u"zh", false, u"es"},
      {u"C", false, u"es"},    {u"", false, u"es"},           {u"Windows", false, u"es"},   {u"_BR", false, u"es"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(runtime::utf16_to_utf8(row.tag));
    ASSERT_TRUE(texts::choose_language(u"es"));
    EXPECT_EQ(texts::choose_language(row.tag), row.chosen);
    EXPECT_EQ(texts::chosen_language(), row.language);
  }
}

TEST(Catalogue, EveryCatalogueIsCompiledInWithEveryTextAndItsDirection) {
  EnglishAfter english;
  ASSERT_EQ(texts::catalogues().size(), 14u);
  for (const texts::Catalogue& catalogue : texts::catalogues()) {
    SCOPED_TRACE(runtime::utf16_to_utf8(catalogue.language));
    ASSERT_TRUE(texts::choose_language(catalogue.language));
    EXPECT_EQ(texts::is_right_to_left(), catalogue.language == u"ar" || catalogue.language == u"fa");
    EXPECT_EQ(catalogue.translations.size(), texts::template_texts().size());
  }
  texts::choose_language(u"en");
  EXPECT_FALSE(texts::is_right_to_left());
  for (std::u16string_view english : texts::template_texts()) EXPECT_EQ(texts::tr(english), english);
}

TEST(Catalogue, ATemplateTakesItsValuesWhereverTheLanguagePutsThem) {
  EnglishAfter english;
  struct Row {
    const char16_t* language;
    const char16_t* english;
    Text expected;
  };
  const Row rows[] = {
      {u"en", u"Could not back up {path}", u"Could not back up a{folder}b/manifest.ini"},
      {u"de", u"Could not back up {path}", u"a{folder}b/manifest.ini konnte nicht gesichert werden"},
      // A text no catalogue has stays English; an unknown placeholder stays as it is.
      {u"de", u"{path} and {other}", u"a{folder}b/manifest.ini and {other}"},
      {u"de", u"{path", u"{path"},
  };
  for (const Row& row : rows) {
    ASSERT_TRUE(texts::choose_language(row.language));
    EXPECT_EQ(texts::format(row.english, {{u"path", u"a{folder}b/manifest.ini"}, {u"folder", u"x"}}), row.expected);
  }
}

TEST(TypedDigits, EveryKeyboardsDigitsAndDecimalSeparatorsBecomeAscii) {
  struct Row {
    const char16_t* typed;
    const char16_t* ascii;
  };
  const Row rows[] = {
      {u"2036.1.1", u"2036.1.1"},
      {u"\u0662\u0660\u0663\u0666\u066B\u0661\u066B\u0669", u"2036.1.9"},
      {u"\u06F2\u06F0\u06F3\u06F6.\u06F0\u06F9", u"2036.09"},
      {u"\uFF12\uFF10\uFF13\uFF16\uFF0E\uFF11", u"2036.1"},
      // Neighbours of the digit ranges, other separators and letters stay as they are.
      {u"\u065F\u066A\u066C\u06EF\u06FA\uFF0F\uFF1A\u3002,a", u"\u065F\u066A\u066C\u06EF\u06FA\uFF0F\uFF1A\u3002,a"},
  };
  for (const Row& row : rows) EXPECT_EQ(texts::with_ascii_digits(row.typed), row.ascii);
}

}  // namespace
