#include "app/command_line.h"

#include "text/text.h"

static wchar_t* FindSpace(wchar_t* text)
{
    for (; *text; ++text) {
        if (*text == L' ')
            return text;
    }
    return nullptr;
}

// A value loses at most one trailing and then one leading double quote.
static wchar_t* StripQuotes(wchar_t* value, wchar_t* end)
{
    if (end > value && end[-1] == L'"')
        end[-1] = L'\0';
    return *value == L'"' ? value + 1 : value;
}

int ParseCommandLine(wchar_t* tail, LaunchValues* request)
{
    wchar_t* firstSpace = FindSpace(tail);
    if (!firstSpace) {
        if (!*tail)
            return 0;
        // The code alone: taken whole, quotes and all.
        LowerCaseAscii(tail);
        request->languageCode = tail;
        return 0;
    }

    *firstSpace = L'\0';
    LowerCaseAscii(tail);
    request->languageCode = StripQuotes(tail, firstSpace);

    wchar_t* site = firstSpace + 1;
    if (!*site)
        return 0;
    request->site = site;
    wchar_t* secondSpace = FindSpace(site);
    if (!secondSpace)
        return 0;  // two values only; the site stays as found

    *secondSpace = L'\0';
    LowerCaseAscii(site);
    request->site = StripQuotes(site, secondSpace);

    // The title runs to the end of the line: its leading quote goes first, then its trailing one.
    wchar_t* title = secondSpace + 1;
    if (*title == L'"')
        ++title;
    wchar_t* end = title;
    while (*end)
        ++end;
    if (end > title && end[-1] == L'"')
        end[-1] = L'\0';
    request->windowTitle = title;
    return 1;
}
