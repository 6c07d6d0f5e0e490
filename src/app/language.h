// Choosing the language in which this thread loads its strings and dialogs.
#ifndef HALVANE_LANGUAGE_H
#define HALVANE_LANGUAGE_H

#include <windows.h>

// The calls that choose it. Normally the system's own (SetThreadUILanguage
// looked up where it exists); tests put recorders here, since what Wine does
// with the UI language cannot be seen.
struct LanguageCalls {
    BOOL(WINAPI* GetVersionEx)(OSVERSIONINFOW*);
    LANGID(WINAPI* SetThreadUILanguage)(LANGID);
    BOOL(WINAPI* SetThreadLocale)(LCID);
};

extern LanguageCalls ThreadLanguage;

void SelectInterfaceLanguage(const wchar_t* languageCode);

#endif
