#include "files/folders.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "files/file_handle.h"
#include "files/folder_system.h"
#include "files/text_files.h"
#include "runtime/program_end.h"

namespace files {

namespace {

namespace fs = folder_system;

// Paths handed to query_path_size and create_folder must fit this space once their trailing
// separators are gone: Windows would answer a longer one for a prefix that names another path. A
// POSIX system takes or refuses every path whole.
#ifdef _WIN32
constexpr std::size_t PATH_SPACE = 260;
#else
constexpr std::size_t PATH_SPACE = SIZE_MAX;
#endif
// Windows drops the blanks at the end of a name itself; a POSIX name keeps them, and a folder made
// without them would not be the one its callers name next.
#ifdef _WIN32
constexpr bool NAMES_LOSE_TRAILING_BLANKS = true;
#else
constexpr bool NAMES_LOSE_TRAILING_BLANKS = false;
#endif
constexpr std::int32_t LISTING_GROWTH_STEP = 16;

struct FolderListing {
  // A listing that matched nothing is live all the same; it just has no search.
  bool live = false;
  std::unique_ptr<fs::FolderSearch> search;
  // False until next_folder_entry hands out the entry that the search started on.
  bool started = false;
  fs::FolderEntry current;

  bool is_live() const { return live; }
};

using ListingTable = runtime::ObjectTable<FolderListing>;

std::unique_ptr<ListingTable>& listing_table() {
  static std::unique_ptr<ListingTable> table;
  return table;
}

FolderListing* find_listing(ObjectNumber number) {
  auto& table = listing_table();
  return table ? table->get_object(number) : nullptr;
}

bool is_separator(char16_t unit) { return unit == u'\\' || unit == u'/'; }

template <typename Predicate>
void trim_trailing(Text& path, Predicate is_trimmed) {
  // The first unit always stays, so a path of only separators keeps one.
  while (path.size() > 1 && is_trimmed(path.back())) path.pop_back();
}

bool starts_with_pair(const Text& path, char16_t unit) {
  return path.size() >= 2 && path[0] == unit && path[1] == unit;
}

// "C:" or "C:\" (also "C:/"); "C:x" is a name relative to that drive's current folder, not its root.
bool is_drive_root_form(const Text& path) {
  if (path.size() < 2 || path.size() > 3 || path[1] != u':') return false;
  return path.size() == 2 || is_separator(path[2]);
}

}  // namespace

std::intptr_t start_folder_listing(ObjectNumber number, TextView folder, TextView pattern) {
  auto& table = listing_table();
  if (!table) {
    // Zeroing a record destroys its search, which ends the system's search: nothing else to free.
    table = runtime::create_object_table<FolderListing>(LISTING_GROWTH_STEP, [](FolderListing&) { return true; });
    runtime::register_end_step(runtime::EndStep::folder_listings, end_folder_library);
  }
  auto allocation = table->allocate_object(number);
  if (!allocation.record) return 0;
  FolderListing& listing = *allocation.record;

  folder = runtime::until_terminator(folder);
  pattern = runtime::until_terminator(pattern);
  if (pattern.empty()) pattern = u"*.*";
  Text joined(folder);
  if (!joined.empty() && joined.back() != u'\\') joined.push_back(u'\\');
  joined.append(pattern);

  auto start = fs::start_search(joined);
  switch (start.outcome) {
    case fs::SearchOutcome::found:
      listing.search = std::move(start.search);
      listing.current = std::move(start.first);
      listing.started = false;
      break;
    case fs::SearchOutcome::nothing_matched:
      listing.started = true;
      break;
    case fs::SearchOutcome::failed:
      table->release_object(allocation.number);
      return 0;
  }
  listing.live = true;
  return number == ANY_NUMBER ? allocation.number : 1;
}

int next_folder_entry(ObjectNumber number) {
  FolderListing* listing = find_listing(number);
  if (!listing || !listing->search) return 0;
  if (!listing->started) {
    listing->started = true;
    return 1;
  }
  return listing->search->next_entry(listing->current) ? 1 : 0;
}

int get_entry_type(ObjectNumber number) {
  FolderListing* listing = find_listing(number);
  if (!listing) return 0;
  return listing->current.is_folder ? ENTRY_FOLDER : ENTRY_FILE;
}

Text get_entry_name(ObjectNumber number) {
  FolderListing* listing = find_listing(number);
  return listing ? listing->current.name : Text();
}

void finish_folder_listing(ObjectNumber number) {
  auto& table = listing_table();
  if (!table || !table->get_object(number)) return;
  // Releasing the record destroys its search, which ends the system's search.
  table->release_object(number);
}

void end_folder_library() {
  if (auto& table = listing_table()) table->free_all_objects();
}

std::int64_t query_path_size(TextView path) {
  path = runtime::until_terminator(path);
  if (path.empty()) return PATH_MISSING;
  Text copy(path);

  if (fs::has_drive_letters() && is_drive_root_form(copy)) {
    if (copy.size() == 2) copy.push_back(u'\\');
    return fs::is_known_drive(copy) ? PATH_IS_FOLDER : PATH_MISSING;
  }

  trim_trailing(copy, is_separator);
  if (copy.size() > PATH_SPACE) return PATH_MISSING;

  auto start = fs::start_search(copy);
  if (start.outcome == fs::SearchOutcome::found) return start.first.is_folder ? PATH_IS_FOLDER : start.first.size;

  // Share roots ("\\server\share") and parent references have no entry of their own to find.
  if (starts_with_pair(copy, u'\\') || starts_with_pair(copy, u'/') || starts_with_pair(copy, u'.')) {
    if (auto is_folder = fs::read_is_folder(copy)) return *is_folder ? PATH_IS_FOLDER : PATH_MISSING;
    return fs::is_known_drive(copy) ? PATH_IS_FOLDER : PATH_MISSING;
  }
  return PATH_MISSING;
}

int create_folder(TextView path) {
  if (runtime::is_absent(path)) return 0;
  Text copy(runtime::until_terminator(path));
  // A path of only blanks and separators names no folder to create (a POSIX system would happily
  // make one called " ").
  if (copy.find_first_not_of(u" \\/") == Text::npos) return 0;
  trim_trailing(copy, [](char16_t unit) { return is_separator(unit) || (NAMES_LOSE_TRAILING_BLANKS && unit == u' '); });
  if (copy.size() > PATH_SPACE) return 0;
  return fs::make_folder(copy) ? 1 : 0;
}

int duplicate_file(TextView source, TextView destination) {
  if (runtime::is_absent(source) || runtime::is_absent(destination)) return 0;
  const Text from(runtime::until_terminator(source)), to(runtime::until_terminator(destination));
  FileHandle file = open_file_handle(from, FILE_MODE_READ, 0);
  if (!file.is_open()) return 0;
  std::string bytes;
  char chunk[64 * 1024];
  for (std::int32_t got; (got = read_from_handle(file, chunk, sizeof chunk)) != 0;) {
    if (got < 0) return 0;
    bytes.append(chunk, static_cast<std::size_t>(got));
  }
  if (!file.close()) return 0;
  return fs::replace_file_durably(to, bytes, from, [] { return true; }) == ReplaceOutcome::replaced ? 1 : 0;
}

ReplaceOutcome replace_file(TextView path, std::string_view bytes, TextView model,
                            std::optional<std::string_view> expected) {
  if (runtime::is_absent(path)) return ReplaceOutcome::failed;
  const Text target(runtime::until_terminator(path));
  auto still_expected = [&] {
    if (!expected) return true;
    FileHandle file = open_file_handle(target, FILE_MODE_READ, SHARE_READ);
    return file.is_open() && handle_holds_bytes(file, *expected);
  };
  return fs::replace_file_durably(target, bytes, Text(runtime::until_terminator(model)), still_expected);
}

int may_write_file(TextView path) {
  if (runtime::is_absent(path)) return 0;
  return fs::is_writable(Text(runtime::until_terminator(path))) ? 1 : 0;
}

int set_current_folder(TextView path) {
  if (runtime::is_absent(path)) return 0;
  return fs::change_current_folder(Text(runtime::until_terminator(path))) ? 1 : 0;
}

Text get_current_folder() {
  Text folder = fs::read_current_folder();
  if (!folder.empty() && folder.back() != fs::closing_separator()) folder.push_back(fs::closing_separator());
  return folder;
}

Text get_user_folder(std::int32_t id) { return fs::user_folder(id); }

}  // namespace files
