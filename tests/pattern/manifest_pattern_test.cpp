#include <array>
#include <filesystem>
#include <string>

#include "pattern_test_support.h"
#include "runtime/utf8.h"
#include "tests/support/test_support.h"

namespace {

using namespace pattern;

using Groups = std::array<const char16_t*, 5>;

// Every case runs with the updater's pattern and with its plain form.
class ManifestPatternTest : public PatternTest, public ::testing::WithParamInterface<const char16_t*> {
 protected:
  void SetUp() override {
    PatternTest::SetUp();
    ASSERT_NE(compile_pattern(0, GetParam(), PATTERN_MULTILINE), 0);
  }

  // The groups of the first match, as the updater reads them.
  static std::array<Text, 5> first_match_groups(TextView text) {
    std::array<Text, 5> groups;
    EXPECT_EQ(examine_matches(0, text), 1);
    EXPECT_EQ(next_match(0), 1);
    for (int i = 0; i < 5; ++i) groups[static_cast<std::size_t>(i)] = get_group_text(0, i + 1);
    return groups;
  }
};

TEST_P(ManifestPatternTest, HasFiveGroups) { EXPECT_EQ(count_pattern_groups(0), 5); }

TEST_P(ManifestPatternTest, KeyLineGivesItsFiveGroups) {
  struct Case {
    const char* name;
    const char16_t* text;
    Groups groups;
  };
  const Case cases[] = {
      {"one line", u"lastTestedNVDAVersion = 2019.3", {u"lastTestedNVDAVersion = ", u"2019", u"3", u"", u""}},
      {"LF, more lines follow",
       u"name = x\nlastTestedNVDAVersion = 2023.1.0\nsummary = y\n",
       {u"lastTestedNVDAVersion = ", u"2023", u"1", u"0", u""}},
      {"CR LF, quoted",
       u"lastTestedNVDAVersion = \"2019.3\"\r\nname = x\r\n",
       {u"lastTestedNVDAVersion = \"", u"2019", u"3", u"", u"\"\r"}},
      {"opening quote only",
       u"lastTestedNVDAVersion = \"2019.3\n",
       {u"lastTestedNVDAVersion = \"", u"2019", u"3", u"", u"\n"}},
      {"closing quote only",
       u"lastTestedNVDAVersion = 2019.3\"\nx",
       {u"lastTestedNVDAVersion = ", u"2019", u"3", u"", u"\""}},
      {"blank line above",
       u"a = 1\n\nlastTestedNVDAVersion = 2019.3",
       {u"\nlastTestedNVDAVersion = ", u"2019", u"3", u"", u""}},
      {"blank lines that end in another line above",
       u"a = 1\n\n \n\t\nb = 2\n\n lastTestedNVDAVersion = 2019.3",
       {u"\n lastTestedNVDAVersion = ", u"2019", u"3", u"", u""}},
      {"a key line cut short above",
       u"lastTestedNVDAVersion = 2019.3.\nlastTestedNVDAVersion\n=\n\nlastTestedNVDAVersion = 2020.1",
       {u"\nlastTestedNVDAVersion = ", u"2020", u"1", u"", u""}},
      {"indented", u"  \tlastTestedNVDAVersion = 1.2", {u"  \tlastTestedNVDAVersion = ", u"1", u"2", u"", u""}},
      {"last line with LF",
       u"a = 1\nlastTestedNVDAVersion = 2019.3\n",
       {u"lastTestedNVDAVersion = ", u"2019", u"3", u"", u"\n"}},
      {"last line with CR LF",
       u"a = 1\r\nlastTestedNVDAVersion = 2019.3\r\n",
       {u"lastTestedNVDAVersion = ", u"2019", u"3", u"", u"\r\n"}},
      {"last line with trailing blank lines",
       u"lastTestedNVDAVersion = 2019.3  \n\n",
       {u"lastTestedNVDAVersion = ", u"2019", u"3", u"", u"  \n\n"}},
      {"blank lines before more text",
       u"lastTestedNVDAVersion = 2019.3\n\n\nname = x",
       {u"lastTestedNVDAVersion = ", u"2019", u"3", u"", u"\n\n"}},
      {"three numbers", u"lastTestedNVDAVersion=2024.1.2", {u"lastTestedNVDAVersion=", u"2024", u"1", u"2", u""}},
      {"line breaks around =",
       u"lastTestedNVDAVersion\n=\r\n 2019.3",
       {u"lastTestedNVDAVersion\n=\r\n ", u"2019", u"3", u"", u""}},
      {"horizontal spaces beyond ASCII",
       u"lastTestedNVDAVersion\u00A0=\u30002019.3\u202F",
       {u"lastTestedNVDAVersion\u00A0=\u3000", u"2019", u"3", u"", u"\u202F"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(match_pattern(0, c.text), 1);
    auto groups = first_match_groups(c.text);
    for (std::size_t i = 0; i < 5; ++i) EXPECT_EQ(groups[i], Text(c.groups[i])) << "group " << i + 1;
  }
}

TEST_P(ManifestPatternTest, LinesThatAreNotAPlainVersionDoNotMatch) {
  struct Case {
    const char* name;
    const char16_t* text;
  };
  const Case cases[] = {
      {"one number", u"lastTestedNVDAVersion = 2019\n"},
      {"four numbers", u"lastTestedNVDAVersion = 2019.3.1.4\n"},
      {"trailing comment", u"lastTestedNVDAVersion = 2019.3 # tested\n"},
      {"trailing dot", u"lastTestedNVDAVersion = 2019.3.\n"},
      {"lower case key", u"lasttestednvdaversion = 2019.3\n"},
      {"capitalised key", u"LastTestedNVDAVersion = 2019.3\n"},
      {"text before the key", u"x lastTestedNVDAVersion = 1.2\n"},
      {"key inside a longer name", u"lastTestedNVDAVersion2 = 1.2\n"},
      {"Arabic-Indic digits", u"lastTestedNVDAVersion = \u0662\u0660\u0661\u0669.\u0663\n"},
      {"fullwidth digits", u"lastTestedNVDAVersion = \uFF12\uFF10\uFF11\uFF19.\uFF13\n"},
      {"lone CR is no line end", u"lastTestedNVDAVersion = 2019.3\rname = x\n"},
      {"no equals sign", u"lastTestedNVDAVersion 2019.3\n"},
      {"empty value", u"lastTestedNVDAVersion = \n"},
  };
  for (const auto& c : cases) EXPECT_EQ(match_pattern(0, c.text), 0) << c.name;
}

TEST_P(ManifestPatternTest, SeveralKeyLinesAreSeparateMatchesInOrder) {
  const char16_t* text = u"lastTestedNVDAVersion = 2019.3\r\nname = x\r\nlastTestedNVDAVersion = \"2020.4.1\"\r\n";
  ASSERT_EQ(examine_matches(0, text), 1);
  ASSERT_EQ(next_match(0), 1);
  EXPECT_EQ(get_group_text(0, 2), u"2019");
  EXPECT_EQ(get_group_text(0, 5), u"\r");
  ASSERT_EQ(next_match(0), 1);
  EXPECT_EQ(get_group_text(0, 2), u"2020");
  EXPECT_EQ(get_group_text(0, 4), u"1");
  EXPECT_EQ(get_group_text(0, 5), u"\"\r\n");
  EXPECT_EQ(next_match(0), 0);
}

TEST_P(ManifestPatternTest, UpdaterRewriteReplacesEveryKeyLineAndKeepsTheRest) {
  const char16_t* text =
      u"name = caf\u00E9\r\nlastTestedNVDAVersion = \"2019.3\"\r\nsummary = \U0001F600\r\n"
      u"lastTestedNVDAVersion = 2020.1.5\r\nurl = z\r\n";
  auto groups = first_match_groups(text);
  Text replacement = groups[0] + u"2036.1.1" + groups[4];
  EXPECT_EQ(replace_all(0, text, replacement),
            u"name = caf\u00E9\r\nlastTestedNVDAVersion = \"2036.1.1\"\r\nsummary = \U0001F600\r\n"
            u"lastTestedNVDAVersion = \"2036.1.1\"\r\nurl = z\r\n");
}

// The rewrite of a real manifest changes the value of its key line and nothing else.
std::string expected_rewrite(const std::string& manifest, const std::string& version) {
  std::string out;
  std::size_t start = 0;
  while (start < manifest.size()) {
    std::size_t end = manifest.find('\n', start);
    end = end == std::string::npos ? manifest.size() : end + 1;
    std::string line = manifest.substr(start, end - start);
    if (line.starts_with("lastTestedNVDAVersion")) {
      std::size_t value = line.find_first_of("0123456789");
      std::size_t value_end = line.find_first_not_of("0123456789.", value);
      line.replace(value, value_end - value, version);
    }
    out += line;
    start = end;
  }
  return out;
}

TEST_P(ManifestPatternTest, RealManifestsKeepEverythingButTheVersion) {
  SKIP_WITHOUT_SHARED_DIR();
  int rewritten = 0;
  for (const char* folder : {"manifests", "manifests-crlf-reconstructed"}) {
    auto directory = test_support::shared_dir() / "corpus" / folder;
    if (!std::filesystem::exists(directory)) continue;
    for (const auto& entry : std::filesystem::directory_iterator(directory)) {
      if (entry.path().extension() != ".ini") continue;
      SCOPED_TRACE(entry.path().filename().string());
      const std::string bytes = test_support::read_bytes(entry.path());
      const Text text = runtime::utf8_to_utf16(bytes);
      const bool has_key =
          bytes.starts_with("lastTestedNVDAVersion") || bytes.find("\nlastTestedNVDAVersion") != std::string::npos;
      ASSERT_EQ(match_pattern(0, text), has_key ? 1 : 0);
      if (!has_key) {
        EXPECT_EQ(to_utf8(replace_all(0, text, u"unused")), bytes);
        continue;
      }
      auto groups = first_match_groups(text);
      Text replacement = groups[0] + u"2036.1.1" + groups[4];
      EXPECT_EQ(to_utf8(replace_all(0, text, replacement)), expected_rewrite(bytes, "2036.1.1"));
      ++rewritten;
    }
  }
  EXPECT_GT(rewritten, 30);
}

INSTANTIATE_TEST_SUITE_P(BothForms, ManifestPatternTest, ::testing::Values(MANIFEST_PATTERN, PLAIN_MANIFEST_PATTERN));

}  // namespace
