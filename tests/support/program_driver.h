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

// What a screen reader is told about one control: its MSAA name, role and value.
struct Accessible {
  std::u16string name;
  long role = 0;
  std::u16string value;
};

// What a screen reader learns of a dialog through MSAA and WinEvents, read from outside the program
// (Windows only; the terminal port fills none of it).
struct Speech {
  bool foreground_event = false;  // EVENT_SYSTEM_FOREGROUND was raised for the dialog
  std::u16string caption;         // the dialog's title bar
  std::u16string name;            // the dialog's accessible name
  int focus_id = -1;              // control id of the control with the keyboard focus, once settled
  std::u16string focus_class;     // its window class
  bool focus_event = false;       // EVENT_OBJECT_FOCUS was raised for it after the dialog appeared
  Accessible focus;               // the focused control
  std::u16string message;         // a message box: the accessible name of its text control
  Accessible typed;               // input: the edit field once the answer is typed
  int focus_after_tab = -1;       // input: the control id focused after Tab, then after Shift+Tab
  int focus_after_shift_tab = -1;
};

struct Dialog {
  enum class Kind { message, input, chooser };
  Kind kind = Kind::message;
  std::u16string title;
  std::u16string text;  // the message, or the input dialog's prompt
  bool yes_no = false;  // a message with Yes and No (else OK only)
  bool no_is_default = false;
  Speech speech;
  std::string keys;  // Windows: the keys the robot pressed to answer it, as a transcript names them
};

// One line of what a screen reader says for a dialog: its name, the focused control's name and role,
// and the message (Windows).
std::u16string transcript_line(const Dialog& dialog);

// Every answer is given with the keyboard alone, as a user who cannot see the screen gives it.
struct Answer {
  enum class Kind {
    yes,     // Alt+Y (Windows), y (terminal)
    no,      // Alt+N, n
    enter,   // Enter on the default button (OK boxes too)
    type,    // input: type `text`, Tab to OK and Shift+Tab back (Windows), then Enter
    cancel,  // Escape
    choose,  // chooser: walk the folder tree to the folder `text` with the arrow keys, then Enter
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

  // Runs this program in the later runs instead of the build's own (the restore program; on Windows the
  // 32-bit product from a 64-bit test); an empty path goes back to the build's own.
  void use_program(std::filesystem::path program) { program_ = std::move(program); }

  // POSIX: the user's system language, as the environment gives it to the program: LANG set to
  // `locale` ("es_ES.UTF-8") and no other language variable. By default none is set, and the system's
  // language is English.
  void use_system_locale(std::string locale) { locale_ = std::move(locale); }
  // False where this test cannot give the program that locale ("es_ES.UTF-8", or "" for English): a
  // program under Wine takes its locale from the process that starts it, so there only the test's own
  // locale (LC_ALL) can be given, and the test runs again in each locale it needs
  // (tests/updater/CMakeLists.txt).
  static bool can_use_system_locale(const std::string& locale);
  // The language the program is to speak, as its catalogue is named ("es"): the terminal port's
  // prompts are read in it. English by default.
  void expect_language(std::string language) { language_ = std::move(language); }

  // Where a test makes a folder that the user chooses in the folder chooser.
  static std::filesystem::path chooser_base();

  // How the program names a folder it reports: with the platform's separator at the end.
  static std::u16string folder_text(const std::filesystem::path& folder);

 private:
  std::filesystem::path appdata_;
  std::filesystem::path owned_;  // removed at the end
  std::filesystem::path program_;
  bool unprivileged_ = false;
  std::string locale_;
  std::string language_ = "en";
  int kill_answer_ = 0;  // 0: never
  std::chrono::microseconds kill_delay_{0};
};

}  // namespace driver
