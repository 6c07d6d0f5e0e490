// The interface languages and their Windows language identifiers.
// Platform-free: the Win32 side (language.cpp) applies the result.
#ifndef HALVANE_LANGUAGE_TABLE_H
#define HALVANE_LANGUAGE_TABLE_H

#include <stdint.h>

struct InterfaceLanguage {
    const wchar_t* code;  // lower-case ASCII, as on the command line
    uint16_t langId;
};

enum : uint16_t { DefaultLangId = 1033 };  // English (United States)

extern const InterfaceLanguage InterfaceLanguages[22];

// Whole-string match, ASCII case ignored; anything else gives English.
uint16_t LanguageIdFromCode(const wchar_t* code);

#endif
