// Shared text helpers: the case rule, and the copy every owned string is made with.
#include "text/text.h"

#include <gtest/gtest.h>

#include <stdlib.h>
#include <string>

namespace {

// The case rule: only A-Z fold; no other letter, no locale.
TEST(CaseRule, LowerCasingTouchesOnlyAsciiCapitals)
{
    std::wstring text = L"\u00C4BCsite";
    LowerCaseAscii(text.data());
    EXPECT_EQ(text, L"\u00C4bcsite");

    // The neighbours of A and Z, and capitals outside ASCII: Kelvin sign,
    // dotted I, fullwidth A, Greek Sigma, Cyrillic A.
    std::wstring edges = L"@AZ[`az{\u212A\u0130\uFF21\u03A3\u0410";
    LowerCaseAscii(edges.data());
    EXPECT_EQ(edges, L"@az[`az{\u212A\u0130\uFF21\u03A3\u0410");
}

TEST(CaseRule, EqualityIsWholeStringAndAsciiOnly)
{
    EXPECT_TRUE(EqualIgnoringAsciiCase(L"", L""));
    EXPECT_TRUE(EqualIgnoringAsciiCase(L"Example.ORG", L"example.org"));
    EXPECT_FALSE(EqualIgnoringAsciiCase(L"example", L"example.org"));
    EXPECT_FALSE(EqualIgnoringAsciiCase(L"example.org", L"example"));
    EXPECT_FALSE(EqualIgnoringAsciiCase(L"", L"a"));
    EXPECT_FALSE(EqualIgnoringAsciiCase(L"k", L"\u212A"));  // Kelvin sign is not K
    EXPECT_FALSE(EqualIgnoringAsciiCase(L"@", L"`"));       // 0x40 and 0x60 sit 0x20 apart but are not letters
    EXPECT_FALSE(EqualIgnoringAsciiCase(L"[", L"{"));
}

TEST(DuplicateText, CopiesTheGivenLengthAndTerminates)
{
    const wchar_t source[] = L"abcdef";
    wchar_t* copy = DuplicateText(source, 3);
    EXPECT_STREQ(copy, L"abc");
    EXPECT_NE(copy, source);
    free(copy);

    wchar_t* empty = DuplicateText(source, 0);
    EXPECT_STREQ(empty, L"");
    free(empty);
}

}  // namespace
