// End-to-end cases that need what only the POSIX port offers: any folder as the application data,
// and a file system of its own that the test can fill.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "runtime/utf8.h"
#include "tests/support/program_driver.h"
#include "tests/support/scoped_tmpfs_posix.h"
#include "tests/support/test_support.h"

namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;
using driver::Answer;
using driver::Dialog;
using test_support::read_bytes;
using test_support::write_bytes;

Answer yes_to_all(const Dialog& dialog) {
  if (dialog.kind == Dialog::Kind::input) return {Answer::Kind::type, u"2036.1.1"};
  if (dialog.kind == Dialog::Kind::chooser) return {Answer::Kind::cancel, {}};
  return {dialog.yes_no ? Answer::Kind::yes : Answer::Kind::enter, {}};
}

std::u16string summary(const driver::RunResult& result) {
  for (const auto& dialog : result.dialogs)
    if (dialog.title == u"Done") return dialog.text;
  return u"(no summary)";
}

enum class Output { file, closed, unread_pipe };

struct RawRun {
  bool exited = false;  // on its own, with an exit code
  int exit_code = -1;
  int signal = 0;
  std::string output;  // Output::file only
};

// Runs the program with raw bytes as its whole input and standard output as asked, for what the
// dialog driver cannot do: send a zero byte, or take the output away. Killed after 30 s.
RawRun run_raw(const fs::path& config, const std::string& input, Output output) {
  test_support::ScopedTempDir work;
  write_bytes(work.path() / "input", input);
  int pipe_ends[2] = {-1, -1};
  if (output == Output::unread_pipe) {
    if (pipe(pipe_ends) != 0) throw std::runtime_error("pipe");
    close(pipe_ends[0]);
  }
  const std::string input_path = (work.path() / "input").string(), output_path = (work.path() / "output").string();
  pid_t pid = fork();
  if (pid == 0) {
    int in = open(input_path.c_str(), O_RDONLY);
    if (in < 0 || dup2(in, 0) < 0) _exit(126);
    if (output == Output::closed) {
      close(1);
    } else {
      int out = output == Output::file ? open(output_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644) : pipe_ends[1];
      if (out < 0 || dup2(out, 1) < 0) _exit(126);
    }
    setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    execl(QUILLBROOK_PROGRAM, QUILLBROOK_PROGRAM, static_cast<char*>(nullptr));
    _exit(127);
  }
  if (pipe_ends[1] >= 0) close(pipe_ends[1]);
  RawRun run;
  int status = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      return run;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  run.exited = WIFEXITED(status);
  run.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  run.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
  if (output == Output::file) run.output = read_bytes(work.path() / "output");
  return run;
}

// Folder permissions that the program, run as an ordinary user, cannot get past.
TEST(EndToEndPosix, AnAddonsFolderThatCannotBeEnteredEndsTheRunWithAMessage) {
  driver::ProgramDriver program;
  program.run_unprivileged();
  fs::path addons = program.appdata() / "nvda" / "addons";
  fs::create_directories(addons / "one");
  write_bytes(addons / "one" / "manifest.ini", "lastTestedNVDAVersion = 2023.1\n");
  fs::permissions(addons, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  auto result = program.run(yes_to_all);
  fs::permissions(addons, fs::perms::owner_all);
  EXPECT_TRUE(result.finished);
  EXPECT_EQ(result.exit_code, 0);
  ASSERT_EQ(result.dialogs.size(), 1u);
  EXPECT_EQ(result.dialogs[0].title, u"Error");
  EXPECT_EQ(result.dialogs[0].text,
            u"Could not open the folder " + runtime::utf8_to_utf16(program.appdata().string()) + u"/nvda\\addons\\");
  EXPECT_EQ(read_bytes(addons / "one" / "manifest.ini"), "lastTestedNVDAVersion = 2023.1\n");
}

TEST(EndToEndPosix, AnAddonsFolderThatCannotBeListedEndsTheRunWithAMessage) {
  driver::ProgramDriver program;
  program.run_unprivileged();
  fs::path addons = program.appdata() / "nvda" / "addons";
  fs::create_directories(addons);
  fs::permissions(addons, fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec);
  auto result = program.run(yes_to_all);
  fs::permissions(addons, fs::perms::owner_all);
  EXPECT_TRUE(result.finished);
  EXPECT_EQ(result.exit_code, 0);
  ASSERT_EQ(result.dialogs.size(), 2u);
  EXPECT_EQ(result.dialogs[0].title, u"Warning");
  EXPECT_EQ(result.dialogs[1].title, u"Error");
  EXPECT_EQ(result.dialogs[1].text, u"No directories found");
}

TEST(EndToEndPosix, AManifestThatCannotBeWrittenWholeIsRestoredFromItsBackup) {
  if (geteuid() != 0) GTEST_SKIP() << "mounting a small file system needs root";
  driver::ProgramDriver program;
  fs::path addons = program.appdata() / "nvda" / "addons";
  test_support::ScopedTmpfs tmpfs(addons, 64 * 1024);
  if (!tmpfs.mounted()) GTEST_SKIP() << "cannot mount a tmpfs here";

  // Exactly one page of manifest: the new text needs a second page, which the full file system
  // does not have, while the backups go to the folder beside it on another file system.
  std::string key = "lastTestedNVDAVersion = 2023.1\n";
  std::string old = std::string(4096 - key.size(), '#') + key;
  old[old.size() - key.size() - 1] = '\n';
  fs::create_directories(addons / "big");
  write_bytes(addons / "big" / "manifest.ini", old);
  {
    std::ofstream filler(addons / "filler", std::ios::binary);
    std::string block(4096, 'f');
    while (filler.write(block.data(), static_cast<std::streamsize>(block.size()))) filler.flush();
  }
  auto result = program.run(yes_to_all);
  EXPECT_TRUE(result.finished);
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(read_bytes(addons / "big" / "manifest.ini"), old);
  EXPECT_EQ(read_bytes(program.appdata() / "nvda" / "manifest backups" / "big" / "manifest.ini"), old);
  bool summarised = false;
  for (const auto& dialog : result.dialogs)
    if (dialog.title == u"Done") {
      summarised = true;
      EXPECT_EQ(dialog.text, u"1 manifests found, 0 skipped, 1 failed, 0 modified.");
    }
  EXPECT_TRUE(summarised);
  fs::remove(addons / "filler");
}

// Only a regular file, or a link to one, is read: a FIFO would block the run and a device might
// never end. A link is replaced by the new manifest, as every manifest is, and what it pointed to is
// never written.
TEST(EndToEndPosix, AManifestThatIsNotARegularFileCountsAsFailedWithoutBlocking) {
  driver::ProgramDriver program;
  fs::path addons = program.appdata() / "nvda" / "addons";
  for (const char* name : {"fifo", "socket", "device", "folder link", "file link", "plain"})
    fs::create_directories(addons / name);
  ASSERT_EQ(mkfifo((addons / "fifo" / "manifest.ini").c_str(), 0644), 0);
  int listener = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string socket_path = (addons / "socket" / "manifest.ini").string();
  ASSERT_LT(socket_path.size(), sizeof address.sun_path);
  std::strcpy(address.sun_path, socket_path.c_str());
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  fs::create_symlink("/dev/zero", addons / "device" / "manifest.ini");
  fs::create_directory_symlink(addons / "plain", addons / "folder link" / "manifest.ini");
  write_bytes(addons / "plain" / "manifest.ini", "lastTestedNVDAVersion = 2023.1\n");
  write_bytes(addons / "linked", "lastTestedNVDAVersion = 2023.1\n");
  fs::create_symlink(addons / "linked", addons / "file link" / "manifest.ini");

  auto result = program.run(yes_to_all);
  close(listener);
  EXPECT_TRUE(result.finished);
  EXPECT_EQ(summary(result), u"6 manifests found, 0 skipped, 4 failed, 2 modified.");
  EXPECT_EQ(read_bytes(addons / "linked"), "lastTestedNVDAVersion = 2023.1\n");
  EXPECT_EQ(read_bytes(addons / "file link" / "manifest.ini"), "lastTestedNVDAVersion = 2036.1.1\n");
  EXPECT_EQ(fs::status(addons / "fifo" / "manifest.ini").type(), fs::file_type::fifo);
  for (const char* name : {"fifo", "socket", "device", "folder link"})
    EXPECT_FALSE(fs::exists(program.appdata() / "nvda" / "manifest backups" / name)) << name;
}

// A backslash is a separator in the port's paths, so a name holding one would lead elsewhere.
TEST(EndToEndPosix, AnEntryWithABackslashIsNoAddonAndLeadsNowhereElse) {
  driver::ProgramDriver program;
  fs::path nvda = program.appdata() / "nvda";
  const std::string outside = "lastTestedNVDAVersion = 2023.1\n";
  fs::create_directories(nvda / "addons" / "..\\outside");
  write_bytes(nvda / "addons" / "..\\outside" / "manifest.ini", outside);
  fs::create_directories(nvda / "outside");
  write_bytes(nvda / "outside" / "manifest.ini", outside);
  fs::create_directories(nvda / "addons" / "one");
  write_bytes(nvda / "addons" / "one" / "manifest.ini", outside);

  auto result = program.run(yes_to_all);
  EXPECT_TRUE(result.finished);
  EXPECT_EQ(summary(result), u"1 manifests found, 0 skipped, 0 failed, 1 modified.");
  EXPECT_EQ(read_bytes(nvda / "outside" / "manifest.ini"), outside);
  EXPECT_EQ(read_bytes(nvda / "addons" / "..\\outside" / "manifest.ini"), outside);
  EXPECT_FALSE(fs::exists(nvda / "manifest backups" / "outside"));
  EXPECT_FALSE(fs::exists(nvda / "manifest backups" / "..\\outside"));
}

TEST(EndToEndPosix, ABackslashInTheConfigurationFolderIsPartOfItsName) {
  test_support::ScopedTempDir home;
  const std::string old = "lastTestedNVDAVersion = 2023.1\n";
  // The folders that the name would lead to if its backslash were a separator.
  fs::create_directories(home.path() / "x" / "y" / "nvda" / "addons" / "one");
  write_bytes(home.path() / "x" / "y" / "nvda" / "addons" / "one" / "manifest.ini", old);
  const fs::path config = home.path() / "x\\y";
  fs::create_directories(config / "nvda" / "addons" / "one");
  write_bytes(config / "nvda" / "addons" / "one" / "manifest.ini", old);

  driver::ProgramDriver program(config);
  auto result = program.run(yes_to_all);
  EXPECT_TRUE(result.finished);
  EXPECT_EQ(summary(result), u"1 manifests found, 0 skipped, 0 failed, 1 modified.");
  EXPECT_EQ(read_bytes(config / "nvda" / "addons" / "one" / "manifest.ini"), "lastTestedNVDAVersion = 2036.1.1\n");
  EXPECT_EQ(read_bytes(config / "nvda" / "manifest backups" / "one" / "manifest.ini"), old);
  EXPECT_EQ(read_bytes(home.path() / "x" / "y" / "nvda" / "addons" / "one" / "manifest.ini"), old);
  EXPECT_FALSE(fs::exists(home.path() / "x" / "y" / "nvda" / "manifest backups"));
  ASSERT_FALSE(result.dialogs.empty());
  // The note names the folder as it is, backslash and all.
  const std::u16string& note = result.dialogs.back().text;
  EXPECT_NE(note.find(u"placed in " + driver::ProgramDriver::folder_text(config / "nvda") + u"manifest backups."),
            std::u16string::npos)
      << runtime::utf16_to_utf8(note);
}

// Add-ons are named as the system lists them: a name that is not UTF-8 (no Windows name holds one) is
// no add-on and stands for no other name, one that ends in blanks or dots is its own add-on with its
// own backup, and no path is held to the Windows path space.
TEST(EndToEndPosix, NamesAreTheSystemsOwnAndNotHeldToTheWindowsPathSpace) {
  test_support::ScopedTempDir home;
  fs::path config = home.path();
  for (int i = 0; i < 4; ++i) config /= std::string(80, 'c');
  const fs::path nvda = config / "nvda";
  const std::string old = "lastTestedNVDAVersion = 2023.1\n";
  const struct {
    std::string name;
    bool addon;
  } cases[] = {{"\xFF", false}, {"\xFE", false},  {"\xEF\xBF\xBD", true}, {std::string(255, 'n'), true},
               {"trail", true}, {"trail ", true}, {"dots..", true}};
  for (const auto& c : cases) {
    fs::create_directories(nvda / "addons" / c.name);
    write_bytes(nvda / "addons" / c.name / "manifest.ini", old);
  }
  driver::ProgramDriver program(config);
  auto result = program.run(yes_to_all);
  EXPECT_TRUE(result.finished);
  EXPECT_EQ(summary(result), u"5 manifests found, 0 skipped, 0 failed, 5 modified.");
  for (const auto& c : cases) {
    EXPECT_EQ(read_bytes(nvda / "addons" / c.name / "manifest.ini"),
              c.addon ? "lastTestedNVDAVersion = 2036.1.1\n" : old)
        << c.name.size();
    const fs::path backup = nvda / "manifest backups" / c.name / "manifest.ini";
    EXPECT_EQ(fs::exists(backup) ? read_bytes(backup) : "", c.addon ? old : "") << c.name;
  }
}

// Nobody can see the dialogs: each answers as the end of the input would, so the run ends at the
// confirmation, without a signal and without waiting.
TEST(EndToEndPosix, WithoutStandardOutputTheRunEndsAtTheConfirmation) {
  driver::ProgramDriver program;
  fs::path addons = program.appdata() / "nvda" / "addons";
  fs::create_directories(addons / "one");
  const std::string old = "lastTestedNVDAVersion = 2023.1\n";
  write_bytes(addons / "one" / "manifest.ini", old);
  std::string answers;
  for (int i = 0; i < 1000; ++i) answers += "y\n2036.1.1\nabc\n";
  for (Output output : {Output::closed, Output::unread_pipe}) {
    SCOPED_TRACE(output == Output::closed ? "closed" : "unread pipe");
    RawRun run = run_raw(program.appdata(), answers, output);
    EXPECT_TRUE(run.exited) << "signal " << run.signal;
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_EQ(read_bytes(addons / "one" / "manifest.ini"), old);
    EXPECT_FALSE(fs::exists(program.appdata() / "nvda" / "manifest backups"));
  }
}

// A terminal lets a zero be typed (Ctrl+@); nothing after it may reach a manifest.
TEST(EndToEndPosix, AVersionWithAZeroIsRefusedShowingItUpToTheZero) {
  driver::ProgramDriver program;
  fs::path addons = program.appdata() / "nvda" / "addons";
  fs::create_directories(addons / "one");
  write_bytes(addons / "one" / "manifest.ini", "lastTestedNVDAVersion = 2023.1\r\n[s]\r\n");
  RawRun run = run_raw(program.appdata(), "y\n2036.1\0\"\n2030.2\n"s, Output::file);
  EXPECT_TRUE(run.exited);
  EXPECT_NE(run.output.find("Error\nThe version \"2036.1\" is not valid."), std::string::npos) << run.output;
  EXPECT_EQ(read_bytes(addons / "one" / "manifest.ini"), "lastTestedNVDAVersion = 2030.2\r\n[s]\r\n");
}

}  // namespace
