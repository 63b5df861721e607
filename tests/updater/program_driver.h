#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// Runs the real program the way a user does: through its dialogs (Windows, under Wine) or through
// the terminal (POSIX), answering every dialog with a test's responder.
namespace driver {

struct Dialog {
  enum class Kind { message, input, chooser };
  Kind kind = Kind::message;
  std::u16string title;
  std::u16string text;  // the message, or the input dialog's prompt
  bool yes_no = false;  // a message with Yes and No (else OK only)
  bool no_is_default = false;
};

struct Answer {
  enum class Kind {
    yes,     // the Yes button
    no,      // the No button
    enter,   // Enter on the default button (OK boxes too)
    type,    // input: type `text` and press Enter
    cancel,  // input: Escape; chooser: Cancel
    choose,  // chooser: choose the folder `text`
  };
  Kind kind = Kind::enter;
  std::u16string text;
};

using Responder = std::function<Answer(const Dialog&)>;

struct RunResult {
  int exit_code = -1;
  bool finished = false;  // false when the program had to be killed
  bool killed = false;    // POSIX: ended by the kill that kill_after_answer asked for
  std::vector<Dialog> dialogs;
  // POSIX: from the last answer sent to the end of the program's output.
  std::chrono::microseconds after_last_answer{0};
};

// A user's world for the program: its own roaming application-data folder (the add-ons folder is
// appdata()/"nvda"/"addons"), emptied at the start and at the end.
class ProgramDriver {
 public:
  ProgramDriver();
  // POSIX only: a given folder as the roaming application data, left in place at the end.
  explicit ProgramDriver(std::filesystem::path appdata);
  ~ProgramDriver();
  ProgramDriver(const ProgramDriver&) = delete;
  ProgramDriver& operator=(const ProgramDriver&) = delete;

  const std::filesystem::path& appdata() const { return appdata_; }
  // POSIX only: runs the program as an unprivileged user (when the test runs as root), so that
  // permissions hold for it.
  void run_unprivileged() { unprivileged_ = true; }
  // POSIX only: kills the program (SIGKILL) `delay` after its `answers`-th answer was sent, the way a
  // crash or a power cut would stop it there. Applies to every later run.
  void kill_after_answer(int answers, std::chrono::microseconds delay) {
    kill_answer_ = answers;
    kill_delay_ = delay;
  }
  RunResult run(const Responder& responder);

  // Where a test makes a folder that the user chooses in the folder chooser.
  static std::filesystem::path chooser_base();

  // How the program names a folder it reports: with the platform's separator at the end.
  static std::u16string folder_text(const std::filesystem::path& folder);

 private:
  std::filesystem::path appdata_;
  std::filesystem::path owned_;  // removed at the end
  bool unprivileged_ = false;
  int kill_answer_ = 0;  // 0: never
  std::chrono::microseconds kill_delay_{0};
};

}  // namespace driver
