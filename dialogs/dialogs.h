#pragma once

#include <cstdint>

#include "runtime/text.h"

// How the program talks to the user: modal dialogs on Windows, the terminal on POSIX.
namespace dialogs {

using runtime::Text;
using runtime::TextView;

// Message-box flags (MessageBoxW's uType, passed through unchanged).
inline constexpr std::uint32_t MESSAGE_OK = 0x0;
inline constexpr std::uint32_t MESSAGE_YES_NO = 0x4;
inline constexpr std::uint32_t MESSAGE_ICON_ERROR = 0x10;
inline constexpr std::uint32_t MESSAGE_ICON_WARNING = 0x30;
inline constexpr std::uint32_t MESSAGE_ICON_INFORMATION = 0x40;
inline constexpr std::uint32_t MESSAGE_DEFAULT_BUTTON_2 = 0x100;

// Button ids returned by show_message_box.
inline constexpr std::int32_t BUTTON_OK = 1;
inline constexpr std::int32_t BUTTON_YES = 6;
inline constexpr std::int32_t BUTTON_NO = 7;

// Once at start, before any dialog.
void init_dialogs();

// A modal message box; returns the id of the button that closed it (0 when it could not be shown).
std::int32_t show_message_box(TextView title, TextView text, std::uint32_t flags);

// Asks for one line of text. Returns what the user confirmed, or the empty Text when cancelled.
Text ask_text(TextView title, TextView message, TextView default_text);

// Lets the user choose a folder. Returns its path with a closing separator, or the empty Text when
// nothing usable was chosen.
Text choose_folder(TextView title, TextView initial_folder);

}  // namespace dialogs
