// The helper's texts, and Qt's and the engine's own, in the person's language.
#pragma once

// Loads, for the person's languages (QLocale::system().uiLanguages(): LANGUAGE's list first,
// then LC_ALL, LC_MESSAGES, LANG), the helper's own translation and Qt's translations of
// qtbase (the standard buttons: "Abbrechen") and of the engine (the edit menu's actions). Each
// comes from the first of those languages it exists for; a missing one leaves that part in
// English. The helper's translations are looked for beside the binary, in
// ../share/corvane-tavisk/translations (installed and build tree alike); Qt's in Qt's own
// translations folder (Debian's qt6-translations-l10n). Runs on the GUI thread, once the
// application object exists.
void installTranslations();
