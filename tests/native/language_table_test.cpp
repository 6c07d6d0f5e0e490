// LanguageIdFromCode: which string table a language code selects.
#include "app/language_table.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(LanguageIdFromCode, GivesTheLanguageIdentifierOfAWholeCodeAndEnglishOtherwise)
{
    struct CodeCase {
        std::wstring code;
        uint16_t langId;
    };
    // Every language of the program's table finds its own identifier: none is
    // shadowed by another that begins the same way ("es" and "es-mx"). The
    // table's contents are checked against a list of their own by the resource checker.
    std::vector<CodeCase> cases;
    for (const InterfaceLanguage& language : InterfaceLanguages)
        cases.push_back({language.code, language.langId});
    const std::vector<CodeCase> more = {
        // ASCII case does not matter, though the parser has lower-cased the code already.
        {L"FR-CA", 3084}, {L"EN", 1033}, {L"De", 1031}, {L"Es-Mx", 2058}, {L"ZH-CHT", 1028}, {L"zH-cHs", 2052},
        // Whole-string matches only: no region fallback, no prefix, no trimming; all give English.
        {L"en-us", 1033}, {L"fr-fr", 1033}, {L"pt-br", 1033}, {L"zh-cn", 1033}, {L"", 1033}, {L"f", 1033},
        {L"fr-", 1033}, {L"fr-c", 1033}, {L"fr-caa", 1033}, {L"zh", 1033}, {L"zh-ch", 1033}, {L"fr ", 1033},
        {L" fr", 1033}, {L"es_mx", 1033}, {L"xx", 1033}, {L"d\u00C9", 1033},
        {L"\"fr\"", 1033},  // a lone code keeps its quotes
    };
    cases.insert(cases.end(), more.begin(), more.end());
    for (const CodeCase& c : cases)
        EXPECT_EQ(LanguageIdFromCode(c.code.c_str()), c.langId) << testing::PrintToString(c.code);
}

}  // namespace
