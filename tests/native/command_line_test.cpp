// ParseCommandLine: how the tail that the browser side hands us splits into
// the language code, the site and the window title. That the values are views
// into the tail, and never reach past it, the fuzz target fuzz_command_line checks.
#include "app/command_line.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// A field as text, an absent one kept apart from an empty one.
std::wstring Field(const wchar_t* value) { return value ? L"\"" + std::wstring(value) + L"\"" : L"(absent)"; }

// The rows the browser side relies on, plus the edge cases around spaces and quotes.
TEST(ParseCommandLine, SplitsAsTheBrowserSideExpects)
{
    // nullptr stands for an absent field; L"" for one that is set but empty.
    const struct {
        const char* name;
        const wchar_t* tail;
        int result;
        const wchar_t *languageCode, *site, *windowTitle;
    } rows[] = {
        {"PlainThreeValues", L"en site1 My Page", 1, L"en", L"site1", L"My Page"},
        {"AllThreeQuoted", L"\"en\" \"site1\" \"My Page\"", 1, L"en", L"site1", L"My Page"},
        {"QuotedCodeThenPlainSite", L"\"en\" site1 My Page", 1, L"en", L"site1", L"My Page"},
        {"CodeAndSiteLowerCasedTitleKept", L"DE SITE1 Title", 1, L"de", L"site1", L"Title"},
        {"RegionCodeLowerCased", L"EN-US Site1 T", 1, L"en-us", L"site1", L"T"},
        {"TwoSpacesBeforeTitleKeepOneInTitle", L"en site1  Title", 1, L"en", L"site1", L" Title"},
        {"TwoSpacesAfterCodeGiveEmptySite", L"en  site1 Title", 1, L"en", L"", L"site1 Title"},
        {"QuotesDoNotGroup", L"\"en\" \"a b\" \"c\"", 1, L"en", L"a", L"b\" \"c"},
        {"TrailingSpaceGivesEmptyTitle", L"en site1 ", 1, L"en", L"site1", L""},
        {"EmptyQuotedSiteAndTitle", L"en \"\" \"\"", 1, L"en", L"", L""},
        {"CodeAndTwoSpacesIsAThreeValueRequest", L"fr  ", 1, L"fr", L"", L""},
        {"CodeAlone", L"fr", 0, L"fr", nullptr, nullptr},
        {"CodeAndOneSpace", L"fr ", 0, L"fr", nullptr, nullptr},
        {"QuotedCodeAndOneSpaceLosesQuotes", L"\"fr\" ", 0, L"fr", nullptr, nullptr},
        {"LoneQuotedCodeKeepsQuotes", L"\"fr\"", 0, L"\"fr\"", nullptr, nullptr},
        {"LoneCodeLowerCased", L"FR-CA", 0, L"fr-ca", nullptr, nullptr},
        {"TwoValuesOnly", L"en site1", 0, L"en", L"site1", nullptr},
        {"TwoValuesKeepSiteAsFound", L"en \"Site1\"", 0, L"en", L"\"Site1\"", nullptr},
        {"EmptyTail", L"", 0, nullptr, nullptr, nullptr},
        {"EmptyCodeBeforeFirstSpace", L" site1 T", 1, L"", L"site1", L"T"},
        {"LoneQuoteAsCode", L"\" site1 T", 1, L"", L"site1", L"T"},
        {"LoneQuoteAsSite", L"en \" T", 1, L"en", L"", L"T"},
        {"LoneQuoteAsTitle", L"en site1 \"", 1, L"en", L"site1", L""},
        {"OnlyOneQuoteStrippedEachSide", L"\"\"en\"\" \"\"s\"\" \"\"T\"\"", 1, L"\"en\"", L"\"s\"", L"\"T\""},
        {"InnerQuotesRemain", L"e\"n s\"i t\"t", 1, L"e\"n", L"s\"i", L"t\"t"},
        {"OpeningQuoteOnly", L"\"en \"site1 \"My Page", 1, L"en", L"site1", L"My Page"},
        {"ClosingQuoteOnly", L"en\" site1\" My Page\"", 1, L"en", L"site1", L"My Page"},
        {"TabsAreOrdinaryCharacters", L"en site\t1 My\tPage", 1, L"en", L"site\t1", L"My\tPage"},
        {"TabDoesNotSeparate", L"en\tsite1 T", 0, L"en\tsite1", L"T", nullptr},
        {"OnlyAsciiLettersLowerCased", L"EN \u00C4SITE\u0130 \u00C4Title", 1, L"en", L"\u00C4site\u0130",
         L"\u00C4Title"},
        {"TitleKeepsCaseAndInnerSpaces", L"en s  My   PAGE  ", 1, L"en", L"s", L" My   PAGE  "},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        std::wstring tail = row.tail;  // parsed in place
        LaunchValues values{};
        EXPECT_EQ(ParseCommandLine(tail.data(), &values), row.result);
        EXPECT_EQ(Field(values.languageCode), Field(row.languageCode));
        EXPECT_EQ(Field(values.site), Field(row.site));
        EXPECT_EQ(Field(values.windowTitle), Field(row.windowTitle));
    }
}

}  // namespace
