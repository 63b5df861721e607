#include "files/text_files.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/program_end.h"
#include "runtime/utf8.h"
#include "tests/support/test_support.h"

namespace {

using namespace std::string_view_literals;
using files::ANY_NUMBER;
using runtime::Text;
using test_support::read_bytes;
using test_support::write_bytes;

constexpr std::int32_t UTF8 = files::ENCODING_UTF8;
constexpr std::int32_t UTF16 = files::ENCODING_UTF16;
constexpr std::int32_t ANSI = 1;
constexpr std::int32_t BUFFERINGS[] = {0, files::OPEN_UNBUFFERED};

std::string utf16le(std::u16string_view text) {
  std::string bytes;
  for (char16_t unit : text) {
    bytes.push_back(static_cast<char>(unit & 0xFF));
    bytes.push_back(static_cast<char>(unit >> 8));
  }
  return bytes;
}

class TextFiles : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { files::init_file_library(); }
  // Handles must be gone before the temporary folder is removed (Windows refuses otherwise).
  void TearDown() override { files::close_file(ANY_NUMBER); }

  std::filesystem::path file(std::string_view name) const { return dir_.path() / name; }
  Text path(std::string_view name) const { return dir_.text() + runtime::text_from_latin1(name); }
  Text with_bytes(std::string_view name, std::string_view bytes) const {
    write_bytes(file(name), bytes);
    // Windows refuses to rewrite a file that is still open without sharing.
    EXPECT_EQ(read_bytes(file(name)), bytes) << "cannot prepare " << name;
    return path(name);
  }

  test_support::ScopedTempDir dir_;
};

TEST_F(TextFiles, WholeFileReadKeepsLineEndsAndStopsAtTheFirstZeroByte) {
  struct Case {
    std::string_view bytes;
    std::u16string_view text;
  };
  const Case cases[] = {
      {""sv, u""},
      {"k=1\r\nx=2\r\n"sv, u"k=1\r\nx=2\r\n"},
      {"a\rb\nc"sv, u"a\rb\nc"},
      {"\xEF\xBB\xBFname=x"sv, u"\uFEFFname=x"},
      {"ab\0cd"sv, u"ab"},
      {"\xFF\xFE\x6E\x00"sv, u"??n"},
      {"a\x80"
       "b\xBF"sv,
       u"a?b?"},
      {"\xC3\xA9t\xC3\xA9"sv, u"\u00E9t\u00E9"},
      {"\xF0\x9F\x98\x80"sv, u"\U0001F600"},
      {"\xC3("sv, u"\uFFFD("},
      {"a\xE2\x82"sv, u"a"},
  };
  for (std::int32_t buffering : BUFFERINGS) {
    for (const Case& c : cases) {
      SCOPED_TRACE(testing::Message() << "bytes " << testing::PrintToString(std::string(c.bytes)) << ", flags "
                                      << buffering);
      ASSERT_NE(files::open_file_for_reading(0, with_bytes("whole.txt", c.bytes), UTF8 | buffering), 0);
      EXPECT_EQ(files::read_file_text(0, files::READ_WHOLE_FILE), Text(c.text));
      EXPECT_EQ(files::close_file(0), 1);
    }
  }
}

TEST_F(TextFiles, LineReadEndsAtLfCrOrCrLfAndGivesBackTheUnitAfterALoneCr) {
  struct Case {
    std::string bytes;
    std::int32_t encoding;
    std::vector<std::u16string_view> lines;  // successive reads, past the end too
  };
  const std::string long_line(4095, 'x');
  const std::u16string long_text(4095, u'x');
  const Case cases[] = {
      {"a\r\nb", UTF8, {u"a", u"b", u""}},
      {"a\rb", UTF8, {u"a", u"b", u""}},
      {"a\n\n", UTF8, {u"a", u"", u""}},
      {"a\r", UTF8, {u"a", u""}},
      {"a\r\rb", UTF8, {u"a", u"", u"b"}},
      {"a\r\n\r\nb", UTF8, {u"a", u"", u"b"}},
      {std::string("x\0y\nz", 5), UTF8, {u"x", u"y", u"z"}},
      {"\xC3\xA9\r\xE2\x82\xAC", UTF8, {u"\u00E9", u"\u20AC"}},
      {utf16le(u"a\rb\r\nc\nd"), UTF16, {u"a", u"b", u"c", u"d", u""}},
      {utf16le(u"a\r\u0A0Db"), UTF16, {u"a", u"\u0A0Db"}},
      {"a\rb\r\nc", ANSI, {u"a", u"b", u"c", u""}},
      // The unit after the CR is the first of a refilled buffer.
      {long_line + "\ry", UTF8, {long_text, u"y", u""}},
      {long_line + "\r\ny", UTF8, {long_text, u"y"}},
  };
  for (std::int32_t buffering : BUFFERINGS) {
    for (const Case& c : cases) {
      SCOPED_TRACE(testing::Message() << "bytes " << testing::PrintToString(c.bytes.substr(0, 20)) << ", encoding "
                                      << c.encoding << ", flags " << buffering);
      ASSERT_NE(files::open_file_for_reading(0, with_bytes("lines.txt", c.bytes), c.encoding | buffering), 0);
      for (std::u16string_view line : c.lines) EXPECT_EQ(files::read_file_text(0, 0), Text(line));
      EXPECT_EQ(files::close_file(0), 1);
    }
  }
}

TEST_F(TextFiles, GiveBackOfAUnitSplitByARefillKeepsThePosition) {
  // An odd first line puts the UTF-16 unit after the CR across the 4096-byte boundary.
  std::u16string units(2045, u'u');
  std::string bytes = "z\r\n" + utf16le(units + u"\rvw");
  ASSERT_EQ(bytes.size(), 4093u + 6u);
  for (std::int32_t buffering : BUFFERINGS) {
    SCOPED_TRACE(buffering);
    ASSERT_NE(files::open_file_for_reading(0, with_bytes("split.txt", bytes), ANSI | buffering), 0);
    EXPECT_EQ(files::read_file_text(0, 0), u"z");
    EXPECT_EQ(files::read_file_text(0, UTF16), units);
    EXPECT_EQ(files::read_file_text(0, UTF16), u"vw");
    EXPECT_EQ(files::read_file_text(0, UTF16 | files::READ_WHOLE_FILE), u"");
    EXPECT_EQ(files::close_file(0), 1);
  }
}

TEST_F(TextFiles, Utf16AndAnsiFilesHoldTheirOwnUnits) {
  ASSERT_NE(
      files::open_file_for_reading(0, with_bytes("wide.txt", utf16le(u"hi\u20AC\r\n") + std::string("\0\0x", 3)), UTF8),
      0);
  EXPECT_EQ(files::read_file_text(0, UTF16 | files::READ_WHOLE_FILE), u"hi\u20AC\r\n");
  EXPECT_EQ(files::read_file_text(0, UTF16 | files::READ_WHOLE_FILE), u"");  // a final odd byte is dropped

  ASSERT_NE(files::open_file_object(0, path("wide-out.txt"), files::FILE_MODE_CREATE, UTF16), 0);
  EXPECT_EQ(files::write_file_text(0, u"h\u00E9\u20AC"), 6);
  ASSERT_EQ(files::close_file(0), 1);
  EXPECT_EQ(read_bytes(file("wide-out.txt")), "h\0\xE9\0\xAC\x20"sv);

  ASSERT_NE(files::open_file_object(0, path("ansi.txt"), files::FILE_MODE_CREATE, ANSI), 0);
  EXPECT_EQ(files::write_file_text(0, u"caf\u00E9 \u00FC"), 6);
  ASSERT_EQ(files::close_file(0), 1);
  EXPECT_EQ(read_bytes(file("ansi.txt")), "caf\xE9 \xFC");
  ASSERT_NE(files::open_file_for_reading(0, path("ansi.txt"), ANSI), 0);
  EXPECT_EQ(files::read_file_text(0, files::READ_WHOLE_FILE), u"caf\u00E9 \u00FC");
}

TEST_F(TextFiles, WritingPutsExactlyTheUtf8FormOfTheTextOnDisk) {
  struct Case {
    Text text;
    std::string_view bytes;
  };
  const Case cases[] = {
      {u"a = \u00E9\r\n", "\x61\x20\x3D\x20\xC3\xA9\x0D\x0A"sv},
      {u"\uFEFFk=v\n", "\xEF\xBB\xBFk=v\n"sv},
      {u"\U0001F600", "\xF0\x9F\x98\x80"sv},
      {Text{0xD800, u'a'},
       "\xEF\xBF\xBD"
       "a"sv},
      {Text(u"ab\0cd", 5), "ab"sv},
  };
  for (std::int32_t buffering : BUFFERINGS) {
    for (const Case& c : cases) {
      SCOPED_TRACE(testing::Message() << "bytes " << testing::PrintToString(std::string(c.bytes)) << ", flags "
                                      << buffering);
      ASSERT_NE(
          files::open_file_object(0, with_bytes("out.txt", "old content"), files::FILE_MODE_CREATE, UTF8 | buffering),
          0);
      EXPECT_EQ(files::write_file_text(0, c.text), static_cast<std::int32_t>(c.bytes.size()));
      ASSERT_EQ(files::close_file(0), 1);
      EXPECT_EQ(read_bytes(file("out.txt")), c.bytes);
    }
  }
}

TEST_F(TextFiles, ATextReadWholeIsWrittenBackByteForByte) {
  const std::string bytes = "\xEF\xBB\xBF[addon]\r\nname = caf\xC3\xA9\nsummary = x\r";
  ASSERT_NE(files::open_file_for_reading(0, with_bytes("manifest.ini", bytes), UTF8), 0);
  Text text = files::read_file_text(0, files::READ_WHOLE_FILE);
  ASSERT_EQ(files::close_file(0), 1);
  ASSERT_NE(files::open_file_object(0, path("manifest.ini"), files::FILE_MODE_CREATE, UTF8), 0);
  EXPECT_EQ(files::write_file_text(0, text), static_cast<std::int32_t>(bytes.size()));
  ASSERT_EQ(files::close_file(0), 1);
  EXPECT_EQ(read_bytes(file("manifest.ini")), bytes);
}

TEST_F(TextFiles, AnEmptyTextWritesNothing) {
  ASSERT_NE(files::open_file_for_update(0, with_bytes("keep.txt", "kept"), UTF8), 0);
  EXPECT_EQ(files::write_file_text(0, u""), 0);
  EXPECT_EQ(files::write_file_text(0, runtime::TextView()), 0);
  EXPECT_EQ(files::write_file_text(0, Text(u"\0x", 2)), 0);
  ASSERT_EQ(files::close_file(0), 1);
  EXPECT_EQ(read_bytes(file("keep.txt")), "kept");
}

TEST_F(TextFiles, UpdateModeKeepsTheTailAndCreateModeEmptiesTheFile) {
  for (std::int32_t buffering : BUFFERINGS) {
    SCOPED_TRACE(buffering);
    ASSERT_NE(files::open_file_for_update(0, with_bytes("ten.txt", "0123456789"), UTF8 | buffering), 0);
    EXPECT_EQ(files::write_file_text(0, u"abcd"), 4);
    ASSERT_EQ(files::close_file(0), 1);
    EXPECT_EQ(read_bytes(file("ten.txt")), "abcd456789");

    ASSERT_NE(
        files::open_file_object(0, with_bytes("ten.txt", "0123456789"), files::FILE_MODE_CREATE, UTF8 | buffering), 0);
    EXPECT_EQ(files::write_file_text(0, u"abcd"), 4);
    ASSERT_EQ(files::close_file(0), 1);
    EXPECT_EQ(read_bytes(file("ten.txt")), "abcd");

    ASSERT_NE(files::open_file_for_update(0, path("new.txt"), UTF8 | buffering), 0);
    EXPECT_EQ(files::read_file_text(0, files::READ_WHOLE_FILE), u"");
    ASSERT_EQ(files::close_file(0), 1);
    EXPECT_TRUE(std::filesystem::exists(file("new.txt")));
    std::filesystem::remove(file("new.txt"));
  }
}

TEST_F(TextFiles, OpenAtEndAppendsInUpdateMode) {
  ASSERT_NE(files::open_file_for_update(0, with_bytes("log.txt", "one\n"), UTF8 | files::OPEN_AT_END), 0);
  EXPECT_EQ(files::read_file_text(0, 0), u"");
  EXPECT_EQ(files::write_file_text(0, u"two\n"), 4);
  ASSERT_EQ(files::close_file(0), 1);
  EXPECT_EQ(read_bytes(file("log.txt")), "one\ntwo\n");
}

TEST_F(TextFiles, ReusingANumberFlushesAndClosesTheOldFile) {
  ASSERT_NE(files::open_file_object(0, path("first.txt"), files::FILE_MODE_CREATE, UTF8), 0);
  EXPECT_EQ(files::write_file_text(0, u"pending"), 7);
  EXPECT_EQ(read_bytes(file("first.txt")), "");  // still in the buffer
  ASSERT_NE(files::open_file_object(0, path("second.txt"), files::FILE_MODE_CREATE, UTF8), 0);
  EXPECT_EQ(read_bytes(file("first.txt")), "pending");

  // A failed open closes the old file all the same and leaves the number free.
  EXPECT_EQ(files::write_file_text(0, u"also"), 4);
  EXPECT_EQ(files::open_file_for_reading(0, path("missing.txt"), UTF8), 0);
  EXPECT_EQ(files::is_file_open(0), 0);
  EXPECT_EQ(read_bytes(file("second.txt")), "also");
  std::filesystem::remove(file("first.txt"));  // the old handle is really closed
}

TEST_F(TextFiles, ReadsCrossTheBufferBoundary) {
  // Lines of growing length put multi-byte characters and line ends across every 4096-byte boundary.
  std::string bytes;
  std::vector<Text> lines;
  for (int index = 0; bytes.size() < 3 * 4096 + 100; ++index) {
    Text line(static_cast<std::size_t>(index % 97), u'a');
    line += index % 2 ? u"\u00E9\u20AC" : u"\U0001F600";
    lines.push_back(line);
    bytes += runtime::utf16_to_utf8(line) + (index % 3 == 0 ? "\r\n" : index % 3 == 1 ? "\r" : "\n");
  }
  Text whole = runtime::utf8_to_utf16(bytes);
  for (std::int32_t buffering : BUFFERINGS) {
    SCOPED_TRACE(buffering);
    ASSERT_NE(files::open_file_for_reading(0, with_bytes("big.txt", bytes), UTF8 | buffering), 0);
    EXPECT_EQ(files::read_file_text(0, files::READ_WHOLE_FILE), whole);
    ASSERT_NE(files::open_file_for_reading(0, path("big.txt"), UTF8 | buffering), 0);
    for (const Text& line : lines) ASSERT_EQ(files::read_file_text(0, 0), line);
    EXPECT_EQ(files::read_file_text(0, 0), u"");
    ASSERT_NE(files::open_file_for_reading(0, path("big.txt"), UTF8 | buffering), 0);
    EXPECT_EQ(files::read_file_text(0, 0), lines[0]);
    EXPECT_EQ(files::read_file_bytes(0, SIZE_MAX), bytes.substr(bytes.find('\n') + 1));
    EXPECT_EQ(files::close_file(0), 1);
  }
}

TEST_F(TextFiles, ReadFileBytesKeepsZeroBytesConvertsNothingAndStopsAtItsLimit) {
  const std::string bytes = std::string("a\0\xFF\r\n", 5) + std::string(9000, 'z');
  for (std::int32_t buffering : BUFFERINGS) {
    SCOPED_TRACE(buffering);
    ASSERT_NE(files::open_file_for_reading(0, with_bytes("raw.bin", bytes), UTF8 | buffering), 0);
    EXPECT_EQ(files::read_file_text(0, 0), u"a");
    EXPECT_EQ(files::read_file_bytes(0, 4097), bytes.substr(2, 4097));
    EXPECT_EQ(files::read_file_bytes(0, SIZE_MAX), bytes.substr(4099));
    EXPECT_EQ(files::read_file_bytes(0, SIZE_MAX), "");
    EXPECT_EQ(files::close_file(0), 1);
  }
}

TEST_F(TextFiles, ATextWhoseBytesTheCountCannotHoldIsRefusedWhole) {
  if (sizeof(void*) < 8) GTEST_SKIP() << "the text takes more memory than a 32-bit process has";
  // 2^31 units of at least one byte each: more bytes than the signed 32-bit count of bytes taken holds.
  const Text huge(std::size_t{1} << 31, u'a');
  ASSERT_NE(files::open_file_object(0, path("huge.txt"), files::FILE_MODE_CREATE, UTF8), 0);
  EXPECT_EQ(files::write_file_text(0, huge), 0);
  EXPECT_EQ(files::close_file(0), 1);
  EXPECT_EQ(read_bytes(file("huge.txt")), "");
}

TEST_F(TextFiles, WritesOfAnySizeReachTheFileInOrder) {
  const std::vector<std::vector<std::size_t>> sequences = {
      {4095, 1, 1}, {4096}, {4097}, {10, 4096, 10}, {4000, 200, 5000, 1}, {1, 8192, 4095, 4096},
  };
  for (std::int32_t buffering : BUFFERINGS) {
    for (const auto& sizes : sequences) {
      SCOPED_TRACE(testing::Message() << "first size " << sizes[0] << ", flags " << buffering);
      ASSERT_NE(files::open_file_object(0, path("sizes.txt"), files::FILE_MODE_CREATE, UTF8 | buffering), 0);
      std::string expected;
      for (std::size_t index = 0; index < sizes.size(); ++index) {
        std::string piece(sizes[index], static_cast<char>('a' + index));
        EXPECT_EQ(files::write_file_text(0, runtime::text_from_latin1(piece)), static_cast<std::int32_t>(sizes[index]));
        expected += piece;
      }
      ASSERT_EQ(files::close_file(0), 1);
      EXPECT_EQ(read_bytes(file("sizes.txt")), expected);
    }
  }
}

TEST_F(TextFiles, MixedReadsAndWritesActAtTheLogicalPosition) {
  for (std::int32_t buffering : BUFFERINGS) {
    SCOPED_TRACE(buffering);
    ASSERT_NE(files::open_file_for_update(0, with_bytes("mixed.txt", "line1\nline2\nline3\n"), UTF8 | buffering), 0);
    EXPECT_EQ(files::read_file_text(0, 0), u"line1");
    EXPECT_EQ(files::write_file_text(0, u"XXXXX"), 5);
    EXPECT_EQ(files::read_file_text(0, 0), u"");
    EXPECT_EQ(files::write_file_text(0, u"L"), 1);
    EXPECT_EQ(files::read_file_text(0, files::READ_WHOLE_FILE), u"ine3\n");
    EXPECT_EQ(files::write_file_text(0, u"+"), 1);
    ASSERT_EQ(files::close_file(0), 1);
    EXPECT_EQ(read_bytes(file("mixed.txt")), "line1\nXXXXX\nLine3\n+");

    ASSERT_NE(files::open_file_for_update(0, path("mixed.txt"), UTF8 | buffering), 0);
    EXPECT_EQ(files::write_file_text(0, u"AB"), 2);
    EXPECT_EQ(files::read_file_text(0, 0), u"ne1");
    ASSERT_EQ(files::close_file(0), 1);
    EXPECT_EQ(read_bytes(file("mixed.txt")), "ABne1\nXXXXX\nLine3\n+");
  }
}

TEST_F(TextFiles, AFileOpenedForReadingIsNeverWritten) {
  for (std::int32_t buffering : BUFFERINGS) {
    ASSERT_NE(files::open_file_for_reading(0, with_bytes("ro.txt", "original"), UTF8 | buffering), 0);
    EXPECT_EQ(files::write_file_text(0, u"changed"), 0);
    EXPECT_EQ(files::read_file_text(0, files::READ_WHOLE_FILE), u"original");
    EXPECT_EQ(files::close_file(0), 1);
    EXPECT_EQ(read_bytes(file("ro.txt")), "original");
  }
}

TEST_F(TextFiles, ANumberThatIsNotOpenGivesEmptyResults) {
  for (files::ObjectNumber number : {0, 7, 40, -5}) {
    SCOPED_TRACE(number);
    EXPECT_EQ(files::read_file_text(number, files::READ_WHOLE_FILE), u"");
    EXPECT_EQ(files::read_file_bytes(number, SIZE_MAX), "");
    EXPECT_EQ(files::write_file_text(number, u"x"), 0);
    EXPECT_EQ(files::close_file(number), 0);
    EXPECT_EQ(files::is_file_open(number), 0);
  }
  ASSERT_NE(files::open_file_for_update(3, path("once.txt"), UTF8), 0);
  EXPECT_EQ(files::is_file_open(3), 1);
  EXPECT_EQ(files::close_file(3), 1);
  EXPECT_EQ(files::close_file(3), 0);
}

TEST_F(TextFiles, OpeningFailsForAMissingFileOrAFolder) {
  std::filesystem::create_directory(file("folder"));
  struct Case {
    std::string_view name;
    std::int32_t mode;
  };
  const Case cases[] = {
      {"missing.txt", files::FILE_MODE_READ},
      {"no-folder/new.txt", files::FILE_MODE_UPDATE},
      {"no-folder/new.txt", files::FILE_MODE_CREATE},
      {"folder", files::FILE_MODE_READ},
      {"folder", files::FILE_MODE_UPDATE},
      {"folder", files::FILE_MODE_CREATE},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.name << " in mode " << c.mode);
    EXPECT_EQ(files::open_file_object(0, path(c.name), c.mode, UTF8), 0);
    EXPECT_EQ(files::is_file_open(0), 0);
    EXPECT_EQ(files::open_file_object(ANY_NUMBER, path(c.name), c.mode, UTF8), 0);
  }
  EXPECT_EQ(files::open_file_for_reading(0, runtime::TextView(), UTF8), 0);
}

TEST_F(TextFiles, BothSlashAndBackslashSeparatePathComponents) {
  std::filesystem::create_directory(file("sub"));
  ASSERT_NE(files::open_file_object(0, path("sub\\back.txt"), files::FILE_MODE_CREATE, UTF8), 0);
  ASSERT_NE(files::open_file_object(1, path("sub/forward.txt"), files::FILE_MODE_CREATE, UTF8), 0);
  EXPECT_EQ(files::write_file_text(0, u"b"), 1);
  EXPECT_EQ(files::write_file_text(1, u"f"), 1);
  EXPECT_EQ(files::close_file(ANY_NUMBER), 1);
  EXPECT_EQ(read_bytes(file("sub") / "back.txt"), "b");
  EXPECT_EQ(read_bytes(file("sub") / "forward.txt"), "f");
}

std::string numbered_name(files::ObjectNumber number) {
  std::string name = "n";
  name += std::to_string(number);
  return name;
}

TEST_F(TextFiles, CloseAnyNumberClosesEveryOpenFile) {
  const files::ObjectNumber numbers[] = {0, 3, 20};
  for (files::ObjectNumber number : numbers)
    ASSERT_NE(files::open_file_object(number, path(numbered_name(number)), files::FILE_MODE_CREATE, UTF8), 0);
  auto first = static_cast<files::ObjectNumber>(
      files::open_file_object(ANY_NUMBER, path("dynamic1"), files::FILE_MODE_CREATE, UTF8));
  auto second = static_cast<files::ObjectNumber>(
      files::open_file_object(ANY_NUMBER, path("dynamic2"), files::FILE_MODE_CREATE, UTF8));
  EXPECT_LT(first, ANY_NUMBER);
  EXPECT_LT(second, ANY_NUMBER);
  EXPECT_NE(first, second);

  for (files::ObjectNumber number : numbers) EXPECT_EQ(files::write_file_text(number, u"slot"), 4);
  EXPECT_EQ(files::write_file_text(first, u"one"), 3);
  EXPECT_EQ(files::write_file_text(second, u"two"), 3);

  EXPECT_EQ(files::close_file(ANY_NUMBER), 1);
  for (files::ObjectNumber number : numbers) {
    EXPECT_EQ(files::is_file_open(number), 0);
    EXPECT_EQ(read_bytes(file(numbered_name(number))), "slot");
  }
  EXPECT_EQ(files::is_file_open(first), 0);
  EXPECT_EQ(files::is_file_open(second), 0);
  EXPECT_EQ(read_bytes(file("dynamic1")), "one");
  EXPECT_EQ(read_bytes(file("dynamic2")), "two");
  EXPECT_EQ(files::close_file(ANY_NUMBER), 1);  // nothing left to close
}

void set_environment(const char* name, const std::string& value) {
#ifdef _WIN32
  _putenv_s(name, value.c_str());
#else
  if (value.empty())
    unsetenv(name);
  else
    setenv(name, value.c_str(), 1);
#endif
}

void write_pending_bytes_and_end(const std::filesystem::path& file) {
  files::init_file_library();
  if (!files::open_file_object(7, test_support::path_text(file), files::FILE_MODE_CREATE, UTF8)) std::abort();
  if (files::write_file_text(7, u"pending bytes") != 13) std::abort();
  runtime::end_program();
}

TEST(FileLibraryEndDeathTest, EndProgramWritesThePendingBytesOfAnOpenFile) {
  // On Windows the death-test child runs this test again from its start; it must use the parent's file.
  constexpr const char* VARIABLE = "QUILLBROOK_TEXT_FILES_END_TEST_FILE";
  std::optional<test_support::ScopedTempDir> dir;
  std::filesystem::path file;
  if (const char* inherited = std::getenv(VARIABLE)) {
    file = inherited;
  } else {
    dir.emplace();
    file = dir->path() / "pending.txt";
    set_environment(VARIABLE, file.string());
  }
  EXPECT_EXIT(write_pending_bytes_and_end(file), ::testing::ExitedWithCode(0), "");
  set_environment(VARIABLE, "");
  EXPECT_EQ(read_bytes(file), "pending bytes");
}

}  // namespace
