// The dialogs in the terminal: every dialog writes its title and text to standard output and reads
// its answers from standard input, one line at a time, so that a person or a script can drive a run.

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

#include "dialogs/dialogs.h"
#include "runtime/utf8.h"

namespace dialogs {
namespace {

constexpr int INPUT_FD = STDIN_FILENO;
constexpr int OUTPUT_FD = STDOUT_FILENO;

constexpr std::uint32_t BUTTONS_MASK = 0xF;
constexpr std::string_view PROMPT_NO_DEFAULT = "[y/N] ";
constexpr std::string_view PROMPT_YES_DEFAULT = "[Y/n] ";
constexpr std::string_view PROMPT_INPUT = "> ";
constexpr std::string_view NOT_A_FOLDER = "Not a folder: ";

// Straight to the descriptor, so nothing waits in a buffer while the program blocks on a read.
void write_output(std::string_view bytes) {
  // Whatever the program wrote through stdio comes first.
  std::fflush(stdout);
  while (!bytes.empty()) {
    ssize_t written = ::write(OUTPUT_FD, bytes.data(), bytes.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      return;  // nobody is reading; the dialog still gets its answer from the input
    }
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
}

void write_line(TextView text) {
  std::string bytes = runtime::utf16_to_utf8(text);
  bytes += '\n';
  write_output(bytes);
}

// One line without its LF (and a CR just before it), or nothing at the end of the input. A last
// line without LF still counts. Reads byte by byte so that the input after the line stays unread
// for the next dialog, or for whatever program reads the same input after this one.
std::optional<std::string> read_line() {
  std::string line;
  bool got_any = false;
  for (;;) {
    char byte;
    ssize_t count = ::read(INPUT_FD, &byte, 1);
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) break;  // end of input, or an error that ends it just the same
    got_any = true;
    if (byte == '\n') break;
    line += byte;
  }
  if (!got_any) return std::nullopt;
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

// Writes the prompt and reads the answer; invalid UTF-8 in it becomes U+FFFD.
std::optional<Text> ask_line(std::string_view prompt) {
  write_output(prompt);
  std::optional<std::string> line = read_line();
  if (!line) return std::nullopt;
  return runtime::utf8_to_utf16(*line);
}

Text lowercase_ascii(TextView text) {
  Text lower(text);
  for (char16_t& unit : lower)
    if (unit >= u'A' && unit <= u'Z') unit = static_cast<char16_t>(unit - u'A' + u'a');
  return lower;
}

std::int32_t ask_yes_no(bool no_is_default) {
  const std::string_view prompt = no_is_default ? PROMPT_NO_DEFAULT : PROMPT_YES_DEFAULT;
  for (;;) {
    std::optional<Text> answer = ask_line(prompt);
    // A script that runs out of answers must never agree to anything.
    if (!answer) return BUTTON_NO;
    Text word = lowercase_ascii(*answer);
    if (word.empty()) return no_is_default ? BUTTON_NO : BUTTON_YES;
    if (word == u"y" || word == u"yes") return BUTTON_YES;
    if (word == u"n" || word == u"no") return BUTTON_NO;
  }
}

// The rest of the POSIX port reads a backslash as a separator too; the result uses the slash only.
Text with_closing_slash(TextView typed) {
  Text path(typed);
  for (char16_t& unit : path)
    if (unit == u'\\') unit = u'/';
  while (!path.empty() && path.back() == u'/') path.pop_back();
  path += u'/';
  return path;
}

bool is_existing_folder(TextView path) {
  if (path.find(u'\0') != TextView::npos) return false;
  std::string bytes = runtime::utf16_to_utf8(path);
  struct stat status {};
  return ::stat(bytes.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

}  // namespace

// A terminal needs no preparation.
void init_dialogs() {}

// Only the Yes/No box asks; every other button set is shown like an OK box and answered with OK,
// since the terminal has no buttons to offer and the program uses no other set.
std::int32_t show_message_box(TextView title, TextView text, std::uint32_t flags) {
  write_line(title);
  write_line(text);
  if ((flags & BUTTONS_MASK) != MESSAGE_YES_NO) return BUTTON_OK;
  return ask_yes_no((flags & MESSAGE_DEFAULT_BUTTON_2) != 0);
}

Text ask_text(TextView title, TextView message, TextView default_text) {
  write_line(title);
  write_line(message);
  std::optional<Text> answer = ask_line(PROMPT_INPUT);
  if (!answer) return Text();
  if (answer->empty()) return Text(runtime::until_terminator(default_text));
  return *answer;
}

// The initial folder has no use here: the user types a whole path.
Text choose_folder(TextView title, TextView /*initial_folder*/) {
  write_line(title);
  for (;;) {
    std::optional<Text> answer = ask_line(PROMPT_INPUT);
    if (!answer || answer->empty()) return Text();
    Text folder = with_closing_slash(*answer);
    if (is_existing_folder(folder)) return folder;
    write_output(std::string(NOT_A_FOLDER) + runtime::utf16_to_utf8(*answer) + '\n');
  }
}

}  // namespace dialogs
