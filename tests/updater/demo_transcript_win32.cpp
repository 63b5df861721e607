// Runs the program on the demo add-ons with the demo's answers, the keyboard alone, and prints for
// each dialog what a screen reader is told of it, then the keys the robot pressed.
//   demo_transcript <folder of add-ons to copy into the prefix's NVDA folder> [language]
// A language ("es", as its catalogue is named) is set as NVDA's own, in nvda.ini.
#include <cstdio>
#include <filesystem>
#include <string>

#include "runtime/utf8.h"
#include "tests/support/program_driver.h"
#include "tests/support/test_support.h"

namespace {

using driver::Answer;
using driver::Dialog;

// The demo's answers: Yes to go on, 2036.1.1, Yes to add the key to "notes", No for any other add-on.
Answer demo_answer(const Dialog& dialog) {
  switch (dialog.kind) {
    case Dialog::Kind::chooser:
      return {Answer::Kind::cancel, {}};
    case Dialog::Kind::input:
      return {Answer::Kind::type, u"2036.1.1"};
    case Dialog::Kind::message:
      break;
  }
  if (!dialog.yes_no) return {Answer::Kind::enter, {}};
  if (dialog.no_is_default || dialog.text.find(u"notes/") != std::u16string::npos) return {Answer::Kind::yes, {}};
  return {Answer::Kind::no, {}};
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2 && argc != 3) {
    std::fprintf(stderr, "usage: demo_transcript <add-ons folder> [language]\n");
    return 2;
  }
  driver::ProgramDriver program;
  const std::filesystem::path nvda = program.appdata() / "nvda";
  std::filesystem::create_directories(nvda / "addons");
  std::filesystem::copy(argv[1], nvda / "addons", std::filesystem::copy_options::recursive);
  if (argc == 3) test_support::write_bytes(nvda / "nvda.ini", std::string("[general]\nlanguage = ") + argv[2] + "\n");
  const driver::RunResult result = program.run(demo_answer);
  for (const Dialog& dialog : result.dialogs)
    std::printf("%s\n    %s\n", runtime::utf16_to_utf8(driver::transcript_line(dialog)).c_str(), dialog.keys.c_str());
  return result.finished && result.exit_code == 0 ? 0 : 1;
}
