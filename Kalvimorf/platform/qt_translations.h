#pragma once

// Qt's own words (the file dialogs' labels and headings, the standard buttons, the text fields'
// context menus) in the program's language. The program speaks Portuguese whatever the session's
// locale, so its Qt speaks it too.
namespace QtTranslations {
// Loads Qt's Brazilian Portuguese catalogue once, from where this Qt keeps its translations; where
// the distribution's catalogue is not installed, Qt stays in English.
void install();
}
