#include "files/folders.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <new>
#include <set>
#include <string>
#include <thread>
#include <utility>

#include "files/file_handle.h"
#include "files/folder_system.h"
#include "files/text_files.h"
#include "runtime/utf8.h"
#include "tests/support/test_support.h"

namespace {

using files::ANY_NUMBER;
using files::ENTRY_FILE;
using files::ENTRY_FOLDER;
using files::PATH_IS_FOLDER;
using files::PATH_MISSING;
using runtime::Text;
using test_support::path_text;
using test_support::ScopedTempDir;
namespace fs = std::filesystem;

constexpr char16_t SEPARATOR = static_cast<char16_t>(fs::path::preferred_separator);

std::string utf8(const Text& text) { return runtime::utf16_to_utf8(text); }

using test_support::CurrentFolderGuard;

// Finishes every listing a test left open, so that one test's numbers never leak into the next.
class FolderListingTest : public ::testing::Test {
 protected:
  void TearDown() override { files::end_folder_library(); }
};

using Entries = std::set<std::pair<std::string, int>>;

Entries collect_entries(runtime::ObjectNumber number) {
  Entries entries;
  for (int guard = 0; guard < 1000 && files::next_folder_entry(number); ++guard)
    entries.insert({utf8(files::get_entry_name(number)), files::get_entry_type(number)});
  return entries;
}

// A folder holding a.txt (5 bytes), b.ini (empty) and the folder sub.
void fill_sample_folder(const fs::path& folder) {
  test_support::write_bytes(folder / "a.txt", "12345");
  test_support::write_bytes(folder / "b.ini", "");
  fs::create_directory(folder / "sub");
}

TEST_F(FolderListingTest, ListingReportsMatchingEntriesAndTheDotFoldersInAnyOrder) {
  ScopedTempDir dir;
  fill_sample_folder(dir.path());
  const Entries everything = {
      {".", ENTRY_FOLDER}, {"..", ENTRY_FOLDER}, {"a.txt", ENTRY_FILE}, {"b.ini", ENTRY_FILE}, {"sub", ENTRY_FOLDER}};
  Text bare = path_text(dir.path());
  const struct {
    Text folder;
    Text pattern;
    Entries expected;
  } cases[] = {
      {dir.text(), u"*", everything},
      {bare, u"*", everything},
      {bare + u"/", u"*", everything},
      // An empty pattern stands for "*.*", which also matches names without a dot.
      {bare, u"", everything},
      {bare, u"*.*", everything},
      {bare, u"*.ini", {{"b.ini", ENTRY_FILE}}},
      {bare, u"?.txt", {{"a.txt", ENTRY_FILE}}},
      {bare, u"s*", {{"sub", ENTRY_FOLDER}}},
      {bare, u"b.ini", {{"b.ini", ENTRY_FILE}}},
      {bare, u"sub", {{"sub", ENTRY_FOLDER}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(utf8(c.folder) + " | " + utf8(c.pattern));
    ASSERT_NE(files::start_folder_listing(0, c.folder, c.pattern), 0);
    EXPECT_EQ(collect_entries(0), c.expected);
    files::finish_folder_listing(0);
  }
}

TEST_F(FolderListingTest, FirstEntryComesBeforeTheSearchMovesOnAndTheLastOneStays) {
  ScopedTempDir dir;
  test_support::write_bytes(dir.path() / "only.txt", "x");
  ASSERT_NE(files::start_folder_listing(0, dir.text(), u"only.txt"), 0);
  ASSERT_EQ(files::next_folder_entry(0), 1);
  EXPECT_EQ(files::get_entry_name(0), u"only.txt");
  EXPECT_EQ(files::get_entry_type(0), ENTRY_FILE);
  EXPECT_EQ(files::next_folder_entry(0), 0);
  EXPECT_EQ(files::next_folder_entry(0), 0);
  EXPECT_EQ(files::get_entry_name(0), u"only.txt");
}

TEST_F(FolderListingTest, PatternMatchingNothingSucceedsButAFolderThatCannotBeSearchedFails) {
  ScopedTempDir dir;
  fill_sample_folder(dir.path());
  ASSERT_NE(files::start_folder_listing(1, dir.text(), u"*.none"), 0);
  EXPECT_EQ(files::next_folder_entry(1), 0);
  EXPECT_NE(files::get_entry_type(1), 0) << "an empty listing is still a listing";

  const Text unsearchable[] = {dir.text() + u"missing", dir.text() + u"missing" + SEPARATOR + u"deeper",
                               dir.text() + u"a.txt"};
  for (const auto& folder : unsearchable) {
    SCOPED_TRACE(utf8(folder));
    ASSERT_NE(files::start_folder_listing(1, dir.text(), u"*"), 0);
    EXPECT_EQ(files::start_folder_listing(1, folder, u"*"), 0);
    EXPECT_EQ(files::get_entry_type(1), 0) << "the number is left free";
    EXPECT_EQ(files::next_folder_entry(1), 0);
    EXPECT_EQ(files::get_entry_name(1), u"");
  }
}

TEST_F(FolderListingTest, StartingOnANumberThatHoldsAListingReplacesIt) {
  ScopedTempDir first, second;
  test_support::write_bytes(first.path() / "first.txt", "");
  test_support::write_bytes(second.path() / "second.txt", "");
  // 20 lies beyond the table's first 16 slots.
  for (runtime::ObjectNumber number : {0, 20}) {
    SCOPED_TRACE(number);
    ASSERT_NE(files::start_folder_listing(number, first.text(), u"*.txt"), 0);
    ASSERT_EQ(files::next_folder_entry(number), 1);
    ASSERT_NE(files::start_folder_listing(number, second.text(), u"*.txt"), 0);
    EXPECT_EQ(collect_entries(number), (Entries{{"second.txt", ENTRY_FILE}}));
    files::finish_folder_listing(number);
    EXPECT_EQ(files::get_entry_type(number), 0);
    EXPECT_EQ(files::next_folder_entry(number), 0);
    files::finish_folder_listing(number);
  }
}

TEST_F(FolderListingTest, AnyNumberListingsHaveTheirOwnNumbersAndAllEndWithTheLibrary) {
  ScopedTempDir dir;
  fill_sample_folder(dir.path());
  auto text_listing = files::start_folder_listing(ANY_NUMBER, dir.text(), u"*.txt");
  auto ini_listing = files::start_folder_listing(ANY_NUMBER, dir.text(), u"*.ini");
  ASSERT_NE(text_listing, 0);
  ASSERT_NE(ini_listing, 0);
  EXPECT_NE(text_listing, ini_listing);
  EXPECT_LT(text_listing, ANY_NUMBER) << "a dynamic number never names a slot";
  ASSERT_NE(files::start_folder_listing(3, dir.text(), u"sub"), 0);

  auto text_number = static_cast<runtime::ObjectNumber>(text_listing);
  auto ini_number = static_cast<runtime::ObjectNumber>(ini_listing);
  EXPECT_EQ(collect_entries(ini_number), (Entries{{"b.ini", ENTRY_FILE}}));
  EXPECT_EQ(collect_entries(text_number), (Entries{{"a.txt", ENTRY_FILE}}));
  files::finish_folder_listing(text_number);
  EXPECT_EQ(files::get_entry_type(text_number), 0);
  EXPECT_EQ(files::get_entry_type(ini_number), ENTRY_FILE);

  files::end_folder_library();
  EXPECT_EQ(files::get_entry_type(ini_number), 0);
  EXPECT_EQ(files::get_entry_type(3), 0);
  EXPECT_EQ(files::get_entry_name(3), u"");
}

TEST_F(FolderListingTest, AnAbsentFolderListsTheCurrentFolder) {
  ScopedTempDir dir;
  fill_sample_folder(dir.path());
  CurrentFolderGuard guard;
  ASSERT_NE(files::set_current_folder(dir.text()), 0);
  ASSERT_NE(files::start_folder_listing(0, runtime::TextView(), u"*.txt"), 0);
  EXPECT_EQ(collect_entries(0), (Entries{{"a.txt", ENTRY_FILE}}));
}

TEST(QueryPathSize, GivesFileSizesFoldersAndMissingPaths) {
  ScopedTempDir dir;
  fill_sample_folder(dir.path());
  test_support::write_bytes(dir.path() / "large.bin", std::string(5000, 'x'));
  fs::create_directory(dir.path() / "sub" / "inner");
  CurrentFolderGuard guard;
  fs::current_path(dir.path() / "sub" / "inner");
  const Text root = dir.text();
  const struct {
    Text path;
    std::int64_t expected;
  } cases[] = {
      {root + u"a.txt", 5},
      {root + u"b.ini", 0},
      {root + u"large.bin", 5000},
      {root + u"a.txt/", 5},
      {root + u"sub", PATH_IS_FOLDER},
      {root + u"sub\\", PATH_IS_FOLDER},
      {root + u"sub/", PATH_IS_FOLDER},
      {root + u"sub//\\", PATH_IS_FOLDER},
      {root, PATH_IS_FOLDER},
      {root + u"missing", PATH_MISSING},
      {root + u"missing/a.txt", PATH_MISSING},
      {root + u"a.txt/deeper", PATH_MISSING},
      {u"", PATH_MISSING},
      {u"/", PATH_MISSING},
      {u"///", PATH_MISSING},
      // Relative paths, also those that climb with "..".
      {u"..", PATH_IS_FOLDER},
      {u"../..", PATH_IS_FOLDER},
      {u"../../a.txt", 5},
      {u"../../missing", PATH_MISSING},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(utf8(c.path));
    EXPECT_EQ(files::query_path_size(c.path), c.expected);
  }
  EXPECT_EQ(files::query_path_size(runtime::TextView()), PATH_MISSING);
}

TEST(QueryPathSize, APathLongerThanThePathSpaceIsNotAnsweredForItsPrefix) {
  ScopedTempDir dir;
  fs::create_directory(dir.path() / "d");
  const Text folder = dir.text() + u"d";
  ASSERT_LT(folder.size(), 250u);
  // Trailing separators go before the length counts.
  EXPECT_EQ(files::query_path_size(folder + Text(300, u'/')), PATH_IS_FOLDER);
  // The first 260 units name the folder; the whole path names something missing.
  Text beyond = folder + Text(260 - folder.size(), u'/') + u"missing";
  EXPECT_EQ(files::query_path_size(beyond), PATH_MISSING);
}

// A POSIX name keeps its trailing blanks; Windows drops them itself.
TEST(CreateFolder, CreatesTheFolderNamedWithoutTrailingSeparatorsAndOnWindowsBlanks) {
#ifdef _WIN32
  constexpr bool POSIX = false;
#else
  constexpr bool POSIX = true;
#endif
  ScopedTempDir dir;
  const Text root = dir.text();
  const struct {
    Text path;
    const char* created;
    const char* created_on_posix;  // nullptr: not made at all
  } cases[] = {
      {root + u"plain", "plain", "plain"},          {root + u"slash/", "slash", "slash"},
      {root + u"blanks   ", "blanks", "blanks   "}, {root + u"blank ///", "blank", "blank "},
      {root + u"mixed \\/ ", "mixed", nullptr},     {root + u"many" + Text(300, u'\\'), "many", "many"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(utf8(c.path));
    const char* created = POSIX ? c.created_on_posix : c.created;
    EXPECT_EQ(files::create_folder(c.path) != 0, created != nullptr);
    if (!created) continue;
    EXPECT_TRUE(fs::is_directory(dir.path() / created));
    EXPECT_EQ(files::create_folder(c.path), 0) << "the folder exists now";
  }
  EXPECT_EQ(files::query_path_size(root + u"blanks"), POSIX ? PATH_MISSING : PATH_IS_FOLDER);
}

TEST(CreateFolder, FailsWithoutCreatingAnythingWhenTheFolderCannotBeNamedOrMade) {
  ScopedTempDir dir;
  CurrentFolderGuard guard;
  fs::current_path(dir.path());
  const Text root = dir.text();
  const Text failing[] = {
      u"",
      u"   ",
      u" / \\ ",
      u"/",
      u"\\",
      root + u"missing/child",
      // The first 260 units would name root/p; the whole path names p's child.
      root + u"p" + Text(260 - root.size(), u'/') + u"q",
  };
  for (const auto& path : failing) {
    SCOPED_TRACE(utf8(path));
    EXPECT_EQ(files::create_folder(path), 0);
  }
  EXPECT_EQ(files::create_folder(runtime::TextView()), 0);
  EXPECT_TRUE(fs::is_empty(dir.path()));
}

TEST(DuplicateFile, ReplacesTheDestinationAndLeavesTheSourceAlone) {
  ScopedTempDir dir;
  test_support::write_bytes(dir.path() / "source.ini", "new");
  test_support::write_bytes(dir.path() / "backup.ini", "the older and longer text");
  const Text root = dir.text();
  EXPECT_NE(files::duplicate_file(root + u"source.ini", root + u"backup.ini"), 0);
  EXPECT_EQ(test_support::read_bytes(dir.path() / "backup.ini"), "new");
  EXPECT_NE(files::duplicate_file(root + u"source.ini", root + u"fresh.ini"), 0);
  EXPECT_EQ(test_support::read_bytes(dir.path() / "fresh.ini"), "new");
  EXPECT_EQ(test_support::read_bytes(dir.path() / "source.ini"), "new");
}

TEST(DuplicateFile, FailsWithoutHarmForMissingSourcesAndAbsentPaths) {
  ScopedTempDir dir;
  test_support::write_bytes(dir.path() / "kept.ini", "kept");
  const Text root = dir.text();
  const std::pair<Text, Text> failing[] = {
      {root + u"missing.ini", root + u"kept.ini"},
      {root + u"kept.ini", root + u"missing/copy.ini"},
  };
  for (const auto& [source, destination] : failing) {
    SCOPED_TRACE(utf8(source) + " -> " + utf8(destination));
    EXPECT_EQ(files::duplicate_file(source, destination), 0);
    EXPECT_EQ(test_support::read_bytes(dir.path() / "kept.ini"), "kept");
  }
  EXPECT_EQ(files::duplicate_file(runtime::TextView(), root + u"copy.ini"), 0);
  EXPECT_EQ(files::duplicate_file(root + u"kept.ini", runtime::TextView()), 0);
  // A copy onto itself leaves the file as it was.
  files::duplicate_file(root + u"kept.ini", root + u"kept.ini");
  EXPECT_EQ(test_support::read_bytes(dir.path() / "kept.ini"), "kept");
  EXPECT_EQ(test_support::list_names(dir.path()), (std::vector<std::string>{"kept.ini"}));
}

// What stands at the temporary name is never written through, and the replace happens only while
// the file holds the expected bytes.
TEST(ReplaceFile, NothingAtTheTemporaryNameIsWrittenThroughNorLeftBehindAndAChangedFileIsKept) {
  using files::ReplaceOutcome;
  ScopedTempDir dir;
  const Text root = dir.text();
  test_support::write_bytes(dir.path() / "other.ini", "another file");
  test_support::write_bytes(dir.path() / "file.ini", "old");
  const fs::path temporary = dir.path() / "file.ini.quillbrook-new";
  std::error_code error;
  fs::create_symlink(dir.path() / "other.ini", temporary, error);
  // Wine makes no symbolic links: there the name is simply free.
  EXPECT_EQ(files::replace_file(root + u"file.ini", "new", root + u"file.ini", "old"), ReplaceOutcome::replaced);
  EXPECT_EQ(test_support::read_bytes(dir.path() / "file.ini"), "new");
  EXPECT_EQ(test_support::read_bytes(dir.path() / "other.ini"), "another file");

  EXPECT_EQ(files::replace_file(root + u"file.ini", "newer", root + u"file.ini", "old"), ReplaceOutcome::changed);
  // Nothing is left behind when the check runs out of memory, nor when another program holds the
  // temporary file for a moment as it is removed.
  const Text file = root + u"file.ini";
  EXPECT_THROW(
      files::folder_system::replace_file_durably(file, "newer", file, []() -> bool { throw std::bad_alloc(); }),
      std::bad_alloc);
  std::thread releaser;
  EXPECT_EQ(files::folder_system::replace_file_durably(
                file, "newer", file,
                [&] {
                  releaser = std::thread(
                      [held = files::open_file_handle(path_text(temporary), files::FILE_MODE_READ, files::SHARE_NONE)] {
                        std::this_thread::sleep_for(std::chrono::milliseconds(200));
                      });
                  return false;
                }),
            ReplaceOutcome::changed);
  releaser.join();
  EXPECT_EQ(test_support::list_names(dir.path()), (std::vector<std::string>{"file.ini", "other.ini"}));
  fs::create_directory(temporary);
  EXPECT_EQ(files::replace_file(root + u"file.ini", "newer", root + u"file.ini"), ReplaceOutcome::failed);
  EXPECT_EQ(test_support::read_bytes(dir.path() / "file.ini"), "new");
  fs::remove(temporary);
  EXPECT_EQ(test_support::list_names(dir.path()), (std::vector<std::string>{"file.ini", "other.ini"}));
}

TEST(CurrentFolder, SetAndGetRoundTripWithAClosingSeparator) {
  ScopedTempDir dir;
  fs::create_directory(dir.path() / "sub");
  test_support::write_bytes(dir.path() / "outer.mark", "");
  test_support::write_bytes(dir.path() / "sub" / "inner.mark", "");
  // The returned folder is recognised by what it holds: the system may spell it differently.
  auto holds = [](const Text& folder, const char16_t* name) { return fs::exists(fs::path(folder + name)); };
  CurrentFolderGuard guard;
  ASSERT_NE(files::set_current_folder(dir.text() + u"sub"), 0);
  Text current = files::get_current_folder();
  ASSERT_FALSE(current.empty());
  EXPECT_EQ(current.back(), SEPARATOR);
  EXPECT_TRUE(holds(current, u"inner.mark")) << utf8(current);

  ASSERT_NE(files::set_current_folder(u".."), 0);
  EXPECT_TRUE(holds(files::get_current_folder(), u"outer.mark"));

  EXPECT_EQ(files::set_current_folder(dir.text() + u"missing"), 0);
  EXPECT_EQ(files::set_current_folder(runtime::TextView()), 0);
  EXPECT_TRUE(holds(files::get_current_folder(), u"outer.mark")) << "a failed change moves nothing";
}

TEST(UserFolder, KnownIdsEndInASeparatorAndUnknownIdsGiveNothing) {
  Text appdata = files::get_user_folder(files::USER_FOLDER_APPDATA);
  ASSERT_FALSE(appdata.empty());
  EXPECT_EQ(appdata.back(), SEPARATOR);
  for (std::int32_t id = 0; id <= 9; ++id) {
    SCOPED_TRACE(id);
    Text folder = files::get_user_folder(id);
    if (!folder.empty()) {
      EXPECT_EQ(folder.back(), SEPARATOR);
    }
  }
  for (std::int32_t id : {10, -1, 1000}) {
    SCOPED_TRACE(id);
    EXPECT_EQ(files::get_user_folder(id), u"");
  }
}

}  // namespace
