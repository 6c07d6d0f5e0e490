// Making page-supplied text safe to show in the consent prompt.
// Platform-free.
#ifndef HALVANE_DISPLAY_TEXT_H
#define HALVANE_DISPLAY_TEXT_H

#include <stddef.h>

// True for characters a web page could use to forge the prompt's message:
// C0/C1 controls and line separators (which split the message into lines)
// and bidirectional formatting characters (which reorder it).
bool IsDeceptiveCharacter(wchar_t c);

// Copies text into out (of outLength characters, terminator included, at
// least 1), with every deceptive character shown as U+FFFD; cuts what does not fit.
void CopyForDisplay(const wchar_t* text, wchar_t* out, size_t outLength);

// A duplicate of text with the same replacements, from the global allocator.
wchar_t* DuplicateForDisplay(const wchar_t* text);

// Fills a message format's "%s" placeholders with first and then second, copying
// the arguments as they are (a "%" in them stays a "%"). Writes at most
// outLength - 1 characters and always a terminator; a longer message is cut.
void FormatPromptMessage(const wchar_t* format, const wchar_t* first, const wchar_t* second, wchar_t* out,
                         size_t outLength);

#endif
