#include "app/language_table.h"

#include "text/text.h"

const InterfaceLanguage InterfaceLanguages[22] = {
    {L"en", 1033},     {L"cs", 1029},     {L"da", 1030}, {L"de", 1031}, {L"es", 1034}, {L"es-mx", 2058},
    {L"fi", 1035},     {L"fr", 1036},     {L"fr-ca", 3084}, {L"hu", 1038}, {L"it", 1040}, {L"ja", 1041},
    {L"ko", 1042},     {L"nl", 1043},     {L"no", 1044}, {L"pl", 1045}, {L"pt", 2070}, {L"ru", 1049},
    {L"sv", 1053},     {L"tr", 1055},     {L"zh-chs", 2052}, {L"zh-cht", 1028},
};

uint16_t LanguageIdFromCode(const wchar_t* code)
{
    for (const InterfaceLanguage& language : InterfaceLanguages) {
        if (EqualIgnoringAsciiCase(language.code, code))
            return language.langId;
    }
    return DefaultLangId;
}
