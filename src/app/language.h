// Choosing the language in which this thread loads its strings and dialogs.
#ifndef HALVANE_LANGUAGE_H
#define HALVANE_LANGUAGE_H

void SelectInterfaceLanguage(const wchar_t* languageCode);

#endif
