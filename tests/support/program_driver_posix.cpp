#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <random>
#include <stdexcept>
#include <thread>

#include "runtime/utf8.h"
#include "tests/support/program_driver.h"
#include "tests/support/test_support.h"

namespace driver {

namespace {

using Clock = std::chrono::steady_clock;

std::vector<std::string> split_lines(std::string_view text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    lines.emplace_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

std::u16string utf16(std::string_view bytes) { return runtime::utf8_to_utf16(bytes); }

// OK boxes print their title and text and read nothing: every two lines that come before a prompt
// (or before the end) are one of them.
void add_ok_boxes(RunResult& result, const std::vector<std::string>& lines, std::size_t count) {
  for (std::size_t i = 0; i + 1 < count; i += 2) {
    Dialog box;
    box.title = utf16(lines[i]);
    box.text = utf16(lines[i + 1]);
    result.dialogs.push_back(box);
  }
}

}  // namespace

ProgramDriver::ProgramDriver() {
  std::random_device random;
  owned_ = std::filesystem::temp_directory_path() / ("quillbrook-e2e-" + std::to_string(random()));
  appdata_ = owned_ / "config";
  std::filesystem::create_directories(appdata_);
}

ProgramDriver::ProgramDriver(std::filesystem::path appdata) : appdata_(std::move(appdata)) {}

ProgramDriver::~ProgramDriver() {
  if (owned_.empty()) return;
  std::error_code ignored;
  std::filesystem::remove_all(owned_, ignored);
}

bool ProgramDriver::can_use_system_locale(const std::string&) { return true; }

std::filesystem::path ProgramDriver::chooser_base() { return std::filesystem::temp_directory_path(); }

std::u16string ProgramDriver::folder_text(const std::filesystem::path& folder) {
  return runtime::utf8_to_utf16(folder.string() + "/");
}

RunResult ProgramDriver::run(const Responder& responder) {
  int to_child[2], from_child[2];
  if (pipe(to_child) != 0) throw std::runtime_error("pipe");
  if (pipe(from_child) != 0) {
    close(to_child[0]);
    close(to_child[1]);
    throw std::runtime_error("pipe");
  }
  const std::string config = appdata_.string();
  const std::string program = program_.empty() ? std::string(QUILLBROOK_PROGRAM) : program_.string();
  const bool drop_root = unprivileged_ && geteuid() == 0;
  const std::string locale = locale_;
  pid_t pid = fork();
  if (pid < 0) {
    for (int fd : {to_child[0], to_child[1], from_child[0], from_child[1]}) close(fd);
    throw std::runtime_error("fork");
  }
  if (pid == 0) {
    constexpr uid_t NOBODY = 65534;
    if (drop_root && (setgid(NOBODY) != 0 || setuid(NOBODY) != 0)) _exit(126);
    dup2(to_child[0], 0);
    dup2(from_child[1], 1);
    close(to_child[0]);
    close(to_child[1]);
    close(from_child[0]);
    close(from_child[1]);
    setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    for (const char* name : {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"}) unsetenv(name);
    if (!locale.empty()) setenv("LANG", locale.c_str(), 1);
    execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  close(to_child[0]);
  close(from_child[1]);
  int input = to_child[1], output = from_child[0];
  signal(SIGPIPE, SIG_IGN);

  RunResult result;
  std::string pending;  // output not yet turned into dialogs
  Dialog current;       // the dialog whose prompt was last answered (asked again on a bad answer)
  auto in_language = [&](std::u16string_view english) {
    return runtime::utf16_to_utf8(test_support::translated(language_, english));
  };
  const std::string no_default = in_language(u"[y/N] "), yes_default = in_language(u"[Y/n] ");
  const std::string chooser_title = in_language(u"NVDA addon directory");
  std::string not_a_folder = in_language(u"Not a folder: {path}");
  not_a_folder.resize(not_a_folder.find("{path}"));
  const auto deadline = Clock::now() + std::chrono::seconds(60);
  auto last_answer = Clock::now();
  int answers = 0;
  bool eof = false;
  while (!eof && Clock::now() < deadline) {
    pollfd fd{output, POLLIN, 0};
    int ready = poll(&fd, 1, 50);
    if (ready > 0) {
      char chunk[4096];
      ssize_t n = read(output, chunk, sizeof chunk);
      if (n <= 0) {
        eof = true;
        break;
      }
      pending.append(chunk, static_cast<std::size_t>(n));
      continue;  // read everything that is there before looking for a prompt
    }
    // Nothing more arrives: the program waits for an answer when the output ends in a prompt.
    std::string prompt;
    for (const std::string& candidate : {no_default, yes_default, std::string("> ")})
      if (pending.ends_with(candidate)) prompt = candidate;
    if (prompt.empty()) continue;
    auto lines = split_lines(std::string_view(pending).substr(0, pending.size() - prompt.size()));
    pending.clear();

    if (prompt == "> " && !lines.empty() && lines.back().starts_with(not_a_folder)) {
      lines.pop_back();  // the chooser asks again
    } else if (prompt == "> " && !lines.empty() && lines.back() == chooser_title) {
      add_ok_boxes(result, lines, lines.size() - 1);
      current = Dialog{Dialog::Kind::chooser, utf16(lines.back()), u"", false, false, {}, {}};
      result.dialogs.push_back(current);
    } else if (lines.size() >= 2) {
      add_ok_boxes(result, lines, lines.size() - 2);
      current = Dialog{prompt == "> " ? Dialog::Kind::input : Dialog::Kind::message,
                       utf16(lines[lines.size() - 2]),
                       utf16(lines.back()),
                       prompt != "> ",
                       prompt == no_default,
                       {},
                       {}};
      result.dialogs.push_back(current);
    }
    // else: a Yes/No question asked again after an answer it did not take.

    Answer answer = responder(current);
    std::string line;
    bool close_input = false;
    switch (answer.kind) {
      case Answer::Kind::yes:
        line = "y";
        break;
      case Answer::Kind::no:
        line = "n";
        break;
      case Answer::Kind::enter:
        line = "";
        break;
      case Answer::Kind::type:
      case Answer::Kind::choose:
        line = runtime::utf16_to_utf8(answer.text);
        break;
      case Answer::Kind::cancel:
        if (current.kind == Dialog::Kind::input) close_input = true;  // the end of the input is a cancel
        break;
    }
    if (close_input) {
      close(input);
      input = -1;
    } else {
      line += "\n";
      if (write(input, line.data(), line.size()) != static_cast<ssize_t>(line.size())) {
        close(input);
        input = -1;
      }
    }
    last_answer = Clock::now();
    if (++answers == kill_answer_) {
      std::this_thread::sleep_for(kill_delay_);
      kill(pid, SIGKILL);  // the output then ends, and the loop reads what came before
    }
  }
  result.after_last_answer = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - last_answer);
  if (input >= 0) close(input);
  close(output);

  int status = 0;
  if (!eof) {
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    return result;
  }
  waitpid(pid, &status, 0);
  auto lines = split_lines(pending);
  add_ok_boxes(result, lines, lines.size());
  result.finished = WIFEXITED(status);
  result.killed = WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
  result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

}  // namespace driver
