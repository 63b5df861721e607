#pragma once

#include <vector>

#include "runtime/text.h"

// What the system says of the user's languages.
namespace texts {

// The user's preferred languages for the interface, most preferred first, as tags ("es-ES", "es_ES.UTF-8").
// Windows: the user's preferred UI languages. POSIX: LANGUAGE, then the locale of messages (LC_ALL,
// LC_MESSAGES, LANG), as gettext reads them: LANGUAGE counts only where that locale is not "C".
std::vector<runtime::Text> system_languages();

// Windows draws its own texts (the Yes, No and OK buttons of a message box) in the thread's UI language:
// sets it to the tag's language where Windows has it. Nothing on POSIX, where the program draws every text.
void use_language_for_system_texts(runtime::TextView tag);

}  // namespace texts
