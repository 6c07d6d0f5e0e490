// Making page-supplied text safe to show in the consent prompt, and short
// enough for its message to fit.
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
// the arguments as they are (a "%" in them stays a "%") except that each "&" in
// them is written "&&": the prompt's message control takes a lone "&" for a
// mnemonic prefix, and a page's "AT&T" must not show as "ATT". The format's own
// text is copied as it is. Writes at most outLength - 1 characters and always a
// terminator; a longer message is cut, never between the two of a doubled "&".
// Gives the length of the whole message, so a caller can tell that it was cut.
size_t FormatPromptMessage(const wchar_t* format, const wchar_t* first, const wchar_t* second, wchar_t* out,
                           size_t outLength);

// Whether a message, as the prompt would show it, fits the room the prompt has for it.
typedef bool (*MessageFits)(const wchar_t* message, void* context);

// FormatPromptMessage for a message control of fixed size: the site and the title
// are shortened, in the shown text only, until the whole message fits, so that
// the question at its end is never lost below the control's edge. The title goes
// first, from its middle, down to a few characters around a "…"; then the
// site from its left, a label at a time, keeping its end (the registrable part,
// such as "example.org") whole as long as anything else can go; then the title
// takes back whatever room that freed. A message that would be cut at outLength
// counts as not fitting. One that fits nowhere is shown at its shortest. The cuts
// fall between the page's own characters; each "&" is doubled only afterwards.
void FormatPromptMessageToFit(const wchar_t* format, const wchar_t* site, const wchar_t* title, wchar_t* out,
                              size_t outLength, MessageFits fits, void* context);

#endif
