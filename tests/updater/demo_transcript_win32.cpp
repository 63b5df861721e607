// Runs the program on the demo add-ons with the demo's answers, the keyboard alone, and prints for
// each dialog what a screen reader is told of it, then the key the robot pressed.
//   demo_transcript <folder of add-ons to copy into the prefix's NVDA folder>
#include <cstdio>
#include <filesystem>
#include <string>

#include "runtime/utf8.h"
#include "tests/support/program_driver.h"

namespace {

using driver::Answer;
using driver::Dialog;

// The demo's answers: Yes to go on, 2036.1.1, Yes to add the key to "notes", No for any other add-on.
Answer demo_answer(const Dialog& dialog, std::string& pressed) {
  switch (dialog.kind) {
    case Dialog::Kind::chooser:
      pressed = "Escape";
      return {Answer::Kind::cancel, {}};
    case Dialog::Kind::input:
      pressed = "types 2036.1.1, Tab, Shift+Tab, Enter";
      return {Answer::Kind::type, u"2036.1.1"};
    case Dialog::Kind::message:
      break;
  }
  if (!dialog.yes_no) {
    pressed = "Enter";
    return {Answer::Kind::enter, {}};
  }
  if (dialog.no_is_default || dialog.text.find(u" notes") != std::u16string::npos) {
    pressed = "Alt+Y";
    return {Answer::Kind::yes, {}};
  }
  pressed = "Alt+N";
  return {Answer::Kind::no, {}};
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: demo_transcript <add-ons folder>\n");
    return 2;
  }
  driver::ProgramDriver program;
  const std::filesystem::path addons = program.appdata() / "nvda" / "addons";
  std::filesystem::create_directories(addons);
  std::filesystem::copy(argv[1], addons, std::filesystem::copy_options::recursive);
  std::vector<std::string> keys;
  const driver::RunResult result = program.run([&](const Dialog& dialog) {
    std::string pressed;
    Answer answer = demo_answer(dialog, pressed);
    keys.push_back(pressed);
    return answer;
  });
  for (std::size_t i = 0; i < result.dialogs.size(); ++i)
    std::printf("%s\n    %s\n", runtime::utf16_to_utf8(driver::transcript_line(result.dialogs[i])).c_str(),
                keys[i].c_str());
  return result.finished && result.exit_code == 0 ? 0 : 1;
}
