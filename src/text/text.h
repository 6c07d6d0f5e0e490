// Small text and memory helpers shared by every part of the program.
// Platform-free. The case rule lives here: only A-Z fold onto a-z, and no
// locale takes part, for sites and language codes alike.
#ifndef HALVANE_TEXT_H
#define HALVANE_TEXT_H

#include <stdint.h>

typedef wchar_t (*CharacterFold)(wchar_t c);

// Memory from the global allocator; a failure ends the process.
void* AllocateOrDie(uint64_t bytes);
// A new allocation holding the first `length` characters of text and a terminator.
wchar_t* DuplicateText(const wchar_t* text, uint32_t length);

wchar_t FoldAsciiCase(wchar_t c);
void LowerCaseAscii(wchar_t* text);
// Whole strings, compared after the given fold: the one comparison loop.
bool EqualAfterFold(const wchar_t* a, const wchar_t* b, CharacterFold fold);
bool EqualIgnoringAsciiCase(const wchar_t* a, const wchar_t* b);

#endif
