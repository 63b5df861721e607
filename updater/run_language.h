#pragma once

// Which language the run speaks.
namespace updater {

// Chooses the language of every later text: NVDA's own interface language (the `language` key of the
// `[general]` section of nvda.ini, in the NVDA folder below the roaming application data), else the
// system's languages in their order, else English. "Windows", a missing key or an nvda.ini that cannot
// be read means the system's. Where NVDA's language is chosen, Windows draws its own buttons in it too.
void choose_run_language();

}  // namespace updater
