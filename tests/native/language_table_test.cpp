// LanguageIdFromCode: which string table a language code selects.
#include "app/command_line.h"
#include "app/language_table.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

namespace {

struct CodeCase {
    const wchar_t* code;
    uint16_t langId;
};

std::ostream& operator<<(std::ostream& out, const CodeCase& c)
{
    out << '"';
    for (const wchar_t* p = c.code; *p; ++p) {
        if (*p >= 0x20 && *p < 0x7F)
            out << static_cast<char>(*p);
        else
            out << "\\u" << std::hex << static_cast<unsigned>(*p) << std::dec;
    }
    return out << "\" -> " << c.langId;
}

std::string CaseName(const testing::TestParamInfo<CodeCase>& info)
{
    std::string name;
    for (const wchar_t* c = info.param.code; *c; ++c) {
        if ((*c >= L'a' && *c <= L'z') || (*c >= L'A' && *c <= L'Z') || (*c >= L'0' && *c <= L'9'))
            name += static_cast<char>(*c);
        else if (*c == L'-')
            name += '_';
        else if (*c == L'"')
            name += "Quote";
        else if (*c == L' ')
            name += "Space";
        else if (*c == L'_')
            name += "Underscore";
        else
            name += "U" + std::to_string(static_cast<unsigned>(*c));
    }
    return name.empty() ? std::string("Empty") : name;
}

class LanguageIdFromCodeTest : public testing::TestWithParam<CodeCase> {};

TEST_P(LanguageIdFromCodeTest, GivesTheLanguageIdentifier)
{
    EXPECT_EQ(LanguageIdFromCode(GetParam().code), GetParam().langId);
}

// Every language of the program's table finds its own identifier: none is
// shadowed by another that begins the same way ("es" and "es-mx"). The table's
// contents are checked against a list of their own by the resource checker.
std::vector<CodeCase> TabledLanguages()
{
    std::vector<CodeCase> cases;
    for (const InterfaceLanguage& language : InterfaceLanguages)
        cases.push_back({language.code, language.langId});
    return cases;
}
INSTANTIATE_TEST_SUITE_P(Translated, LanguageIdFromCodeTest, testing::ValuesIn(TabledLanguages()), CaseName);

// ASCII case does not matter, though the parser has lower-cased the code already.
const CodeCase UpperCaseCodes[] = {
    {L"FR-CA", 3084}, {L"EN", 1033}, {L"De", 1031}, {L"Es-Mx", 2058}, {L"ZH-CHT", 1028}, {L"zH-cHs", 2052},
};
INSTANTIATE_TEST_SUITE_P(AsciiCaseIgnored, LanguageIdFromCodeTest, testing::ValuesIn(UpperCaseCodes), CaseName);

// Whole-string matches only: no region fallback, no prefix, no trimming; all give English.
const CodeCase Unmatched[] = {
    {L"en-us", 1033},   {L"fr-fr", 1033}, {L"pt-br", 1033}, {L"zh-cn", 1033}, {L"", 1033},
    {L"\"fr\"", 1033},  {L"f", 1033},     {L"fr-", 1033},   {L"fr-c", 1033},  {L"fr-caa", 1033},
    {L"zh", 1033},      {L"zh-ch", 1033}, {L"fr ", 1033},   {L" fr", 1033},   {L"es_mx", 1033},
    {L"xx", 1033},      {L"d\u00C9", 1033},
};
INSTANTIATE_TEST_SUITE_P(FallBackToEnglish, LanguageIdFromCodeTest, testing::ValuesIn(Unmatched), CaseName);

TEST(LanguageIdFromCode, QuotedCodeSelectsALanguageOnlyInTheThreeValueForm)
{
    // A lone code keeps its quotes and so matches nothing; with a site and a
    // title after it, the quotes come off and French is chosen.
    std::wstring alone = L"\"fr\"";
    LaunchValues request{};
    ParseCommandLine(alone.data(), &request);
    EXPECT_EQ(LanguageIdFromCode(request.languageCode), 1033);

    std::wstring full = L"\"FR\" site1 Title";
    request = LaunchValues{};
    ASSERT_EQ(ParseCommandLine(full.data(), &request), 1);
    EXPECT_EQ(LanguageIdFromCode(request.languageCode), 1036);
}

}  // namespace
