#include "ui/display_text.h"

#include "text/text.h"

#include <wchar.h>

bool IsDeceptiveCharacter(wchar_t c)
{
    return c <= 0x1F || (c >= 0x7F && c <= 0x9F) ||           // controls, line breaks among them
           c == 0x2028 || c == 0x2029 ||                         // line and paragraph separators
           c == 0x061C || c == 0x200E || c == 0x200F ||          // bidi marks
           (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);  // bidi embeddings, isolates
}

void CopyForDisplay(const wchar_t* text, wchar_t* out, size_t outLength)
{
    size_t i = 0;
    for (; i + 1 < outLength && text[i]; ++i)
        out[i] = IsDeceptiveCharacter(text[i]) ? wchar_t(0xFFFD) : text[i];
    out[i] = L'\0';
}

wchar_t* DuplicateForDisplay(const wchar_t* text)
{
    size_t length = wcslen(text);
    wchar_t* copy = static_cast<wchar_t*>(AllocateOrDie((uint64_t(length) + 1) * sizeof(wchar_t)));
    CopyForDisplay(text, copy, length + 1);
    return copy;
}

void FormatPromptMessage(const wchar_t* format, const wchar_t* first, const wchar_t* second, wchar_t* out,
                         size_t outLength)
{
    const wchar_t* arguments[2] = {first, second};
    int nextArgument = 0;
    if (!outLength)
        return;
    size_t used = 0;
    for (const wchar_t* f = format; *f && used + 1 < outLength; ++f) {
        if (f[0] == L'%' && f[1] == L's' && nextArgument < 2) {
            for (const wchar_t* a = arguments[nextArgument++]; *a && used + 1 < outLength; ++a)
                out[used++] = *a;
            ++f;
        } else {
            out[used++] = *f;
        }
    }
    out[used] = L'\0';
}
