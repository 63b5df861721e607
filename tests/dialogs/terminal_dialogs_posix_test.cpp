#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>

#include "dialogs/dialogs.h"
#include "runtime/system_posix.h"
#include "runtime/utf8.h"
#include "tests/support/test_support.h"

namespace {

using dialogs::Text;
using dialogs::TextView;

using UniqueFd = runtime::UniqueDescriptor;

struct Pipe {
  UniqueFd read_end;
  UniqueFd write_end;
};

// Throws when the system has no pipe to give: the test then fails at once instead of working on
// descriptors that were never set.
Pipe make_pipe() {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) throw std::system_error(errno, std::generic_category(), "pipe2");
  return {UniqueFd(fds[0]), UniqueFd(fds[1])};
}

void write_all(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0 && errno == EINTR) continue;
    ASSERT_GT(written, 0);
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
}

std::string read_all(int fd) {
  std::string bytes;
  char buffer[4096];
  for (;;) {
    ssize_t count = ::read(fd, buffer, sizeof buffer);
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) return bytes;
    bytes.append(buffer, static_cast<std::size_t>(count));
  }
}

// Puts `replacement` in place of one standard descriptor and puts the original back when it goes.
class ScopedRedirect {
 public:
  ScopedRedirect(int replacement, int target) : saved_(::dup(target)), target_(target) { ::dup2(replacement, target_); }
  ~ScopedRedirect() { ::dup2(saved_.get(), target_); }
  ScopedRedirect(const ScopedRedirect&) = delete;
  ScopedRedirect& operator=(const ScopedRedirect&) = delete;

 private:
  UniqueFd saved_;
  int target_;
};

struct Session {
  std::string output;        // every byte the dialogs wrote
  std::string unread_input;  // what they left of the input
};

// Runs the dialogs with `input` (then its end) on standard input and a pipe on standard output,
// as a script drives the program. Both stay far below a pipe's capacity, so one thread suffices.
template <typename Dialogs>
Session run_in_terminal(std::string_view input, Dialogs&& run_dialogs) {
  Pipe in = make_pipe();
  Pipe out = make_pipe();
  write_all(in.write_end.get(), input);
  in.write_end.reset();
  std::fflush(stdout);
  {
    ScopedRedirect input_redirect(in.read_end.get(), STDIN_FILENO);
    ScopedRedirect output_redirect(out.write_end.get(), STDOUT_FILENO);
    run_dialogs();
  }
  out.write_end.reset();
  return {read_all(out.read_end.get()), read_all(in.read_end.get())};
}

std::string utf8(TextView text) { return runtime::utf16_to_utf8(text); }
Text text(std::string_view bytes) { return runtime::utf8_to_utf16(bytes); }

TEST(TerminalMessageBox, OkBoxWritesTitleAndTextAndReadsNothing) {
  struct Case {
    TextView title, body;
    std::uint32_t flags;
    std::string_view output;
  } cases[] = {
      {u"Error", u"Could not write the manifest.", 16, "Error\nCould not write the manifest.\n"},
      {u"Done", u"Found: 3\nModified: 2", 64, "Done\nFound: 3\nModified: 2\n"},
      {TextView(), u"", 0, "\n\n"},
      // Button sets the program never uses are shown as OK boxes too.
      {u"Ask", u"Retry?", 0x5 | 0x30, "Ask\nRetry?\n"},
      {u"Ask", u"Go on?", 0x1, "Ask\nGo on?\n"},
      {u"Ask", u"Save?", 0x3, "Ask\nSave?\n"},
  };
  for (const Case& c : cases) {
    std::int32_t button = 0;
    Session session = run_in_terminal("y\n", [&] { button = dialogs::show_message_box(c.title, c.body, c.flags); });
    EXPECT_EQ(button, dialogs::BUTTON_OK) << c.flags;
    EXPECT_EQ(session.output, c.output) << c.flags;
    EXPECT_EQ(session.unread_input, "y\n") << c.flags;
  }
}

TEST(TerminalMessageBox, PromptShowsWhichButtonIsTheDefault) {
  struct Case {
    std::uint32_t flags;
    std::string_view output;
    std::int32_t empty_line_answer;
  } cases[] = {
      {308, "Warning\nAppend the key?\n[y/N] ", dialogs::BUTTON_NO},
      {52, "Warning\nAppend the key?\n[Y/n] ", dialogs::BUTTON_YES},
  };
  for (const Case& c : cases) {
    for (std::string_view empty_line : {"\n", "\r\n"}) {
      std::int32_t button = 0;
      Session session = run_in_terminal(
          empty_line, [&] { button = dialogs::show_message_box(u"Warning", u"Append the key?", c.flags); });
      EXPECT_EQ(session.output, c.output);
      EXPECT_EQ(button, c.empty_line_answer) << c.flags;
    }
  }
}

TEST(TerminalMessageBox, YesAndNoAreReadInAnyLetterCase) {
  struct Case {
    std::string_view input;
    std::int32_t button;
  } cases[] = {
      {"y\n", dialogs::BUTTON_YES},   {"Y\n", dialogs::BUTTON_YES},     {"yes\n", dialogs::BUTTON_YES},
      {"YES\n", dialogs::BUTTON_YES}, {"yEs\r\n", dialogs::BUTTON_YES}, {"yes", dialogs::BUTTON_YES},
      {"n\n", dialogs::BUTTON_NO},    {"N\r\n", dialogs::BUTTON_NO},    {"no\n", dialogs::BUTTON_NO},
      {"No\n", dialogs::BUTTON_NO},   {"NO", dialogs::BUTTON_NO},
  };
  for (std::uint32_t flags : {308u, 52u}) {
    for (const Case& c : cases) {
      std::int32_t button = 0;
      Session session = run_in_terminal(c.input, [&] { button = dialogs::show_message_box(u"T", u"Q", flags); });
      EXPECT_EQ(button, c.button) << c.input << " with flags " << flags;
      EXPECT_EQ(session.output, flags == 308 ? "T\nQ\n[y/N] " : "T\nQ\n[Y/n] ");
    }
  }
}

TEST(TerminalMessageBox, AnyOtherAnswerAsksAgain) {
  std::int32_t button = 0;
  Session session = run_in_terminal("maybe\nyess\n y\nyes \nja\nyes\nno\n",
                                    [&] { button = dialogs::show_message_box(u"T", u"Q", 308); });
  EXPECT_EQ(button, dialogs::BUTTON_YES);
  EXPECT_EQ(session.output, "T\nQ\n[y/N] [y/N] [y/N] [y/N] [y/N] [y/N] ");
  EXPECT_EQ(session.unread_input, "no\n");
}

TEST(TerminalMessageBox, EndOfInputAnswersNoEvenWhenYesIsTheDefault) {
  struct Case {
    std::string_view input;
    std::uint32_t flags;
    std::string_view output;
  } cases[] = {
      {"", 52, "T\nQ\n[Y/n] "},
      {"", 308, "T\nQ\n[y/N] "},
      {"sure\n", 52, "T\nQ\n[Y/n] [Y/n] "},
      {"sure\nmaybe", 52, "T\nQ\n[Y/n] [Y/n] [Y/n] "},
  };
  for (const Case& c : cases) {
    std::int32_t button = 0;
    Session session = run_in_terminal(c.input, [&] { button = dialogs::show_message_box(u"T", u"Q", c.flags); });
    EXPECT_EQ(button, dialogs::BUTTON_NO) << c.input;
    EXPECT_EQ(session.output, c.output) << c.input;
  }
}

TEST(TerminalInput, LineReadIsTheResultAndEmptyLineGivesTheDefault) {
  struct Case {
    std::string_view input;
    TextView default_text;
    TextView result;
  } cases[] = {
      {"2036.1.1\n", TextView(), u"2036.1.1"},
      {"2036.1.1\n", u"2024.1", u"2036.1.1"},
      {"2036.1.1\r\n", u"", u"2036.1.1"},
      {"2036.1.1", u"", u"2036.1.1"},
      {" 2036 \n", u"", u" 2036 "},
      {"a\rb\n", u"", u"a\rb"},
      {"\n", u"2024.1", u"2024.1"},
      {"\r\n", u"2024.1", u"2024.1"},
      {"\n", u"", u""},
      {"\n", TextView(), u""},
      // The end of the input cancels, whatever the default.
      {"", u"2024.1", u""},
      {"", TextView(), u""},
  };
  for (const Case& c : cases) {
    Text result = u"unset";
    Session session =
        run_in_terminal(c.input, [&] { result = dialogs::ask_text(u"version", u"Type the version:", c.default_text); });
    EXPECT_EQ(utf8(result), utf8(c.result)) << c.input;
    EXPECT_EQ(session.output, "version\nType the version:\n> ") << c.input;
  }
}

TEST(TerminalInput, NonAsciiTextPassesUnchangedBothWays) {
  Text result;
  Session session = run_in_terminal(
      "Größe ✓ 😀\n", [&] { result = dialogs::ask_text(text("Versión ✓"), text("Введите версию 😀"), TextView()); });
  EXPECT_EQ(result, text("Größe ✓ 😀"));
  EXPECT_EQ(result.size(), 10u);  // the emoji is one surrogate pair
  EXPECT_EQ(session.output, "Versión ✓\nВведите версию 😀\n> ");
}

TEST(TerminalInput, InvalidUtf8BecomesReplacementCharacters) {
  Text result;
  run_in_terminal(
      "a\xFF"
      "b\xC3\n",
      [&] { result = dialogs::ask_text(u"T", u"M", TextView()); });
  EXPECT_EQ(result, u"a\uFFFDb\uFFFD");
}

TEST(TerminalFolderChooser, ExistingFolderGetsExactlyOneClosingSlash) {
  test_support::ScopedTempDir temp;
  std::filesystem::create_directory(temp.path() / "Ordner ü");
  const std::string folder = (temp.path() / "Ordner ü").string();
  struct Case {
    std::string typed;
    std::string result;
  } cases[] = {
      {folder, folder + "/"},
      {folder + "/", folder + "/"},
      {folder + "//", folder + "/"},
      {folder + "/\r", folder + "/"},
      {temp.path().string() + "\\Ordner ü\\", folder + "/"},
      {"/", "/"},
  };
  for (const Case& c : cases) {
    Text result;
    Session session = run_in_terminal(c.typed + "\nnext\n",
                                      [&] { result = dialogs::choose_folder(u"NVDA addon directory", TextView()); });
    EXPECT_EQ(utf8(result), c.result) << c.typed;
    EXPECT_EQ(session.output, "NVDA addon directory\n> ") << c.typed;
    EXPECT_EQ(session.unread_input, "next\n") << c.typed;
  }
}

TEST(TerminalFolderChooser, FileOrMissingPathIsRefusedAndAskedAgain) {
  test_support::ScopedTempDir temp;
  const std::string file = (temp.path() / "manifest.ini").string();
  test_support::write_bytes(file, "name = sample\n");
  const std::string missing = (temp.path() / "gone").string();
  const std::string folder = temp.path().string();

  Text result;
  Session session = run_in_terminal(file + "\n" + file + "/\n" + missing + "\r\n" + folder + "\n",
                                    [&] { result = dialogs::choose_folder(u"NVDA addon directory", TextView()); });
  EXPECT_EQ(utf8(result), folder + "/");
  EXPECT_EQ(session.output, "NVDA addon directory\n> Not a folder: " + file + "\n> Not a folder: " + file +
                                "/\n> Not a folder: " + missing + "\n> ");
}

TEST(TerminalFolderChooser, EmptyLineOrEndOfInputCancels) {
  test_support::ScopedTempDir temp;
  const std::string missing = (temp.path() / "gone").string();
  struct Case {
    std::string input;
    std::string output;
  } cases[] = {
      {"", "Choose\n> "},
      {"\n", "Choose\n> "},
      {"\r\n", "Choose\n> "},
      {missing + "\n", "Choose\n> Not a folder: " + missing + "\n> "},
      {missing + "\n\n", "Choose\n> Not a folder: " + missing + "\n> "},
  };
  for (const Case& c : cases) {
    Text result = u"unset";
    Session session = run_in_terminal(c.input, [&] { result = dialogs::choose_folder(u"Choose", u"/tmp/"); });
    EXPECT_EQ(result, u"") << c.input;
    EXPECT_EQ(session.output, c.output) << c.input;
  }
}

TEST(TerminalDialogs, EachDialogTakesOnlyItsOwnLinesFromOneInput) {
  test_support::ScopedTempDir temp;
  const std::string folder = temp.path().string();
  std::int32_t confirmed = 0;
  Text version, chosen;
  Session session = run_in_terminal(folder + "\nwhat\ny\n2036.1.1\nleft over\n", [&] {
    chosen = dialogs::choose_folder(u"NVDA addon directory", TextView());
    confirmed = dialogs::show_message_box(u"Confirm", u"Update?", 52);
    version = dialogs::ask_text(u"version", u"Version:", TextView());
    dialogs::show_message_box(u"Result", u"Modified: 1", 64);
  });
  EXPECT_EQ(utf8(chosen), folder + "/");
  EXPECT_EQ(confirmed, dialogs::BUTTON_YES);
  EXPECT_EQ(version, u"2036.1.1");
  EXPECT_EQ(session.output,
            "NVDA addon directory\n> Confirm\nUpdate?\n[Y/n] [Y/n] version\nVersion:\n> Result\nModified: 1\n");
  EXPECT_EQ(session.unread_input, "left over\n");
}

}  // namespace
