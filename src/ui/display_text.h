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

// The prompt's message: at most 509 characters and a terminator.
enum { PromptMessageLimit = 510 };

// Whether a message, as the prompt would show it, fits the room the prompt has for it.
typedef bool (*MessageFits)(const wchar_t* message, void* context);

// How the prompt measures a message. fits: whether it shows whole. mayFit: a
// looser test that is true of every message that fits and, once false, stays
// false for any longer one (such as its width on one line against the width of
// all its lines together); it bounds the search, since under word wrap a
// shorter text may need more lines than a longer one.
struct MessageMeasure {
    MessageFits fits;
    MessageFits mayFit;
    void* context;
};

// FormatPromptMessage for a message control of fixed size: the site and the title
// are shortened, in the shown text only, until the whole message fits, so that
// the question at its end is never lost below the control's edge. What gives
// way, in order: the title from its middle, down to a few characters around a
// "…"; the site from its left, a label at a time, down to its registrable part
// (such as "example.org" or "example.com.au"); the rest of the title; and last
// the registrable part itself, from its middle, keeping its start (who owns it)
// and its end. Each cut is the longest that fits, and the title then takes back
// whatever room the site's cut left. A message that would be cut at outLength
// counts as not fitting. One that fits nowhere is shown at its shortest. The
// cuts fall between the page's own characters, never inside a surrogate pair;
// each "&" is doubled only afterwards.
void FormatPromptMessageToFit(const wchar_t* format, const wchar_t* site, const wchar_t* title, wchar_t* out,
                              size_t outLength, const MessageMeasure* measure);

#endif
