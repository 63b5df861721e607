#pragma once

#include <initializer_list>

#include "runtime/text.h"

// The texts users read, in the language chosen for the run: English until a language is chosen, then
// that language's catalogue, text by text. English is the key of every text, as it stands in the code.
namespace texts {

using runtime::Text;
using runtime::TextView;

// The chosen language's form of an English text; the English text itself where the catalogue lacks it.
TextView tr(TextView english);

// One placeholder of a template: `{name}` in the text stands for `value`.
struct Field {
  TextView name;
  TextView value;
};

// The chosen language's form of an English template, each placeholder replaced by its value. The
// values are not read for placeholders in turn, so a name with braces in it stays as it is.
Text format(TextView english_template, std::initializer_list<Field> fields);

// Chooses the catalogue for a language tag as NVDA or the system writes it ("pt_BR", "pt-BR", "es",
// "es_ES.UTF-8"): the full tag, else the language alone. False, and the choice kept, when neither has
// a catalogue. "en" and its regions choose English.
bool choose_language(TextView tag);

// The language of a tag without its region, codeset or modifier: "pt" of "pt_BR", "pt-PT" and
// "pt_PT.UTF-8".
TextView language_of(TextView tag);

// The chosen catalogue's language as its file is named ("pt_BR"), or "en".
TextView chosen_language();

// True when the chosen language is written from right to left.
bool is_right_to_left();

}  // namespace texts
