// The dialogs in the terminal: every dialog writes its title and text to standard output and reads
// its answers from standard input, one line at a time, so that a person or a script can drive a run.

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

#include "dialogs/dialogs.h"
#include "runtime/utf8.h"
#include "texts/catalogue.h"

namespace dialogs {
namespace {

constexpr int INPUT_FD = STDIN_FILENO;
constexpr int OUTPUT_FD = STDOUT_FILENO;

constexpr std::uint32_t BUTTONS_MASK = 0xF;
constexpr std::string_view PROMPT_INPUT = "> ";

// Straight to the descriptor, so nothing waits in a buffer while the program blocks on a read. False
// when the output cannot take the bytes (closed, or nobody reads it): the dialog was not shown.
bool write_output(std::string_view bytes) {
  // Whatever the program wrote through stdio comes first.
  std::fflush(stdout);
  while (!bytes.empty()) {
    ssize_t written = ::write(OUTPUT_FD, bytes.data(), bytes.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

// Paths carry a backslash of a name as a stand-in; the user sees the backslash.
bool write_line(TextView text) {
  Text shown(text);
  for (char16_t& unit : shown)
    if (unit == runtime::NAME_BACKSLASH) unit = u'\\';
  std::string bytes = runtime::utf16_to_utf8(shown);
  bytes += '\n';
  return write_output(bytes);
}

// Keeps a descriptor that was closed at start from being handed to a file the program opens later,
// where a dialog's text would then land: /dev/null read-only answers reads with the end of the input
// and refuses writes, as a closed descriptor does.
void hold_closed_descriptor(int descriptor) {
  if (::fcntl(descriptor, F_GETFD) != -1 || errno != EBADF) return;
  int held = ::open("/dev/null", O_RDONLY);
  if (held >= 0 && held != descriptor) {
    ::dup2(held, descriptor);
    ::close(held);
  }
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

// Writes the prompt and reads the answer; invalid UTF-8 in it becomes U+FFFD. A prompt that cannot be
// shown is answered as the end of the input would be.
std::optional<Text> ask_line(std::string_view prompt) {
  if (!write_output(prompt)) return std::nullopt;
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

// The answer's button: the language's own words and letters first, then the English ones, which work in
// every language.
std::optional<std::int32_t> read_answer(TextView word) {
  // TRANSLATORS: the letter that answers Yes in the terminal; also the first letter in "[y/N] ".
  const TextView yes_letter = texts::tr(u"y");
  // TRANSLATORS: the letter that answers No in the terminal; also the letter N in "[y/N] ".
  const TextView no_letter = texts::tr(u"n");
  // TRANSLATORS: the word that answers Yes in the terminal.
  const TextView yes_word = texts::tr(u"yes");
  // TRANSLATORS: the word that answers No in the terminal.
  const TextView no_word = texts::tr(u"no");
  for (TextView yes : {yes_letter, yes_word, TextView(u"y"), TextView(u"yes")})
    if (word == lowercase_ascii(yes)) return BUTTON_YES;
  for (TextView no : {no_letter, no_word, TextView(u"n"), TextView(u"no")})
    if (word == lowercase_ascii(no)) return BUTTON_NO;
  return std::nullopt;
}

std::int32_t ask_yes_no(bool no_is_default) {
  // TRANSLATORS: the prompt of a question in the terminal whose default answer is No; use the letters
  // of "y" and "n".
  const TextView no_default = texts::tr(u"[y/N] ");
  // TRANSLATORS: the same prompt where the default answer is Yes.
  const TextView yes_default = texts::tr(u"[Y/n] ");
  const std::string prompt = runtime::utf16_to_utf8(no_is_default ? no_default : yes_default);
  for (;;) {
    std::optional<Text> answer = ask_line(prompt);
    // A script that runs out of answers must never agree to anything.
    if (!answer) return BUTTON_NO;
    Text word = lowercase_ascii(*answer);
    if (word.empty()) return no_is_default ? BUTTON_NO : BUTTON_YES;
    if (std::optional<std::int32_t> button = read_answer(word)) return *button;
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

// A closed output must end the run the way the end of the input does, not kill the program
// (SIGPIPE) part-way through a rewrite.
void init_dialogs() {
  ::signal(SIGPIPE, SIG_IGN);
  for (int descriptor : {INPUT_FD, OUTPUT_FD}) hold_closed_descriptor(descriptor);
}

// Only the Yes/No box asks; every other button set is shown like an OK box and answered with OK,
// since the terminal has no buttons to offer and the program uses no other set. A box that cannot be
// shown answers as the end of the input does.
std::int32_t show_message_box(TextView title, TextView text, std::uint32_t flags) {
  bool shown = write_line(title) && write_line(text);
  if ((flags & BUTTONS_MASK) != MESSAGE_YES_NO) return BUTTON_OK;
  if (!shown) return BUTTON_NO;
  return ask_yes_no((flags & MESSAGE_DEFAULT_BUTTON_2) != 0);
}

Text ask_text(TextView title, TextView message, TextView default_text) {
  if (!write_line(title) || !write_line(message)) return Text();
  std::optional<Text> answer = ask_line(PROMPT_INPUT);
  if (!answer) return Text();
  if (answer->empty()) return Text(runtime::until_terminator(default_text));
  return *answer;
}

// The initial folder has no use here: the user types a whole path.
Text choose_folder(TextView title, TextView /*initial_folder*/) {
  if (!write_line(title)) return Text();
  for (;;) {
    std::optional<Text> answer = ask_line(PROMPT_INPUT);
    if (!answer || answer->empty()) return Text();
    Text folder = with_closing_slash(*answer);
    if (is_existing_folder(folder)) return folder;
    if (!write_line(texts::format(u"Not a folder: {path}", {{u"path", *answer}}))) return Text();
  }
}

}  // namespace dialogs
