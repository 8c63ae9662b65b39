#pragma once
// Reads a language file into the loaded language. Main thread only.
//
// The file is UTF-8 XML:
//   <language tag="en-US">
//     <dialog id="102"><text source="设置">Settings</text>...</dialog>
//     <section key="sonavelconfigdlg"><text source="...">...</text>...</section>
//   </language>
// A <dialog> holds a dialog's caption and control texts, a <section> the
// texts that code passes through tr.

#include <string>

// Replaces the loaded language with the file's texts. On a missing or
// malformed file the loaded language is left empty, so every text shows
// untranslated, and the result is false.
bool loadLanguage(const std::string& path);
