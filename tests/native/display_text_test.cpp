// How page-supplied text reaches the consent prompt: deceptive characters
// replaced, the two values put into the translated message with each "&"
// doubled, the message cut to what the prompt's buffer allows.
#include "ui/display_text.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <ostream>
#include <string>
#include <vector>

namespace {

struct CharacterCase {
    unsigned code;
    bool deceptive;
};

std::ostream& operator<<(std::ostream& out, const CharacterCase& c)
{
    return out << "U+" << std::hex << c.code << std::dec << (c.deceptive ? " deceptive" : " harmless");
}

class DeceptiveCharacter : public testing::TestWithParam<CharacterCase> {};

TEST_P(DeceptiveCharacter, IsRecognisedAtTheEdgesOfEachRange)
{
    EXPECT_EQ(IsDeceptiveCharacter(static_cast<wchar_t>(GetParam().code)), GetParam().deceptive);
}

const CharacterCase Boundaries[] = {
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

INSTANTIATE_TEST_SUITE_P(Boundaries, DeceptiveCharacter, testing::ValuesIn(Boundaries),
                         [](const testing::TestParamInfo<CharacterCase>& info) {
                             char name[16];
                             std::snprintf(name, sizeof name, "U%04X", info.param.code);
                             return std::string(name);
                         });

const wchar_t Sentinel = L'#';

// A buffer with room to spare, so writes past the allowed length show up.
std::vector<wchar_t> Guarded(size_t length) { return std::vector<wchar_t>(length + 8, Sentinel); }

void ExpectUntouchedFrom(const std::vector<wchar_t>& buffer, size_t from)
{
    for (size_t i = from; i < buffer.size(); ++i)
        ASSERT_EQ(buffer[i], Sentinel) << "written at " << i;
}

TEST(CopyForDisplay, ReplacesEachDeceptiveCharacterOneForOne)
{
    std::vector<wchar_t> out = Guarded(32);
    CopyForDisplay(L"a\nb\u202Ec\u2066d\te", out.data(), 32);
    EXPECT_STREQ(out.data(), L"a\uFFFDb\uFFFDc\uFFFDd\uFFFDe");
}

TEST(CopyForDisplay, CutsToTheBufferAndAlwaysTerminates)
{
    std::vector<wchar_t> out = Guarded(4);
    CopyForDisplay(L"abcdef", out.data(), 4);
    EXPECT_STREQ(out.data(), L"abc");
    ExpectUntouchedFrom(out, 4);

    out = Guarded(4);
    CopyForDisplay(L"abc", out.data(), 4);  // exactly fits
    EXPECT_STREQ(out.data(), L"abc");
    ExpectUntouchedFrom(out, 4);

    out = Guarded(1);
    CopyForDisplay(L"abc", out.data(), 1);
    EXPECT_STREQ(out.data(), L"");
    ExpectUntouchedFrom(out, 1);
}

TEST(DuplicateForDisplay, GivesAFullLengthReplacedCopy)
{
    const wchar_t* title = L"Bank \u202Egnp.exe\r\nOK";
    wchar_t* copy = DuplicateForDisplay(title);
    EXPECT_STREQ(copy, L"Bank \uFFFDgnp.exe\uFFFD\uFFFDOK");
    std::free(copy);

    wchar_t* empty = DuplicateForDisplay(L"");
    EXPECT_STREQ(empty, L"");
    std::free(empty);
}

std::wstring Format(const wchar_t* format, const wchar_t* site, const wchar_t* title, size_t outLength = 510)
{
    std::vector<wchar_t> out = Guarded(outLength);
    FormatPromptMessage(format, site, title, out.data(), outLength);
    for (size_t i = outLength; i < out.size(); ++i)
        EXPECT_EQ(out[i], Sentinel) << "written past outLength at " << i;
    return out.data();
}

TEST(FormatPromptMessage, PutsTheSiteFirstAndTheTitleSecond)
{
    EXPECT_EQ(Format(L"Allow %s to keep \"%s\" on top?", L"site1", L"My Page"),
              L"Allow site1 to keep \"My Page\" on top?");
    // A translation may put the placeholders anywhere, even side by side.
    EXPECT_EQ(Format(L"%s: %s", L"site1", L"My Page"), L"site1: My Page");
    EXPECT_EQ(Format(L"%s%s", L"site1", L"My Page"), L"site1My Page");
    EXPECT_EQ(Format(L"\u300C%s\u300D\u300C%s\u300D", L"site1", L"\u65E5\u672C"),
              L"\u300Csite1\u300D\u300C\u65E5\u672C\u300D");
    EXPECT_EQ(Format(L"Window %s", L"site1", L"unused"), L"Window site1");
}

TEST(FormatPromptMessage, KeepsPercentSignsInTheValuesLiteral)
{
    EXPECT_EQ(Format(L"[%s] [%s]", L"a%sb%n", L"%d%%%s%"), L"[a%sb%n] [%d%%%s%]");
    EXPECT_EQ(Format(L"%s|%s", L"%s", L"%s"), L"%s|%s");
    EXPECT_EQ(Format(L"%s|%s", L"", L""), L"|");
}

TEST(FormatPromptMessage, DoublesEachAmpersandOfTheValuesButNoneOfTheFormat)
{
    // The message control draws "&&" as one "&"; the format's own text is the translator's.
    EXPECT_EQ(Format(L"&%s & %s&", L"AT&T", L"&&"), L"&AT&&T & &&&&&");
    // The limit counts the doubled text and never keeps half a pair.
    EXPECT_EQ(Format(L"<%s>", L"a&b", L"", 4), L"<a");
    EXPECT_EQ(Format(L"<%s>", L"a&b", L"", 5), L"<a&&");
    wchar_t out[4];
    EXPECT_EQ(FormatPromptMessage(L"<%s>", L"a&b", L"", out, 4), 6u);
}

TEST(FormatPromptMessage, LeavesAPercentNotFollowedBySAlone)
{
    EXPECT_EQ(Format(L"100% %s, %s %", L"a", L"b"), L"100% a, b %");
}

TEST(FormatPromptMessage, PlaceholderBeyondTheTwoValuesStaysLiteral)
{
    // A faulty translation with a third "%s" must not make us read a third value.
    EXPECT_EQ(Format(L"%s %s %s", L"a", L"b"), L"a b %s");
}

TEST(FormatPromptMessage, CutsTheMessageAtOneLessThanTheLimit)
{
    // The prompt formats into 512 characters with a limit of 510: at most 509 shown.
    std::wstring title(1000, L't');
    std::wstring message = Format(L"Allow %s to keep %s on top?", L"site1", title.c_str(), 510);
    ASSERT_EQ(message.size(), 509u);
    EXPECT_EQ(message, (L"Allow site1 to keep " + title).substr(0, 509));
}

TEST(FormatPromptMessage, MessageOfExactlyTheLimitIsWholeAndOneMoreIsCut)
{
    const wchar_t* format = L"<%s|%s>";  // 3 characters of its own
    std::wstring site(100, L's');
    std::wstring fits(509 - 3 - 100, L't');
    EXPECT_EQ(Format(format, site.c_str(), fits.c_str()), L"<" + site + L"|" + fits + L">");

    std::wstring tooLong = fits + L"t";
    std::wstring cut = Format(format, site.c_str(), tooLong.c_str());
    EXPECT_EQ(cut, L"<" + site + L"|" + tooLong);  // the closing '>' is what falls off
}

TEST(FormatPromptMessage, CutInsideTheFirstValueDropsTheRest)
{
    EXPECT_EQ(Format(L"ab%scd%sef", L"SITE", L"TITLE", 5), L"abSI");
    EXPECT_EQ(Format(L"ab%scd%sef", L"SITE", L"TITLE", 3), L"ab");
    EXPECT_EQ(Format(L"ab%scd%sef", L"SITE", L"TITLE", 1), L"");
}

TEST(FormatPromptMessage, ValuesPreparedForDisplayCannotBreakTheMessage)
{
    // The prompt's own pipeline: page text first made safe, then formatted.
    wchar_t* site = DuplicateForDisplay(L"evil.example\u202E");
    wchar_t* title = DuplicateForDisplay(L"line one\nline two");
    std::wstring message = Format(L"%s wants \"%s\" on top", site, title);
    EXPECT_EQ(message, L"evil.example\uFFFD wants \"line one\uFFFDline two\" on top");
    std::free(title);
    std::free(site);
}

// ---- shortening the site and the title until the message fits ------------------------

// A control that takes `room` characters on one line; or, with `lines` set, a
// control of that many lines of `room` columns that wraps words greedily, as
// DrawText does: a break swallows the one space at it, and a word longer than
// a line is split. The measures count what the prompt would show.
struct Room {
    size_t characters;
    size_t lines = 0;
    int measured = 0;
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
    Room* room = static_cast<Room*>(context);
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

std::wstring FittedIn(Room& control, const wchar_t* format, const std::wstring& site, const std::wstring& title,
                      size_t outLength = PromptMessageLimit)
{
    std::vector<wchar_t> out = Guarded(outLength);
    MessageMeasure measure = {FitsRoom, MayFitRoom, &control};
    FormatPromptMessageToFit(format, site.c_str(), title.c_str(), out.data(), outLength, &measure);
    for (size_t i = outLength; i < out.size(); ++i)
        EXPECT_EQ(out[i], Sentinel) << "written past outLength at " << i;
    return out.data();
}

std::wstring Fitted(const wchar_t* format, const std::wstring& site, const std::wstring& title, size_t room,
                    size_t outLength = PromptMessageLimit)
{
    Room control{room};
    return FittedIn(control, format, site, title, outLength);
}

const wchar_t Question[] = L"%s wants %s on top. Allow?";  // 22 characters of its own
const std::wstring Ellipsis = L"\u2026";

TEST(FormatPromptMessageToFit, ShortensNothingThatFits)
{
    EXPECT_EQ(Fitted(Question, L"example.org", L"My Page", 40), L"example.org wants My Page on top. Allow?");
    EXPECT_EQ(Fitted(Question, L"example.org", L"My Page", 1000), L"example.org wants My Page on top. Allow?");
}

TEST(FormatPromptMessageToFit, CutsTheTitleInItsMiddleJustEnough)
{
    // 11 + 22 = 33 of the 45 characters are taken: the title keeps 11 and the ellipsis.
    EXPECT_EQ(Fitted(Question, L"example.org", L"abcdefghijklmnop", 45),
              L"example.org wants abcdef" + Ellipsis + L"lmnop on top. Allow?");
    EXPECT_EQ(Fitted(Question, L"example.org", L"abcdefghijklmnop", 46),
              L"example.org wants abcdef" + Ellipsis + L"klmnop on top. Allow?");
}

// The order of giving way: the title down to a few characters, the site's labels
// before its registrable part one by one, the rest of the title, and last the
// registrable part from its middle; the title then takes back what is left.
TEST(FormatPromptMessageToFit, GivesWayInItsOrderAndTheTitleTakesBackWhatIsLeft)
{
    const std::wstring title = L"0123456789ABCDEFGHIJ";
    const struct {
        const char* name;
        std::wstring site;
        size_t room;
        std::wstring shown;
    } rows[] = {
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
        EXPECT_EQ(Fitted(Question, row.site, title, row.room), row.shown);
    }
}

// The probes of a real prompt, modelled: its message on four lines of 60 columns.
TEST(FormatPromptMessageToFit, KeepsTheRegistrablePartWholeWhileTheTitleCanGiveWay)
{
    const wchar_t prompt[] = L"The site %s wants to keep the window %s on top. Allow it?";
    const std::wstring label = std::wstring(57, L'w') + L"bank";  // 61 characters, wider than a line
    const struct {
        std::wstring site;
        std::wstring title;
        std::wstring registrable;
    } rows[] = {
        {L"www." + label + L".com", std::wstring(2000, L'L'), label + L".com"},
        {std::wstring(63, L'a') + L"." + std::wstring(63, L'b') + L"." + std::wstring(63, L'c') + L"." +
             std::wstring(61, L'd') + L"." + label + L".org",
         std::wstring(113, L'T'), label + L".org"},
    };
    for (const auto& row : rows) {
        Room control{60, 4};
        std::wstring shown = FittedIn(control, prompt, row.site, row.title);
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
        std::wstring shown = FittedIn(control, L"%s wants %s on top", L"ex.org", title);
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

TEST(FormatPromptMessageToFit, ACutMessageNeverFitsSoTheQuestionSurvivesTheLimit)
{
    // The buffer's limit cuts the end of a message: shortening makes room before it does.
    std::wstring title(1000, L't');
    std::wstring message = Fitted(Question, L"example.org", title, 1000, 60);
    ASSERT_EQ(message.size(), 59u);
    EXPECT_EQ(message.substr(message.size() - 14), L"on top. Allow?");
    EXPECT_NE(message.find(Ellipsis), std::wstring::npos);

    // The prompt's own limit, at its exact edge: 509 characters show whole, 510 do not.
    const std::wstring edge(509 - 22 - 11, L't');
    EXPECT_EQ(Fitted(Question, L"example.org", edge, 1000), L"example.org wants " + edge + L" on top. Allow?");
    message = Fitted(Question, L"example.org", edge + L"t", 1000);
    EXPECT_EQ(message.size(), 509u);
    EXPECT_NE(message.find(Ellipsis), std::wstring::npos);
}

TEST(FormatPromptMessageToFit, NeverSplitsASurrogatePair)
{
    // U+1F600 in the title's middle and in the site's registrable part, as UTF-16
    // (the Windows wchar_t) holds it; the site's is cut only when the title is gone.
    const wchar_t pair[] = L"\xD83D\xDE00";
    const struct {
        std::wstring site, title;
    } rows[] = {
        {L"", L"abc" + std::wstring(pair) + pair + L"xyz"},
        {L"w." + std::wstring(pair) + L"a" + pair + pair + L"b" + pair + L".org", L"T"},
    };
    for (const auto& row : rows) {
        for (size_t room = 2; room <= row.site.size() + row.title.size() + 1; ++room) {
            std::wstring shown = Fitted(L"%s%s", row.site, row.title, room);
            for (size_t i = 0; i < shown.size(); ++i) {
                bool high = shown[i] >= 0xD800 && shown[i] <= 0xDBFF;
                bool low = shown[i] >= 0xDC00 && shown[i] <= 0xDFFF;
                if (high)
                    EXPECT_TRUE(i + 1 < shown.size() && shown[i + 1] >= 0xDC00 && shown[i + 1] <= 0xDFFF) << room;
                if (low)
                    EXPECT_TRUE(i > 0 && shown[i - 1] >= 0xD800 && shown[i - 1] <= 0xDBFF) << room;
            }
        }
    }
}

TEST(FormatPromptMessageToFit, NeverSplitsADoubledAmpersand)
{
    // Whether the control's room or the buffer's limit makes the cuts, each "&" of
    // the page's text shows as a pair, and the doubled text is what must fit.
    const std::wstring site = L"&w.a&b.org", title = L"a&b&&c&d&&&e";
    for (size_t limit = 6; limit <= 40; ++limit) {
        for (const std::wstring& shown :
             {Fitted(L"%s|%s.", site, title, limit), Fitted(L"%s|%s.", site, title, 1000, limit + 1)}) {
            size_t run = 0;
            for (wchar_t c : shown + L".") {
                if (c == L'&') {
                    ++run;
                    continue;
                }
                EXPECT_EQ(run % 2, 0u) << "a lone \"&\" at " << limit;
                run = 0;
            }
            EXPECT_EQ(shown.back(), L'.') << limit;
        }
    }
}

TEST(FormatPromptMessageToFit, MeasuresAFewTimesNotOncePerCharacter)
{
    Room control{80};
    FittedIn(control, Question, std::wstring(200, L's') + L".example.org", std::wstring(300, L't'));
    EXPECT_LT(control.measured, 40);
}

}  // namespace
