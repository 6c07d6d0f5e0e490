#include "app/language.h"

#include "app/globals.h"
#include "app/language_table.h"
#include "ui/resource_ids.h"

// Looked up at run time: an import of it would keep the program from loading
// on the older systems that the thread-locale road is for.
static LANGID WINAPI SetUiLanguageWhereItExists(LANGID language)
{
    typedef LANGID(WINAPI * SetThreadUILanguageCall)(LANGID);
    auto call = reinterpret_cast<SetThreadUILanguageCall>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "SetThreadUILanguage")));
    return call ? call(language) : 0;
}

LanguageCalls ThreadLanguage = {GetVersionExW, SetUiLanguageWhereItExists, SetThreadLocale};

void SelectInterfaceLanguage(const wchar_t* languageCode)
{
    LANGID language = LanguageIdFromCode(languageCode);

    // Vista and later pick resources by the thread's UI language; earlier
    // systems (and a failed query, whose fields stay zero) by its locale.
    OSVERSIONINFOW version = {};
    version.dwOSVersionInfoSize = sizeof(version);
    ThreadLanguage.GetVersionEx(&version);
    if (version.dwPlatformId == VER_PLATFORM_WIN32_NT && version.dwMajorVersion >= 6)
        ThreadLanguage.SetThreadUILanguage(language);
    else
        ThreadLanguage.SetThreadLocale(MAKELCID(language, SORT_DEFAULT));

    LoadStringW(AppInstance, IDS_ALLOW, AllowText, TextLimit);
    LoadStringW(AppInstance, IDS_DENY, DenyText, TextLimit);
}
