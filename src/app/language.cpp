#include "app/language.h"

#include "app/globals.h"
#include "app/language_table.h"
#include "ui/resource_ids.h"

// Looked up at run time, and called on Vista and later only: an import of it
// would keep the program from loading on Windows 2000, and XP's and Server
// 2003's serves consoles alone (it takes nothing but 0), so the thread-locale
// road is theirs.
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
