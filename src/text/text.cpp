#include "text/text.h"

#include <stdlib.h>
#include <string.h>

void* AllocateOrDie(uint64_t bytes)
{
    void* memory = bytes <= SIZE_MAX ? malloc(static_cast<size_t>(bytes ? bytes : 1)) : nullptr;
    if (!memory)
        abort();
    return memory;
}

wchar_t* DuplicateText(const wchar_t* text, uint32_t length)
{
    wchar_t* copy = static_cast<wchar_t*>(AllocateOrDie((uint64_t(length) + 1) * sizeof(wchar_t)));
    memcpy(copy, text, length * sizeof(wchar_t));
    copy[length] = L'\0';
    return copy;
}

wchar_t FoldAsciiCase(wchar_t c)
{
    return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c + (L'a' - L'A')) : c;
}

void LowerCaseAscii(wchar_t* text)
{
    for (; *text; ++text)
        *text = FoldAsciiCase(*text);
}

bool EqualAfterFold(const wchar_t* a, const wchar_t* b, CharacterFold fold)
{
    for (;; ++a, ++b) {
        if (fold(*a) != fold(*b))
            return false;
        if (!*a)
            return true;
    }
}

bool EqualIgnoringAsciiCase(const wchar_t* a, const wchar_t* b)
{
    return EqualAfterFold(a, b, FoldAsciiCase);
}
