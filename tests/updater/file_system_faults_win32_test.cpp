// What Wine can show of the file system failing the Windows program: a full disk under the user's
// roaming folder (a small tmpfs that the Wine session mounts in its folder), manifests with the
// read-only and hidden attributes, files that another program holds for a moment or for good, and
// links planted at the temporary name. No manifest may lose its bytes.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "runtime/unique_handle.h"
#include "runtime/utf8.h"
#include "tests/support/program_driver.h"
#include "tests/support/sample_addons.h"
#include "tests/support/test_support.h"

namespace {

namespace fs = std::filesystem;
using test_support::read_bytes;
using namespace sample_addons;

// Every manifest holds its old bytes or its new ones, a new one has the old in its backup, and the
// summary adds up, unless a backup failed and ended the run with its message. Returns the rewritten.
int check_run(const driver::RunResult& result, const fs::path& addons, const std::vector<Addon>& list) {
  EXPECT_TRUE(result.finished);
  EXPECT_EQ(result.exit_code, 0);
  int rewritten = 0;
  for (const Addon& one : list) {
    const std::string bytes = read_bytes(addons / one.name / "manifest.ini");
    if (bytes == one.new_bytes) {
      ++rewritten;
      EXPECT_EQ(read_bytes(addons.parent_path() / "manifest backups" / one.name / "manifest.ini"), one.old_bytes);
    } else {
      EXPECT_EQ(bytes, one.old_bytes) << one.name << ": damaged";
    }
    EXPECT_EQ(test_support::list_names(addons / one.name), std::vector<std::string>{"manifest.ini"}) << one.name;
  }
  const driver::Dialog* done = find_dialog(result, u"Done");
  if (!done) {
    EXPECT_FALSE(result.dialogs.empty());
    if (!result.dialogs.empty()) {
      EXPECT_EQ(result.dialogs.back().text.rfind(u"Could not back up ", 0), 0u);
    }
    return rewritten;
  }
  int found = 0, skipped = 0, failed = 0, modified = 0;
  EXPECT_EQ(
      std::sscanf(runtime::utf16_to_utf8(done->text).c_str(), "%d manifests found, %d skipped, %d failed, %d modified.",
                  &found, &skipped, &failed, &modified),
      4);
  EXPECT_EQ(found, skipped + failed + modified);
  EXPECT_EQ(modified, rewritten);
  return rewritten;
}

// Points the user's roaming folder (CSIDL_APPDATA) elsewhere for one test, and back.
class ScopedRoamingFolder {
 public:
  explicit ScopedRoamingFolder(const fs::path& folder) {
    if (RegOpenKeyExW(HKEY_CURRENT_USER, KEY, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &key_) != ERROR_SUCCESS) return;
    wchar_t old[MAX_PATH] = {};
    DWORD size = sizeof old, type = 0;
    if (RegQueryValueExW(key_, L"AppData", nullptr, &type, reinterpret_cast<BYTE*>(old), &size) == ERROR_SUCCESS)
      saved_ = std::wstring(old);
    set(folder.wstring());
  }
  ~ScopedRoamingFolder() {
    if (!key_) return;
    if (saved_)
      set(*saved_);
    else
      RegDeleteValueW(key_, L"AppData");
    RegCloseKey(key_);
  }
  ScopedRoamingFolder(const ScopedRoamingFolder&) = delete;
  ScopedRoamingFolder& operator=(const ScopedRoamingFolder&) = delete;

 private:
  static constexpr const wchar_t* KEY = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
  void set(const std::wstring& value) {
    RegSetValueExW(key_, L"AppData", 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
  }
  HKEY key_ = nullptr;
  std::optional<std::wstring> saved_;
};

// The small file system that scripts/wine-session mounts in the session folder, when it could.
std::optional<fs::path> full_disk() {
  const char* session = std::getenv("QUILLBROOK_WINE_DIR");
  if (!session) return std::nullopt;
  std::string unix_path = std::string(session) + "/full-disk";
  fs::path folder = fs::path("Z:" + unix_path).make_preferred();
  ULARGE_INTEGER total{};
  if (!GetDiskFreeSpaceExW(folder.wstring().c_str(), nullptr, &total, nullptr) || total.QuadPart > 1024 * 1024)
    return std::nullopt;
  return folder;
}

// Fills the file system with a file of its own, then frees `free_pages` pages of 4096 bytes.
void fill_leaving(const fs::path& folder, std::size_t free_pages) {
  HANDLE filler = CreateFileW((folder / "filler").wstring().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (filler == INVALID_HANDLE_VALUE) return;
  const std::string block(4096, 'f');
  LONGLONG size = 0;
  DWORD written = 0;
  while (WriteFile(filler, block.data(), 4096, &written, nullptr) && written == 4096) size += 4096;
  LARGE_INTEGER end{};
  end.QuadPart = std::max<LONGLONG>(0, size - static_cast<LONGLONG>(free_pages) * 4096);
  SetFilePointerEx(filler, end, nullptr, FILE_BEGIN);
  SetEndOfFile(filler);
  CloseHandle(filler);
}

// Another program's hold on a file, the way a virus scanner or an indexer opens it: without sharing,
// for `duration` or, without one, until the end of the scope. A hold that `saves` is an editor's or a
// sync tool's: it lets others read, and at the end of its time writes the file before it lets go.
class HeldFile {
 public:
  explicit HeldFile(const fs::path& file, std::optional<std::chrono::milliseconds> duration = std::nullopt,
                    std::optional<std::string> saves = std::nullopt)
      : handle_(CreateFileW(file.wstring().c_str(), GENERIC_READ, saves ? FILE_SHARE_READ | FILE_SHARE_WRITE : 0,
                            nullptr, OPEN_EXISTING, 0, nullptr)),
        held_(handle_ != INVALID_HANDLE_VALUE) {
    if (duration)
      releaser_ = std::thread([this, file, duration, saves] {
        std::this_thread::sleep_for(*duration);
        if (saves) save(file, *saves);
        release();
      });
  }
  ~HeldFile() {
    if (releaser_.joinable()) releaser_.join();
    release();
  }
  HeldFile(const HeldFile&) = delete;
  HeldFile& operator=(const HeldFile&) = delete;
  bool held() const { return held_; }

 private:
  void release() {
    if (HANDLE handle = handle_.exchange(INVALID_HANDLE_VALUE); handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
  }
  // Written through a second handle, which the program's own reads may keep out for a moment.
  void save(const fs::path& file, const std::string& bytes) {
    for (int attempt = 0; attempt < 100 && !saved_; ++attempt, Sleep(1)) {
      HANDLE writer = CreateFileW(file.wstring().c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  TRUNCATE_EXISTING, 0, nullptr);
      DWORD written = 0;
      saved_ = writer != INVALID_HANDLE_VALUE &&
               WriteFile(writer, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
               written == bytes.size();
      if (writer != INVALID_HANDLE_VALUE) CloseHandle(writer);
    }
  }
  std::atomic<HANDLE> handle_;
  const bool held_;
  bool saved_ = false;
  std::thread releaser_;
};

// Two add-ons in the order the program walks them: the first is asked about (its question is where a
// test starts a brief hold), the second has the key.
struct AskedThenKeyed {
  Addon asked, keyed;
};
AskedThenKeyed lay_out_asked_then_keyed(const fs::path& addons) {
  fs::create_directories(addons / "one");
  fs::create_directories(addons / "two");
  std::vector<std::string> order;
  for (const auto& entry : fs::directory_iterator(addons)) order.push_back(entry.path().filename().string());
  AskedThenKeyed pair{{order[0], "name = asked\r\n", "name = asked\r\nlastTestedNVDAVersion = 2036.1.1\r\n"},
                      addon(order[1], 600)};
  lay_out(addons, {pair.asked, pair.keyed});
  return pair;
}

TEST(FileSystemFaults, AnotherProgramsBriefHoldIsWaitedOutAndALongOneFailsOnlyThatFile) {
  using namespace std::chrono_literals;
  const std::string saved = "name = saved by another program\r\nlastTestedNVDAVersion = 2030.1\r\n";
  struct Case {
    bool backup;  // the hold is on the keyed add-on's earlier backup, else on its manifest
    std::optional<std::chrono::milliseconds> duration;  // from the question before it; none: the whole run
    std::u16string summary;                             // empty: the run ends with "Could not back up"
    bool saves = false;  // the manifest's holder saves it at the end of its hold, while the rename waits
  } cases[] = {
      {false, 300ms, summary(2, 0, 0, 2)},        {true, 300ms, summary(2, 0, 0, 2)},
      {false, std::nullopt, summary(2, 0, 1, 1)}, {true, std::nullopt, u""},
      {false, 300ms, summary(2, 0, 1, 1), true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.backup ? "backup" : "manifest") + (c.duration ? " held briefly" : " held throughout") +
                 (c.saves ? " and saved" : ""));
    driver::ProgramDriver program;
    const fs::path addons = program.appdata() / "nvda" / "addons";
    const fs::path backups = addons.parent_path() / "manifest backups";
    const AskedThenKeyed pair = lay_out_asked_then_keyed(addons);
    const std::string earlier_backup = "the backup of an earlier run\r\n";
    fs::create_directories(backups / pair.keyed.name);
    test_support::write_bytes(backups / pair.keyed.name / "manifest.ini", earlier_backup);
    const fs::path held =
        c.backup ? backups / pair.keyed.name / "manifest.ini" : addons / pair.keyed.name / "manifest.ini";

    std::optional<HeldFile> hold;
    if (!c.duration) hold.emplace(held);
    const driver::RunResult result = program.run([&](const driver::Dialog& dialog) {
      if (c.duration && dialog.yes_no && dialog.text.find(u"Add it?") != std::u16string::npos)
        hold.emplace(held, *c.duration, c.saves ? std::optional<std::string>(saved) : std::nullopt);
      return yes_to_all(dialog);
    });
    ASSERT_TRUE(hold && hold->held());
    hold.reset();

    EXPECT_TRUE(result.finished);
    const driver::Dialog* done = find_dialog(result, u"Done");
    if (c.summary.empty()) {
      EXPECT_EQ(done, nullptr);
      ASSERT_FALSE(result.dialogs.empty());
      EXPECT_EQ(result.dialogs.back().text, could_not_back_up(pair.keyed.name));
    } else {
      ASSERT_NE(done, nullptr);
      EXPECT_EQ(done->text, c.summary);
    }
    const bool backed_up = c.duration.has_value(), rewritten = backed_up && !c.saves;
    EXPECT_EQ(read_bytes(addons / pair.keyed.name / "manifest.ini"), c.saves     ? saved
                                                                     : rewritten ? pair.keyed.new_bytes
                                                                                 : pair.keyed.old_bytes);
    EXPECT_EQ(read_bytes(backups / pair.keyed.name / "manifest.ini"),
              backed_up ? pair.keyed.old_bytes : earlier_backup);
    EXPECT_EQ(read_bytes(addons / pair.asked.name / "manifest.ini"), pair.asked.new_bytes);
    // No temporary file is left beside either.
    EXPECT_EQ(test_support::list_names(addons / pair.keyed.name), std::vector<std::string>{"manifest.ini"});
    EXPECT_EQ(test_support::list_names(backups / pair.keyed.name), std::vector<std::string>{"manifest.ini"});
  }
}

// The claim that keeps a second run out is a file that the run holds in the roaming folder; what
// stands in its way (a folder of that name here) ends the run before it touches anything. Wine shows
// a symbolic link as a plain file and lets a read-only one be opened for deletion, so those cases are
// not tested here.
TEST(FileSystemFaults, ARunThatCannotTakeItsClaimEndsWithAMessage) {
  driver::ProgramDriver program;
  const fs::path addons = program.appdata() / "nvda" / "addons";
  const Addon one = addon("one", 600);
  lay_out(addons, {one});
  const fs::path lock = program.appdata() / "quillbrook.lock";
  fs::create_directories(lock);
  // The roaming folder is the prefix's own, shared by every later test.
  const runtime::ScopeExit remove_lock([&] { fs::remove(lock); });
  const driver::RunResult result = program.run(yes_to_all);
  EXPECT_TRUE(result.finished);
  EXPECT_EQ(result.exit_code, 0);
  ASSERT_EQ(result.dialogs.size(), 1u);
  EXPECT_EQ(result.dialogs[0].title, u"Error");
  EXPECT_EQ(result.dialogs[0].text, u"Could not claim " + driver::ProgramDriver::folder_text(program.appdata()) +
                                        u"quillbrook.lock for this run, so Quillbrook could not make sure it runs "
                                        u"alone.");
  EXPECT_EQ(read_bytes(addons / "one" / "manifest.ini"), one.old_bytes);
  EXPECT_FALSE(fs::exists(addons.parent_path() / "manifest backups"));
  EXPECT_TRUE(fs::is_directory(lock));
}

// Hard links here: Wine makes no symbolic link of its own, and deletes the target of a host's one
// where Windows deletes the link (the shared files test covers symbolic links where they exist).
TEST(FileSystemFaults, NothingAtTheTemporaryNameIsWrittenThrough) {
  driver::ProgramDriver program;
  const fs::path addons = program.appdata() / "nvda" / "addons";
  const fs::path backups = addons.parent_path() / "manifest backups";
  const fs::path elsewhere = program.appdata() / "nvda" / "elsewhere";
  const std::vector<Addon> linked = {addon("linked", 600), addon("linked backup", 600)};
  const Addon blocked = addon("folder", 600);
  lay_out(addons, {linked[0], linked[1], blocked});
  const std::string other_text = "another file's own text\r\n";
  fs::create_directories(elsewhere);
  for (const Addon& one : linked) {
    const fs::path folder = (one.name.ends_with("backup") ? backups : addons) / one.name;
    fs::create_directories(folder);
    test_support::write_bytes(elsewhere / one.name, other_text);
    ASSERT_TRUE(CreateHardLinkW((folder / "manifest.ini.quillbrook-new").wstring().c_str(),
                                (elsewhere / one.name).wstring().c_str(), nullptr));
  }
  fs::create_directories(addons / blocked.name / "manifest.ini.quillbrook-new");

  const driver::RunResult result = program.run(yes_to_all);
  const driver::Dialog* done = find_dialog(result, u"Done");
  ASSERT_NE(done, nullptr);
  EXPECT_EQ(done->text, summary(3, 0, 1, 2));
  for (const Addon& one : linked) {
    EXPECT_EQ(read_bytes(elsewhere / one.name), other_text) << one.name;
    EXPECT_EQ(read_bytes(addons / one.name / "manifest.ini"), one.new_bytes) << one.name;
    EXPECT_EQ(read_bytes(backups / one.name / "manifest.ini"), one.old_bytes) << one.name;
    EXPECT_EQ(test_support::list_names(backups / one.name), std::vector<std::string>{"manifest.ini"}) << one.name;
  }
  // Not rewritten in place either: the folder takes new files, only the name is in the way.
  EXPECT_EQ(read_bytes(addons / blocked.name / "manifest.ini"), blocked.old_bytes);
}

TEST(FileSystemFaults, AFullDiskLosesNoManifest) {
  const std::optional<fs::path> disk = full_disk();
  if (!disk) GTEST_SKIP() << "the Wine session has no small file system (it mounts one as root or through sudo)";
  std::vector<Addon> list;
  for (int i = 0; i < 3; ++i) list.push_back(addon("small" + std::to_string(i), 600));
  for (int i = 0; i < 3; ++i) list.push_back(addon("edge" + std::to_string(i), 4095));
  list.push_back(addon("big", 3 * 4096 - 1));
  int rewritten_somewhere = 0;
  for (std::size_t free_pages : {0, 2, 5, 9, 40}) {
    SCOPED_TRACE("free pages: " + std::to_string(free_pages));
    ScopedRoamingFolder roaming(*disk);
    driver::ProgramDriver program;
    ASSERT_EQ(program.appdata(), *disk);
    const fs::path addons = program.appdata() / "nvda" / "addons";
    lay_out(addons, list);
    fill_leaving(*disk, free_pages);
    auto result = program.run(yes_to_all);
    fs::remove(*disk / "filler");
    const int rewritten = check_run(result, addons, list);
    if (free_pages == 0) {
      EXPECT_NE(find_dialog(result, u"Error"), nullptr) << "no room for even one backup";
    }
    if (free_pages == 40) {
      EXPECT_EQ(rewritten, static_cast<int>(list.size())) << "room for everything";
    }
    rewritten_somewhere += rewritten > 0 && rewritten < static_cast<int>(list.size());
  }
  EXPECT_GT(rewritten_somewhere, 0) << "no run filled the disk part-way";
}

TEST(FileSystemFaults, AReadOnlyManifestIsBackedUpButNotRewrittenAndOtherAttributesStay) {
  driver::ProgramDriver program;
  const fs::path addons = program.appdata() / "nvda" / "addons";
  const Addon locked = addon("locked", 600), hidden = addon("hidden", 600), plain = addon("plain", 600);
  lay_out(addons, {locked, hidden, plain});
  const std::wstring locked_path = (addons / "locked" / "manifest.ini").wstring();
  const std::wstring hidden_path = (addons / "hidden" / "manifest.ini").wstring();
  ASSERT_TRUE(SetFileAttributesW(locked_path.c_str(), FILE_ATTRIBUTE_READONLY));
  ASSERT_TRUE(SetFileAttributesW(hidden_path.c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE));

  auto result = program.run(yes_to_all);
  const DWORD locked_attributes = GetFileAttributesW(locked_path.c_str());
  const DWORD hidden_attributes = GetFileAttributesW(hidden_path.c_str());
  SetFileAttributesW(locked_path.c_str(), FILE_ATTRIBUTE_NORMAL);
  EXPECT_EQ(check_run(result, addons, {locked, hidden, plain}), 2);
  const driver::Dialog* done = find_dialog(result, u"Done");
  ASSERT_NE(done, nullptr);
  EXPECT_EQ(done->text, u"3 manifests found, 0 skipped, 1 failed, 2 modified.");
  EXPECT_EQ(read_bytes(addons / "locked" / "manifest.ini"), locked.old_bytes);
  EXPECT_EQ(read_bytes(addons.parent_path() / "manifest backups" / "locked" / "manifest.ini"), locked.old_bytes);
  EXPECT_NE(locked_attributes & FILE_ATTRIBUTE_READONLY, 0u);
  EXPECT_NE(hidden_attributes & FILE_ATTRIBUTE_HIDDEN, 0u);
  EXPECT_EQ(read_bytes(addons / "hidden" / "manifest.ini"), hidden.new_bytes);
}

}  // namespace
