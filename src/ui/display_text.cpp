#include "ui/display_text.h"

#include "text/text.h"

#include <stdlib.h>
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

// Adds count copies of c to the message, whose first `whole` characters are
// counted and the first `written` in out. A piece that does not fit whole is
// left out: a doubled "&" cut in two would underline what the control drew next.
static void Append(wchar_t c, size_t count, wchar_t* out, size_t outLength, size_t* whole, size_t* written)
{
    if (*whole + count < outLength) {
        for (size_t i = 0; i < count; ++i)
            out[(*written)++] = c;
    }
    *whole += count;
}

size_t FormatPromptMessage(const wchar_t* format, const wchar_t* first, const wchar_t* second, wchar_t* out,
                           size_t outLength)
{
    const wchar_t* arguments[2] = {first, second};
    int nextArgument = 0;
    size_t whole = 0, written = 0;
    for (const wchar_t* f = format; *f; ++f) {
        if (f[0] == L'%' && f[1] == L's' && nextArgument < 2) {
            for (const wchar_t* a = arguments[nextArgument++]; *a; ++a)
                Append(*a, *a == L'&' ? 2 : 1, out, outLength, &whole, &written);
            ++f;
        } else {
            Append(*f, 1, out, outLength, &whole, &written);
        }
    }
    if (outLength)
        out[written] = L'\0';
    return whole;
}

// ---- shortening what the page supplied until the message fits ----------------------

namespace {

const wchar_t Ellipsis = 0x2026;
// Fewer title characters than this tell the user nothing; the site goes first then.
const size_t MinimumTitleShown = 8;

bool IsHighSurrogate(wchar_t c)
{
    return c >= 0xD800 && c <= 0xDBFF;
}

bool IsLowSurrogate(wchar_t c)
{
    return c >= 0xDC00 && c <= 0xDFFF;
}

// The title with only `kept` of its characters, half from each end around an
// ellipsis, so that both a page's name and the site name browsers put at the end
// of a title stay in view. A surrogate pair is kept or dropped whole.
void ShortenInMiddle(const wchar_t* text, size_t length, size_t kept, wchar_t* out)
{
    if (kept >= length) {
        wmemcpy(out, text, length);
        out[length] = L'\0';
        return;
    }
    size_t head = (kept + 1) / 2;
    size_t tail = length - kept / 2;
    if (head && IsHighSurrogate(text[head - 1]))
        --head;
    if (tail < length && IsLowSurrogate(text[tail]))
        ++tail;
    wmemcpy(out, text, head);
    out[head] = Ellipsis;
    wmemcpy(out + head + 1, text + tail, length - tail);
    out[head + 1 + length - tail] = L'\0';
}

// The site from `start` on, after an ellipsis when anything was cut.
void ShortenFromLeft(const wchar_t* text, size_t length, size_t start, wchar_t* out)
{
    size_t used = 0;
    if (start)
        out[used++] = Ellipsis;
    wmemcpy(out + used, text + start, length - start);
    out[used + length - start] = L'\0';
}

// Where the end of a site begins that names who owns it: the last two labels
// ("example.org"), or three where the last two look like a country's own
// second level ("example.co.uk"). A cut inside these labels could make
// "notexample.org" read as "…example.org".
size_t RegistrableStart(const wchar_t* site, size_t length)
{
    size_t starts[3] = {0, 0, 0};  // the last three label starts, last first
    size_t found = 0;
    for (size_t i = length; i > 0 && found < 3; --i) {
        if (site[i - 1] == L'.')
            starts[found++] = i;
    }
    if (found == 0)
        return 0;
    size_t lastLength = length - starts[0];
    size_t secondLength = starts[0] - 1 - (found > 1 ? starts[1] : 0);
    size_t kept = (lastLength == 2 && secondLength <= 3) ? 3 : 2;
    return kept <= found ? starts[kept - 1] : 0;
}

struct Fitting {
    const wchar_t* format;
    const wchar_t* site;
    size_t siteLength;
    size_t registrableStart;
    const wchar_t* title;
    size_t titleLength;
    wchar_t* siteShown;   // room for siteLength + 2
    wchar_t* titleShown;  // room for titleLength + 2
    wchar_t* out;
    size_t outLength;
    MessageFits fits;
    void* context;
};

// Writes the message with these cuts into f.out; gives its whole length.
size_t Show(Fitting& f, size_t titleKept, size_t siteStart)
{
    ShortenInMiddle(f.title, f.titleLength, titleKept, f.titleShown);
    ShortenFromLeft(f.site, f.siteLength, siteStart, f.siteShown);
    return FormatPromptMessage(f.format, f.siteShown, f.titleShown, f.out, f.outLength);
}

bool Fits(Fitting& f, size_t titleKept, size_t siteStart)
{
    return Show(f, titleKept, siteStart) < f.outLength && f.fits(f.out, f.context);
}

// The first place at or after `at` where the site may be cut: a label's start
// before its registrable part, any character within it (never inside a pair).
size_t SiteCutAt(const Fitting& f, size_t at)
{
    if (at <= f.registrableStart) {
        while (at > 0 && at < f.registrableStart && f.site[at - 1] != L'.')
            ++at;
        return at;
    }
    return (at < f.siteLength && IsLowSurrogate(f.site[at])) ? at + 1 : at;
}

// Each search below is a binary search: a shorter text never needs more lines.

// The most title characters in [low, high] that fit with the site cut at siteStart.
bool LongestFittingTitle(Fitting& f, size_t low, size_t high, size_t siteStart, size_t* kept)
{
    bool found = false;
    while (low <= high) {
        size_t middle = low + (high - low) / 2;
        if (Fits(f, middle, siteStart)) {
            found = true;
            *kept = middle;
            low = middle + 1;
        } else if (middle == 0) {
            break;
        } else {
            high = middle - 1;
        }
    }
    return found;
}

// The least cut from the site's left, between low and high, that fits with titleKept.
bool LeastFittingSiteCut(Fitting& f, size_t titleKept, size_t low, size_t high, size_t* start)
{
    bool found = false;
    if (f.siteLength == 0)
        return false;
    if (high > f.siteLength - 1)
        high = f.siteLength - 1;
    while (low <= high) {
        size_t middle = low + (high - low) / 2;
        size_t cut = SiteCutAt(f, middle);
        if (Fits(f, titleKept, cut)) {
            found = true;
            *start = cut;
            high = middle - 1;
        } else {
            low = middle + 1;
        }
    }
    return found;
}

// How much of the title and the site to show. What gives way, in order: the
// title's middle down to a few characters, the site's labels before its
// registrable part, the rest of the title, and only then the registrable part
// from its left; the title then takes back whatever room that left.
void ChooseCuts(Fitting& f, size_t* titleKept, size_t* siteStart)
{
    size_t few = f.titleLength < MinimumTitleShown ? f.titleLength : MinimumTitleShown;
    *titleKept = f.titleLength;
    *siteStart = 0;
    if (Fits(f, *titleKept, *siteStart) ||
        (few < f.titleLength && LongestFittingTitle(f, few, f.titleLength - 1, *siteStart, titleKept)))
        return;
    *titleKept = few;
    if (!LeastFittingSiteCut(f, few, 1, f.registrableStart, siteStart)) {
        *siteStart = f.registrableStart;
        if (!(few > 0 && LongestFittingTitle(f, 0, few - 1, *siteStart, titleKept))) {
            *titleKept = 0;
            if (!LeastFittingSiteCut(f, 0, f.registrableStart + 1, f.siteLength, siteStart))
                *siteStart = f.siteLength > 1 ? SiteCutAt(f, f.siteLength - 1) : 0;
        }
    }
    LongestFittingTitle(f, *titleKept + 1, f.titleLength, *siteStart, titleKept);
}

}  // namespace

void FormatPromptMessageToFit(const wchar_t* format, const wchar_t* site, const wchar_t* title, wchar_t* out,
                              size_t outLength, MessageFits fits, void* context)
{
    if (!outLength)
        return;
    Fitting f = {};
    f.format = format;
    f.site = site;
    f.siteLength = wcslen(site);
    f.registrableStart = RegistrableStart(site, f.siteLength);
    f.title = title;
    f.titleLength = wcslen(title);
    f.siteShown = static_cast<wchar_t*>(AllocateOrDie((uint64_t(f.siteLength) + 2) * sizeof(wchar_t)));
    f.titleShown = static_cast<wchar_t*>(AllocateOrDie((uint64_t(f.titleLength) + 2) * sizeof(wchar_t)));
    f.out = out;
    f.outLength = outLength;
    f.fits = fits;
    f.context = context;

    size_t titleKept = 0, siteStart = 0;
    ChooseCuts(f, &titleKept, &siteStart);
    Show(f, titleKept, siteStart);
    free(f.titleShown);
    free(f.siteShown);
}
