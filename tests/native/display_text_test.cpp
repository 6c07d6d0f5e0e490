// Page-supplied text on its way to the consent prompt: deceptive characters replaced,
// the values put into the translated message with each "&" doubled, the message cut to fit.
#include "ui/display_text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cwchar>
#include <string>
#include <utility>
#include <vector>

namespace {

TEST(DeceptiveCharacter, IsRecognisedAtTheEdgesOfEachRange)
{
    const struct { unsigned code; bool deceptive; } boundaries[] = {
        // C0 controls and DEL through the C1 controls
        {0x00, true}, {0x09, true}, {0x0A, true}, {0x0D, true}, {0x1F, true}, {0x20, false},
        {0x7E, false}, {0x7F, true}, {0x85, true}, {0x9F, true}, {0xA0, false},
        // left-to-right and right-to-left marks, not the joiners before them
        {0x200D, false}, {0x200E, true}, {0x200F, true}, {0x2010, false},
        // the Arabic letter mark
        {0x061B, false}, {0x061C, true}, {0x061D, false},
        // line and paragraph separators, then embeddings and overrides
        {0x2027, false}, {0x2028, true}, {0x2029, true}, {0x202A, true}, {0x202E, true}, {0x202F, false},
        // isolates
        {0x2065, false}, {0x2066, true}, {0x2069, true}, {0x206A, false},
        // ordinary text, and the replacement character itself
        {L'A', false}, {0x00E4, false}, {0x65E5, false}, {0xFFFD, false},
    };
    for (const auto& c : boundaries)
        EXPECT_EQ(IsDeceptiveCharacter(static_cast<wchar_t>(c.code)), c.deceptive) << "U+" << std::hex << c.code;
}

// What write puts in a buffer of outLength characters, with spare room where overruns show.
template <class Write>
std::wstring Written(size_t outLength, Write write)
{
    const wchar_t sentinel = L'#';
    std::vector<wchar_t> out(outLength + 8, sentinel);
    write(out.data());
    for (size_t i = outLength; i < out.size(); ++i)
        EXPECT_EQ(out[i], sentinel) << "written past outLength at " << i;
    return out.data();
}

TEST(CopyForDisplay, ReplacesEachDeceptiveCharacterOneForOneAndCutsToTheBuffer)
{
    const struct { const wchar_t* text; size_t outLength; const wchar_t* shown; } rows[] = {
        {L"a\nb\u202Ec\u2066d\te", 32, L"a\uFFFDb\uFFFDc\uFFFDd\uFFFDe"},
        {L"Bank \u202Egnp.exe\r\nOK", 32, L"Bank \uFFFDgnp.exe\uFFFD\uFFFDOK"},
        {L"", 4, L""},
        {L"abcdef", 4, L"abc"},
        {L"abc", 4, L"abc"},  // exactly fits
        {L"abc", 1, L""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(row.text)) + " in " + std::to_string(row.outLength));
        EXPECT_EQ(Written(row.outLength, [&](wchar_t* out) { CopyForDisplay(row.text, out, row.outLength); }),
                  row.shown);
        if (std::wcslen(row.text) < row.outLength) {
            wchar_t* copy = DuplicateForDisplay(row.text);
            EXPECT_STREQ(copy, row.shown);
            std::free(copy);
        }
    }
}

std::wstring Format(const wchar_t* format, const wchar_t* site, const wchar_t* title, size_t outLength = 510)
{
    return Written(outLength, [&](wchar_t* out) { FormatPromptMessage(format, site, title, out, outLength); });
}

TEST(FormatPromptMessage, FillsThePlaceholdersInOrderAndCutsAtOneLessThanTheLimit)
{
    // The prompt formats into 512 characters with a limit of 510: at most 509 shown.
    const std::wstring title(1000, L't'), site(100, L's'), fits(509 - 3 - 100, L't');
    const struct { std::wstring format, site, title; size_t limit; std::wstring message; } rows[] = {
        {L"Allow %s to keep \"%s\" on top?", L"site1", L"My Page", 510, L"Allow site1 to keep \"My Page\" on top?"},
        // A translation may put the placeholders anywhere, even side by side.
        {L"%s: %s", L"site1", L"My Page", 510, L"site1: My Page"},
        {L"%s%s", L"site1", L"My Page", 510, L"site1My Page"},
        {L"\u300C%s\u300D\u300C%s\u300D", L"site1", L"\u65E5\u672C", 510, L"\u300Csite1\u300D\u300C\u65E5\u672C\u300D"},
        {L"Window %s", L"site1", L"unused", 510, L"Window site1"},
        // Percent signs in the values stay literal; one not followed by "s" stays too.
        {L"[%s] [%s]", L"a%sb%n", L"%d%%%s%", 510, L"[a%sb%n] [%d%%%s%]"},
        {L"%s|%s", L"%s", L"%s", 510, L"%s|%s"},
        {L"%s|%s", L"", L"", 510, L"|"},
        {L"100% %s, %s %", L"a", L"b", 510, L"100% a, b %"},
        // A faulty translation with a third "%s" must not make us read a third value.
        {L"%s %s %s", L"a", L"b", 510, L"a b %s"},
        // The message control draws "&&" as one "&"; the format's own text is the translator's.
        {L"&%s & %s&", L"AT&T", L"&&", 510, L"&AT&&T & &&&&&"},
        // The limit counts the doubled text and never keeps half a pair.
        {L"<%s>", L"a&b", L"", 4, L"<a"},
        {L"<%s>", L"a&b", L"", 5, L"<a&&"},
        {L"ab%scd%sef", L"SITE", L"TITLE", 5, L"abSI"},
        {L"ab%scd%sef", L"SITE", L"TITLE", 3, L"ab"},
        {L"ab%scd%sef", L"SITE", L"TITLE", 1, L""},
        {L"Allow %s to keep %s on top?", L"site1", title, 510, (L"Allow site1 to keep " + title).substr(0, 509)},
        // Exactly the limit is whole; one more and the closing ">" falls off.
        {L"<%s|%s>", site, fits, 510, L"<" + site + L"|" + fits + L">"},
        {L"<%s|%s>", site, fits + L"t", 510, L"<" + site + L"|" + fits + L"t"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::PrintToString(row.format) + " limit " + std::to_string(row.limit));
        EXPECT_EQ(Format(row.format.c_str(), row.site.c_str(), row.title.c_str(), row.limit), row.message);
        // The whole message's length, so that a caller can tell it was cut.
        const std::wstring whole = Format(row.format.c_str(), row.site.c_str(), row.title.c_str(), 4000);
        wchar_t out[1];
        EXPECT_EQ(FormatPromptMessage(row.format.c_str(), row.site.c_str(), row.title.c_str(), out, 1), whole.size());
    }
}

// A control of `characters` on one line or, with `lines` set, of that many lines that wraps
// words as DrawText does: a break swallows its space, a word wider than a line is split.
struct Room {
    size_t characters;
    size_t lines = 0;
    mutable int measured = 0;
};

size_t LinesNeeded(const std::wstring& text, size_t columns)
{
    size_t lines = 1, used = 0;
    for (size_t start = 0;;) {
        size_t end = text.find(L' ', start);
        size_t word = (end == std::wstring::npos ? text.size() : end) - start;
        size_t space = start > 0 ? 1 : 0;
        if (used + space + word <= columns) {
            used += space + word;
        } else {
            lines += space;  // the break, which swallows the space
            for (; word > columns; word -= columns)
                ++lines;
            used = word;
        }
        if (end == std::wstring::npos)
            return lines;
        start = end + 1;
    }
}

bool FitsRoom(const wchar_t* message, void* context)
{
    const Room* room = static_cast<const Room*>(context);
    ++room->measured;
    if (!room->lines)
        return std::wcslen(message) <= room->characters;
    return LinesNeeded(message, room->characters) <= room->lines;
}

bool MayFitRoom(const wchar_t* message, void* context)
{
    const Room* room = static_cast<const Room*>(context);
    size_t lines = room->lines ? room->lines : 1;
    return std::wcslen(message) <= lines * room->characters + lines - 1;
}

std::wstring Fitted(const wchar_t* format, const std::wstring& site, const std::wstring& title, const Room& control,
                    size_t outLength = PromptMessageLimit)
{
    MessageMeasure measure = {FitsRoom, MayFitRoom, const_cast<Room*>(&control)};
    return Written(outLength, [&](wchar_t* out) {
        FormatPromptMessageToFit(format, site.c_str(), title.c_str(), out, outLength, &measure);
    });
}

const wchar_t Question[] = L"%s wants %s on top. Allow?";  // 22 characters of its own
const std::wstring Ellipsis = L"\u2026";

// The order of giving way: the title down to a few characters, the site's labels
// before its registrable part one by one, the rest of the title, and last the
// registrable part from its middle; the title then takes back what is left.
TEST(FormatPromptMessageToFit, GivesWayInItsOrderAndTheTitleTakesBackWhatIsLeft)
{
    const struct { const char* name; std::wstring site; size_t room; std::wstring shown;
                   std::wstring title = L"0123456789ABCDEFGHIJ"; } rows[] = {
        {"nothing shortened that fits", L"example.org", 40, L"example.org wants My Page on top. Allow?", L"My Page"},
        {"nothing shortened in plenty of room", L"example.org", 1000, L"example.org wants My Page on top. Allow?",
         L"My Page"},
        // 11 + 22 = 33 of the 45 characters are taken: the title keeps 11 and the ellipsis.
        {"the title cut in its middle just enough", L"example.org", 45,
         L"example.org wants abcdef" + Ellipsis + L"lmnop on top. Allow?", L"abcdefghijklmnop"},
        {"and one more kept in one more room", L"example.org", 46,
         L"example.org wants abcdef" + Ellipsis + L"klmnop on top. Allow?", L"abcdefghijklmnop"},
        // Whole, the site leaves the title 7 characters: fewer than its few, so a label goes.
        {"the title keeps a few before the site gives way", L"aaaa.example.org", 46,
         Ellipsis + L"example.org wants 012345" + Ellipsis + L"FGHIJ on top. Allow?"},
        // With 8 title characters the whole site needs 32 + 9 + 22 = 63; "…cccc.example.org" 17 + 9 + 22 = 48.
        {"a label at a time", L"aaaa.bbbbbbbbbb.cccc.example.org", 50,
         Ellipsis + L"cccc.example.org wants 01234" + Ellipsis + L"FGHIJ on top. Allow?"},
        {"never into the registrable part while a label can go", L"aaaa.bbbbbbbbbb.cccc.example.org", 44,
         Ellipsis + L"example.org wants 01234" + Ellipsis + L"GHIJ on top. Allow?"},
        {"the rest of the title before the registrable part", L"aaaa.example.org", 38,
         Ellipsis + L"example.org wants 01" + Ellipsis + L"J on top. Allow?"},
        {"the registrable part from its middle, never its left", L"sub." + std::wstring(60, L'x') + L".org", 40,
         Ellipsis + L"xxxxxxxx" + Ellipsis + L"xxx.org wants " + Ellipsis + L" on top. Allow?"},
        {"a country's second level stays with the name before it", L"www.shop.example.co.uk", 41,
         Ellipsis + L"example.co.uk wants 01" + Ellipsis + L"IJ on top. Allow?"},
        {"three letters of it too", L"www.shop.example.com.au", 36,
         Ellipsis + L"exampl" + Ellipsis + L"om.au wants " + Ellipsis + L" on top. Allow?"},
        {"a country's domain without one", L"www.shop.example.de", 36,
         Ellipsis + L"example.de wants 0" + Ellipsis + L"J on top. Allow?"},
        {"the shortest when nothing fits", L"a.example.org", 5,
         Ellipsis + L"e" + Ellipsis + L" wants " + Ellipsis + L" on top. Allow?"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(Fitted(Question, row.site, row.title, {row.room}), row.shown);
    }
}

// The probes of a real prompt, modelled: its message on four lines of 60 columns.
TEST(FormatPromptMessageToFit, KeepsTheRegistrablePartWholeWhileTheTitleCanGiveWay)
{
    const wchar_t prompt[] = L"The site %s wants to keep the window %s on top. Allow it?";
    const std::wstring label = std::wstring(57, L'w') + L"bank";  // 61 characters, wider than a line
    const struct { std::wstring site, title, registrable; } rows[] = {
        {L"www." + label + L".com", std::wstring(2000, L'L'), label + L".com"},
        {std::wstring(63, L'a') + L"." + std::wstring(63, L'b') + L"." + std::wstring(63, L'c') + L"." +
             std::wstring(61, L'd') + L"." + label + L".org",
         std::wstring(113, L'T'), label + L".org"},
    };
    for (const auto& row : rows) {
        Room control{60, 4};
        std::wstring shown = Fitted(prompt, row.site, row.title, control);
        ASSERT_LE(LinesNeeded(shown, 60), 4u) << testing::PrintToString(shown);
        std::wstring site = shown.substr(9, shown.find(L" wants") - 9);
        if (site.find(row.registrable) == std::wstring::npos) {
            // Cut inside only when the title has nothing left to give, and from its middle.
            EXPECT_NE(shown.find(L"window " + Ellipsis + L" on top"), std::wstring::npos) << testing::PrintToString(shown);
            EXPECT_EQ(site.substr(0, 9), Ellipsis + row.registrable.substr(0, 8)) << testing::PrintToString(shown);
            EXPECT_EQ(site.substr(site.size() - 4), row.registrable.substr(row.registrable.size() - 4));
        }
    }
}

// Under word wrap a shorter text may need more lines than a longer one: each
// cut must still be the longest that fits, not the last one a halving search met.
TEST(FormatPromptMessageToFit, TakesTheLongestTitleThatFitsUnderWordWrap)
{
    unsigned seed = 7;
    auto next = [&seed](unsigned below) {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 16) % below;
    };
    auto middle = [](const std::wstring& text, size_t kept) {
        return kept >= text.size() ? text : text.substr(0, (kept + 1) / 2) + Ellipsis + text.substr(text.size() - kept / 2);
    };
    int longerFound = 0;
    for (int round = 0; round < 1000; ++round) {
        std::wstring title;
        for (size_t length = 5 + next(30); title.size() < length;)
            title += next(4) ? wchar_t(L'a' + next(26)) : L' ';
        Room control{8 + next(12), 2 + next(3)};
        std::wstring shown = Fitted(L"%s wants %s on top", L"ex.org", title, control);
        size_t from = shown.find(L" wants ") + 7, to = shown.rfind(L" on top");
        std::wstring site = shown.substr(0, from - 7), titleShown = shown.substr(from, to - from);
        size_t kept = titleShown.find(Ellipsis) == std::wstring::npos ? title.size() : titleShown.size() - 1;
        for (size_t longer = kept + 1; longer <= title.size(); ++longer) {
            std::wstring message = site + L" wants " + middle(title, longer) + L" on top";
            if (LinesNeeded(message, control.characters) <= control.lines) {
                ++longerFound;
                ADD_FAILURE() << testing::PrintToString(title) << " keeps " << kept << " where " << longer << " fit";
                break;
            }
        }
        if (longerFound > 3)
            break;
    }
}

TEST(FormatPromptMessageToFit, ACutMessageNeverFitsSoTheQuestionSurvivesTheLimitAndFewMeasuresAreTaken)
{
    // The buffer's limit cuts the end of a message: shortening makes room before it does.
    std::wstring title(1000, L't');
    std::wstring message = Fitted(Question, L"example.org", title, {1000}, 60);
    ASSERT_EQ(message.size(), 59u);
    EXPECT_EQ(message.substr(message.size() - 14), L"on top. Allow?");
    EXPECT_NE(message.find(Ellipsis), std::wstring::npos);

    // The prompt's own limit, at its exact edge: 509 characters show whole, 510 do not.
    const std::wstring edge(509 - 22 - 11, L't');
    EXPECT_EQ(Fitted(Question, L"example.org", edge, {1000}), L"example.org wants " + edge + L" on top. Allow?");
    message = Fitted(Question, L"example.org", edge + L"t", {1000});
    EXPECT_EQ(message.size(), 509u);
    EXPECT_NE(message.find(Ellipsis), std::wstring::npos);

    // A few measures, not one per character.
    const Room control{80};
    Fitted(Question, std::wstring(200, L's') + L".example.org", std::wstring(300, L't'), control);
    EXPECT_LT(control.measured, 40);
}

// Whether the control's room or the buffer's limit makes the cuts, they fall
// between the page's own characters: never inside a surrogate pair (U+1F600 in
// UTF-16, as the Windows wchar_t holds it; the site's is cut only when the title
// is gone), and never inside the pair each "&" of the page's text shows as.
TEST(FormatPromptMessageToFit, NeverSplitsASurrogatePairOrADoubledAmpersand)
{
    const std::wstring pair = L"\xD83D\xDE00";
    const struct { std::wstring site, title; } rows[] = {
        {L"", L"abc" + pair + pair + L"xyz"},
        {L"w." + pair + L"a" + pair + pair + L"b" + pair + L".org", L"T"},
        {L"&w.a&b.org", L"a&b&&c&d&&&e"},
    };
    auto high = [](wchar_t c) { return c >= 0xD800 && c <= 0xDBFF; };
    auto low = [](wchar_t c) { return c >= 0xDC00 && c <= 0xDFFF; };
    for (const auto& row : rows) {
        for (size_t limit = 2; limit <= 40; ++limit) {
            const size_t outLength = std::max<size_t>(limit, 6) + 1;  // room for the shortest message
            for (const std::wstring& shown : {Fitted(L"%s|%s.", row.site, row.title, {limit}),
                                              Fitted(L"%s|%s.", row.site, row.title, {1000}, outLength)}) {
                SCOPED_TRACE(testing::PrintToString(shown));
                size_t run = 0;
                for (size_t i = 0; i < shown.size(); ++i) {
                    EXPECT_TRUE(!high(shown[i]) || (i + 1 < shown.size() && low(shown[i + 1])));
                    EXPECT_TRUE(!low(shown[i]) || (i > 0 && high(shown[i - 1])));
                    if (shown[i] == L'&')
                        ++run;
                    else
                        EXPECT_EQ(std::exchange(run, 0) % 2, 0u) << "a lone \"&\"";
                }
                EXPECT_EQ(shown.back(), L'.');
            }
        }
    }
}

}  // namespace
