#include "ui/display_text.h"

#include "text/text.h"

#include <stdint.h>
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

// The site from `start` on, after an ellipsis when labels were cut before it;
// of that rest, only `kept` characters from its two ends when fewer than all.
void ShowSite(const wchar_t* text, size_t length, size_t start, size_t kept, wchar_t* out)
{
    size_t used = 0;
    if (start)
        out[used++] = Ellipsis;
    ShortenInMiddle(text + start, length - start, kept, out + used);
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
    wchar_t* siteShown;   // room for siteLength + 3
    wchar_t* titleShown;  // room for titleLength + 2
    wchar_t* out;
    size_t outLength;
    const MessageMeasure* measure;
};

const size_t All = SIZE_MAX;

// What is shown of the page's text: the title's characters, where the site's
// shown part starts (a label's start) and how much of that part is kept.
struct Cut {
    size_t titleKept;
    size_t siteStart;
    size_t siteKept;
};

// Writes the message with these cuts into f.out; gives its whole length.
size_t Show(Fitting& f, const Cut& cut)
{
    ShortenInMiddle(f.title, f.titleLength, cut.titleKept, f.titleShown);
    ShowSite(f.site, f.siteLength, cut.siteStart, cut.siteKept, f.siteShown);
    return FormatPromptMessage(f.format, f.siteShown, f.titleShown, f.out, f.outLength);
}

bool Passes(Fitting& f, const Cut& cut, MessageFits test)
{
    return Show(f, cut) < f.outLength && test(f.out, f.measure->context);
}

// The most of one part of the cut, between low and high, with which the message
// fits. The looser test, false for good once the part has grown too long, is
// searched by halves for an upper bound; below it every count is tried from
// the top, since a shorter text may wrap onto more lines than a longer one.
bool LongestFitting(Fitting& f, Cut cut, size_t Cut::*part, size_t low, size_t high, Cut* chosen)
{
    cut.*part = low;
    if (low > high || !Passes(f, cut, f.measure->mayFit))
        return false;
    size_t bound = low;
    while (bound < high) {
        cut.*part = bound + (high - bound + 1) / 2;
        if (Passes(f, cut, f.measure->mayFit))
            bound = cut.*part;
        else
            high = cut.*part - 1;
    }
    for (size_t count = bound + 1; count-- > low;) {
        cut.*part = count;
        if (Passes(f, cut, f.measure->fits)) {
            *chosen = cut;
            return true;
        }
    }
    return false;
}

// The start of the site's next label after `start`, up to its registrable part.
size_t NextLabelStart(const Fitting& f, size_t start)
{
    size_t at = start + 1;
    while (at < f.registrableStart && f.site[at - 1] != L'.')
        ++at;
    return at < f.registrableStart ? at : f.registrableStart;
}

// What gives way, in order: the title's middle down to a few characters, the
// site's labels before its registrable part, the rest of the title, and last
// the registrable part from its middle, the title then taking back what it can.
Cut ChooseCuts(Fitting& f)
{
    size_t few = f.titleLength < MinimumTitleShown ? f.titleLength : MinimumTitleShown;
    Cut chosen = {};
    for (size_t start = 0;; start = NextLabelStart(f, start)) {
        if (LongestFitting(f, {0, start, All}, &Cut::titleKept, few, f.titleLength, &chosen))
            return chosen;
        if (start >= f.registrableStart)
            break;
    }
    if (few > 0 && LongestFitting(f, {0, f.registrableStart, All}, &Cut::titleKept, 0, few - 1, &chosen))
        return chosen;
    size_t rest = f.siteLength - f.registrableStart;
    if (rest > 1 && LongestFitting(f, {0, f.registrableStart, All}, &Cut::siteKept, 1, rest - 1, &chosen)) {
        LongestFitting(f, chosen, &Cut::titleKept, 0, f.titleLength, &chosen);
        return chosen;
    }
    return {0, f.registrableStart, 1};  // the shortest
}

}  // namespace

void FormatPromptMessageToFit(const wchar_t* format, const wchar_t* site, const wchar_t* title, wchar_t* out,
                              size_t outLength, const MessageMeasure* measure)
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
    f.siteShown = static_cast<wchar_t*>(AllocateOrDie((uint64_t(f.siteLength) + 3) * sizeof(wchar_t)));
    f.titleShown = static_cast<wchar_t*>(AllocateOrDie((uint64_t(f.titleLength) + 2) * sizeof(wchar_t)));
    f.out = out;
    f.outLength = outLength;
    f.measure = measure;

    Show(f, ChooseCuts(f));
    free(f.titleShown);
    free(f.siteShown);
}
